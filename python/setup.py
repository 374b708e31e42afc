"""Build step: generates tqbse/_calls.py from `tqbse list --json` and the public header.

Inputs, each found through an environment variable first:
  TQBSE_CALLS_JSON  a saved `tqbse list --json` (else TQBSE_TOOL is run)
  TQBSE_TOOL        the tqbse program (else ../build/tools/tqbse, else tqbse on PATH)
  TQBSE_HEADER      tqBsePluginControlDll.h (else ../include/, else the tool's ../include/)
  TQBSE_BUNDLE_LIBRARY  a built library to install with the package (optional)
"""

import os
import re
import runpy
import shutil
import subprocess
from pathlib import Path

from setuptools import setup
from setuptools.command.build_py import build_py

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


class BuildWithCalls(build_py):
    def run(self):
        super().run()
        header = _header_path().read_text(encoding="latin-1")
        calls_json, sources = _calls_json()
        generator = _generator()
        try:
            source = generator["generate"](calls_json, header, sources)
        except generator["GenerateError"] as e:
            raise SystemExit(f"cannot generate the call descriptions: {e}")
        target = Path(self.build_lib) / "tqbse"
        (target / "_calls.py").write_text(source, encoding="utf-8")
        bundled = os.environ.get("TQBSE_BUNDLE_LIBRARY")
        if bundled:
            (target / "lib").mkdir(exist_ok=True)
            library = Path(bundled).resolve()
            names = ["tqBsePluginControlDll.dll"] if library.suffix == ".dll" else ["libtqBsePluginControlDll.so"]
            for name in names:
                shutil.copyfile(library, target / "lib" / name)


setup(version=_version(), cmdclass={"build_py": BuildWithCalls})
