"""The call table: generated from this build's tool and header, refused when they disagree."""

# The roles the C parameters get are checked by calling every generated method (test_flows.py).

import runpy
from pathlib import Path

import pytest

import tqbse

# The generator runs when the package is built and is not installed with it.
_generator = runpy.run_path(str(Path(__file__).resolve().parents[1] / "src" / "tqbse" / "_generate.py"))
GenerateError, describe = _generator["GenerateError"], _generator["describe"]

QUERY = "Scenario_NameLength_Get"
QUERY_PROTOTYPE = f"tqBsePluginControlDll_{QUERY}(int32_t index, int32_t* length)"
LEVEL_PROTOTYPE = "tqBsePluginControlDll_RX_InputLevel_Set(int32_t index, float level)"


def test_acronyms_split_into_words_and_the_rows_texts_reach_the_methods(sources):
    d = {row["name"]: row for row in describe(*sources)}
    assert d["LTE_Results_IQGainImbalance_Get"]["python"] == "lte_results_iq_gain_imbalance_get"
    listed = {c["call"]: c for c in sources[0]}["RX_CentreFrequency_Get"]
    doc = tqbse.Connection.rx_centre_frequency_get.__doc__
    assert doc.startswith(listed["summary"])
    assert f"index: {listed['args'][0]['doc']}" in doc
    assert f"frequency (float): {listed['outputs'][0]['doc']}" in doc
    assert "-14" in doc and "Export: tqBsePluginControlDll_RX_CentreFrequency_Get" in doc


BROKEN = {  # what is wrong: (change to the tool's calls and the header, the error it must give)
    "query-missing": (lambda c, h: ([x for x in c if x["call"] != QUERY], h.replace(QUERY_PROTOTYPE, "x()")),
                      "no length query"),
    "query-takes-other-arguments": (
        lambda c, h: ([dict(x, args=[{"name": "index", "kind": "flag"}]) if x["call"] == QUERY else x for x in c], h),
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


