"""The connection: argument checks, the call frame for ctypes, output sizing,
result codes turned into exceptions and warnings, and one call at a time.
"""

from __future__ import annotations

import atexit
import contextlib
import ctypes
import math
import numbers
import operator
import os
import signal
import socket
import struct
import threading
import warnings
from typing import Any, Callable, Dict, Iterator, List, Optional, Sequence, Tuple

from . import _arrays, _library
from ._calls import TABLE, Calls
from ._error_classes import BufferTooSmallError, NotConnectedError
from ._errors import error_for, warning_for

INT32_MIN, INT32_MAX = -(2**31), 2**31 - 1
BUFFER_TOO_SMALL = -13
ENV_REPLY_TIMEOUT = "TQBSE_REPLY_TIMEOUT_MS"
ENV_TRACE = "TQBSE_TRACE"
ENV_INTERRUPT = "TQBSE_INTERRUPT_FD"

# Bounds for sizing: a text reported larger than this is fetched by growing
# from 256 bytes instead, and a larger trace is refused rather than allocated.
MAX_TEXT_BYTES = 256 * 1024 * 1024
MAX_TRACE_POINTS = 16 * 1024 * 1024
MAX_ATTEMPTS = 7

# The library makes one call at a time for the whole process, so every call
# (with its length query) and every Initialise runs under one lock. Shutdown
# does not take it: a Shutdown ends the call another thread waits in (its
# reply may never come), which it could not do while waiting for that lock.
_lock = threading.RLock()
# Guards _current and each Connection's _open; held for no library call.
_state = threading.Lock()
_current: Optional["Connection"] = None
# The read end of the socket pair whose write end is Python's signal wake-up
# descriptor (signal.set_wakeup_fd), handed to the library as its interrupt
# descriptor; kept for the life of the process.
_interrupt: Optional[Tuple[socket.socket, socket.socket]] = None


class Call:
    """One export's description, from the generated table."""

    __slots__ = ("name", "python", "family", "params", "sized_by", "doc", "method", "inputs", "traces")

    def __init__(self, row: Dict[str, Any]) -> None:
        self.name: str = row["name"]
        self.python: str = row["python"]
        self.family: str = row["family"]
        self.params: Tuple[Tuple[str, str], ...] = tuple(tuple(p) for p in row["params"])  # type: ignore[misc]
        self.sized_by: Optional[str] = row["sized_by"]
        self.doc: str = row["doc"]
        self.method: bool = row["method"]
        self.inputs = [(p, role[3:]) for p, role in self.params if role.startswith("in_")]
        self.traces = any(role == "out_doubles" for _, role in self.params)

    def __repr__(self) -> str:
        return f"<Call {self.name}>"


CALLS: Dict[str, Call] = {row["name"]: Call(row) for row in TABLE}


# ---- Argument checks: everything is refused before the library is called.


def _int(value: Any, what: str, flag: bool) -> int:
    if isinstance(value, bool):
        if flag:
            return -1 if value else 0  # the library's own true is -1
        raise TypeError(f"{what} must be an int, not bool")
    try:
        number = operator.index(value)
    except TypeError:
        raise TypeError(f"{what} must be an int, not {type(value).__name__}") from None
    if not INT32_MIN <= number <= INT32_MAX:
        raise ValueError(f"{what} = {number} is outside the 32-bit range")
    return number


def _real(value: Any, what: str, single: bool) -> float:
    if isinstance(value, bool) or not isinstance(value, numbers.Real):
        raise TypeError(f"{what} must be a float, not {type(value).__name__}")
    number = float(value)
    if single and math.isfinite(number):
        try:
            rounded = struct.unpack("f", struct.pack("f", number))[0]
        except OverflowError:  # raised by some Python versions, others round to inf
            rounded = math.inf
        if math.isinf(rounded):
            raise ValueError(f"{what} = {number} does not fit a 32-bit float") from None
    return number


def _text(value: Any, what: str) -> bytes:
    if isinstance(value, str):
        try:
            data = value.encode("latin-1")
        except UnicodeEncodeError as e:
            raise ValueError(f"{what} holds {value[e.start]!r}, which is not Latin-1 (texts are 8-bit)") from None
    elif isinstance(value, (bytes, bytearray, memoryview)):
        data = bytes(value)
    else:
        raise TypeError(f"{what} must be str or bytes, not {type(value).__name__}")
    if b"\0" in data:
        raise ValueError(f"{what} holds a zero byte; texts end at the first one")
    if len(data) > INT32_MAX:
        raise ValueError(f"{what} is longer than 2**31 - 1 bytes")
    return data


