"""Finding and loading the shared library, and typing its exports for ctypes.

Search order: the file named by TQBSE_LIBRARY (nothing else is tried when
it is set, so a wrong path is reported rather than silently replaced), then
a copy installed with the package (tqbse/lib/), then the system loader.
"""

from __future__ import annotations

import ctypes
import ctypes.util
import os
import sys
import threading
from pathlib import Path
from typing import Dict, Iterable, List, Optional, Tuple

ENV_LIBRARY = "TQBSE_LIBRARY"
PREFIX = "tqBsePluginControlDll_"
# The session twins of the remote exports (tqbse_session.h): the session
# pointer first, then the flat export's parameters.
SESSION_PREFIX = "tqbse_"
PACKAGE_LIB_DIR = Path(__file__).resolve().parent / "lib"

_CTYPES = {
    "in_int": ctypes.c_int32,
    "in_flag": ctypes.c_int32,
    "in_float": ctypes.c_float,
    "in_double": ctypes.c_double,
    "in_text": ctypes.c_char_p,
    "text_limit": ctypes.c_int32,
    "size": ctypes.c_int32,
    "out_int": ctypes.POINTER(ctypes.c_int32),
    "out_flag": ctypes.POINTER(ctypes.c_int32),
    "out_version": ctypes.POINTER(ctypes.c_int32),
    "out_float": ctypes.POINTER(ctypes.c_float),
    "out_double": ctypes.POINTER(ctypes.c_double),
    "out_doubles": ctypes.POINTER(ctypes.c_double),
    "out_text": ctypes.POINTER(ctypes.c_char),
}


def file_names(platform: str = sys.platform) -> List[str]:
    """The library's file names on this platform, the unversioned one first."""
    if platform.startswith("win"):
        return ["tqBsePluginControlDll.dll"]
    if platform == "darwin":
        return ["libtqBsePluginControlDll.dylib"]
    return ["libtqBsePluginControlDll.so", "libtqBsePluginControlDll.so.6"]


def candidates(environ: Optional[Dict[str, str]] = None, platform: str = sys.platform) -> List[Tuple[str, str]]:
    """(where from, what to load) in search order."""
    environ = os.environ if environ is None else environ
    explicit = environ.get(ENV_LIBRARY)
    if explicit:
        return [(ENV_LIBRARY, explicit)]
    found: List[Tuple[str, str]] = []
    for name in file_names(platform):
        packaged = PACKAGE_LIB_DIR / name
        if packaged.is_file():
            found.append(("package", str(packaged)))
    for name in file_names(platform):
        found.append(("system", name))
    located = ctypes.util.find_library("tqBsePluginControlDll")
    if located:
        found.append(("system", located))
    return found


class Library:
    """The loaded library: one typed ctypes function per described export."""

    def __init__(self, handle: ctypes.CDLL, path: str, calls: Iterable) -> None:
        calls = list(calls)
        self.handle = handle
        self.path = path
        self.functions: Dict[str, ctypes._CFuncPtr] = {}  # type: ignore[name-defined]
        for call in calls:
            try:
                function = getattr(handle, PREFIX + call.name)
            except AttributeError:
                raise OSError(f"{path} lacks the export {PREFIX}{call.name}: library and package differ") from None
            function.argtypes = [_CTYPES[role] for _, role in call.params]
            function.restype = ctypes.c_int32
            self.functions[call.name] = function
        self._calls = calls
        self._session: Optional[Dict[str, "ctypes._CFuncPtr"]] = None  # type: ignore[name-defined]

    def session_functions(self) -> Dict[str, "ctypes._CFuncPtr"]:  # type: ignore[name-defined]
        """The session API typed for ctypes: tqbse_open, tqbse_close, ... and each method's tqbse_ twin.

        Looked up on first use, so that a library without sessions still
        serves connect(); one without them is refused here.
        """
        if self._session is not None:
            return self._session
        c = ctypes
        fixed = {
            "open": ([c.c_char_p, c.c_void_p, c.POINTER(c.c_void_p)]),
            "close": [c.c_void_p],
            "set_event_handler": [c.c_void_p, c.c_char_p, c.c_void_p, c.c_void_p],
            "wait_event": [c.c_void_p, c.c_int32, c.c_void_p, c.c_int32, c.POINTER(c.c_int32)],
            "events_dropped": [c.c_void_p, c.POINTER(c.c_uint64)],
        }
        found: Dict[str, "ctypes._CFuncPtr"] = {}  # type: ignore[name-defined]
        wanted = [(name, name, argtypes) for name, argtypes in fixed.items()]
        wanted += [(call.name, call.name, [c.c_void_p] + [_CTYPES[role] for _, role in call.params])
                   for call in self._calls if call.method]
        for key, name, argtypes in wanted:
            try:
                function = getattr(self.handle, SESSION_PREFIX + name)
            except AttributeError:
                if key not in fixed:
                    continue  # a local export (it sends nothing) has no twin: sessions call the flat one
                raise OSError(f"{self.path} lacks the export {SESSION_PREFIX}{name}: it predates sessions") from None
            function.argtypes = argtypes
            function.restype = c.c_int32
            found[key] = function
        self._session = found
        return found


_loaded: Optional[Library] = None
_load_lock = threading.Lock()


def load(calls: Iterable) -> Library:
    """Loads the library once per process (it holds one connection per process)."""
    global _loaded
    with _load_lock:
        if _loaded is not None:
            return _loaded
        calls = list(calls)
        tried = []
        for source, target in candidates():
            try:
                handle = ctypes.CDLL(target)
            except OSError as e:
                if source == ENV_LIBRARY:
                    raise OSError(f"{ENV_LIBRARY}={target} cannot be loaded: {e}") from None
                tried.append(f"{target} ({source})")
                continue
            _loaded = Library(handle, target, calls)
            return _loaded
        raise OSError(
            "the tqBsePluginControlDll library was not found; tried "
            + ", ".join(tried)
            + f". Set {ENV_LIBRARY} to its path, or reinstall the package with the library bundled"
        )
