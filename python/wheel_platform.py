"""Build-time helper (not part of the package): the wheel platform tag of a
shared library, and its stripped copy. python/setup.py tags and strips the
bundled library with it; scripts/check-wheel.py judges a built wheel by the
same rule, reading the library's needs with objdump where this reads them
with readelf.

A Linux library gets the manylinux_2_X tag its symbol versions allow: X is
the highest of the GLIBC_2.X versions it needs and of the oldest glibc
whose reference distribution's GCC runtime provides every GLIBCXX_,
CXXABI_ and GCC_ version it needs (the manylinux policies, PEP 600). A
library that links anything outside those runtimes, or needs a runtime
version newer than the table knows, is tagged linux_<machine> (not
installable from a package index, but honest).
"""

import re
import shutil
import struct
import subprocess
from pathlib import Path

# Machine numbers of the executable formats, and the wheel platform names.
ELF_MACHINES = {3: "i686", 62: "x86_64", 183: "aarch64"}
PE_PLATFORMS = {0x14C: "win32", 0x8664: "win_amd64", 0xAA64: "win_arm64"}

# The libraries a manylinux wheel may link without bundling them.
MANYLINUX_LIBRARIES = {"libc.so.6", "libm.so.6", "libstdc++.so.6", "libgcc_s.so.1", "libpthread.so.0",
                       "libdl.so.2", "librt.so.1", "ld-linux-x86-64.so.2", "ld-linux.so.2",
                       "ld-linux-aarch64.so.1"}

# For the GCC runtime's symbol versions: (glibc level, the highest version of
# each kind the distributions of that manylinux level provide).
RUNTIME_LEVELS = [
    (17, {"GLIBCXX": (3, 4, 19), "CXXABI": (1, 3, 7), "GCC": (4, 8, 0)}),
    (24, {"GLIBCXX": (3, 4, 22), "CXXABI": (1, 3, 10), "GCC": (6, 0, 0)}),
    (28, {"GLIBCXX": (3, 4, 25), "CXXABI": (1, 3, 11), "GCC": (7, 0, 0)}),
    (31, {"GLIBCXX": (3, 4, 28), "CXXABI": (1, 3, 12), "GCC": (7, 0, 0)}),
    (34, {"GLIBCXX": (3, 4, 29), "CXXABI": (1, 3, 13), "GCC": (7, 0, 0)}),
    (35, {"GLIBCXX": (3, 4, 30), "CXXABI": (1, 3, 13), "GCC": (7, 0, 0)}),
]

VERSIONED = re.compile(r"\b(GLIBC|GLIBCXX|CXXABI|GCC)_(\d+(?:\.\d+)*)\b")


def parse_versions(text):
    """{kind: set of version tuples} of every GLIBC_2.x, GLIBCXX_3.4.x, ... named in text."""
    found = {}
    for kind, version in VERSIONED.findall(text):
        found.setdefault(kind, set()).add(tuple(int(p) for p in version.split(".")))
    return found


def manylinux_level(versions, needed):
    """The X of manylinux_2_X for a library with these needs, or None when no manylinux tag fits."""
    if not set(needed) <= MANYLINUX_LIBRARIES:
        return None
    level = max((v[1] for v in versions.get("GLIBC", ()) if v[0] == 2), default=17)
    for kind in ("GLIBCXX", "CXXABI", "GCC"):
        for version in versions.get(kind, ()):
            fits = [lvl for lvl, highest in RUNTIME_LEVELS if version <= highest[kind]]
            if not fits:
                return None
            level = max(level, fits[0])
    return level


def machine(data):
    """("ELF", arch) or ("PE", platform) of a library's first bytes, or None."""
    if data[:4] == b"\x7fELF" and len(data) >= 20:
        number = struct.unpack_from("<H" if data[5] == 1 else ">H", data, 18)[0]
        return ("ELF", ELF_MACHINES[number]) if number in ELF_MACHINES else None
    if data[:2] == b"MZ" and len(data) >= 0x40:
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if len(data) >= pe + 6 and data[pe:pe + 4] == b"PE\0\0":
            number = struct.unpack_from("<H", data, pe + 4)[0]
            return ("PE", PE_PLATFORMS[number]) if number in PE_PLATFORMS else None
    return None


def _run(*command):
    return subprocess.run(command, capture_output=True, text=True, check=True, timeout=60).stdout


def platform_tag(library):
    """The wheel platform tag of a shared library: manylinux_2_X_<arch>, linux_<arch>, win_amd64, win32."""
    found = machine(Path(library).read_bytes()[:4096])
    if not found:
        raise ValueError(f"{library}: not a shared library of a known platform")
    kind, name = found
    if kind == "PE":
        return name
    versions = parse_versions(_run("readelf", "--version-info", "--wide", str(library)))
    needed = re.findall(r"\(NEEDED\).*\[(.+)\]", _run("readelf", "--dynamic", "--wide", str(library)))
    level = manylinux_level(versions, needed)
    return f"manylinux_2_{level}_{name}" if level else f"linux_{name}"


def strip(library, target):
    """Copies library to target without its debug information and (ELF) its static symbol table."""
    kind, name = machine(Path(library).read_bytes()[:4096]) or (None, None)
    if kind == "PE":
        triplet = "x86_64-w64-mingw32" if name == "win_amd64" else "i686-w64-mingw32"
        tool = shutil.which(f"{triplet}-strip") or "strip"
        _run(tool, "--strip-debug", "-o", str(target), str(library))
    else:
        _run("strip", "--strip-unneeded", "-o", str(target), str(library))
