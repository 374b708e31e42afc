#!/usr/bin/env python3
"""Counts non-blank, non-comment lines of C, C++ and Python in the repository.

tests: tests/, python/tests/, windows/tests/, and any test program kept
       elsewhere (a file named *_test.* or test_*.py)
code:  the library (protocol, platform, client, listener, api, include), the
       emulator, the tool, the examples, the benchmarks, the fuzz targets, the
       Python package outside python/tests (its sources and its build step) and
       the Windows pieces outside windows/tests.

Prints both counts and tests as a share of code. With --max PERCENT it exits 1
when the share is above PERCENT.
"""

import argparse
import subprocess
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
C_LIKE = {".c", ".h", ".cpp", ".hpp", ".cc"}
TEST_DIRS = ("tests/", "python/tests/", "windows/tests/")
CODE_DIRS = ("protocol/", "platform/", "client/", "listener/", "api/", "include/", "emulator/", "tools/",
             "examples/", "bench/", "fuzz/", "python/", "windows/")


def c_lines(text):
    count = 0
    in_block = False
    for line in text.splitlines():
        rest = line.strip()
        code = ""
        while rest:
            if in_block:
                end = rest.find("*/")
                if end < 0:
                    rest = ""
                else:
                    in_block = False
                    rest = rest[end + 2:]
                continue
            line_comment = rest.find("//")
            block = rest.find("/*")
            if block >= 0 and (line_comment < 0 or block < line_comment):
                code += rest[:block]
                in_block = True
                rest = rest[block + 2:]
            else:
                code += rest if line_comment < 0 else rest[:line_comment]
                rest = ""
        if code.strip():
            count += 1
    return count


def python_lines(text):
    return sum(1 for line in text.splitlines() if line.strip() and not line.strip().startswith("#"))


def is_test_file(path):
    return path.stem.endswith("_test") or (path.suffix == ".py" and path.stem.startswith("test_"))


def count(path):
    text = path.read_text(errors="replace")
    return python_lines(text) if path.suffix == ".py" else c_lines(text)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--max", type=float, help="fail when tests exceed this percentage of code")
    args = parser.parse_args()
    listed = subprocess.run(["git", "ls-files", "-co", "--exclude-standard"], cwd=ROOT, check=True,
                            capture_output=True, text=True).stdout.split()
    tests = code = 0
    for rel in listed:
        path = ROOT / rel
        if path.suffix not in C_LIKE | {".py"} or not path.is_file():
            continue
        if rel.startswith(TEST_DIRS) or is_test_file(path):
            tests += count(path)
        elif rel.startswith(CODE_DIRS):
            code += count(path)
    share = 100.0 * tests / code if code else 0.0
    print(f"lines: tests {tests}, code {code}, tests/code {share:.0f} %")
    if args.max is not None and share > args.max:
        print(f"tests are above {args.max:.0f} % of code", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
