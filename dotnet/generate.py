#!/usr/bin/python3
"""Writes the C# sources of the Tqbse package from the export rows.

Run by Tqbse.csproj before every compile (target TqbseGenerate), never by
hand. Inputs:

  --calls FILE     a saved `tqbse list --json` (else --tool is run)
  --tool PATH      the tqbse program whose `list --json` gives the rows
  --header FILE    tqBsePluginControlDll.h: the result codes and the version
  --session-header FILE   accepted for older build files, not read: each
                   row's "session" field says whether it has a session twin
  --out DIR        where NativeMethods.g.cs, Calls.g.cs and Errors.g.cs go

The rows carry every C parameter with its kind (int, flag, float, double,
text, doubles, version, size) and its documentation, which become the XML
doc comments. Sized outputs (texts, traces) name their length query in
`sizedBy`. The exception classes come from the Python package's generator
(python/src/tqbse/_generate.py: ERROR_CLASSES and the header's codes), so
both bindings raise the same classes for the same codes.
"""

from __future__ import annotations

import argparse
import json
import re
import runpy
import subprocess
import sys
from pathlib import Path
from typing import Any, Dict, List, Optional, Sequence

HERE = Path(__file__).resolve().parent
REPO = HERE.parent
PREFIX = "tqBsePluginControlDll_"
SESSION_PREFIX = "tqbse_"

INPUT_TYPES = {"int": "int", "flag": "bool", "float": "float", "double": "double", "text": "string?"}
NATIVE_INPUT = {"int": "int", "flag": "int", "float": "float", "double": "double", "text": "byte*", "size": "int"}
OUTPUT_TYPES = {
    "int": "int", "flag": "bool", "float": "float", "double": "double",
    "text": "string", "doubles": "double[]", "version": "System.Version",
}
NATIVE_OUTPUT = {"int": "int*", "flag": "int*", "float": "float*", "double": "double*",
                 "text": "byte*", "doubles": "double*", "version": "int*"}
CS_KEYWORDS = {"object", "string", "event", "base", "params", "out", "in", "ref", "class", "fixed", "lock", "operator"}


class GenerateError(Exception):
    pass


def pascal(name: str) -> str:
    """RX_CentreFrequency_Get -> RxCentreFrequencyGet, LTE_Results_IQSkew_Get -> LteResultsIqSkewGet."""
    words: List[str] = []
    for part in name.split("_"):
        part = re.sub(r"([A-Z]+)([A-Z][a-z])", r"\1_\2", part)
        part = re.sub(r"([a-z0-9])([A-Z])", r"\1_\2", part)
        words += [w for w in part.split("_") if w]
    return "".join(w[0].upper() + w[1:].lower() for w in words)


def ident(name: str) -> str:
    return "@" + name if name in CS_KEYWORDS else name


def xml(text: str) -> str:
    return text.replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;")


def load_rows(args: argparse.Namespace) -> List[Dict[str, Any]]:
    if args.calls:
        text = Path(args.calls).read_text(encoding="utf-8")
    else:
        tool = args.tool or str(REPO / "build" / "tools" / "tqbse")
        try:
            done = subprocess.run([tool, "list", "--json"], capture_output=True, text=True, timeout=60)
        except OSError as e:
            raise GenerateError(f"cannot run {tool} ({e}): build the tool or pass TqbseCallsJson/TqbseTool") from None
        if done.returncode != 0:
            raise GenerateError(f"{tool} list --json failed ({done.returncode}): {done.stderr.strip()}")
        text = done.stdout
    rows = json.loads(text)
    if not isinstance(rows, list) or not rows:
        raise GenerateError("the export list is empty")
    return rows


def session_twins(rows: Sequence[Dict[str, Any]], session_header: Optional[Path] = None) -> set:
    """Names of the exports that have a tqbse_<name>(tqbse_session*, ...) twin."""
    if not all("session" in r for r in rows):
        raise GenerateError("the rows do not say which exports have a session twin (a tqbse older than the package)")
    return {r["call"] for r in rows if r["session"]}