def check_args(call: Call, args: Sequence[Any]) -> List[Any]:
    """The arguments converted for ctypes, or TypeError/ValueError naming the bad one."""
    if len(args) != len(call.inputs):
        raise TypeError(f"{call.python}() takes {len(call.inputs)} arguments, got {len(args)}")
    values = []
    for (name, kind), value in zip(call.inputs, args):
        what = f"{call.python}(): {name}"
        if kind in ("int", "flag"):
            values.append(_int(value, what, kind == "flag"))
        elif kind in ("float", "double"):
            values.append(_real(value, what, kind == "float"))
        else:
            values.append(_text(value, what))
    return values


# ---- Calling the library.


# How a session makes a call: (export name, C arguments after the session) -> code.
Through = Callable[[str, List[Any]], int]


def _invoke(library: _library.Library, call: Call, values: Sequence[Any], size: int,
            through: Optional[Through] = None) -> Tuple[int, List[Any]]:
    """One call with every buffer size and capacity set to `size`; outputs when the code is not negative.

    THROUGH, when given, makes the call instead of the flat export (a
    session calls the export's tqbse_ twin with its pointer first).
    """
    frame: List[Any] = []
    outputs: List[Tuple[str, Any]] = []
    given = iter(values)
    last_text = b""
    for _, role in call.params:
        if role.startswith("in_"):
            value = next(given)
            if role == "in_text":
                last_text = value
            frame.append(value)
        elif role == "text_limit":
            frame.append(len(last_text))  # the whole text always travels
        elif role == "size":
            frame.append(size)
        elif role == "out_text":
            buffer = ctypes.create_string_buffer(max(size, 1))
            outputs.append((role, buffer))
            frame.append(buffer)
        elif role == "out_doubles":
            values_array, pointer = _arrays.new(size)
            outputs.append((role, values_array))
            frame.append(pointer)
        else:
            cell = {
                "out_int": ctypes.c_int32,
                "out_flag": ctypes.c_int32,
                "out_float": ctypes.c_float,
                "out_double": ctypes.c_double,
                "out_version": ctypes.c_int32 * 4,
            }[role]()
            outputs.append((role, cell))
            frame.append(cell if role == "out_version" else ctypes.pointer(cell))
    code = int(library.functions[call.name](*frame) if through is None else through(call.name, frame))
    if code < 0:
        return code, []
    result = []
    for role, holder in outputs:
        if role == "out_text":
            result.append(holder.value.decode("latin-1"))
        elif role == "out_doubles":
            result.append(_arrays.trim(holder, size))
        elif role == "out_version":
            result.append(tuple(holder))
        else:
            result.append(holder.value)
    return code, result


class _Failed(Exception):
    def __init__(self, code: int, call: str, sizing: Optional[str] = None, text: Optional[str] = None) -> None:
        super().__init__(code)
        self.code, self.call, self.sizing, self.text = code, call, sizing, text


def _run(library: _library.Library, call: Call, values: Sequence[Any],
         through: Optional[Through] = None) -> List[Any]:
    """Outputs of a call, its text or trace sized through its length query first.

    A text gets the reported length plus one byte (in case the server does
    not count the terminator) and grows on -13 a bounded number of times; a
    trace takes its length as capacity and point count, and asks again on
    -13 (the results may have changed in between). Raises _Failed.
    """
    if call.sized_by is None:
        code, outputs = _invoke(library, call, values, 0, through)
        if code < 0:
            raise _Failed(code, call.name)
        return [code, *outputs]
    query = CALLS[call.sized_by]
    size = 0
    for attempt in range(MAX_ATTEMPTS):
        if attempt == 0 or call.traces:
            qcode, qout = _invoke(library, query, values, 0, through)
            if qcode < 0:
                raise _Failed(qcode, query.name, call.name)
            reported = qout[0]
        if call.traces:
            if not 0 <= reported <= MAX_TRACE_POINTS:
                text = f"the trace has {reported} points (at most {MAX_TRACE_POINTS} are fetched)"
                raise _Failed(BUFFER_TOO_SMALL, query.name, call.name, text)
            size = reported
        elif attempt == 0:
            size = reported + 1 if 0 <= reported < MAX_TEXT_BYTES else 256
        else:
            size = min(max(size, 256) * 16, MAX_TEXT_BYTES)
        code, outputs = _invoke(library, call, values, size, through)
        if code != BUFFER_TOO_SMALL or (not call.traces and size >= MAX_TEXT_BYTES):
            break
    if code < 0:
        raise _Failed(code, call.name)
    return [code, *outputs]


