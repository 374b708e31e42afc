"""Texts sized through their length queries and byte-exact both ways; traces as arrays, with or without numpy."""

import math
from array import array
from pathlib import Path

import pytest

import tqbse
from tqbse import _arrays

ALL_BYTES = bytes(range(1, 256))  # "(" comes before ")", so the content's parentheses balance
LONG_NAME = "Case_" + "x" * 395  # as in data/latin1.json: longer than any first guess


def test_every_nonzero_byte_and_latin1_name_round_trip_unchanged(bse):
    bse.scenario_upload("Sz\u00e9nario", ALL_BYTES)
    assert bse.scenario_download(b"Sz\xe9nario").encode("latin-1") == ALL_BYTES
    assert "Sz\u00e9nario" in [bse.scenario_name_get(i) for i in range(bse.scenario_count_get())]
    for content in (("<step level=\"-60\"/>" * 60000)[: 1 << 20], ""):
        bse.scenario_upload("other", content)
        assert bse.scenario_download("other") == content


@pytest.mark.tqbse_emulator(config=Path(__file__).parent / "data" / "latin1.json")
def test_server_names_decode_as_latin1_and_arrive_whole_when_the_length_query_under_reports(
        bse, library, monkeypatch):
    assert (bse.test_case_name_get(0), bse.test_case_group_name_get(0)) == ("Caf\u00e9_\u00ff", "Gr\u00fcppe")
    query, fetch, sizes = library.functions["TestCase_NameLength_Get"], library.functions["TestCase_Name_Get"], []

    def under_reporting(index, length):
        code = query(index, length)
        length[0] = 0
        return code

    monkeypatch.setitem(library.functions, "TestCase_NameLength_Get", under_reporting)
    monkeypatch.setitem(library.functions, "TestCase_Name_Get",
                        lambda index, buffer, size: (sizes.append(size), fetch(index, buffer, size))[1])
    assert bse.test_case_name_get(1) == LONG_NAME
    assert sizes[0] == 1 and sizes[-1] > len(LONG_NAME) and len(sizes) <= tqbse._connection.MAX_ATTEMPTS


@pytest.mark.parametrize("emulator, numpy_present", [({"trace_length": n}, present) for n in (300, 0)
                                                     for present in (True, False)],
                         indirect=["emulator"], ids=["numpy-300", "array-300", "numpy-0", "array-0"])
def test_trace_is_an_array_of_the_reported_length_with_the_emulator_points(bse, emulator, monkeypatch,
                                                                           numpy_present):
    numpy = pytest.importorskip("numpy") if numpy_present else monkeypatch.setattr(_arrays, "numpy", None)
    n = emulator.options["trace_length"]
    bse.protocol_measurement_enabled_set(0, True)
    handle = bse.protocol_results_get_handle()
    x, y = bse.protocol_results_get_trace(handle, numpy.int64(1) if numpy else 1)  # numpy ints are indexes too
    assert type(x) is type(y) is (numpy.ndarray if numpy else array)
    assert x.dtype == numpy.float64 if numpy else x.typecode == "d"
    assert list(x) == [float(i) for i in range(n)] and len(y) == n
    assert all(abs(y[i] - (10 + 3 * math.sin(2 * math.pi * i / 128))) < 1e-9 for i in range(n))
