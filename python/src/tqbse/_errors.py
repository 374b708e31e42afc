"""Exceptions for negative result codes and warnings for positive ones.

Every negative result becomes an ``Error`` carrying the code, the library's
own text for it and the name of the export that returned it. The classes
below group the codes a test program usually handles differently.
"""

from __future__ import annotations

from typing import Dict, Optional, Tuple, Type


class Error(Exception):
    """A call returned a negative result code."""

    codes: Tuple[int, ...] = ()

    def __init__(self, code: int, text: str, call: str, sizing: Optional[str] = None) -> None:
        self.code = code
        self.text = text
        self.call = call
        #: the export whose text or trace was being sized when `call` failed
        self.sizing = sizing
        where = f"{call} (sizing {sizing})" if sizing else call
        super().__init__(f"{where} failed: {code} {text or '(no text for this code)'}")


class NoResponseError(Error):
    """-14: no reply, because there is no connection or it failed (only a new connect reconnects)."""

    codes = (-14,)


class NotConnectedError(NoResponseError):
    """The connection was closed in Python; nothing was sent."""


class BufferTooSmallError(Error):
    """-13: a text or trace did not fit the room sized for it."""

    codes = (-13,)


class FunctionNotFoundError(Error):
    """-8: the server knows no function of that name."""

    codes = (-8,)


class ParameterCountError(Error):
    """-9: the server got the wrong number of parameters."""

    codes = (-9,)


class UnknownObjectError(Error):
    """-18: the server knows no such index, handle, trace, item or name."""

    codes = (-18,)


class NotValidRemotelyError(Error):
    """-17: the function has no remote implementation."""

    codes = (-17,)


class BadAddressError(Error):
    """-16: an address octet outside 0..255."""

    codes = (-16,)


class ReplyError(Error):
    """The reply could not be read: another function's name (-10), too few parameters (-11),
    no result code (-12) or a malformed output token (-2 .. -6)."""

    codes = (-2, -3, -4, -5, -6, -10, -11, -12)


class ServerError(Error):
    """A failure the server reports about itself: -7 transmission, -19 server plug-in not loaded,
    -20 unexpected parameter type."""

    codes = (-7, -19, -20)


_CLASSES: Tuple[Type[Error], ...] = (
    NoResponseError,
    BufferTooSmallError,
    FunctionNotFoundError,
    ParameterCountError,
    UnknownObjectError,
    NotValidRemotelyError,
    BadAddressError,
    ReplyError,
    ServerError,
)
_BY_CODE: Dict[int, Type[Error]] = {code: cls for cls in _CLASSES for code in cls.codes}


def error_for(code: int, text: str, call: str, sizing: Optional[str] = None) -> Error:
    """The exception for a negative code: its class, or Error for a code no class claims."""
    return _BY_CODE.get(code, Error)(code, text, call, sizing)


class ResultWarning(UserWarning):
    """A call succeeded with a positive result code."""

    def __init__(self, code: int, text: str, call: str) -> None:
        self.code = code
        self.text = text
        self.call = call
        super().__init__(f"{call} warning {code}: {text}")


class VersionWarning(ResultWarning):
    """1 (the library is newer than the server) or 2 (the server is newer): calls still work."""


def warning_for(code: int, text: str, call: str) -> ResultWarning:
    cls = VersionWarning if code in (1, 2) else ResultWarning
    return cls(code, text, call)
