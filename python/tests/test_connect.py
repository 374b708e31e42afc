"""One connection per process, closing, failing to connect, the reply deadline, where the library comes from."""

import json
import math
import os
import re

import pytest

import tqbse
from tqbse import _library
from tqbse._connection import ENV_REPLY_TIMEOUT, ENV_TRACE
from tqbse.emulator import free_addresses


def test_one_connection_per_process_and_a_closed_or_failed_one_sends_nothing_and_leaves_none(emulator, calls):
    unused = free_addresses()[-1]  # nothing listens there on port 6002
    with pytest.raises(ZeroDivisionError):
        with tqbse.connect(emulator.address) as bse:
            with pytest.raises(RuntimeError, match="one connection per process"):
                tqbse.connect(unused)
            assert calls == ["Initialise"]
            bse.rx_centre_frequency_set(1, 1.8e9)
            1 / 0
    assert bse.closed and calls[-1] == "Shutdown"
    del calls[:]
    with pytest.raises(tqbse.NotConnectedError):
        bse.rx_centre_frequency_get(1)
    bse.close()
    assert calls == []
    with pytest.raises(tqbse.NoResponseError, match="^Initialise failed: -14 "):
        tqbse.connect(unused)
    with tqbse.connect(emulator.address) as again:
        assert again.rx_centre_frequency_get(1) == 1.8e9


@pytest.mark.tqbse_emulator(fault_call="RX_CentreFrequency_Get", stall_after=10)
def test_stalled_reply_raises_no_response_after_the_connect_timeout(emulator):
    with tqbse.connect(emulator.address, timeout=0.3) as bse:
        with pytest.raises(tqbse.NoResponseError):  # rather than waiting for ever
            bse.rx_centre_frequency_get(0)


@pytest.mark.parametrize("address, timeout, error", [
    ("127.0.0", None, ValueError), ("127.0.0.256", None, ValueError), ("127.0.0.+1", None, ValueError),
    (0x7F000001, None, TypeError), ("127.0.0.1", 0, ValueError), ("127.0.0.1", -1.5, ValueError),
    ("127.0.0.1", math.inf, ValueError), ("127.0.0.1", 3e6, ValueError), ("127.0.0.1", "5", TypeError),
    ("127.0.0.1", True, TypeError)])
def test_bad_address_or_timeout_is_refused_before_initialise(calls, address, timeout, error):
    with pytest.raises(error):
        tqbse.connect(address, timeout=timeout)
    assert calls == []


@pytest.mark.parametrize("before", [None, "77"])
def test_timeout_reaches_initialise_in_whole_milliseconds_rounded_up_and_is_restored(
        emulator, library, monkeypatch, before):
    monkeypatch.delenv(ENV_REPLY_TIMEOUT, raising=False)
    if before is not None:
        monkeypatch.setenv(ENV_REPLY_TIMEOUT, before)
    seen = []
    initialise = library.functions["Initialise"]
    monkeypatch.setitem(library.functions, "Initialise",
                        lambda *octets: (seen.append(os.environ.get(ENV_REPLY_TIMEOUT)), initialise(*octets))[1])
    for timeout in (2.5, 0.0101, None):
        tqbse.connect(emulator.address, timeout=timeout).close()
    assert seen == ["2500", "11", before]
    assert os.environ.get(ENV_REPLY_TIMEOUT) == before


def test_library_search_order_and_an_unloadable_library_named_in_the_environment(monkeypatch, tmp_path):
    monkeypatch.setattr(_library, "PACKAGE_LIB_DIR", tmp_path)
    (tmp_path / "tqBsePluginControlDll.dll").write_bytes(b"")
    assert _library.candidates({}, platform="win32")[:2] == [
        ("package", str(tmp_path / "tqBsePluginControlDll.dll")), ("system", "tqBsePluginControlDll.dll")]
    monkeypatch.setattr(_library, "_loaded", None)
    monkeypatch.setenv("TQBSE_LIBRARY", str(tmp_path / "missing.so"))  # reported, not replaced
    with pytest.raises(OSError, match="TQBSE_LIBRARY="):
        _library.load(tqbse.CALLS.values())


def test_trace_records_each_call_for_that_initialise_only(emulator, tmp_path, monkeypatch):
    monkeypatch.delenv(ENV_TRACE, raising=False)
    path = tmp_path / "session.jsonl"
    with tqbse.connect(emulator.address, trace=path) as bse:
        bse.rx_centre_frequency_set(0, 1.95e9)
        with pytest.raises(tqbse.UnknownObjectError):
            bse.rx_centre_frequency_get(99)
    assert ENV_TRACE not in os.environ
    calls = [json.loads(line) for line in path.read_text().splitlines()]
    calls = [(c["name"], c["result"]) for c in calls if c["event"] == "call"]
    assert calls[1:] == [("tqBsePluginControlDll_RX_CentreFrequency_Set", 0),
                         ("tqBsePluginControlDll_RX_CentreFrequency_Get", -18),
                         ("tqBsePluginControlDll_RemoteConnection_Set", 0)]


def test_plugin_attaches_the_trace_of_a_failed_test_only(pytester):
    pytester.makepyfile("""
        def test_fails(bse):
            bse.rx_centre_frequency_set(0, 1.5e9)
            assert bse.rx_centre_frequency_get(0) == 2.0e9

        def test_passes(bse):
            bse.rx_centre_frequency_set(0, 1.5e9)
    """)
    result = pytester.runpytest_subprocess("-p", "no:cacheprovider", "-rA")
    result.assert_outcomes(passed=1, failed=1)
    text = result.stdout.str()
    assert len(re.findall(r"^-+ tqbse trace -+$", text, re.MULTILINE)) == 1
    # Decoded by tqbse trace (TQBSE_TOOL), not the raw JSON lines.
    assert re.search(r"^ *[0-9.]+  RX_CentreFrequency_Get\(index=0\) → 0, frequency=1500000000 +\d+ µs$", text, re.M)
    assert "decoded by tqbse trace" in text and '"request":' not in text
