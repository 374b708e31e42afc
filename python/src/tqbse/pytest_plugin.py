"""pytest plugin (entry point pytest11): the `emulator` and `bse` fixtures.

    def test_tune(bse):
        bse.rx_centre_frequency_set(0, 1.95e9)
        assert bse.rx_centre_frequency_get(0) == 1.95e9

    @pytest.mark.tqbse_emulator(trace_length=64, fault_call="RX_CentreFrequency_Get", bad_hex=True)
    def test_broken_reply(bse): ...

`emulator` starts tqbse-emulator on a free loopback address of
127.0.0.64 - 127.0.0.95, port 6002, for one test and stops it afterwards.
Its options come from the tqbse_emulator marker (keyword names are the
emulator's options with "_" for "-": config, trace_length, server_version,
scenario_ms, fault_call, delay_ms, close_mid_reply, wrong_name, ...), updated
by an indirect parameter (a dict) when the test parametrizes `emulator`.
`bse` is a tqbse connection to it, closed after the test. The program is
--tqbse-emulator PATH, else $TQBSE_EMULATOR, else tqbse-emulator on PATH.
"""

from __future__ import annotations

from typing import Any, Dict, Iterator

import pytest

from .emulator import Emulator


def pytest_addoption(parser: Any) -> None:
    group = parser.getgroup("tqbse")
    group.addoption("--tqbse-emulator", default=None, metavar="PATH",
                    help="tqbse-emulator program for the emulator fixture (default: $TQBSE_EMULATOR, then PATH)")


def pytest_configure(config: Any) -> None:
    config.addinivalue_line(
        "markers", "tqbse_emulator(**options): options of tqbse-emulator for the emulator fixture "
        "(trace_length=64, config=path, fault_call='Name', bad_hex=True, ...)")


@pytest.fixture
def emulator(request: Any) -> Iterator[Emulator]:
    """A tqbse-emulator on a loopback address for this test; `.address`, `.output`, `.options`."""
    options: Dict[str, Any] = {}
    for marker in reversed(list(request.node.iter_markers("tqbse_emulator"))):
        options.update(marker.kwargs)
    options.update(getattr(request, "param", None) or {})
    server = Emulator(options, binary=request.config.getoption("--tqbse-emulator"))
    server.start()
    try:
        yield server
    finally:
        server.stop()


@pytest.fixture
def bse(emulator: Emulator) -> Iterator[Any]:
    """A tqbse connection to the test's emulator."""
    import tqbse

    connection = tqbse.connect(emulator.address)
    try:
        yield connection
    finally:
        connection.close()
