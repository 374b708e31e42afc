"""Build step: generates tqbse/_calls.py from `tqbse list --json` and the public header, and
tqbse/_error_classes.py (the exception classes) from the header's result codes.

Inputs, each found through an environment variable first:
  TQBSE_CALLS_JSON  a saved `tqbse list --json` (else TQBSE_TOOL is run)
  TQBSE_TOOL        the tqbse program (else ../build/tools/tqbse, else tqbse on PATH)
  TQBSE_HEADER      tqBsePluginControlDll.h (else ../include/, else the tool's ../include/)
  TQBSE_BUNDLE_LIBRARY  a built library to install with the package (optional)

Everything the build writes goes to a temporary directory, removed when it
ends: the source tree stays clean, and a library bundled by an earlier
build can never end up in a later one. A wheel that bundles the library is
tagged for the platform the library was built for (py3-none-linux_x86_64,
py3-none-win_amd64, ...; the package itself is pure Python over ctypes);
without one it is py3-none-any and uses the installed library.
"""

import os
import re
import runpy
import atexit
import shutil
import struct
import subprocess
import tempfile
from pathlib import Path

from setuptools import setup
from setuptools.command.build_py import build_py
from wheel.bdist_wheel import bdist_wheel

HERE = Path(__file__).resolve().parent
REPO = HERE.parent


def _generator():
    """The generator module's names, loaded from its file (the package itself is not importable yet)."""
    return runpy.run_path(str(HERE / "src" / "tqbse" / "_generate.py"))


def _tool():
    named = os.environ.get("TQBSE_TOOL")
    if named:
        return Path(named)
    built = REPO / "build" / "tools" / "tqbse"
    if built.is_file():
        return built
    found = shutil.which("tqbse")
    if not found:
        raise SystemExit("tqbse (the command-line tool) not found: set TQBSE_TOOL or TQBSE_CALLS_JSON")
    return Path(found)


def _calls_json():
    saved = os.environ.get("TQBSE_CALLS_JSON")
    if saved:
        return Path(saved).read_text(encoding="utf-8"), f"{Path(saved).name} and the public header"
    tool = _tool()
    done = subprocess.run([str(tool), "list", "--json"], capture_output=True, text=True, timeout=60)
    if done.returncode != 0:
        raise SystemExit(f"{tool} list --json failed ({done.returncode}): {done.stderr.strip()}")
    return done.stdout, "tqbse list --json and the public header"


def _header_path():
    named = os.environ.get("TQBSE_HEADER")
    candidates = [Path(named)] if named else [REPO / "include" / "tqBsePluginControlDll.h"]
    if not named:
        tool = shutil.which(os.environ.get("TQBSE_TOOL") or "tqbse")
        if tool:
            candidates.append(Path(tool).resolve().parent.parent / "include" / "tqBsePluginControlDll.h")
    for path in candidates:
        if path.is_file():
            return path
    raise SystemExit("tqBsePluginControlDll.h not found: set TQBSE_HEADER")


def _version():
    text = _header_path().read_text(encoding="latin-1")
    parts = [re.search(rf"#define TQBSE_VERSION_{p}\s+(\d+)", text).group(1)
             for p in ("MAJOR", "MINOR", "PATCH", "BUILD")]
    return ".".join(parts)


def _bundled_library():
    named = os.environ.get("TQBSE_BUNDLE_LIBRARY")
    return Path(named).resolve() if named else None


# Machine numbers of the executable formats, and the wheel platform tag of each.
ELF_PLATFORMS = {3: "linux_i686", 62: "linux_x86_64", 183: "linux_aarch64"}
PE_PLATFORMS = {0x14C: "win32", 0x8664: "win_amd64", 0xAA64: "win_arm64"}


def _platform_tag(library):
    """The wheel platform tag of a shared library, read from its ELF or PE header."""
    data = library.read_bytes()[:4096]
    if data[:4] == b"\x7fELF" and len(data) >= 20:
        byte_order = "<" if data[5] == 1 else ">"
        machine = struct.unpack_from(byte_order + "H", data, 18)[0]
        tag = ELF_PLATFORMS.get(machine)
    elif data[:2] == b"MZ" and len(data) >= 0x40:
        header = struct.unpack_from("<I", data, 0x3C)[0]
        ok = len(data) >= header + 6 and data[header:header + 4] == b"PE\0\0"
        tag = PE_PLATFORMS.get(struct.unpack_from("<H", data, header + 4)[0]) if ok else None
    else:
        tag = None
    if not tag:
        raise SystemExit(f"{library}: not a shared library of a known platform")
    return tag


class PlatformWheel(bdist_wheel):
    """Tags the wheel with the bundled library's platform, if there is one."""

    def finalize_options(self):
        # Built and installed as a platform package (platlib), as one with
        # an extension module would be.
        if _bundled_library():
            self.distribution.has_ext_modules = lambda: True
        super().finalize_options()

    def get_tag(self):
        library = _bundled_library()
        return ("py3", "none", _platform_tag(library)) if library else super().get_tag()


class BuildWithCalls(build_py):
    def run(self):
        super().run()
        header = _header_path().read_text(encoding="latin-1")
        calls_json, sources = _calls_json()
        generator = _generator()
        try:
            source = generator["generate"](calls_json, header, sources)
            errors = generator["render_errors"](header, "the public header's result codes")
        except generator["GenerateError"] as e:
            raise SystemExit(f"cannot generate the call descriptions: {e}")
        target = Path(self.build_lib) / "tqbse"
        (target / "_calls.py").write_text(source, encoding="utf-8")
        (target / "_error_classes.py").write_text(errors, encoding="utf-8")
        library = _bundled_library()
        if library:
            (target / "lib").mkdir(exist_ok=True)
            names = ["tqBsePluginControlDll.dll"] if library.suffix == ".dll" else ["libtqBsePluginControlDll.so"]
            for name in names:
                shutil.copyfile(library, target / "lib" / name)


scratch = tempfile.mkdtemp(prefix="tqbse-build-")
atexit.register(shutil.rmtree, scratch, ignore_errors=True)
setup(version=_version(),
      cmdclass={"build_py": BuildWithCalls, "bdist_wheel": PlatformWheel},
      options={"build": {"build_base": str(Path(scratch) / "build")}, "egg_info": {"egg_base": scratch}})
