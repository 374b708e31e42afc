"""Builds the package's call descriptions from the two public sources.

``tqbse list --json`` names every export with its typed arguments and its
outputs (with their kinds), and carries the texts kept beside the call rows:
what the export does (``summary``), what each parameter means (``doc``) and
the codes it can return (``codes``), which become the methods' docstrings.
The public header gives each export's C parameter list in argument order
(and, for a list without texts, its documentation comment). Together
they describe every C parameter's role, which is all ``ctypes`` needs:

* an argument of the JSON is a value input (``int``, ``flag``, ``float``,
  ``double``, ``text``);
* an output of the JSON is written through a pointer (``int``, ``flag``,
  ``float``, ``double``, ``text``, ``doubles``, ``version``);
* any other ``int32_t`` is a text limit when it follows a text input, and
  otherwise the size of the call's text buffer or trace arrays.

Text and trace outputs are sized by a length query. An output object's
``sizedBy`` key (or the call object's) names that query; without it the tool's naming rules are
used (``X_Name_Get`` -> ``X_NameLength_Get``, ``X_Download`` ->
``X_DownloadSize_Get``, ``GetErrorMsg`` -> ``GetErrorMsgLength``,
``X_GetTrace`` -> ``X_GetTraceLength``). Either way the query must exist,
take the same arguments and return one integer, or generation fails.

This module is loaded on its own by setup.py at build time, so it imports
nothing from the package.
"""

from __future__ import annotations

import json
import keyword
import pprint
import re
from typing import Any, Dict, List, Optional, Sequence, Tuple

PREFIX = "tqBsePluginControlDll_"

# Exports that the connection object wraps (connect and close) rather than
# offering as methods.
LIFECYCLE_CALLS = ("Initialise", "Shutdown")

INPUT_CTYPES = {"int": "int32_t", "flag": "int32_t", "float": "float", "double": "double", "text": "const char*"}
OUTPUT_CTYPES = {
    "int": "int32_t*",
    "flag": "int32_t*",
    "float": "float*",
    "double": "double*",
    "text": "char*",
    "doubles": "double*",
    "version": "int32_t*",
}
SIZED_KINDS = ("text", "doubles")

PY_INPUT_TYPES = {"int": "int", "flag": "int", "float": "float", "double": "float", "text": "Text"}
PY_OUTPUT_TYPES = {
    "int": "int",
    "flag": "int",
    "float": "float",
    "double": "float",
    "text": "str",
    "doubles": "FloatArray",
    "version": "Tuple[int, int, int, int]",
}


class GenerateError(Exception):
    """The tool's list and the header do not describe the exports consistently."""


def python_name(name: str) -> str:
    """RX_CentreFrequency_Get -> rx_centre_frequency_get, IQGainImbalance -> iq_gain_imbalance."""
    words = []
    for part in name.split("_"):
        part = re.sub(r"([A-Z]+)([A-Z][a-z])", r"\1_\2", part)
        part = re.sub(r"([a-z0-9])([A-Z])", r"\1_\2", part)
        words.append(part.lower())
    result = "_".join(w for w in words if w)
    if keyword.iskeyword(result):
        result += "_"
    return result


def _clean_doc(comment: str) -> str:
    lines = []
    for line in comment.splitlines():
        line = line.strip()
        if line.startswith("*"):
            line = line[1:].strip()
        lines.append(line)
    return " ".join(line for line in lines if line)


_DECL = re.compile(r"TQBSE_API\s+int32_t\s+" + PREFIX + r"(\w+)\s*\(([^)]*)\)\s*;")
_SECTION = re.compile(r"/\*\s*-{3,}\s*(.*?)\s*-*\s*\*/")


def _doc_before(text: str, end: int) -> str:
    """The /** ... */ comment that ends right before position end, cleaned; "" if none."""
    before = text[:end].rstrip()
    if not before.endswith("*/"):
        return ""
    start = before.rfind("/**")
    if start < 0 or "*/" in before[start + 3 : -2]:
        return ""
    return _clean_doc(before[start + 3 : -2])


