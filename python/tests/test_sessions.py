"""Sessions with two servers at once: their own values, calls from threads, events by wait and by handler
reaching only their own session, close during a wait, and the deadlines."""

import threading
import time

import pytest

import tqbse
from tqbse.emulator import free_addresses

from conftest import REPO

CONFIG = str(REPO / "emulator" / "example-config.json")
TICKS = [{"event_every": (20, "TickA")}, {"event_every": (20, "TickB")}]
SCENARIO_END = [{}, {"config": CONFIG, "callback_on_scenario_end": True, "scenario_ms": 50, "event_every": (30, "TickB")}]


def _token(message):
    """The integer n of NAME=(n=XXXXXXXX): little-endian hex."""
    return int.from_bytes(bytes.fromhex(message.split("(n=")[1].rstrip(")")), "little", signed=True)


def test_two_sessions_and_a_connection_keep_their_own_values_with_calls_from_threads(emulator_pair):
    first, second = emulator_pair
    with tqbse.open(first.address) as a, tqbse.open(second.address, timeout=5) as b, \
            tqbse.connect(first.address) as flat:
        a.rx_centre_frequency_set(0, 1.0e9)
        b.rx_centre_frequency_set(0, 2.0e9)
        assert b.test_case_count_get() > 0 and b.test_case_name_get(0)  # a text sized through its length query
        wrong = []

        def hammer(target, expected):
            for _ in range(30):
                value = target.rx_centre_frequency_get(0)
                if value != expected:
                    wrong.append((target, value))

        threads = [threading.Thread(target=hammer, args=pair)
                   for pair in [(a, 1.0e9), (b, 2.0e9), (flat, 1.0e9)] * 2]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join(timeout=30)
        assert not any(t.is_alive() for t in threads) and wrong == []
    assert a.closed and b.closed
    with pytest.raises(tqbse.NotConnectedError):
        a.rx_centre_frequency_get(0)
    a.close()  # again: nothing


@pytest.mark.parametrize("emulator_pair", [TICKS], indirect=True)
def test_each_servers_events_reach_only_its_session_by_wait_and_by_handler(emulator_pair, capfd):
    first, second = emulator_pair
    with tqbse.open(first.address) as a, tqbse.open(second.address) as b:
        heard, enough = [], threading.Event()

        def handler(message):
            heard.append(message)
            if len(heard) >= 3:
                enough.set()
            return 7

        b.on_event(handler)
        waited = [a.wait_event(timeout=5) for _ in range(3)]
        assert all(m is not None and m.startswith("TickA=") for m in waited), waited
        tokens = [_token(m) for m in waited]
        assert tokens == list(range(tokens[0], tokens[0] + 3))
        assert enough.wait(5)
        assert all(m.startswith("TickB=") for m in heard), heard
        deadline = time.monotonic() + 5
        while time.monotonic() < deadline and not any("answered: " in line and "07000000" in line
                                                        for line in second.output):
            time.sleep(0.02)
        assert any("answered: " in line and "07000000" in line for line in second.output), second.output[-5:]

        # A handler that raises answers 0 and is said once; removing it sends the events to the queue again.
        b.on_event(lambda message: 1 / 0, name="TickB")
        count = len(second.output)
        deadline = time.monotonic() + 5
        while time.monotonic() < deadline and sum("answered: " in line for line in second.output[count:]) < 3:
            time.sleep(0.02)
        assert capfd.readouterr().err.count("ZeroDivisionError") == 1
        b.on_event(None, name="TickB")
        b.on_event(None)
        assert b.wait_event(timeout=5).startswith("TickB=")
        assert a.events_dropped == 0


@pytest.mark.parametrize("emulator_pair", [SCENARIO_END], indirect=True)
def test_wait_by_name_leaves_the_other_names_for_later_waits_in_order(emulator_pair):
    _, second = emulator_pair
    with tqbse.open(second.address) as b:
        assert b.wait_event("TickB", timeout=5).startswith("TickB=")
        time.sleep(0.2)  # a few ticks queue up
        b.scenario_execute("Power_Sweep")
        assert b.wait_event("ScenarioFinished", timeout=10) == "ScenarioFinished=(s=Power_Sweep)"
        ticks = [b.wait_event("TickB", timeout=0) for _ in range(3)]
        assert all(t is not None for t in ticks), ticks
        tokens = [_token(t) for t in ticks]
        assert tokens == sorted(tokens) and len(set(tokens)) == 3
        assert b.wait_event("NeverSent", timeout=0.05) is None


def test_close_ends_a_pending_wait_with_none_and_later_use_raises(emulator_pair):
    first, _ = emulator_pair
    a = tqbse.open(first.address)
    result = []
    waiter = threading.Thread(target=lambda: result.append(a.wait_event()))
    waiter.start()
    time.sleep(0.3)
    started = time.monotonic()
    a.close()
    waiter.join(timeout=5)
    assert not waiter.is_alive() and result == [None]
    assert time.monotonic() - started < 3
    with pytest.raises(tqbse.NotConnectedError):
        a.wait_event(timeout=0)
    with pytest.raises(tqbse.NotConnectedError):
        a.on_event(print)


@pytest.mark.parametrize("emulator_pair", [[{"fault_call": "RX_CentreFrequency_Get", "stall_after": 10}, {}]],
                         indirect=True)
def test_deadlines_end_a_wait_a_stalled_call_and_an_unreachable_open(emulator_pair):
    first, second = emulator_pair
    with tqbse.open(first.address, timeout=0.3) as a, tqbse.open(second.address) as b:
        started = time.monotonic()
        assert a.wait_event(timeout=0.3) is None
        assert 0.25 <= time.monotonic() - started < 3
        with pytest.raises(tqbse.NoResponseError):
            a.rx_centre_frequency_get(0)
        b.rx_centre_frequency_set(0, 3.0e9)
        assert b.rx_centre_frequency_get(0) == 3.0e9  # the other session goes on
    with pytest.raises(tqbse.NoResponseError, match="tqbse_open"):
        tqbse.open(free_addresses()[-1], connect_timeout=1)
    for bad, error in [(0x7F000001, TypeError), ("", ValueError), ("127.0.0.1\0", ValueError)]:
        with pytest.raises(error):
            tqbse.open(bad)
    with pytest.raises(ValueError):
        tqbse.open(first.address, timeout=-1)
