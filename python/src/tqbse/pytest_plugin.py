"""pytest plugin (entry point pytest11): the `emulator`, `bse` and `emulator_pair` fixtures.

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

`emulator_pair` starts two emulators, on 127.0.0.2 and 127.0.0.3 (both on
port 6002, where the library connects), with the marker's options updated
by an indirect parameter (a dict for both, or a pair of dicts, one each),
and yields the two Emulator objects; open a session on each with
tqbse.open(server.address). Their events (the emulator's --event-every,
--callback-on-scenario-end) go to the library's callback port 6009, so run
such tests where nothing else uses these ports (a network namespace of their
own: unshare -n).

The plugin sets TQBSE_DIAGNOSTICS to "stderr" for the session unless it is
already set, so that the library's socket-layer texts ("connect() failed:
111", the listener's "Accepted client: ...") stay out of the standard output
a test captures and checks; the library reads it at each Initialise.

`bse` records the library's call trace of its test (TQBSE_TRACE, in the
test's tmp_path); when the test fails, the report gets a "tqbse trace"
section with the trace's last lines (--tqbse-trace-lines N, 0 for none),
decoded as `tqbse trace FILE` prints them: calls with their arguments,
result and outputs as values. The tool is $TQBSE_TOOL, else the tqbse beside
the emulator program, else tqbse on PATH; without one the raw lines are shown.
"""

from __future__ import annotations

import os
import shutil
import subprocess
from pathlib import Path
from typing import Any, Dict, Iterator, Tuple

import pytest

from .emulator import Emulator


def pytest_addoption(parser: Any) -> None:
    group = parser.getgroup("tqbse")
    group.addoption("--tqbse-emulator", default=None, metavar="PATH",
                    help="tqbse-emulator program for the emulator fixture (default: $TQBSE_EMULATOR, then PATH)")
    group.addoption("--tqbse-trace-lines", type=int, default=200, metavar="N",
                    help="last lines of the call trace attached to a failed test's report (0: none)")


ENV_DIAGNOSTICS = "TQBSE_DIAGNOSTICS"


def pytest_configure(config: Any) -> None:
    if ENV_DIAGNOSTICS not in os.environ:
        os.environ[ENV_DIAGNOSTICS] = "stderr"
        config._tqbse_set_diagnostics = True
    config.addinivalue_line(
        "markers", "tqbse_emulator(**options): options of tqbse-emulator for the emulator fixture "
        "(trace_length=64, config=path, fault_call='Name', bad_hex=True, ...)")


def pytest_unconfigure(config: Any) -> None:
    if getattr(config, "_tqbse_set_diagnostics", False):
        os.environ.pop(ENV_DIAGNOSTICS, None)


@pytest.fixture
def emulator(request: Any) -> Iterator[Emulator]:
    """A tqbse-emulator on a loopback address for this test; `.address`, `.output`, `.options`."""
    options: Dict[str, Any] = {}
    for marker in reversed(list(request.node.iter_markers("tqbse_emulator"))):
        options.update(marker.kwargs)
    options.update(getattr(request, "param", None) or {})
    server = Emulator(options, binary=request.config.getoption("--tqbse-emulator"))
    request.config._tqbse_emulator_program = server.binary
    server.start()
    try:
        yield server
    finally:
        server.stop()


PAIR_ADDRESSES = ("127.0.0.2", "127.0.0.3")


@pytest.fixture
def emulator_pair(request: Any) -> Iterator[Tuple[Emulator, Emulator]]:
    """Two tqbse-emulators, on 127.0.0.2 and 127.0.0.3, for this test."""
    options: Dict[str, Any] = {}
    for marker in reversed(list(request.node.iter_markers("tqbse_emulator"))):
        options.update(marker.kwargs)
    param = getattr(request, "param", None) or {}
    each = list(param) if isinstance(param, (list, tuple)) else [param, param]
    binary = request.config.getoption("--tqbse-emulator")
    servers = [Emulator({**options, **extra}, binary=binary, address=address)
               for address, extra in zip(PAIR_ADDRESSES, each)]
    request.config._tqbse_emulator_program = servers[0].binary
    try:
        for server in servers:
            server.start()
        yield servers[0], servers[1]
    finally:
        for server in servers:
            server.stop()


TRACE_KEY = pytest.StashKey[Path]() if hasattr(pytest, "StashKey") else None


@pytest.fixture
def bse(emulator: Emulator, request: Any, tmp_path: Path) -> Iterator[Any]:
    """A tqbse connection to the test's emulator, its call trace kept for the report."""
    import tqbse

    trace = None
    if request.config.getoption("--tqbse-trace-lines") > 0:
        trace = tmp_path / "tqbse-trace.jsonl"
        _set_trace(request.node, trace)
    connection = tqbse.connect(emulator.address, trace=trace)
    try:
        yield connection
    finally:
        connection.close()


def _set_trace(node: Any, path: Path) -> None:
    if TRACE_KEY is not None:
        node.stash[TRACE_KEY] = path
    else:  # pytest before 7
        node._tqbse_trace = path


def _trace_of(node: Any) -> Any:
    if TRACE_KEY is not None:
        return node.stash.get(TRACE_KEY, None)
    return getattr(node, "_tqbse_trace", None)


@pytest.hookimpl(hookwrapper=True)
def pytest_runtest_makereport(item: Any, call: Any) -> Iterator[None]:
    """Attaches the last lines of a failed test's call trace to its report."""
    outcome = yield
    report = outcome.get_result()
    path = _trace_of(item)
    if not report.failed or path is None or not path.exists():
        return
    keep = item.config.getoption("--tqbse-trace-lines")
    decoded = _decoded_trace(path, getattr(item.config, "_tqbse_emulator_program", None))
    lines = decoded if decoded is not None else path.read_text(encoding="ascii", errors="replace").splitlines()
    shown = lines[-keep:]
    how = "decoded by tqbse trace" if decoded is not None else "raw: no tqbse program found to decode them"
    last = f", the last {len(shown)}" if len(shown) < len(lines) else ""
    report.sections.append(("tqbse trace", "\n".join([f"{path} ({len(lines)} lines{last}; {how})"] + shown)))


def _decoded_trace(path: Path, emulator_program: Any) -> Any:
    """The lines `tqbse trace FILE` prints for the trace, or None without a tool that runs."""
    beside = Path(str(emulator_program)).resolve().parent / "tqbse" if emulator_program else None
    for tool in (os.environ.get("TQBSE_TOOL"), beside, shutil.which("tqbse")):
        if not tool or not Path(tool).is_file():
            continue
        try:
            done = subprocess.run([str(tool), "trace", str(path)], capture_output=True, timeout=30)
        except (OSError, subprocess.TimeoutExpired):
            continue
        if done.returncode == 0:
            return done.stdout.decode("utf-8", errors="replace").splitlines()
    return None
