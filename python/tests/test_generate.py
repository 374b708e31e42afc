"""The call table: generated from this build's tool and header, refused when they disagree, exported by the library."""

import json
import os
import subprocess

import pytest
from conftest import REPO

import tqbse
from tqbse._generate import PREFIX, GenerateError, describe

QUERY = "Scenario_NameLength_Get"
QUERY_PROTOTYPE = f"tqBsePluginControlDll_{QUERY}(int32_t index, int32_t* length)"
LEVEL_PROTOTYPE = "tqBsePluginControlDll_RX_InputLevel_Set(int32_t index, float level)"


@pytest.fixture(scope="session")
def sources(header_text):
    """(the tool's list of calls, the header) of this build."""
    tool = os.environ.get("TQBSE_TOOL") or str(REPO / "build" / "tools" / "tqbse")
    done = subprocess.run([tool, "list", "--json"], capture_output=True, text=True, timeout=60, check=True)
    return json.loads(done.stdout), header_text


def test_roles_sizing_queries_names_and_docs_come_out_right(sources):
    d = {row["name"]: row for row in describe(*sources)}
    assert d["Scenario_Upload"]["params"] == [
        ("name", "in_text"), ("nameLimit", "text_limit"), ("content", "in_text"), ("contentLimit", "text_limit")]
    assert d["Scenario_Name_Get"]["params"] == [("index", "in_int"), ("buffer", "out_text"), ("bufferSize", "size")]
    assert d["RX_InputLevel_Set"]["params"][1] == ("level", "in_float")
    assert [d[n]["sized_by"] for n in ("Scenario_Name_Get", "Protocol_Results_GetTrace", "Scenario_Upload")] == [
        QUERY, "Protocol_Results_GetTraceLength", None]
    assert d["LTE_Results_IQGainImbalance_Get"]["python"] == "lte_results_iq_gain_imbalance_get"
    assert d["Scenario_Name_Get"]["doc"].startswith("Copies scenario index's name into buffer (bufferSize bytes, ")
    assert tqbse.Connection.scenario_name_get.__doc__.startswith(d["Scenario_Name_Get"]["doc"])


def edit(calls, name, **changes):
    return [dict(c, **changes) if c["call"] == name else c for c in calls]


BROKEN = {  # what is wrong: (change to the tool's calls and the header, the error it must give)
    "query-missing": (lambda c, h: ([x for x in c if x["call"] != QUERY], h.replace(QUERY_PROTOTYPE, "x()")),
                      "no length query"),
    "query-takes-other-arguments": (lambda c, h: (edit(c, QUERY, args=[{"name": "index", "kind": "flag"}]), h),
                                    "other arguments"),
    "type-differs": (lambda c, h: (c, h.replace(LEVEL_PROTOTYPE, LEVEL_PROTOTYPE.replace("float", "double"))),
                     "declared double"),
    "header-has-more": (lambda c, h: (c[1:], h), "not in the tool"),
    "listed-twice": (lambda c, h: (c + c[:1], h), "twice"),
}


@pytest.mark.parametrize("change, message", BROKEN.values(), ids=BROKEN)
def test_inconsistent_sources_stop_generation(sources, change, message):
    with pytest.raises(GenerateError, match=message):
        describe(*change(*sources))


def test_library_exports_exactly_the_described_calls(library):
    listing = subprocess.run(["nm", "-D", "--defined-only", library.path], capture_output=True, text=True,
                             timeout=60, check=True).stdout.split()
    assert {word[len(PREFIX):] for word in listing if word.startswith(PREFIX)} == set(tqbse.CALLS)
