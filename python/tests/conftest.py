"""Helpers shared by the package's tests (the emulator and bse fixtures come from the plugin)."""

import threading
from typing import List

import pytest

import tqbse
from tqbse import _library
from tqbse.emulator import free_addresses


class Recorder:
    """Wraps every export of the loaded library to record which were called, in order."""

    def __init__(self, library: _library.Library, monkeypatch: pytest.MonkeyPatch) -> None:
        self.calls: List[str] = []
        self._lock = threading.Lock()
        for name, function in list(library.functions.items()):
            monkeypatch.setitem(library.functions, name, self._wrap(name, function))

    def _wrap(self, name, function):
        def wrapper(*args):
            with self._lock:
                self.calls.append(name)
            return function(*args)

        return wrapper


@pytest.fixture
def library():
    return _library.load(tqbse.CALLS.values())


@pytest.fixture
def recorder(library, monkeypatch):
    return Recorder(library, monkeypatch)


@pytest.fixture
def unused_loopback():
    """A loopback address of the test range where nothing listens on port 6002."""
    addresses = free_addresses()
    if not addresses:
        pytest.fail("every address of 127.0.0.64 - 127.0.0.95 has a listener on port 6002")
    return addresses[-1]


def _header_path():
    import os
    from pathlib import Path

    named = os.environ.get("TQBSE_HEADER")
    path = Path(named) if named else Path(__file__).resolve().parents[2] / "include" / "tqBsePluginControlDll.h"
    return path if path.is_file() else None


@pytest.fixture(scope="session")
def header_text():
    path = _header_path()
    if path is None:
        pytest.skip("the public header is not at hand (set TQBSE_HEADER)")
    return path.read_text(encoding="latin-1")
