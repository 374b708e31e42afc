"""Calls from several threads reach the library one at a time, a text's length query and fetch together."""

import threading
import time

THREADS = 6
ROUNDS = 15


def test_threads_never_overlap_in_the_library_and_sizing_pairs_stay_together(bse, library, monkeypatch):
    state = {"inside": 0, "overlaps": 0}
    guard = threading.Lock()
    sequence = []

    def probe(name, function):
        def wrapper(*args):
            with guard:
                state["inside"] += 1
                state["overlaps"] += state["inside"] > 1
                sequence.append((threading.get_ident(), name))
            time.sleep(0.001)  # widen the window another thread would need
            try:
                return function(*args)
            finally:
                with guard:
                    state["inside"] -= 1

        return wrapper

    for name, function in list(library.functions.items()):
        monkeypatch.setitem(library.functions, name, probe(name, function))

    names = ["Attach", "Detach", "Handover_Intra", "Handover_Inter", "Paging"]
    failures = []

    def work(k):
        try:
            for r in range(ROUNDS):
                i = (k + r) % len(names)
                assert bse.test_case_name_get(i) == names[i]
                assert bse.rx_centre_frequency_get(0) == 1.95e9
        except Exception as e:  # reported below; a thread cannot fail the test itself
            failures.append(e)

    threads = [threading.Thread(target=work, args=(k,), daemon=True) for k in range(THREADS)]
    for t in threads:
        t.start()
    deadline = time.monotonic() + 60
    for t in threads:
        t.join(timeout=max(0.0, deadline - time.monotonic()))
    assert not any(t.is_alive() for t in threads)
    assert failures == []
    assert state["overlaps"] == 0
    assert len(sequence) == THREADS * ROUNDS * 3
    for position, (thread, name) in enumerate(sequence):
        if name == "TestCase_NameLength_Get":
            assert sequence[position + 1] == (thread, "TestCase_Name_Get")
