"""The generator joins the tool's list and the header; inconsistencies must stop the build."""

import copy
import inspect
import json

import pytest

from tqbse._generate import GenerateError, describe, generate, parse_header, python_name

HEADER = """
/* ---- Things --------------------------------------------------------- */

/** Reads the length of thing index's name
 *  into *length. */
TQBSE_API int32_t tqBsePluginControlDll_Thing_NameLength_Get(int32_t index, int32_t* length);
/** Copies thing index's name into buffer. */
TQBSE_API int32_t tqBsePluginControlDll_Thing_Name_Get(int32_t index, char* buffer, int32_t bufferSize);
/* ---- Files ---- */
/** Stores content under name. */
TQBSE_API int32_t tqBsePluginControlDll_File_Upload(const char* name, int32_t nameLimit, const char* content,
                                                   int32_t contentLimit);
TQBSE_API int32_t tqBsePluginControlDll_File_Level_Set(int32_t index, float level);
"""

QUERY_PROTOTYPE = "TQBSE_API int32_t tqBsePluginControlDll_Thing_NameLength_Get(int32_t index, int32_t* length);"

CALLS = [
    {"call": "Thing_NameLength_Get", "args": [{"name": "index", "kind": "int"}],
     "outputs": [{"name": "length", "kind": "int"}]},
    {"call": "Thing_Name_Get", "args": [{"name": "index", "kind": "int"}],
     "outputs": [{"name": "buffer", "kind": "text"}]},
    {"call": "File_Upload", "args": [{"name": "name", "kind": "text"}, {"name": "content", "kind": "text"}],
     "outputs": []},
    {"call": "File_Level_Set", "args": [{"name": "index", "kind": "int"}, {"name": "level", "kind": "float"}],
     "outputs": []},
]


def by_name(descriptions):
    return {d["name"]: d for d in descriptions}


def test_parameter_roles_follow_from_tool_kinds_and_header_types():
    d = by_name(describe(CALLS, HEADER))
    assert d["File_Upload"]["params"] == [
        ("name", "in_text"), ("nameLimit", "text_limit"), ("content", "in_text"), ("contentLimit", "text_limit")]
    assert d["Thing_Name_Get"]["params"] == [("index", "in_int"), ("buffer", "out_text"), ("bufferSize", "size")]
    assert d["Thing_Name_Get"]["sized_by"] == "Thing_NameLength_Get"
    assert d["Thing_NameLength_Get"]["doc"] == "Reads the length of thing index's name into *length."
    assert d["File_Upload"]["family"] == "Files"
    assert d["File_Level_Set"]["doc"] == ""  # a prototype without a comment of its own takes none


def test_sized_by_key_names_the_length_query_over_the_naming_rule():
    calls = copy.deepcopy(CALLS)
    calls[0]["call"] = "Thing_Measure"
    calls[1]["outputs"][0]["sizedBy"] = "Thing_Measure"
    header = HEADER.replace("Thing_NameLength_Get", "Thing_Measure")
    assert by_name(describe(calls, header))["Thing_Name_Get"]["sized_by"] == "Thing_Measure"


@pytest.mark.parametrize(
    "change, message",
    [
        (lambda c, h: (c[1:], h.replace(QUERY_PROTOTYPE, "")), "no length query"),
        (lambda c, h: (c[:1] + [dict(c[1], call="Thing_Label")] + c[2:], h.replace("Thing_Name_Get", "Thing_Label")),
         "no length query"),
        (lambda c, h: ([dict(c[0], args=[{"name": "index", "kind": "flag"}])] + c[1:], h), "other arguments"),
        (lambda c, h: (c, h.replace("float level", "double level")), "declared double"),
        (lambda c, h: (c, h.replace("float level", "float level, int32_t spare")), "spare"),
        (lambda c, h: (c[:-1], h), "not in the tool"),
        (lambda c, h: (c + [c[0]], h), "twice"),
    ],
    ids=["query-missing", "text-without-query", "query-args-differ", "type-mismatch", "unknown-parameter",
         "header-has-more", "listed-twice"],
)
def test_inconsistent_sources_stop_generation(change, message):
    calls, header = change(copy.deepcopy(CALLS), HEADER)
    with pytest.raises(GenerateError, match=message):
        describe(calls, header)


def test_sizing_query_must_return_one_integer():
    calls = copy.deepcopy(CALLS)
    calls[0]["outputs"] = [{"name": "length", "kind": "float"}]
    header = HEADER.replace("int32_t index, int32_t* length", "int32_t index, float* length")
    with pytest.raises(GenerateError, match="one integer"):
        describe(calls, header)


@pytest.mark.parametrize(
    "name, expected",
    [
        ("RX_CentreFrequency_Set", "rx_centre_frequency_set"),
        ("ADCOverloaded_Get", "adc_overloaded_get"),
        ("LTE_Results_IQGainImbalance_Get", "lte_results_iq_gain_imbalance_get"),
        ("GetErrorMsgLength", "get_error_msg_length"),
        ("ProtocolMessageXml_DownloadSize_Get", "protocol_message_xml_download_size_get"),
    ],
)
def test_python_names(name, expected):
    assert python_name(name) == expected


def test_generated_module_has_typed_methods_that_pass_arguments_in_order():
    namespace = {}
    exec(compile(generate(json.dumps(CALLS), HEADER), "<generated>", "exec"), namespace)
    calls = namespace["Calls"]

    class Probe(calls):
        __slots__ = ("seen",)

        def _call(self, name, args):
            self.seen = (name, args)
            return "out"

    probe = Probe()
    assert probe.file_upload("n", b"c") == "out"
    assert probe.seen == ("File_Upload", ("n", b"c"))
    probe.file_level_set(3, 1.5)
    assert probe.seen == ("File_Level_Set", (3, 1.5))
    signature = inspect.signature(calls.thing_name_get)
    assert list(signature.parameters) == ["self", "index"]
    assert signature.return_annotation == "str"
    assert "Sized through Thing_NameLength_Get" in calls.thing_name_get.__doc__
    assert calls.thing_name_length_get.__doc__.startswith("Reads the length of thing index's name")


def test_header_parser_reads_every_prototype_of_the_public_header(header_text):
    prototypes = parse_header(header_text)
    assert len(prototypes) == header_text.count("TQBSE_API int32_t")
    assert prototypes["Protocol_Results_GetTrace"]["params"][2] == ("double*", "xValues")
