#!/usr/bin/env python3
"""Two servers at once through sessions, and a scenario's end as an event.

    python3 two_servers.py A.B.C.D [E.F.G.H]      (one address: two sessions with the same server)

The first session runs a scenario and waits for its ScenarioFinished event;
the second one's events are printed by a handler on the listener thread.
"""

import sys

import tqbse


def main(first, second):
    with tqbse.open(first, timeout=10) as a, tqbse.open(second, timeout=10) as b:
        b.on_event(lambda message: print("event from", second, message))
        a.tx_centre_frequency_set(1, 2.4e9)
        print(f"TX path 1: {a.tx_centre_frequency_get(1):.0f} Hz on {first}, "
              f"{b.tx_centre_frequency_get(1):.0f} Hz on {second}")
        a.scenario_upload("example_attach", "<scenario><step>attach</step></scenario>")
        a.scenario_execute("example_attach")
        print(a.wait_event("ScenarioFinished", timeout=30) or "no ScenarioFinished within 30 s")


if __name__ == "__main__":
    if not 2 <= len(sys.argv) <= 3:
        sys.exit(f"usage: {sys.argv[0]} A.B.C.D [E.F.G.H]")
    main(sys.argv[1], sys.argv[-1])
