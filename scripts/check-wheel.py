#!/usr/bin/env python3
"""Checks a built tqbse wheel: scripts/check-wheel.py WHEEL PLATFORM LIBRARY

PLATFORM is linux_x86_64, win_amd64 or win32: the platform LIBRARY was built
for. The wheel must bundle LIBRARY stripped (the same code, no debug
information, no static symbol table) under tqbse/lib/, built for that
platform's machine, and carry the tag the library allows: for Linux the
manylinux_2_X tag of the highest GLIBC_, GLIBCXX_, CXXABI_ and GCC_ symbol
versions the bundled file needs (read here with objdump), for Windows the
platform itself. Every wheel must hold the generated call descriptions but
not their generator, the licence of the repository, python/README.md as its
description (pointing at no other file), and the version of the public
header. Exits 1 with the reasons otherwise.
"""

import re
import runpy
import subprocess
import sys
import tempfile
import zipfile
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
RULES = runpy.run_path(str(ROOT / "python" / "wheel_platform.py"))


def objdump(*args):
    return subprocess.run(["objdump", *args], capture_output=True, text=True, check=True, timeout=60).stdout


def expected_tag(platform, bundled):
    """The tag a wheel bundling this file must carry."""
    if not platform.startswith("linux_"):
        return platform
    headers = objdump("-p", str(bundled))
    needed = re.findall(r"^\s+NEEDED\s+(\S+)$", headers, re.M)
    references = headers.partition("Version References:")[2]
    level = RULES["manylinux_level"](RULES["parse_versions"](references), needed)
    arch = platform[len("linux_"):]
    return f"manylinux_2_{level}_{arch}" if level else platform


def section(path, name, scratch):
    """The bytes of one section of an ELF or PE file."""
    out = Path(scratch) / "section"
    subprocess.run(["objcopy", "-O", "binary", "--only-section", name, str(path), str(out)], check=True, timeout=60)
    return out.read_bytes()


def library_problems(bundled, library, platform):
    found = RULES["machine"](bundled.read_bytes()[:4096])
    kind = "PE" if platform.startswith("win") else "ELF"
    if found != (kind, platform if kind == "PE" else platform[len("linux_"):]):
        yield f"bundled library: {found}, not a library of {platform}"
        return
    names = set(re.findall(r"^\s*\d+\s+(\S+)", objdump("-h", str(bundled)), re.M))
    if kind == "ELF":
        names |= set(re.findall(r"\]\s+(\.\S+)", subprocess.run(
            ["readelf", "-S", "--wide", str(bundled)], capture_output=True, text=True, timeout=60).stdout))
    unstripped = sorted(n for n in names if n.startswith(".debug") or n == ".symtab")
    if unstripped:
        yield f"bundled library not stripped: {unstripped}"
    with tempfile.TemporaryDirectory() as scratch:
        if section(bundled, ".text", scratch) != section(library, ".text", scratch):
            yield f"bundled library's code is not {library}'s"


def header_version():
    text = (ROOT / "include" / "tqBsePluginControlDll.h").read_text(encoding="latin-1")
    return ".".join(re.search(rf"#define TQBSE_VERSION_{p}\s+(\d+)", text).group(1)
                    for p in ("MAJOR", "MINOR", "PATCH", "BUILD"))


def problems(wheel, platform, library):
    version = header_version()
    with zipfile.ZipFile(wheel) as z, tempfile.TemporaryDirectory() as scratch:
        names = set(z.namelist())
        bundled = sorted(n for n in names if n.startswith("tqbse/lib/"))
        if len(bundled) != 1:
            yield f"bundles {bundled}, not one library"
            return
        copy = Path(z.extract(bundled[0], scratch))
        yield from library_problems(copy, library, platform)
        tag = expected_tag(platform, copy)
        expected_name = f"tqbse-{version}-py3-none-{tag}.whl"
        if wheel.name != expected_name:
            yield f"file name {wheel.name}, expected {expected_name}"
        info = f"tqbse-{version}.dist-info"
        if f"{info}/WHEEL" not in names:
            yield f"no {info}/WHEEL"
            return
        fields = z.read(f"{info}/WHEEL").decode()
        if f"Tag: py3-none-{tag}" not in fields.splitlines():
            yield f"WHEEL tags: {fields!r}, expected py3-none-{tag}"
        if "Root-Is-Purelib: false" not in fields:
            yield "Root-Is-Purelib is not false although a library is bundled"
        if f"{info}/LICENSE" not in names or z.read(f"{info}/LICENSE") != (ROOT / "LICENSE").read_bytes():
            yield "the repository's LICENSE is not the wheel's"
        readme = (ROOT / "python" / "README.md").read_text(encoding="utf-8")
        metadata = z.read(f"{info}/METADATA").decode("utf-8") if f"{info}/METADATA" in names else ""
        if readme.strip() not in metadata:
            yield "METADATA does not carry python/README.md"
        pointer = re.search(r"[\w/.-]+\.md\b", readme)
        if pointer:
            yield f"python/README.md points at {pointer[0]}, which the wheel does not carry"
        calls = z.read("tqbse/_calls.py").decode() if "tqbse/_calls.py" in names else ""
        if "RX_CentreFrequency_Get" not in calls:
            yield "no generated call descriptions"
        if "tqbse/_generate.py" in names:
            yield "ships the build-time generator tqbse/_generate.py"


def main():
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    wheel = Path(sys.argv[1])
    library = Path(sys.argv[3])
    found = list(problems(wheel, sys.argv[2], library))
    for p in found:
        print(f"{wheel.name}: {p}", file=sys.stderr)
    if found:
        sys.exit(1)
    print(f"{wheel.name}: tag, stripped library, README, licence and calls as expected")


if __name__ == "__main__":
    main()