def parse_header(text: str) -> Dict[str, Dict[str, Any]]:
    """Every exported prototype: C parameters (type, name), doc comment, section title."""
    sections = [(m.start(), m.group(1)) for m in _SECTION.finditer(text)]
    result: Dict[str, Dict[str, Any]] = {}
    for m in _DECL.finditer(text):
        name, plist = m.group(1), m.group(2)
        params: List[Tuple[str, str]] = []
        for raw in plist.split(","):
            raw = " ".join(raw.split())
            if raw in ("", "void"):
                continue
            pm = re.fullmatch(r"(.*?[\s*])(\w+)", raw)
            if not pm:
                raise GenerateError(f"{name}: cannot read parameter '{raw}'")
            ctype = re.sub(r"\s*\*", "*", pm.group(1).strip())
            params.append((ctype, pm.group(2)))
        doc = _doc_before(text, m.start())
        section = ""
        for pos, title in sections:
            if pos < m.start():
                section = title
        if name in result:
            raise GenerateError(f"{name} is declared twice in the header")
        result[name] = {"params": params, "doc": doc, "family": section}
    return result


def _fallback_size_query(name: str) -> Optional[str]:
    if name.endswith("Name_Get"):
        return name[: -len("_Get")] + "Length_Get"
    if name.endswith("_Download"):
        return name + "Size_Get"
    if name == "GetErrorMsg":
        return name + "Length"
    if name.endswith("_GetTrace"):
        return name + "Length"
    return None


def _roles(call: Dict[str, Any], prototype: Dict[str, Any]) -> List[Tuple[str, str]]:
    """(C name, role) per C parameter; roles: in_<kind>, out_<kind>, text_limit, size."""
    name = call["call"]
    args = {a["name"]: a["kind"] for a in call["args"]}
    outs = {o["name"]: o["kind"] for o in call["outputs"]}
    sized = any(kind in SIZED_KINDS for kind in outs.values())
    roles: List[Tuple[str, str]] = []
    for ctype, pname in prototype["params"]:
        if pname in args:
            kind = args[pname]
            if INPUT_CTYPES.get(kind) != ctype:
                raise GenerateError(f"{name}: argument {pname} of kind {kind} is declared {ctype}")
            roles.append((pname, "in_" + kind))
        elif pname in outs:
            kind = outs[pname]
            if OUTPUT_CTYPES.get(kind) != ctype:
                raise GenerateError(f"{name}: output {pname} of kind {kind} is declared {ctype}")
            roles.append((pname, "out_" + kind))
        elif ctype == "int32_t" and roles and roles[-1][1] == "in_text":
            roles.append((pname, "text_limit"))
        elif ctype == "int32_t" and sized:
            roles.append((pname, "size"))
        else:
            raise GenerateError(f"{name}: parameter {ctype} {pname} is neither argument, output, limit nor size")
    declared = [p for p, _ in roles]
    for listed in list(args) + list(outs):
        if listed not in declared:
            raise GenerateError(f"{name}: {listed} is not a parameter of the header's prototype")
    if [a["name"] for a in call["args"]] != [p for p, r in roles if r.startswith("in_")]:
        raise GenerateError(f"{name}: the tool's argument order differs from the header's")
    return roles


def _typed(args: Sequence[Dict[str, Any]]) -> List[Tuple[str, str]]:
    """An argument list's names and kinds, without its texts."""
    return [(a["name"], a["kind"]) for a in args]


def describe(calls: Sequence[Dict[str, Any]], header_text: str) -> List[Dict[str, Any]]:
    """One description per export, in the tool's order."""
    header = parse_header(header_text)
    listed = [c["call"] for c in calls]
    if len(set(listed)) != len(listed):
        raise GenerateError("the tool lists a call twice")
    missing = sorted(set(listed) - set(header))
    extra = sorted(set(header) - set(listed))
    if missing or extra:
        raise GenerateError(f"tool and header differ: not in the header {missing}, not in the tool {extra}")
    by_name = {c["call"]: c for c in calls}

    descriptions = []
    for call in calls:
        name = call["call"]
        roles = _roles(call, header[name])
        sized_by = None
        sized_outputs = [o for o in call["outputs"] if o["kind"] in SIZED_KINDS]
        if sized_outputs:
            named = {o["sizedBy"] for o in sized_outputs if o.get("sizedBy")}
            if call.get("sizedBy"):
                named.add(call["sizedBy"])
            if len(named) > 1:
                raise GenerateError(f"{name}: its outputs are sized by different queries {sorted(named)}")
            sized_by = named.pop() if named else _fallback_size_query(name)
            query = by_name.get(sized_by or "")
            if query is None:
                raise GenerateError(f"{name}: no length query sizes its {sized_outputs[0]['kind']} output")
            if _typed(query["args"]) != _typed(call["args"]):
                raise GenerateError(f"{name}: its length query {sized_by} takes other arguments")
            if [o["kind"] for o in query["outputs"]] != ["int"]:
                raise GenerateError(f"{name}: its length query {sized_by} does not return one integer")
        param_docs = {p["name"]: p["doc"] for p in call["args"] + call["outputs"] if p.get("doc")}
        descriptions.append(
            {
                "name": name,
                "python": python_name(name),
                "family": header[name]["family"],
                "params": roles,
                "sized_by": sized_by,
                "doc": call.get("summary") or header[name]["doc"],
                "param_docs": param_docs,
                "codes": call.get("codes", []),
                "method": name not in LIFECYCLE_CALLS,
            }
        )
    python_names = [d["python"] for d in descriptions]
    if len(set(python_names)) != len(python_names):
        raise GenerateError("two exports map to the same Python name")
    return descriptions


