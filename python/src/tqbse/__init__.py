"""Remote control of the base-station-emulator plug-in server through tqBsePluginControlDll.

    import tqbse
    with tqbse.connect("127.0.0.1") as bse:
        bse.rx_centre_frequency_set(0, 1.95e9)
        print(bse.rx_centre_frequency_get(0))

Several servers at once, and their events:

    with tqbse.open("127.0.0.2") as a, tqbse.open("127.0.0.3") as b:
        a.rx_centre_frequency_set(0, 1.95e9)
        b.test_case_run(0)
        print(b.wait_event("ScenarioFinished", timeout=30))

Every remote export of the library is a method of the connection, named in
Python style; arguments are checked before anything is sent, outputs come
back as Python values, negative results raise tqbse.Error (or a subclass)
and the version warnings go through the warnings module.
"""

from importlib.metadata import version as _version

from ._errors import Error, ResultWarning, VersionWarning

# The package's version is the library's (the public header's TQBSE_VERSION_*),
# given to the package metadata when the wheel is built.
__version__ = _version("tqbse")

try:
    from ._error_classes import (
        BadAddressError,
        BufferTooSmallError,
        FunctionNotFoundError,
        NoResponseError,
        NotConnectedError,
        NotValidRemotelyError,
        ParameterCountError,
        ReplyError,
        ServerError,
        UnknownObjectError,
    )
    from ._connection import CALLS, Call, Connection, connect
    from ._session import Session, open
except ImportError as e:  # pragma: no cover - only in a source tree that was never built
    if "_calls" not in str(e) and "_error_classes" not in str(e):
        raise
    raise ImportError(
        "tqbse's call descriptions and exception classes are generated when the package is built: install it with pip install ./python"
    ) from e

__all__ = [
    "CALLS",
    "BadAddressError",
    "BufferTooSmallError",
    "Call",
    "Connection",
    "Error",
    "FunctionNotFoundError",
    "NoResponseError",
    "NotConnectedError",
    "NotValidRemotelyError",
    "ParameterCountError",
    "ReplyError",
    "ResultWarning",
    "ServerError",
    "Session",
    "UnknownObjectError",
    "VersionWarning",
    "connect",
    "open",
]
