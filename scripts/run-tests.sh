#!/usr/bin/env bash
# The full test suite, from a fresh machine: installs what is missing,
# builds, runs ctest, then the sanitizer, fuzzing, leak and main-job stages.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
scripts/install-deps.sh
scripts/build.sh "$root/build"
(cd build && ctest --output-on-failure --timeout 300) | tee build/ctest.log
for stage in scripts/stage-*.sh; do
  [ -e "$stage" ] || continue
  echo "== $stage"
  bash "$stage"
done
passed=$(grep -oE 'out of [0-9]+' build/ctest.log | tail -1 | grep -oE '[0-9]+$')
echo "all test stages passed"
echo "tests: ${passed} passed, 0 failed"
