"""Fixtures shared by the package's tests (the emulator and bse fixtures come from the plugin)."""

import os
from pathlib import Path

import pytest

import tqbse
from tqbse import _library
from tqbse.emulator import free_addresses

REPO = Path(__file__).resolve().parents[2]


@pytest.fixture
def library():
    return _library.load(tqbse.CALLS.values())


@pytest.fixture
def calls(library, monkeypatch):
    """Names of the library exports called during the test, in order."""
    seen = []

    def wrap(name, function):
        return lambda *args: (seen.append(name), function(*args))[1]

    for name, function in list(library.functions.items()):
        monkeypatch.setitem(library.functions, name, wrap(name, function))
    return seen


@pytest.fixture
def unused_loopback():
    """A loopback address of the test range where nothing listens on port 6002."""
    addresses = free_addresses()
    assert addresses, "every address of 127.0.0.64 - 127.0.0.95 has a listener on port 6002"
    return addresses[-1]


@pytest.fixture(scope="session")
def header_text():
    return Path(os.environ.get("TQBSE_HEADER") or REPO / "include" / "tqBsePluginControlDll.h").read_text("latin-1")