def error_text(library: _library.Library, code: int, through: Optional[Through] = None) -> str:
    """The library's text for a code ("" when it has none to give); a code it does not know is asked of the server."""
    try:
        return _run(library, CALLS["GetErrorMsg"], [code], through)[1]
    except _Failed:
        return ""


def _shape(outputs: List[Any]) -> Any:
    if not outputs:
        return None
    return outputs[0] if len(outputs) == 1 else tuple(outputs)


# ---- Connecting.


def parse_address(address: Any) -> Tuple[int, int, int, int]:
    if not isinstance(address, str):
        raise TypeError(f"address must be a str 'A.B.C.D', not {type(address).__name__}")
    parts = address.split(".")
    if len(parts) != 4 or not all(p.isascii() and p.isdigit() and len(p) <= 3 for p in parts):
        raise ValueError(f"address {address!r} is not A.B.C.D")
    octets = tuple(int(p) for p in parts)
    if any(o > 255 for o in octets):
        raise ValueError(f"address {address!r} has an octet above 255")
    return octets  # type: ignore[return-value]


def timeout_ms(timeout: Any) -> Optional[int]:
    """Seconds (int or float) to the whole milliseconds of TQBSE_REPLY_TIMEOUT_MS, rounded up."""
    if timeout is None:
        return None
    if isinstance(timeout, bool) or not isinstance(timeout, numbers.Real):
        raise TypeError(f"timeout must be seconds as a number, not {type(timeout).__name__}")
    seconds = float(timeout)
    if not math.isfinite(seconds) or seconds <= 0:
        raise ValueError(f"timeout must be a positive number of seconds, not {timeout!r}")
    ms = math.ceil(seconds * 1000)
    if ms > INT32_MAX:
        raise ValueError(f"timeout {timeout!r} s exceeds 2**31 - 1 ms")
    return ms


def interrupt_descriptor() -> Optional[str]:
    """The descriptor the library watches so that a signal ends a waiting call, for TQBSE_INTERRUPT_FD.

    Python's C-level signal handler writes the signal's number to the wake-up
    descriptor (signal.set_wakeup_fd) whichever thread the signal reaches,
    while the main thread may be blocked in the library, where Python cannot
    wake it. The package makes that descriptor the write end of a socket
    pair of its own and hands the read end to the library: on Ctrl-C the
    waiting call ends at once (-14, the connection dropped), ctypes returns
    and Python raises KeyboardInterrupt. The library drains the read end as
    each call begins, so signals between calls end nothing. Installed once,
    from the main thread only (set_wakeup_fd works there alone); None
    (nothing watched) when the user set TQBSE_INTERRUPT_FD, when called from
    another thread before the main thread installed it, and when another
    owner (an asyncio event loop) already holds the wake-up descriptor,
    which is then left as it was.
    """
    global _interrupt
    if os.environ.get(ENV_INTERRUPT):
        return None
    if _interrupt is None:
        if threading.current_thread() is not threading.main_thread():
            return None
        reader, writer = socket.socketpair()
        reader.setblocking(False)
        writer.setblocking(False)
        try:
            earlier = signal.set_wakeup_fd(writer.fileno(), warn_on_full_buffer=False)
        except (ValueError, OSError):
            reader.close()
            writer.close()
            return None
        if earlier != -1:
            signal.set_wakeup_fd(earlier, warn_on_full_buffer=False)
            reader.close()
            writer.close()
            return None
        _interrupt = (reader, writer)
    return str(_interrupt[0].fileno())


@contextlib.contextmanager
def _environment(name: str, value: Optional[str]) -> Iterator[None]:
    """`name` set for the process while Initialise reads it, then restored; None leaves it alone."""
    if value is None:
        yield
        return
    before = os.environ.get(name)
    os.environ[name] = value
    try:
        yield
    finally:
        if before is None:
            os.environ.pop(name, None)
        else:
            os.environ[name] = before


