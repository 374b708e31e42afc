#!/usr/bin/env python3
"""Checks a built tqbse wheel: scripts/check-wheel.py WHEEL PLATFORM [LIBRARY]

PLATFORM is the tag the wheel must carry (linux_x86_64, win_amd64, win32, or
any for a wheel without a library). With LIBRARY, the wheel must bundle
exactly that file (not a copy left from another build) under tqbse/lib/,
built for the tag's machine (the ELF or PE header's machine field). Every wheel
must hold the generated call descriptions, the licence of the repository,
and the version of the public header. Exits 1 with the reasons otherwise.
"""

import re
import struct
import sys
import zipfile
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent


# The machine a library of each platform tag is built for: (format, number).
MACHINES = {"linux_x86_64": ("ELF", 62), "win_amd64": ("PE", 0x8664), "win32": ("PE", 0x14C)}


def machine(data):
    """(format, machine number) of an ELF or PE file's header, or None."""
    if data[:4] == b"\x7fELF" and len(data) >= 20:
        return "ELF", struct.unpack_from("<H" if data[5] == 1 else ">H", data, 18)[0]
    if data[:2] == b"MZ" and len(data) >= 0x40:
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] == b"PE\0\0" and len(data) >= pe + 6:
            return "PE", struct.unpack_from("<H", data, pe + 4)[0]
    return None


def header_version():
    text = (ROOT / "include" / "tqBsePluginControlDll.h").read_text(encoding="latin-1")
    return ".".join(re.search(rf"#define TQBSE_VERSION_{p}\s+(\d+)", text).group(1)
                    for p in ("MAJOR", "MINOR", "PATCH", "BUILD"))


def problems(wheel, platform, library):
    version = header_version()
    expected_name = f"tqbse-{version}-py3-none-{platform}.whl"
    if wheel.name != expected_name:
        yield f"file name {wheel.name}, expected {expected_name}"
    with zipfile.ZipFile(wheel) as z:
        names = set(z.namelist())
        info = f"tqbse-{version}.dist-info"
        if f"{info}/WHEEL" not in names:
            yield f"no {info}/WHEEL"
            return
        fields = z.read(f"{info}/WHEEL").decode()
        if f"Tag: py3-none-{platform}" not in fields.splitlines():
            yield f"WHEEL tags: {fields!r}"
        if ("Root-Is-Purelib: true" in fields) != (library is None):
            yield "Root-Is-Purelib does not match whether a library is bundled"
        if f"{info}/LICENSE" not in names or z.read(f"{info}/LICENSE") != (ROOT / "LICENSE").read_bytes():
            yield "the repository's LICENSE is not the wheel's"
        calls = z.read("tqbse/_calls.py").decode() if "tqbse/_calls.py" in names else ""
        if "RX_CentreFrequency_Get" not in calls:
            yield "no generated call descriptions"
        bundled = sorted(n for n in names if n.startswith("tqbse/lib/"))
        if library is None:
            if bundled:
                yield f"bundles {bundled} although no library was given"
        elif len(bundled) != 1 or z.read(bundled[0]) != library.read_bytes():
            yield f"bundles {bundled}, not a copy of {library}"
        else:
            found = machine(z.read(bundled[0]))
            if found != MACHINES.get(platform):
                shown = f"{found[0]} machine {found[1]:#x}" if found else "no ELF or PE header"
                yield f"{bundled[0]}: {shown}, not the machine of {platform}"


def main():
    if len(sys.argv) not in (3, 4):
        sys.exit(__doc__)
    wheel = Path(sys.argv[1])
    library = Path(sys.argv[3]) if len(sys.argv) == 4 else None
    found = list(problems(wheel, sys.argv[2], library))
    for p in found:
        print(f"{wheel.name}: {p}", file=sys.stderr)
    if found:
        sys.exit(1)
    print(f"{wheel.name}: tag, licence, calls and library as expected")


if __name__ == "__main__":
    main()
