"""Trace arrays: numpy float64 arrays when numpy can be imported, else array('d').

The library writes straight into the array's memory, so no copy is made
either way. ``numpy`` is looked up at call time, which lets a program (or
a test) switch to the standard-library path by setting it to None.
"""

from __future__ import annotations

import ctypes
from array import array
from typing import TYPE_CHECKING, Any, Tuple, Union

try:
    import numpy
except ImportError:  # numpy is optional
    numpy = None  # type: ignore[assignment]

if TYPE_CHECKING:
    import numpy.typing

    FloatArray = Union["numpy.typing.NDArray[numpy.float64]", "array[float]"]

DoublePointer = ctypes.POINTER(ctypes.c_double)


def new(points: int) -> Tuple[Any, Any]:
    """A zeroed array for `points` doubles (room for one at least) and a pointer to its first element."""
    room = max(points, 1)
    if numpy is not None:
        values = numpy.zeros(room, dtype=numpy.float64)
        return values, values.ctypes.data_as(DoublePointer)
    values = array("d", bytes(8 * room))
    return values, ctypes.cast(values.buffer_info()[0], DoublePointer)


def trim(values: Any, points: int) -> Any:
    """The first `points` elements: the array as delivered to the caller."""
    if len(values) == points:
        return values
    if numpy is not None and isinstance(values, numpy.ndarray):
        return values[:points].copy()
    del values[points:]
    return values