def connect(
    address: str = "127.0.0.1", *, timeout: Optional[float] = None, trace: Optional["os.PathLike[str] | str"] = None
) -> "Connection":
    """Connects the library to the server at `address` (port 6002) and starts its callback listener (6009).

    `timeout` is the reply deadline in seconds (rounded up to whole
    milliseconds), handed to the library through TQBSE_REPLY_TIMEOUT_MS for
    this Initialise only; None leaves the environment as it is. `trace` is
    a file the library appends its call trace to (JSON lines, docs/TRACE.md;
    "-" for standard error), handed over through TQBSE_TRACE the same way;
    `tqbse trace FILE` prints it decoded. The library
    holds one connection per process: connecting again while a connection
    is open raises RuntimeError. Use the result as a context manager, or
    call close().
    """
    global _current
    octets = parse_address(address)
    ms = timeout_ms(timeout)
    library = _library.load(CALLS.values())
    _refuse_second_connection()  # at once, rather than after a call another thread waits in
    interrupt = interrupt_descriptor()
    with _lock:
        _refuse_second_connection()
        connection = None
        try:
            with _environment(ENV_REPLY_TIMEOUT, None if ms is None else str(ms)), \
                    _environment(ENV_TRACE, None if trace is None else os.fspath(trace)), \
                    _environment(ENV_INTERRUPT, interrupt):
                code = int(library.functions["Initialise"](*octets))
            if code < 0:
                raise error_for(code, error_text(library, code), "Initialise")
            with _state:
                connection = _current = Connection(address, library)
        finally:
            if connection is None:
                # A failed Initialise, or one a KeyboardInterrupt cut short:
                # forget the address and stop the listener; what failed is
                # what is raised.
                library.functions["Shutdown"]()
        warn_text = error_text(library, code) if code > 0 else ""
    if code > 0:
        warnings.warn(warning_for(code, warn_text, "Initialise"), stacklevel=2)
    return connection


def _refuse_second_connection() -> None:
    with _state:
        if _current is not None:
            raise RuntimeError(
                f"already connected to {_current.address}: the library holds one connection per process; "
                "close it first"
            )


@atexit.register
def _close_at_exit() -> None:
    # close() takes no lock a waiting call holds, and its Shutdown ends such
    # a call (-14), so a thread stuck in a call never holds up the exit.
    connection = _current
    if connection is not None:
        with contextlib.suppress(Exception):
            connection.close()


class Connection(Calls):
    """An open connection: one method per remote export (see the generated Calls)."""

    __slots__ = ("address", "library", "_open")

    def __init__(self, address: str, library: _library.Library) -> None:
        self.address = address
        self.library = library
        self._open = True

    @property
    def closed(self) -> bool:
        return not self._open

    def close(self) -> None:
        """Announces the end of the connection and closes it (Shutdown). Closing twice does nothing.

        Safe from any thread: a call another thread waits in ends at once
        with NoResponseError (-14), as Shutdown does in C, and a call that
        starts afterwards raises NotConnectedError.
        """
        global _current
        with _state:
            if not self._open:
                return
            self._open = False
        try:
            code = int(self.library.functions["Shutdown"]())
        finally:
            # Only now may another connect() run its Initialise, which this
            # Shutdown would otherwise undo.
            with _state:
                if _current is self:
                    _current = None
        if code < 0:
            raise error_for(code, error_text(self.library, code), "Shutdown")

    def __enter__(self) -> "Connection":
        return self

    def __exit__(self, *exc: Any) -> None:
        self.close()

    def __repr__(self) -> str:
        return f"<tqbse.Connection {self.address} {'open' if self._open else 'closed'}>"

    def _call(self, name: str, args: Tuple[Any, ...]) -> Any:
        call = CALLS[name]
        values = check_args(call, args)
        with _lock:
            if not self._open:
                raise NotConnectedError(-14, "the connection is closed", call.name)
            try:
                outputs = _run(self.library, call, values)
            except _Failed as failed:
                text = failed.text if failed.text is not None else error_text(self.library, failed.code)
                if failed.text is not None:
                    raise BufferTooSmallError(failed.code, text, failed.call, failed.sizing) from None
                raise error_for(failed.code, text, failed.call, failed.sizing) from None
            code = outputs.pop(0)
            warn_text = error_text(self.library, code) if code > 0 else ""
        if code > 0:
            warnings.warn(warning_for(code, warn_text, call.name), stacklevel=3)
        return _shape(outputs)
