"""The installed call descriptions against the library they drive and the sources they came from."""

import json
import os
import shutil
import subprocess
from pathlib import Path

import pytest

import tqbse
from tqbse import Connection, _generate


def test_every_text_and_trace_output_is_sized_by_a_matching_length_query():
    sized = [c for c in tqbse.CALLS.values() if any(r in ("out_text", "out_doubles") for _, r in c.params)]
    assert sized, "the table describes no text or trace output"
    for call in sized:
        query = tqbse.CALLS.get(call.sized_by or "")
        assert query is not None, f"{call.name} has no length query"
        assert query.inputs == call.inputs, f"{call.name}: {query.name} takes other arguments"
        assert [r for _, r in query.params if r.startswith("out_")] == ["out_int"], query.name


def test_library_exports_exactly_the_described_calls(library):
    for name in tqbse.CALLS:
        assert name in library.functions
    nm = shutil.which("nm")
    if nm is None:
        pytest.skip("nm is not installed; exported symbols not listed")
    listing = subprocess.run([nm, "-D", "--defined-only", library.path], capture_output=True, text=True,
                             timeout=60, check=True).stdout
    exported = {line.split()[-1][len(_generate.PREFIX):] for line in listing.splitlines()
                if line.split() and line.split()[-1].startswith(_generate.PREFIX)}
    assert exported == set(tqbse.CALLS)


def test_installed_table_matches_the_tool_and_header_of_this_build(header_text):
    tool = os.environ.get("TQBSE_TOOL") or str(Path(__file__).resolve().parents[2] / "build" / "tools" / "tqbse")
    if not Path(tool).is_file():
        pytest.skip("no tqbse tool at hand (set TQBSE_TOOL); the installed table is not compared with it")
    listing = subprocess.run([tool, "list", "--json"], capture_output=True, text=True, timeout=60, check=True)
    fresh = {d["name"]: d for d in _generate.describe(json.loads(listing.stdout), header_text)}
    installed = tqbse.CALLS
    assert set(fresh) == set(installed)
    for name, row in fresh.items():
        call = installed[name]
        assert (call.params, call.sized_by, call.doc) == (tuple(tuple(p) for p in row["params"]), row["sized_by"],
                                                           row["doc"]), name


def test_every_export_but_connect_and_close_is_a_documented_method():
    for call in tqbse.CALLS.values():
        method = getattr(Connection, call.python, None)
        if call.name in _generate.LIFECYCLE_CALLS:
            assert method is None
            continue
        assert callable(method), call.name
        assert method.__doc__.startswith(call.doc or call.name), call.name
    own = {"close", "closed", "address", "library"}
    assert not own & {c.python for c in tqbse.CALLS.values()}