class Call:
    """One row, checked and named for C#."""

    def __init__(self, row: Dict[str, Any], by_name: Dict[str, Dict[str, Any]], twin: bool) -> None:
        self.name: str = row["call"]
        self.method = pascal(self.name)
        self.row = row
        self.params: List[Dict[str, Any]] = row["params"]
        self.twin = twin
        outs = {o["name"] for o in row["outputs"]}
        ins = {a["name"] for a in row["args"]}
        self.roles: List[str] = []
        for p in self.params:
            kind = p["kind"]
            if p["name"] in outs:
                if kind not in NATIVE_OUTPUT:
                    raise GenerateError(f"{self.name}: output {p['name']} of unknown kind {kind}")
                self.roles.append("out")
            elif p["name"] in ins or kind == "size":
                if kind not in NATIVE_INPUT:
                    raise GenerateError(f"{self.name}: argument {p['name']} of unknown kind {kind}")
                self.roles.append("in" if p["name"] in ins else "size")
            else:
                raise GenerateError(f"{self.name}: parameter {p['name']} is neither argument, output nor size")
        self.inputs = [p for p, r in zip(self.params, self.roles) if r == "in"]
        self.outputs = [p for p, r in zip(self.params, self.roles) if r == "out"]
        sized = [o for o in self.outputs if o["kind"] in ("text", "doubles")]
        self.sized_by: Optional[str] = None
        self.trace = bool(sized) and sized[0]["kind"] == "doubles"
        if sized:
            named = {o.get("sizedBy") for o in sized} | ({row["sizedBy"]} if row.get("sizedBy") else set())
            named.discard(None)
            if len(named) != 1:
                raise GenerateError(f"{self.name}: its sized outputs name {sorted(named)} as length query")
            self.sized_by = named.pop()
            query = by_name.get(self.sized_by)
            if query is None:
                raise GenerateError(f"{self.name}: no length query {self.sized_by}")
            if [(a["name"], a["kind"]) for a in query["args"]] != [(a["name"], a["kind"]) for a in row["args"]]:
                raise GenerateError(f"{self.name}: its length query {self.sized_by} takes other arguments")
            if [o["kind"] for o in query["outputs"]] != ["int"]:
                raise GenerateError(f"{self.name}: its length query {self.sized_by} does not give one integer")

    # -- the C# shapes

    def return_type(self) -> str:
        if not self.outputs:
            return "void"
        if len(self.outputs) == 1:
            return OUTPUT_TYPES[self.outputs[0]["kind"]]
        return "(" + ", ".join(f"{OUTPUT_TYPES[o['kind']]} {pascal(o['name'])}" for o in self.outputs) + ")"

    def parameter_list(self) -> str:
        return ", ".join(f"{INPUT_TYPES[p['kind']]} {ident(p['name'])}" for p in self.inputs)

    def argument_names(self) -> str:
        return ", ".join(ident(p["name"]) for p in self.inputs)

    def native_parameters(self) -> str:
        out = []
        for p, role in zip(self.params, self.roles):
            ctype = NATIVE_OUTPUT[p["kind"]] if role == "out" else NATIVE_INPUT[p["kind"]]
            out.append(f"{ctype} {ident(p['name'])}")
        return ", ".join(out)

    def doc(self, indent: str) -> List[str]:
        row = self.row
        lines = [f"{indent}/// <summary>{xml(row.get('summary') or self.name)}</summary>"]
        for p in self.inputs:
            lines.append(f"{indent}/// <param name=\"{p['name']}\">{xml(p.get('doc', ''))}"
                         + (" (sent as -1 for true, 0 for false)" if p["kind"] == "flag" else "")
                         + (" (Latin-1; null sends the null text)" if p["kind"] == "text" else "")
                         + "</param>")
        if len(self.outputs) == 1:
            o = self.outputs[0]
            lines.append(f"{indent}/// <returns>{xml(o.get('doc', ''))}"
                         + (" (as major.minor.patch.build)" if o["kind"] == "version" else "") + "</returns>")
        elif self.outputs:
            parts = "; ".join(f"{pascal(o['name'])}: {xml(o.get('doc', ''))}" for o in self.outputs)
            lines.append(f"{indent}/// <returns>{parts}</returns>")
        negative = " ".join(str(c) for c in row.get("codes", []) if c < 0)
        sized = f" Sized through {self.sized_by} first." if self.sized_by else ""
        lines.append(f"{indent}/// <remarks>Export {PREFIX}{self.name}.{sized} A positive result (a warning) "
                     f"is not an error.</remarks>")
        lines.append(f"{indent}/// <exception cref=\"TqbseException\">on a negative result ({negative}).</exception>")
        return lines


