"""Traces: sized by their length query, numpy arrays when numpy is there, array('d') otherwise."""

import math
import os
import subprocess
import sys
from array import array

import pytest

from tqbse import _arrays


def protocol_y(trace, i):
    return 10 * trace + 3 * math.sin(2 * math.pi * i / 128)


def open_protocol_results(bse):
    bse.protocol_measurement_enabled_set(0, True)
    return bse.protocol_results_get_handle()


@pytest.mark.tqbse_emulator(trace_length=300)
def test_protocol_trace_is_a_float64_array_of_the_reported_length(bse):
    numpy = pytest.importorskip("numpy")
    handle = open_protocol_results(bse)
    x, y = bse.protocol_results_get_trace(handle, 1)
    assert isinstance(x, numpy.ndarray) and x.dtype == numpy.float64 and len(x) == len(y) == 300
    assert numpy.array_equal(x, numpy.arange(300.0))
    assert numpy.allclose(y, [protocol_y(1, i) for i in range(300)], rtol=0, atol=1e-12)


@pytest.mark.tqbse_emulator(trace_length=200)
def test_array_fallback_without_numpy_gives_the_same_points(bse, monkeypatch):
    monkeypatch.setattr(_arrays, "numpy", None)
    bse.lte_measurement_enabled_set(0, 0, True)
    handle = bse.lte_results_get_handle(0)
    x, y = bse.lte_results_get_trace(handle, 2)
    assert type(x) is array and x.typecode == "d" and len(x) == len(y) == 200
    assert list(x) == [15000.0 * i for i in range(200)]
    assert all(abs(y[i] - (-40 - 5 * 2 + 3 * math.sin(2 * math.pi * i / 128))) < 1e-9 for i in range(200))


@pytest.mark.parametrize("numpy_present", [True, False], ids=["numpy", "array"])
@pytest.mark.tqbse_emulator(trace_length=0)
def test_trace_without_points_is_two_empty_arrays(bse, monkeypatch, numpy_present):
    if numpy_present:
        pytest.importorskip("numpy")
    else:
        monkeypatch.setattr(_arrays, "numpy", None)
    x, y = bse.protocol_results_get_trace(open_protocol_results(bse), 0)
    assert len(x) == len(y) == 0


@pytest.mark.tqbse_emulator(trace_length=64)
def test_package_works_where_numpy_cannot_be_imported(emulator):
    program = (
        "import sys; sys.modules['numpy'] = None\n"
        "import tqbse\n"
        "from tqbse import _arrays\n"
        "assert _arrays.numpy is None\n"
        f"with tqbse.connect({emulator.address!r}) as bse:\n"
        "    bse.protocol_measurement_enabled_set(0, True)\n"
        "    x, y = bse.protocol_results_get_trace(bse.protocol_results_get_handle(), 0)\n"
        "print('RESULT', type(x).__name__, x.typecode, len(x), x[63])\n"
    )
    done = subprocess.run([sys.executable, "-c", program], capture_output=True, text=True, timeout=60,
                          env=dict(os.environ))
    assert done.returncode == 0, done.stderr
    assert "RESULT array d 64 63.0" in done.stdout.splitlines()
