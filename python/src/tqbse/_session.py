"""Sessions: one connection per server, as many as the program needs, and their events.

A Session has the same methods as a Connection (the generated Calls), made
through the library's tqbse_ twins with the session pointer first. Calls on
one session run one at a time (a sized text or trace keeps its length query
and its fetch together); calls on different sessions run in parallel.

Events. A server's messages to the callback listener are its session's
events. They go to a handler set with on_event (on the listener thread),
else onto the library's queue, which wait_event reads. wait_event(name)
filters by name on the Python side: events of other names it takes off the
library's queue wait in a small per-session buffer (TQBSE_EVENT_QUEUE_LENGTH
long, the oldest dropped first and counted in events_dropped), where the
next wait_event for them, or for any name, finds them first, in the order
they came.

Closing. close() may come from any thread. A wait_event pending in another
thread returns None; one started on a closed session raises
NotConnectedError, as calls do. A call another thread waits in ends with
NoResponseError (-14), as tqbse_close ends it in C. The library frees the
session in tqbse_close, so no call may enter it afterwards: every call into
the library passes a gate that close shuts first, and close waits (briefly:
DRAIN seconds) for the calls already through it to come back on their own
before it ends those still waiting for a server.
"""

from __future__ import annotations

import collections
import ctypes
import math
import numbers
import sys
import threading
import time
import traceback
import warnings
from typing import Any, Callable, Deque, Dict, List, Optional, Tuple

from . import _library
from ._calls import Calls
from ._connection import (
    CALLS,
    ENV_INTERRUPT,
    INT32_MAX,
    INT32_MIN,
    _environment,
    _Failed,
    _run,
    _shape,
    check_args,
    error_text,
    interrupt_descriptor,
    timeout_ms,
)
from ._error_classes import BufferTooSmallError, NotConnectedError
from ._errors import error_for, warning_for

BUFFER_TOO_SMALL = -13
NO_RESPONSE = -14
# The library's queue length (TQBSE_EVENT_QUEUE_LENGTH), used for the Python-side buffer too.
EVENT_QUEUE_LENGTH = 256
# wait_event waits in the library in slices this long (seconds), so that
# Ctrl-C and close() are seen between them.
WAIT_SLICE = 0.1
# How long close() lets calls already under way return by themselves.
DRAIN = 0.25

# tqbse_open reads TQBSE_INTERRUPT_FD from the environment, which the
# package sets for the open alone.
_environment_lock = threading.Lock()

_HANDLER_TYPE = ctypes.CFUNCTYPE(ctypes.c_int32, ctypes.c_void_p, ctypes.POINTER(ctypes.c_char), ctypes.c_int32,
                                 ctypes.c_void_p)


class _Options(ctypes.Structure):
    _fields_ = [("reply_timeout_ms", ctypes.c_int32), ("connect_timeout_ms", ctypes.c_int32)]


def event_name(message: str) -> str:
    """The name of an event: its text before the first "=" (all of it without one)."""
    return message.split("=", 1)[0]


def _seconds(value: Any, what: str) -> float:
    if isinstance(value, bool) or not isinstance(value, numbers.Real):
        raise TypeError(f"{what} must be seconds as a number, not {type(value).__name__}")
    seconds = float(value)
    if math.isnan(seconds) or seconds < 0:
        raise ValueError(f"{what} must be a number of seconds >= 0, not {value!r}")
    return seconds


def open(address: str, timeout: Optional[float] = None, connect_timeout: Optional[float] = None) -> "Session":
    """Opens a session with the server at `address` (dotted IPv4 or a host name, port 6002).

    `timeout` is each call's reply deadline in seconds (None: as
    TQBSE_REPLY_TIMEOUT_MS says, no deadline when unset); `connect_timeout`
    bounds the connecting (None: 10 s). Any number of sessions may be open
    at once, to different servers, beside a connect() connection. Raises
    tqbse.Error for a negative result (NoResponseError when the server
    cannot be reached); use the result as a context manager, or call close().
    """
    if not isinstance(address, str):
        raise TypeError(f"address must be a str, not {type(address).__name__}")
    if not address or "\0" in address or not address.isascii():
        raise ValueError(f"address {address!r} is not an IPv4 address or host name")
    options = _Options(0, 0)
    if timeout is not None:
        options.reply_timeout_ms = timeout_ms(timeout)
    if connect_timeout is not None:
        options.connect_timeout_ms = timeout_ms(connect_timeout)
    library = _library.load(CALLS.values())
    functions = library.session_functions()
    pointer = ctypes.c_void_p()
    interrupt = interrupt_descriptor()
    with _environment_lock, _environment(ENV_INTERRUPT, interrupt):
        code = int(functions["open"](address.encode("ascii"), ctypes.byref(options), ctypes.byref(pointer)))
    if code < 0:
        raise error_for(code, error_text(library, code), "tqbse_open")
    session = Session(address, library, pointer)
    if code > 0:
        warnings.warn(warning_for(code, error_text(library, code, session._through), "tqbse_open"), stacklevel=2)
    return session


