"""Exceptions for negative result codes and warnings for positive ones.

Every negative result becomes an ``Error`` carrying the code, the library's
own text for it and the name of the export that returned it. Its subclasses,
which group the codes a test program usually handles differently, are
generated at build time from the public header's result codes
(``_error_classes``, from ``ERROR_CLASSES`` in ``_generate.py``).
"""

from __future__ import annotations

from typing import Optional, Tuple


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


def error_for(code: int, text: str, call: str, sizing: Optional[str] = None) -> Error:
    """The exception for a negative code: its class, or Error for a code no class claims."""
    from ._error_classes import BY_CODE  # generated; it imports Error from here

    return BY_CODE.get(code, Error)(code, text, call, sizing)


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
