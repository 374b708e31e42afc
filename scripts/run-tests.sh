#!/usr/bin/env bash
# The full test suite, from a fresh machine: installs what is missing,
# builds build/, runs ctest there, then every scripts/stage-*.sh one after
# another (benchmark smoke, fuzzing, main job, Debian packages, Python,
# ASan+UBSan, TSan, valgrind, and last the Windows suite under Wine, which
# reuses build/'s emulator).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
scripts/install-deps.sh
scripts/build.sh "$root/build"
# Two at a time: the suites take ports of their own; the few on the fixed
# ports 6002/6009 share one resource lock and still run one after another.
(cd build && ctest --output-on-failure --timeout 300 -j2) | tee build/ctest.log
for stage in scripts/stage-*.sh; do
  [ -e "$stage" ] || continue
  echo "== $stage"
  bash "$stage"
done
passed=$(grep -oE 'out of [0-9]+' build/ctest.log | tail -1 | grep -oE '[0-9]+$')
echo "all test stages passed"
# Tests as a share of the code they cover (docs/TESTING.md), just above the
# pass count, which stays the last line.
python3 scripts/count-lines.py
echo "tests: ${passed} passed, 0 failed"
