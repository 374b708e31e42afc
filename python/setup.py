"""Build step: generates tqbse/_calls.py from `tqbse list --json` and the public header, and
tqbse/_error_classes.py (the exception classes) from the header's result codes,
and bundles the shared library.

The library: TQBSE_BUNDLE_LIBRARY names a built one (a Linux .so or a Windows
DLL); without it the library's CMake target is built from this source tree
(cmake and a C++20 compiler needed; no tests, benchmarks or emulator), together
with the tool whose `tqbse list --json` the generation reads unless
TQBSE_CALLS_JSON or TQBSE_TOOL names one. The wheel carries a stripped copy
and is tagged for the library's platform (wheel_platform.py:
manylinux_2_X_x86_64 from the symbol versions the library needs,
win_amd64, win32; the package itself is pure Python over ctypes).

The other inputs, each found through an environment variable first:
  TQBSE_CALLS_JSON  a saved `tqbse list --json` (else TQBSE_TOOL is run)
  TQBSE_TOOL        the tqbse program (else the one built here; with a named
                    library ../build/tools/tqbse, else tqbse on PATH)
  TQBSE_HEADER      tqBsePluginControlDll.h (else ../include/, else the tool's ../include/)

Everything the build writes goes to a temporary directory, removed when it
ends: the source tree stays clean, and a library bundled by an earlier
build can never end up in a later one. The generator (_generate.py) runs
here and is not installed.
"""

import os
import re
import runpy
import atexit
import shutil
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
    if _source_build:
        _bundled_library()  # built together
        return _source_build.tool
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


class SourceBuild:
    """The library (and, unless one is named, the tool) built from this source tree with CMake."""

    def __init__(self, root):
        self.dir = Path(root) / "cmake-build"
        self.tool = self.dir / "tools" / "tqbse"
        self.library = self.dir / "libtqBsePluginControlDll.so"

    def build(self):
        cmake = shutil.which("cmake")
        if not cmake:
            raise SystemExit("building the library needs cmake and a C++ compiler "
                             "(or name a built library in TQBSE_BUNDLE_LIBRARY)")
        configure = [cmake, "-S", str(REPO), "-B", str(self.dir), "-DCMAKE_BUILD_TYPE=Release",
                     "-DTQBSE_BUILD_TESTS=OFF", "-DTQBSE_BUILD_BENCH=OFF", "-DTQBSE_BUILD_EMULATOR=OFF"]
        if shutil.which("ninja"):
            configure += ["-G", "Ninja"]
        targets = ["tqBsePluginControlDll"]
        if not (os.environ.get("TQBSE_TOOL") or os.environ.get("TQBSE_CALLS_JSON")):
            targets.append("tqbse")
        for command in (configure, [cmake, "--build", str(self.dir), "--parallel", "--target", *targets]):
            print(" ".join(command), flush=True)
            if subprocess.run(command, timeout=3600).returncode != 0:
                raise SystemExit(f"building the library failed: {' '.join(command)}")
        self.library = self.library.resolve()


def _bundled_library():
    named = os.environ.get("TQBSE_BUNDLE_LIBRARY")
    if named:
        return Path(named).resolve()
    if not _source_build.library.is_file():
        _source_build.build()
    return _source_build.library


class PlatformWheel(bdist_wheel):
    """Tags the wheel with the bundled library's platform (wheel_platform.py)."""

    def finalize_options(self):
        # Built and installed as a platform package (platlib), as one with
        # an extension module would be.
        self.distribution.has_ext_modules = lambda: True
        super().finalize_options()

    def get_tag(self):
        return ("py3", "none", _wheel_platform["platform_tag"](_bundled_library()))


class BuildWithCalls(build_py):
    def find_package_modules(self, package, package_dir):
        # The generator runs here; the installed package does not need it.
        return [m for m in super().find_package_modules(package, package_dir) if m[1] != "_generate"]

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
        (target / "lib").mkdir(exist_ok=True)
        name = "tqBsePluginControlDll.dll" if library.suffix == ".dll" else "libtqBsePluginControlDll.so"
        _wheel_platform["strip"](library, target / "lib" / name)


scratch = tempfile.mkdtemp(prefix="tqbse-build-")
atexit.register(shutil.rmtree, scratch, ignore_errors=True)
_source_build = None if os.environ.get("TQBSE_BUNDLE_LIBRARY") else SourceBuild(scratch)
_wheel_platform = runpy.run_path(str(HERE / "wheel_platform.py"))
setup(version=_version(),
      cmdclass={"build_py": BuildWithCalls, "bdist_wheel": PlatformWheel},
      options={"build": {"build_base": str(Path(scratch) / "build")}, "egg_info": {"egg_base": scratch}})
