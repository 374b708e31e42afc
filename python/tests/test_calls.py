"""Calls: arguments checked before sending, values arriving as sent, failures as exceptions of the right class,
version warnings, one call at a time from several threads."""

import functools
import math
import re
import threading
import time

import pytest

import tqbse
from tqbse._errors import error_for

BAD = [  # method, arguments, error
    ("rx_centre_frequency_set", ("0", 1.0), TypeError),
    ("rx_centre_frequency_set", (0.0, 1.0), TypeError),
    ("rx_centre_frequency_set", (True, 1.0), TypeError),  # a bool is no index
    ("rx_centre_frequency_set", (0, "1.95e9"), TypeError),
    ("rx_centre_frequency_set", (2**31, 1.0), ValueError),
    ("rx_centre_frequency_set", (-(2**31) - 1, 1.0), ValueError),
    ("rx_input_level_set", (0, 1e39), ValueError),  # beyond a 32-bit float
    ("rx_input_level_set", (0, False), TypeError),
    ("scenario_upload", ("name", 5), TypeError),
    ("scenario_upload", ("name", b"con\0tent"), ValueError),
    ("scenario_upload", ("name", "\u20ac 5"), ValueError),  # not Latin-1
    ("rx_centre_frequency_get", (), TypeError),
]


@pytest.mark.parametrize("method, args, error", BAD, ids=[f"{m}{a!r}" for m, a, _ in BAD])
def test_bad_argument_raises_before_anything_is_sent(bse, calls, method, args, error):
    with pytest.raises(error):
        getattr(bse, method)(*args)
    assert calls == []


SENT = [  # setter/getter stem, leading arguments, value sent, value read back
    ("rx_input_level", (1,), -72.3, -72.30000305175781),  # a float parameter rounds to 32 bits
    ("rx_input_level", (0,), math.inf, math.inf),  # not finite, so no overflow to refuse
    ("rx_centre_frequency", (1,), 1.9500000000000002e9, 1.9500000000000002e9),  # a double does not
    ("tx_centre_frequency", (0,), 2_140_000_001, 2_140_000_001.0),  # an int where a double is due
    ("logging_state", (), 2, 2),  # a flag travels unchanged
    ("logging_state", (), True, -1),  # the library's true
]


@pytest.mark.parametrize("stem, lead, value, expected", SENT)
def test_setting_reads_back_as_sent(bse, stem, lead, value, expected):
    getattr(bse, stem + "_set")(*lead, value)
    assert getattr(bse, stem + "_get")(*lead) == expected


FAULTS = [  # emulator options, method, arguments, class, code, failing export (its own or the length query's)
    ({"fault_call": "RX_CentreFrequency_Get", "wrong_name": True}, "rx_centre_frequency_get", (0,), tqbse.ReplyError,
     -10, None),
    ({"fault_call": "Scenario_DownloadSize_Get", "missing_outputs": True}, "scenario_download", ("Idle_Camping",),
     tqbse.ReplyError, -11, "Scenario_DownloadSize_Get"),
    ({}, "rx_centre_frequency_get", (2**31 - 1,), tqbse.UnknownObjectError, -18, None),  # int32 bounds are sent
    ({}, "rx_centre_frequency_get", (-(2**31),), tqbse.UnknownObjectError, -18, None),
]


@pytest.mark.parametrize("emulator, method, args, error, code, query", FAULTS, indirect=["emulator"],
                         ids=[f"{m}{a}{c}" for _, m, a, _, c, _ in FAULTS])
def test_failure_raises_its_class_with_code_text_and_failing_call(bse, method, args, error, code, query):
    with pytest.raises(error) as caught:
        getattr(bse, method)(*args)
    e, call = caught.value, next(c.name for c in tqbse.CALLS.values() if c.python == method)
    assert (e.code, e.call, e.sizing) == (code, query or call, query and call)
    assert e.text and e.text == bse.get_error_msg(code) and f"failed: {code} {e.text}" in str(e)


@pytest.mark.parametrize("emulator, code, version", [({"server_version": "7.0.0.0"}, 2, (7, 0, 0, 0)),
                                                      ({"server_version": "5.9.0.0"}, 1, (5, 9, 0, 0))],
                         indirect=["emulator"], ids=["server-newer", "server-older"])
def test_version_difference_warns_once_and_still_returns(bse, code, version):
    with pytest.warns(tqbse.VersionWarning) as caught:
        assert bse.get_server_version() == version
    assert [(w.message.code, w.message.text) for w in caught] == [(code, bse.get_error_msg(code))]


def test_every_failure_code_of_the_header_but_minus_1_has_its_own_class(sources):
    codes = [int(c) for c in re.findall(r"#define TQBSE_\w+ \((-\d+)\)", sources[1])]
    assert len(codes) > 10
    for code in codes + [-15]:  # -15: a code no class claims
        error = error_for(code, "", "X")
        assert isinstance(error, tqbse.Error) and (type(error) is tqbse.Error) == (code in (-1, -15)), code


def test_threads_never_overlap_in_the_library_and_sizing_pairs_stay_together(bse, library, monkeypatch):
    inside, sequence, results = [], [], []
    names = ["Attach", "Detach", "Handover_Intra", "Handover_Inter", "Paging"]

    def probe(name, function, *args):
        inside.append(name)
        sequence.append((threading.get_ident(), name, len(inside)))
        time.sleep(0.001)  # widen the window another thread would need
        return (function(*args), inside.pop())[0]

    for name, function in list(library.functions.items()):
        monkeypatch.setitem(library.functions, name, functools.partial(probe, name, function))

    def work(k):  # a thread that fails leaves its names out of the results
        results.extend(bse.test_case_name_get(i % 5) for i in range(k, k + 15))

    threads = [threading.Thread(target=work, args=(k,), daemon=True) for k in range(6)]
    for t in threads:
        t.start()
    deadline = time.monotonic() + 60
    for t in threads:
        t.join(timeout=max(0.0, deadline - time.monotonic()))
    assert sorted(results) == sorted(names[i % 5] for k in range(6) for i in range(k, k + 15))
    assert len(sequence) == 6 * 15 * 2 and max(depth for _, _, depth in sequence) == 1
    for position, (thread, name, _) in enumerate(sequence):
        if name == "TestCase_NameLength_Get":
            assert sequence[position + 1][:2] == (thread, "TestCase_Name_Get")
