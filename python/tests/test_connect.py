"""One connection per process, closing, the reply-deadline parameter and where the library comes from."""

import math
import os

import pytest

import tqbse
from tqbse import _library
from tqbse._connection import ENV_REPLY_TIMEOUT


def test_second_connect_raises_without_touching_the_open_connection(bse, recorder, unused_loopback):
    with pytest.raises(RuntimeError, match="one connection per process"):
        tqbse.connect(unused_loopback)
    assert "Initialise" not in recorder.calls
    assert bse.connection_status_get() == -1


def test_closed_connection_sends_nothing_and_connect_works_again(emulator, recorder):
    with tqbse.connect(emulator.address) as bse:
        bse.rx_centre_frequency_set(1, 1.8e9)
    assert bse.closed and recorder.calls[-1] == "Shutdown"
    del recorder.calls[:]
    with pytest.raises(tqbse.NotConnectedError):
        bse.rx_centre_frequency_get(1)
    bse.close()
    assert recorder.calls == []
    with tqbse.connect(emulator.address) as again:
        assert again.rx_centre_frequency_get(1) == 1.8e9


def test_context_manager_closes_when_the_body_raises(emulator):
    with pytest.raises(ZeroDivisionError):
        with tqbse.connect(emulator.address) as bse:
            1 / 0
    assert bse.closed
    tqbse.connect(emulator.address).close()  # the slot is free again


@pytest.mark.parametrize("address, error", [("127.0.0", ValueError), ("127.0.0.256", ValueError),
                                             ("127.0.0.-1", ValueError), ("localhost", ValueError),
                                             (0x7F000001, TypeError)])
def test_bad_address_is_refused_before_initialise(library, recorder, address, error):
    with pytest.raises(error):
        tqbse.connect(address)
    assert recorder.calls == []


@pytest.mark.parametrize("timeout, error", [(0, ValueError), (-1.5, ValueError), (math.nan, ValueError),
                                             (math.inf, ValueError), (3e6, ValueError), ("5", TypeError),
                                             (True, TypeError)])
def test_bad_timeout_is_refused_before_initialise(library, recorder, timeout, error):
    with pytest.raises(error):
        tqbse.connect("127.0.0.1", timeout=timeout)
    assert recorder.calls == []


@pytest.mark.parametrize("before", [None, "77"])
def test_timeout_reaches_initialise_in_milliseconds_and_is_restored(emulator, library, monkeypatch, before):
    if before is None:
        monkeypatch.delenv(ENV_REPLY_TIMEOUT, raising=False)
    else:
        monkeypatch.setenv(ENV_REPLY_TIMEOUT, before)
    seen = []
    initialise = library.functions["Initialise"]

    def spy(*octets):
        seen.append(os.environ.get(ENV_REPLY_TIMEOUT))
        return initialise(*octets)

    monkeypatch.setitem(library.functions, "Initialise", spy)
    tqbse.connect(emulator.address, timeout=2.5).close()
    tqbse.connect(emulator.address, timeout=0.0001).close()
    tqbse.connect(emulator.address).close()
    assert seen == ["2500", "1", before]
    assert os.environ.get(ENV_REPLY_TIMEOUT) == before


def test_library_search_order_environment_then_package_then_system(monkeypatch, tmp_path):
    assert _library.candidates({"TQBSE_LIBRARY": "/opt/x/lib.so"}) == [("TQBSE_LIBRARY", "/opt/x/lib.so")]
    monkeypatch.setattr(_library, "PACKAGE_LIB_DIR", tmp_path)
    (tmp_path / "tqBsePluginControlDll.dll").write_bytes(b"")
    assert _library.candidates({}, platform="win32")[:2] == [
        ("package", str(tmp_path / "tqBsePluginControlDll.dll")), ("system", "tqBsePluginControlDll.dll")]
    assert all(source == "system" for source, _ in _library.candidates({}, platform="linux"))


def test_unloadable_library_from_environment_is_reported_not_replaced(monkeypatch, tmp_path):
    monkeypatch.setattr(_library, "_loaded", None)
    monkeypatch.setenv("TQBSE_LIBRARY", str(tmp_path / "missing.so"))
    with pytest.raises(OSError, match="TQBSE_LIBRARY="):
        _library.load(tqbse.CALLS.values())
