#!/usr/bin/env bash
# Test stage: the browsable reference. Builds it from build/'s
# generate_reference (scripts/build-reference.sh), checks that every internal
# link and anchor resolves, then opens it in headless Chromium: the search
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
bash tests/reference/browser_test.sh "$build/reference" "$build/reference-screenshot.png"
echo "reference stage passed"
