"""The repository's Python examples still run against the emulator."""

import os
import subprocess
import sys
from pathlib import Path

import pytest

EXAMPLES = Path(__file__).resolve().parents[2] / "examples" / "python"


@pytest.mark.tqbse_emulator(scenario_ms=100)
def test_quickstart_walks_every_family_and_passes(emulator):
    script = EXAMPLES / "quickstart.py"
    if not script.is_file():
        pytest.skip("not in a repository checkout")
    done = subprocess.run([sys.executable, str(script), emulator.address], capture_output=True, text=True,
                          timeout=60, env=dict(os.environ))
    assert done.returncode == 0, done.stdout + done.stderr
    lines = done.stdout.splitlines()
    assert lines[-1] == "RESULT: PASSED"
    assert "scenario finished" in lines
    assert "test case 0: Attach" in done.stdout
