#!/usr/bin/env bash
# Test stage: the browsable reference. Builds it from build/'s
# generate_reference (scripts/build-reference.sh), checks that every internal
# link and anchor resolves, that the tool accepts every export's example,
# then opens it in headless Chromium: the search
# finds exports and codes. Leaves build/reference/ and a screenshot,
# build/reference-screenshot.png.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${TQBSE_BUILD_DIR:-$root/build}
cd "$root"
scripts/install-deps.sh chromium python3-markdown
bash scripts/build-reference.sh "$build/reference" "$build"
json=$(mktemp)
trap 'rm -f "$json"' EXIT
"$build/tools/generate_reference" json >"$json"
/usr/bin/python3 tests/reference/check_links.py "$build/reference" "$json"
# The examples run the tool, which tries port 6002: in a network namespace of
# its own, where nothing listens.
unshare -n sh -c 'ip link set lo up && exec bash "$0" "$1" "$2"' tests/reference/examples_test.sh \
  "$build/tools/tqbse" "$json"
bash tests/reference/browser_test.sh "$build/reference" "$build/reference-screenshot.png"
echo "reference stage passed"