def _signature(d: Dict[str, Any]) -> Tuple[str, str]:
    args = ["self"]
    outs = []
    for pname, role in d["params"]:
        direction, _, kind = role.partition("_")
        if direction == "in":
            args.append(f"{python_name(pname)}: {PY_INPUT_TYPES[kind]}")
        elif direction == "out":
            outs.append(PY_OUTPUT_TYPES[kind])
    if not outs:
        returns = "None"
    elif len(outs) == 1:
        returns = outs[0]
    else:
        returns = "Tuple[" + ", ".join(outs) + "]"
    return ", ".join(args), returns


def _docstring(d: Dict[str, Any]) -> str:
    docs = d.get("param_docs", {})
    args = [(python_name(p), docs.get(p, "")) for p, role in d["params"] if role.startswith("in_")]
    outs = [
        ("the text (str)" if role == "out_text" else f"{python_name(p)} ({PY_OUTPUT_TYPES[role[4:]]})", docs.get(p, ""))
        for p, role in d["params"]
        if role.startswith("out_")
    ]
    lines = [d["doc"] or d["name"], ""]
    if any(text for _, text in args):
        lines.append("Args:")
        lines += [f"    {name}: {text}" for name, text in args]
        lines.append("")
    if outs:
        if len(outs) == 1:
            lines.append("Returns " + outs[0][0] + (": " + outs[0][1] if outs[0][1] else "") + ".")
        else:
            lines.append("Returns a tuple:")
            lines += [f"    {name}: {text}" if text else f"    {name}" for name, text in outs]
        lines.append("")
    if d["sized_by"]:
        lines.append(f"Sized through {d['sized_by']} first.")
    negative = [str(c) for c in d.get("codes", []) if c < 0]
    codes = f" ({', '.join(negative)})" if negative else ""
    lines.append(f"Export: {PREFIX}{d['name']}; raises tqbse.Error on a negative result{codes}.")
    text = "\n".join(lines)
    return text.replace("\\", "\\\\").replace('"""', '\\"\\"\\"')


def render(descriptions: Sequence[Dict[str, Any]], sources: str) -> str:
    """The source of the generated module: the table and one typed method per export."""
    out = [
        f'"""Generated at build time from {sources}; do not edit."""',
        "",
        "from __future__ import annotations",
        "",
        "from typing import TYPE_CHECKING, Any, Tuple, Union",
        "",
        "if TYPE_CHECKING:",
        "    from ._arrays import FloatArray",
        "",
        "Text = Union[str, bytes]",
        "",
        "TABLE = " + pprint.pformat([dict(d) for d in descriptions], width=110, sort_dicts=False),
        "",
        "",
        "class Calls:",
        '    """One method per remote export; the connection supplies _call."""',
        "",
        "    __slots__ = ()",
        "",
        "    def _call(self, name: str, args: Tuple[Any, ...]) -> Any:",
        "        raise NotImplementedError",
    ]
    for d in descriptions:
        if not d["method"]:
            continue
        params, returns = _signature(d)
        values = [python_name(p) for p, role in d["params"] if role.startswith("in_")]
        tuple_text = "(" + ", ".join(values) + ("," if len(values) == 1 else "") + ")"
        out += [
            "",
            f"    def {d['python']}({params}) -> {returns}:",
            '        """' + "\n".join(("        " + line).rstrip() for line in _docstring(d).split("\n")).lstrip() + '"""',
            f"        return self._call({d['name']!r}, {tuple_text})",
        ]
    return "\n".join(out) + "\n"


