"""Texts: sized through their length queries, 8-bit and byte-exact both ways."""

from pathlib import Path

import pytest

import tqbse

ALL_BYTES = bytes(range(1, 256))  # "(" comes before ")", so the content's parentheses balance
LONG_NAME = "Case_" + "x" * 395  # as in data/latin1.json
latin1_config = pytest.mark.tqbse_emulator(config=Path(__file__).parent / "data" / "latin1.json")


def test_upload_of_every_nonzero_byte_downloads_identical(bse):
    bse.scenario_upload("bytes", ALL_BYTES)
    assert bse.scenario_download("bytes").encode("latin-1") == ALL_BYTES
    bse.protocol_message_xml_upload("bytes.xml", ALL_BYTES.decode("latin-1"))
    assert bse.protocol_message_xml_download("bytes.xml") == ALL_BYTES.decode("latin-1")


def test_latin1_name_as_str_and_as_bytes_is_the_same_text(bse):
    bse.scenario_upload("Sz\u00e9nario_\u00e4\u00f6\u00fc", "one")
    assert bse.scenario_download(b"Sz\xe9nario_\xe4\xf6\xfc") == "one"
    names = [bse.scenario_name_get(i) for i in range(bse.scenario_count_get())]
    assert "Sz\u00e9nario_\u00e4\u00f6\u00fc" in names


@latin1_config
def test_names_from_the_server_decode_as_latin1_and_arrive_whole(bse):
    assert bse.test_case_name_get(0) == "Caf\u00e9_\u00ff"
    assert bse.test_case_group_name_get(0) == "Gr\u00fcppe"
    assert bse.test_case_name_get(1) == LONG_NAME  # longer than any fixed first guess


@latin1_config
def test_text_grows_when_its_length_query_reports_too_little(bse, library, monkeypatch):
    real_query = library.functions["TestCase_NameLength_Get"]
    real_fetch = library.functions["TestCase_Name_Get"]
    sizes = []

    def under_reporting(index, length):
        code = real_query(index, length)
        length[0] = 0
        return code

    def fetch(index, buffer, size):
        sizes.append(size)
        return real_fetch(index, buffer, size)

    monkeypatch.setitem(library.functions, "TestCase_NameLength_Get", under_reporting)
    monkeypatch.setitem(library.functions, "TestCase_Name_Get", fetch)
    assert bse.test_case_name_get(1) == LONG_NAME
    assert sizes[0] == 1 and sizes[-1] > len(LONG_NAME) and len(sizes) <= tqbse._connection.MAX_ATTEMPTS


def test_large_and_empty_texts_round_trip(bse):
    big = ("<step level=\"-60\"/>" * 60000)[: 1 << 20]
    bse.scenario_upload("big", big)
    assert bse.scenario_download_size_get("big") == len(big)
    assert bse.scenario_download("big") == big
    bse.scenario_upload("empty", b"")
    assert bse.scenario_download("empty") == ""