def native_methods(calls: Sequence[Call]) -> str:
    out = ["internal static unsafe partial class NativeMethods", "{"]
    for c in calls:
        out += [
            f"    /// <summary>{PREFIX}{c.name}</summary>",
            f"    [DllImport(Library, EntryPoint = \"{PREFIX}{c.name}\", CallingConvention = CallingConvention.Cdecl, "
            "ExactSpelling = true)]",
            f"    internal static extern int {c.name}({c.native_parameters()});",
        ]
        if c.twin:
            params = c.native_parameters()
            out += [
                f"    /// <summary>{SESSION_PREFIX}{c.name}</summary>",
                f"    [DllImport(Library, EntryPoint = \"{SESSION_PREFIX}{c.name}\", "
                "CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]",
                f"    internal static extern int Session_{c.name}(IntPtr session{', ' + params if params else ''});",
            ]
    out.append("}")
    return "\n".join(out)


def invocation(c: Call, name: str, values: List[str], session: bool) -> str:
    if session:
        return f"NativeMethods.Session_{name}(session_{''.join(', ' + v for v in values)})"
    return f"NativeMethods.{name}({', '.join(values)})"


def body(c: Call, by_name: Dict[str, Call], session: bool, indent: str) -> List[str]:
    """The statements of one typed method: texts encoded, outputs sized, the call made, failures thrown."""
    lines: List[str] = []
    i = indent
    opened = 0
    if session:
        lines.append(f"{i}var session_ = Handle;")
    for p in c.inputs:
        if p["kind"] == "text":
            n = p["name"]
            lines += [
                f"{i}Span<byte> {n}Stack = stackalloc byte[TextArgument.StackBytes];",
                f"{i}using var {n}Text = new TextArgument({ident(n)}, {n}Stack, nameof({n}));",
                f"{i}fixed (byte* {n}Bytes = {n}Text.Bytes)",
                f"{i}{{",
            ]
            i += "    "
            opened += 1

    def values(size_: str, outs: Dict[str, str]) -> List[str]:
        vals = []
        for p, role in zip(c.params, c.roles):
            n = p["name"]
            if role == "in":
                k = p["kind"]
                vals.append(f"{n}Bytes" if k == "text" else f"({ident(n)} ? -1 : 0)" if k == "flag" else ident(n))
            elif role == "size":
                # A text's limit follows it; any other size_ is the buffer's or the arrays'.
                prev = c.params[c.params.index(p) - 1]
                vals.append(f"{prev['name']}Text.Length" if prev["kind"] == "text" and prev["name"] not in
                            {o["name"] for o in c.outputs} else size_)
            else:
                vals.append(outs[n])
        return vals

    def call_of(size_: str, outs: Dict[str, str]) -> str:
        return invocation(c, c.name, values(size_, outs), session)

    if c.sized_by is None:
        outs = {}
        for o in c.outputs:
            n = o["name"]
            if o["kind"] == "version":
                lines.append(f"{i}int* {n} = stackalloc int[4];")
                outs[n] = n
            else:
                ctype = {"flag": "int"}.get(o["kind"], o["kind"])
                lines.append(f"{i}{ctype} {n} = default;")
                outs[n] = f"&{n}"
        lines.append(f"{i}int code_ = {call_of('0', outs)};")
        lines.append(f"{i}if (code_ < 0) throw TqbseException.For(code_, \"{c.name}\");")
        results = []
        for o in c.outputs:
            n = o["name"]
            k = o["kind"]
            results.append(f"new System.Version({n}[0], {n}[1], {n}[2], {n}[3])" if k == "version"
                           else f"{n} != 0" if k == "flag" else n)
        if results:
            lines.append(f"{i}return {results[0] if len(results) == 1 else '(' + ', '.join(results) + ')'};")
    else:
        query = by_name[c.sized_by]
        qout = query.outputs[0]["name"]
        qvalues = []
        for k, (p, r) in enumerate(zip(query.params, query.roles)):
            if r == "size":
                qvalues.append(f"{query.params[k - 1]['name']}Text.Length")
            elif r == "out":
                qvalues.append("&reported_")
            else:
                qvalues.append(f"{p['name']}Bytes" if p["kind"] == "text" else
                               f"({ident(p['name'])} ? -1 : 0)" if p["kind"] == "flag" else ident(p["name"]))
        qcall = invocation(query, query.name, qvalues, session)
        if c.trace:
            xs, ys = (o["name"] for o in c.outputs)
            lines += [
                f"{i}for (int attempt_ = 0; ; attempt_++)",
                f"{i}{{",
                f"{i}    int reported_ = 0;",
                f"{i}    int queried_ = {qcall};",
                f"{i}    if (queried_ < 0) throw TqbseException.For(queried_, \"{query.name}\", \"{c.name}\");",
                f"{i}    if (reported_ < 0 || reported_ > Sizing.MaxTracePoints)",
                f"{i}        throw TqbseException.For(-13, \"{query.name}\", \"{c.name}\", "
                f"$\"the trace has {{reported_}} points (at most {{Sizing.MaxTracePoints}} are fetched)\");",
                f"{i}    var {xs} = new double[reported_];",
                f"{i}    var {ys} = new double[reported_];",
                f"{i}    int code_;",
                f"{i}    fixed (double* {xs}Ptr = {xs}, {ys}Ptr = {ys})",
                f"{i}        code_ = {call_of('reported_', {xs: xs + 'Ptr', ys: ys + 'Ptr'})};",
                f"{i}    if (code_ == -13 && attempt_ + 1 < Sizing.MaxAttempts) continue; // the results changed meanwhile",
                f"{i}    if (code_ < 0) throw TqbseException.For(code_, \"{c.name}\");",
                f"{i}    return ({xs}, {ys});",
                f"{i}}}",
            ]
        else:
            (o,) = c.outputs
            lines += [
                f"{i}int reported_ = 0;",
                f"{i}int queried_ = {qcall};",
                f"{i}if (queried_ < 0) throw TqbseException.For(queried_, \"{query.name}\", \"{c.name}\");",
                f"{i}int size_ = Sizing.FirstTextSize(reported_);",
                f"{i}for (int attempt_ = 0; ; attempt_++)",
                f"{i}{{",
                f"{i}    byte[] rented_ = ArrayPool<byte>.Shared.Rent(size_);",
                f"{i}    try",
                f"{i}    {{",
                f"{i}        int code_;",
                f"{i}        fixed (byte* {o['name']} = rented_)",
                f"{i}            code_ = {call_of('size_', {o['name']: o['name']})};",
                f"{i}        if (code_ == -13 && size_ < Sizing.MaxTextBytes && attempt_ + 1 < Sizing.MaxAttempts)",
                f"{i}        {{",
                f"{i}            size_ = Sizing.NextTextSize(size_);",
                f"{i}            continue;",
                f"{i}        }}",
                f"{i}        if (code_ < 0) throw TqbseException.For(code_, \"{c.name}\");",
                f"{i}        return Latin1.Decode(rented_, size_);",
                f"{i}    }}",
                f"{i}    finally",
                f"{i}    {{",
                f"{i}        ArrayPool<byte>.Shared.Return(rented_);",
                f"{i}    }}",
                f"{i}}}",
            ]
    for _ in range(opened):
        i = i[:-4]
        lines.append(f"{i}}}")
    return lines