# The exception classes: (name, base, what it means, the header's result
# constants it stands for). The codes come from the public header, whose
# constants the library checks at compile time against its one result-code
# list; a negative code no class names raises Error itself.
ERROR_CLASSES = (
    ("NoResponseError", "Error",
     "no reply, because there is no connection or it failed (only a new connect reconnects).",
     ("TQBSE_NO_RESPONSE",)),
    ("NotConnectedError", "NoResponseError", "The connection was closed in Python; nothing was sent.", ()),
    ("BufferTooSmallError", "Error", "a text or trace did not fit the room sized for it.", ("TQBSE_BUFFER_TOO_SMALL",)),
    ("FunctionNotFoundError", "Error", "the server knows no function of that name.", ("TQBSE_FUNCTION_NOT_FOUND",)),
    ("ParameterCountError", "Error", "the server got the wrong number of parameters.", ("TQBSE_PARAMETER_COUNT",)),
    ("UnknownObjectError", "Error", "the server knows no such index, handle, trace, item or name.",
     ("TQBSE_INTERNAL_OBJECT_ERROR",)),
    ("NotValidRemotelyError", "Error", "the function has no remote implementation.", ("TQBSE_NOT_VALID_REMOTELY",)),
    ("BadAddressError", "Error", "an address octet outside 0..255.", ("TQBSE_BAD_ADDRESS_OCTET",)),
    ("ReplyError", "Error",
     "the reply could not be read: another function's name, too few parameters, no result code "
     "or a malformed output token.",
     ("TQBSE_PARAMETER_FORMAT", "TQBSE_ARRAY_COUNT", "TQBSE_ARRAY_LENGTH", "TQBSE_PARAMETER_TYPE",
      "TQBSE_PARAMETER_CONTENTS", "TQBSE_REPLY_OUT_OF_ORDER", "TQBSE_REPLY_PARAMETER_COUNT",
      "TQBSE_NO_RESULT_CODE")),
    ("ServerError", "Error",
     "a failure the server reports about itself: transmission, server plug-in not loaded, "
     "unexpected parameter type.",
     ("TQBSE_TRANSMISSION_ERROR", "TQBSE_SERVER_DLL_NOT_LOADED", "TQBSE_UNEXPECTED_PARAMETER_TYPE")),
)

_RESULT = re.compile(r"#define\s+(TQBSE_[A-Z_]+)\s+\((-?\d+)\)")


def parse_result_codes(text: str) -> Dict[str, int]:
    """Every result constant of the header (#define TQBSE_NAME (value)), in its order."""
    codes: Dict[str, int] = {}
    for m in _RESULT.finditer(text):
        if m.group(1) in codes:
            raise GenerateError(f"{m.group(1)} is defined twice in the header")
        codes[m.group(1)] = int(m.group(2))
    if len(set(codes.values())) != len(codes):
        raise GenerateError("two result constants of the header share a value")
    return codes


def render_errors(header_text: str, sources: str) -> str:
    """The source of the generated exception module: one class per group of codes, and the code names."""
    codes = parse_result_codes(header_text)
    claimed: Dict[int, str] = {}
    out = [
        f'"""Generated at build time from {sources}; do not edit."""',
        "",
        "from __future__ import annotations",
        "",
        "from typing import Dict, Type",
        "",
        "from ._errors import Error",
    ]
    for name, base, meaning, constants in ERROR_CLASSES:
        values = []
        for constant in constants:
            if constant not in codes or codes[constant] >= 0:
                raise GenerateError(f"{name}: {constant} is not a negative result code of the header")
            if codes[constant] in claimed:
                raise GenerateError(f"{constant} belongs to both {claimed[codes[constant]]} and {name}")
            claimed[codes[constant]] = name
            values.append(codes[constant])
        doc = ("/".join(str(v) for v in values) + ": " + meaning) if values else meaning
        out += ["", "", f"class {name}({base}):", f'    """{doc}"""']
        if values:
            out += ["", f"    codes = ({', '.join(str(v) for v in values)},)"]
    out += [
        "",
        "",
        "BY_CODE: Dict[int, Type[Error]] = {",
        *[f"    {v}: {claimed[v]}," for v in sorted(claimed, reverse=True)],
        "}",
    ]
    return "\n".join(out) + "\n"


def generate(tool_json: str, header_text: str, sources: str = "tqbse list --json and the public header") -> str:
    try:
        calls = json.loads(tool_json)
    except ValueError as e:
        raise GenerateError(f"the tool's list is not JSON: {e}") from None
    if not isinstance(calls, list) or not calls:
        raise GenerateError("the tool's list is empty")
    return render(describe(calls, header_text), sources)
