#!/usr/bin/env bash
# Builds the browsable reference (static HTML) into OUT:
#   scripts/build-reference.sh OUT [BUILD]
# from the call rows and their texts (through generate_reference of the
# build folder BUILD, default build/, configured and built here as needed),
# README.md and docs/. Needs Debian's python3-markdown.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:?usage: scripts/build-reference.sh OUT [BUILD]}
build=${2:-$root/build}
[ -f "$build/CMakeCache.txt" ] || cmake -S "$root" -B "$build" -G Ninja >/dev/null
cmake --build "$build" --target generate_reference >/dev/null
json=$(mktemp)
trap 'rm -f "$json"' EXIT
"$build/tools/generate_reference" json >"$json"
rm -rf "$out"
/usr/bin/python3 "$root/tools/reference/build_html.py" "$json" "$root" "$out"
echo "reference written to $out/index.html"