def calls_source(calls: Sequence[Call]) -> str:
    by_name = {c.name: c for c in calls}
    twins = [c for c in calls if c.twin]
    out = [
        "/// <summary>The typed calls a session offers: one per remote export. <see cref=\"Session\"/> makes them",
        "/// on a session of its own, <see cref=\"DefaultSession\"/> on the library's flat connection.</summary>",
        "public partial interface ITqbseCalls",
        "{",
    ]
    for c in twins:
        out += c.doc("    ") + [f"    {c.return_type()} {c.method}({c.parameter_list()});", ""]
    out[-1:] = ["}", ""]

    out += ["public sealed unsafe partial class Session : ITqbseCalls", "{"]
    for c in twins:
        out += c.doc("    ") + [f"    public {c.return_type()} {c.method}({c.parameter_list()})", "    {"]
        out += body(c, by_name, True, "        ") + ["    }", ""]
    out[-1:] = ["}", ""]

    out += [
        f"/// <summary>The {len(calls)} exports as the library offers them, on its one flat connection (Initialise connects it),",
        "/// typed as <see cref=\"Session\"/>'s methods are.</summary>",
        "public static unsafe partial class Flat",
        "{",
    ]
    for c in calls:
        out += c.doc("    ") + [f"    public static {c.return_type()} {c.method}({c.parameter_list()})", "    {"]
        out += body(c, by_name, False, "        ") + ["    }", ""]
    out[-1:] = ["}", ""]

    out += ["public sealed partial class DefaultSession : ITqbseCalls", "{"]
    for c in twins:
        ret = "" if c.return_type() == "void" else "return "
        out += [f"    /// <inheritdoc/>",
                f"    public {c.return_type()} {c.method}({c.parameter_list()})"
                f" {{ {ret}Flat.{c.method}({c.argument_names()}); }}", ""]
    out[-1:] = ["}"]
    return "\n".join(out)