class Session(Calls):
    """An open session with one server: one method per remote export (see the generated Calls), and its events."""

    def __init__(self, address: str, library: _library.Library, pointer: ctypes.c_void_p) -> None:
        self.address = address
        self.library = library
        self._functions = library.session_functions()
        self._pointer = pointer
        # One call (with its length query) at a time on this session.
        self._lock = threading.RLock()
        # Guards the gate: _closing and the count of calls inside the library.
        self._gate = threading.Condition(threading.Lock())
        self._closing = False
        self._inside = 0
        # wait_event's buffer of events another name's wait took off the queue.
        self._events_lock = threading.Lock()
        self._buffer: Deque[str] = collections.deque()
        self._buffer_dropped = 0
        # Every callback object handed to the library, kept until close: the
        # listener thread may still run one that was just replaced.
        self._callbacks: List[Any] = []

    # ---- The gate.

    def _enter(self, what: str) -> ctypes.c_void_p:
        with self._gate:
            if self._closing:
                raise NotConnectedError(NO_RESPONSE, "the session is closed", what)
            self._inside += 1
            return self._pointer

    def _leave(self) -> None:
        with self._gate:
            self._inside -= 1
            self._gate.notify_all()

    def _through(self, name: str, frame: List[Any]) -> int:
        pointer = self._enter(name)
        try:
            twin = self._functions.get(name)
            if twin is None:  # a local export, the same for every session
                return int(self.library.functions[name](*frame))
            return int(twin(pointer, *frame))
        finally:
            self._leave()

    @property
    def closed(self) -> bool:
        return self._closing

    def close(self) -> None:
        """Announces the end, closes the connection and frees the session (tqbse_close). Closing twice does nothing.

        Safe from any thread and from an event handler: see the module's
        notes on what happens to calls and waits under way.
        """
        with self._gate:
            if self._closing:
                return
            self._closing = True
            deadline = time.monotonic() + DRAIN
            while self._inside > 0:
                left = deadline - time.monotonic()
                if left <= 0:
                    break
                self._gate.wait(left)
        code = int(self._functions["close"](self._pointer))
        if code < 0:
            raise error_for(code, error_text(self.library, code), "tqbse_close")

    def __enter__(self) -> "Session":
        return self

    def __exit__(self, *exc: Any) -> None:
        self.close()

    def __repr__(self) -> str:
        return f"<tqbse.Session {self.address} {'closed' if self._closing else 'open'}>"

    # ---- Calls.

    def _fail(self, failed: _Failed) -> Exception:
        if failed.text is not None:
            return BufferTooSmallError(failed.code, failed.text, failed.call, failed.sizing)
        try:
            text = error_text(self.library, failed.code, self._through)
        except NotConnectedError:
            text = error_text(self.library, failed.code)
        return error_for(failed.code, text, failed.call, failed.sizing)

    def _call(self, name: str, args: Tuple[Any, ...]) -> Any:
        call = CALLS[name]
        values = check_args(call, args)
        with self._lock:
            try:
                outputs = _run(self.library, call, values, self._through)
            except _Failed as failed:
                raise self._fail(failed) from None
            code = outputs.pop(0)
            warn_text = error_text(self.library, code, self._through) if code > 0 else ""
        if code > 0:
            warnings.warn(warning_for(code, warn_text, call.name), stacklevel=3)
        return _shape(outputs)

    # ---- Events.

    @property
    def events_dropped(self) -> int:
        """Events dropped since the session opened: by the library's full queue, and by wait_event's full buffer."""
        count = ctypes.c_uint64()
        code = self._through("events_dropped", [ctypes.byref(count)])
        if code < 0:
            raise error_for(code, error_text(self.library, code), "tqbse_events_dropped")
        return count.value + self._buffer_dropped

    def on_event(self, fn: Optional[Callable[[str], Optional[int]]], name: Optional[str] = None) -> None:
        """Calls fn(message) on the listener thread for each event named `name` (every name: None).

        A handler for a name wins over the one for every name; its events no
        longer reach wait_event. fn's result is the code the server's message
        is answered with: an int, or None for 0. An exception, or a result
        that is not a 32-bit int, answers 0 and is printed (the first time
        only for each handler). fn=None removes the handler. Handlers of all
        sessions run one at a time: a slow one holds back every server's
        events.
        """
        if fn is not None and not callable(fn):
            raise TypeError(f"fn must be callable or None, not {type(fn).__name__}")
        if name is not None and (not isinstance(name, str) or not name or "=" in name or "\0" in name):
            raise ValueError(f"name must be a non-empty str without '=' or None, not {name!r}")
        callback = None if fn is None else _HANDLER_TYPE(_handler(fn))
        if callback is not None:
            self._callbacks.append(callback)
        encoded = None if name is None else name.encode("latin-1")
        code = self._through("set_event_handler", [encoded, ctypes.cast(callback, ctypes.c_void_p) if callback else None,
                                                   None])
        if code < 0:
            raise error_for(code, error_text(self.library, code), "tqbse_set_event_handler")

    def wait_event(self, name: Optional[str] = None, timeout: Optional[float] = None) -> Optional[str]:
        """The next event's text (named `name`, any name for None), or None when `timeout` seconds pass first.

        timeout=None waits until one comes or the session closes; 0 only
        takes one already there. A wait pending when another thread closes
        the session returns None; Ctrl-C ends it with KeyboardInterrupt.
        """
        deadline = None if timeout is None else time.monotonic() + _seconds(timeout, "timeout")
        if self._closing:
            raise NotConnectedError(NO_RESPONSE, "the session is closed", "tqbse_wait_event")
        while True:
            left = None if deadline is None else max(deadline - time.monotonic(), 0.0)
            slice_s = WAIT_SLICE if left is None else min(WAIT_SLICE, left)
            if self._events_lock.acquire(timeout=slice_s):
                try:
                    found = self._from_buffer(name)
                    if found is not None or self._closing:
                        return found
                    left = None if deadline is None else max(deadline - time.monotonic(), 0.0)
                    slice_s = WAIT_SLICE if left is None else min(WAIT_SLICE, left)
                    message = self._take(math.ceil(slice_s * 1000))
                    if message is not None:
                        if name is None or event_name(message) == name:
                            return message
                        self._keep(message)
                        continue
                finally:
                    self._events_lock.release()
            if self._closing or (deadline is not None and time.monotonic() >= deadline):
                return None

    def _from_buffer(self, name: Optional[str]) -> Optional[str]:
        for i, message in enumerate(self._buffer):
            if name is None or event_name(message) == name:
                del self._buffer[i]
                return message
        return None

    def _keep(self, message: str) -> None:
        if len(self._buffer) >= EVENT_QUEUE_LENGTH:
            self._buffer.popleft()
            self._buffer_dropped += 1
        self._buffer.append(message)

    def _take(self, wait_ms: int) -> Optional[str]:
        """One event off the library's queue, waiting up to wait_ms; None when none came or the session closed."""
        size = 1024
        length = ctypes.c_int32()
        for _ in range(3):  # the event stays queued on -13, and its length does not change
            buffer = ctypes.create_string_buffer(size)
            try:
                code = self._through("wait_event", [wait_ms, buffer, size, ctypes.byref(length)])
            except NotConnectedError:
                return None
            if code == 0:
                return buffer.raw[: length.value].decode("latin-1")
            if code == NO_RESPONSE:
                return None
            if code != BUFFER_TOO_SMALL:
                raise error_for(code, error_text(self.library, code), "tqbse_wait_event")
            size = length.value + 1
            wait_ms = 0
        raise error_for(BUFFER_TOO_SMALL, error_text(self.library, BUFFER_TOO_SMALL), "tqbse_wait_event")


def _handler(fn: Callable[[str], Optional[int]]) -> Callable[..., int]:
    """fn wrapped for the library: the message as str in, a 32-bit code out, failures printed once."""
    said = []

    def say(what: str) -> None:
        if not said:
            said.append(True)
            print(f"tqbse: event handler {fn!r} {what}; the event was answered 0 (said once)", file=sys.stderr)

    def call(_session: Any, message: Any, length: int, _user: Any) -> int:
        try:
            result = fn(ctypes.string_at(message, length).decode("latin-1"))
        except BaseException:
            if not said:
                traceback.print_exc(file=sys.stderr)
            say("raised")
            return 0
        if result is None:
            return 0
        if isinstance(result, bool) or not isinstance(result, int) or not INT32_MIN <= result <= INT32_MAX:
            say(f"returned {result!r}, not a 32-bit int")
            return 0
        return result

    return call
