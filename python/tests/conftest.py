"""Fixtures shared by the package's tests (the emulator and bse fixtures come from the plugin)."""

import json
import os
import subprocess
from pathlib import Path

import pytest

import tqbse
from tqbse import _library

pytest_plugins = ["pytester"]

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


@pytest.fixture(scope="session")
def sources():
    """(the tool's list of calls, the header) of this build."""
    tool = os.environ.get("TQBSE_TOOL") or str(REPO / "build" / "tools" / "tqbse")
    done = subprocess.run([tool, "list", "--json"], capture_output=True, text=True, timeout=60, check=True)
    header = Path(os.environ.get("TQBSE_HEADER") or REPO / "include" / "tqBsePluginControlDll.h")
    return json.loads(done.stdout), header.read_text("latin-1")