def errors_source(header: str) -> str:
    python = runpy.run_path(str(REPO / "python" / "src" / "tqbse" / "_generate.py"))
    codes: Dict[str, int] = python["parse_result_codes"](header)
    out = ["internal static partial class ResultCodes", "{",
           "    /// <summary>The header's name of every result code.</summary>",
           "    internal static string? NameOf(int code)", "    {", "        switch (code)", "        {"]
    for name, value in codes.items():
        out.append(f"            case {value}: return \"{name}\";")
    out += ["            default: return null;", "        }", "    }", ""]
    out += ["    /// <summary>The exception for a negative code.</summary>",
            "    internal static TqbseException Create(int code, string message)", "    {",
            "        switch (code)", "        {"]
    classes = []
    for name, base, meaning, constants in python["ERROR_CLASSES"]:
        if not constants:
            continue  # a class without a code of its own stands for a Python-side state only
        values = []
        for constant in constants:
            if constant not in codes or codes[constant] >= 0:
                raise GenerateError(f"{name}: {constant} is not a negative result code of the header")
            values.append(codes[constant])
        cs = name[: -len("Error")] + "Exception"
        cs_base = "TqbseException" if base == "Error" else base[: -len("Error")] + "Exception"
        classes.append((cs, cs_base, meaning, values))
        for v in values:
            out.append(f"            case {v}: return new {cs}(code, message);")
    out += ["            default: return new TqbseException(code, message);", "        }", "    }", "}", ""]
    for cs, cs_base, meaning, values in classes:
        doc = "/".join(str(v) for v in values) + ": " + meaning
        out += [f"/// <summary>{xml(doc[0].upper() + doc[1:] if doc else doc)}</summary>",
                f"public class {cs} : {cs_base}", "{",
                f"    /// <summary>A failure with result code <paramref name=\"code\"/>.</summary>",
                f"    public {cs}(int code, string message) : base(code, message) {{ }}", "}", ""]
    return "\n".join(out)


HEAD = """// <auto-generated>
// Written by dotnet/generate.py from {sources} at build time; do not edit.
// </auto-generated>
#nullable enable
using System;
using System.Buffers;
using System.Runtime.InteropServices;

namespace Tqbse;

"""


def main(argv: Sequence[str]) -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--calls")
    parser.add_argument("--tool")
    parser.add_argument("--header", default=str(REPO / "include" / "tqBsePluginControlDll.h"))
    parser.add_argument("--session-header", default=str(REPO / "include" / "tqbse_session.h"))
    parser.add_argument("--out", required=True)
    args = parser.parse_args(argv)
    try:
        rows = load_rows(args)
        names = [r["call"] for r in rows]
        if len(set(names)) != len(names):
            raise GenerateError("the export list names a call twice")
        twins = session_twins(rows, Path(args.session_header))
        by_row = {r["call"]: r for r in rows}
        calls = [Call(r, by_row, r["call"] in twins) for r in rows]
        methods = [c.method for c in calls]
        if len(set(methods)) != len(methods):
            raise GenerateError("two exports map to the same C# name")
        header = Path(args.header).read_text(encoding="latin-1")
    except (GenerateError, OSError, ValueError, KeyError) as e:
        print(f"dotnet/generate.py: error: {e}", file=sys.stderr)
        return 1
    sources = "the export rows (tqbse list --json) and the public header"
    out = Path(args.out)
    out.mkdir(parents=True, exist_ok=True)
    files = {
        "NativeMethods.g.cs": native_methods(calls),
        "Calls.g.cs": calls_source(calls),
        "Errors.g.cs": errors_source(header),
    }
    for name, text in files.items():
        path = out / name
        content = HEAD.format(sources=sources) + text + "\n"
        if not path.is_file() or path.read_text(encoding="utf-8") != content:
            path.write_text(content, encoding="utf-8")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
