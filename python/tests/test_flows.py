"""Every generated method against the emulator's built-in content, and the repository's Python example."""

import subprocess
import sys

import pytest
from conftest import REPO

import tqbse

# Arguments the built-in content accepts when the calls run in the tool's order: "NAS" is a debug filter, and
# the uploads create it as a scenario and as a message before their downloads ask for it.
ARGS = {"int": 0, "flag": True, "float": -10.0, "double": 1.9e9, "text": "NAS"}
# Trace arrays are checked in test_outputs.py.
KINDS = {"int": int, "flag": int, "float": float, "double": float, "text": str, "version": tuple, "doubles": object}


def test_every_method_calls_its_own_export_and_returns_its_outputs_as_python_values(bse, calls):
    handle, failed = 0, set()
    # Each handle-taking call gets the last handle handed out, so the deletion of one goes last.
    for call in sorted((c for c in tqbse.CALLS.values() if c.method), key=lambda c: c.name == "Results_DeleteHandle"):
        del calls[:]
        try:
            result = getattr(bse, call.python)(*[handle if n == "handle" else ARGS[k] for n, k in call.inputs])
        except tqbse.Error as e:
            failed.add((call.name, type(e), e.code))
            continue
        outs = [KINDS[role[4:]] for _, role in call.params if role.startswith("out_")]
        values = (result,) if len(outs) == 1 else () if result is None else result
        assert type(values) is tuple and len(values) == len(outs) and all(map(isinstance, values, outs)), call.name
        assert calls[-1] == call.name
        handle = result if call.name.endswith("_GetHandle") else handle
    # The one export without a remote implementation.
    assert failed == {("TarquelPrivateData_Set", tqbse.NotValidRemotelyError, -17)}


@pytest.mark.tqbse_emulator(scenario_ms=100)
def test_quickstart_example_passes_where_numpy_cannot_be_imported(emulator):
    script = REPO / "examples" / "python" / "quickstart.py"
    program = f"import runpy, sys; sys.modules['numpy'] = None; runpy.run_path({str(script)!r}, run_name='__main__')"
    done = subprocess.run([sys.executable, "-c", program, emulator.address], capture_output=True, text=True,
                          timeout=60)
    lines = done.stdout.splitlines()
    assert done.returncode == 0 and lines[-1] == "RESULT: PASSED", done.stdout + done.stderr
    assert "scenario finished" in lines and "test case 0: Attach" in done.stdout
