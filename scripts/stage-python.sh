#!/usr/bin/env bash
# Test stage: the Python package. Builds its wheel with the library built in
# build/ bundled (in a temporary directory: the source tree must stay clean),
# checks the wheel's platform tag and contents, installs it into a virtual
# environment under build/ (no package index; Debian's pytest, numpy and
# matplotlib come from the system site packages), runs the pytest suite
# against tqbse-emulator and draws the trace plot.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${TQBSE_BUILD_DIR:-$root/build}
venv=$build/python-venv
# Debian's interpreter: its dist-packages hold python3-pytest, -numpy, -matplotlib.
python=/usr/bin/python3
[ -x "$python" ] || python=python3

rm -rf "$venv"
"$python" -m venv --system-site-packages "$venv"
export TQBSE_TOOL=$build/tools/tqbse
export TQBSE_HEADER=$root/include/tqBsePluginControlDll.h
export TQBSE_EMULATOR=$build/emulator/tqbse-emulator
wheels=$(mktemp -d)
trap 'rm -rf "$wheels"' EXIT
library=$(realpath "$build/libtqBsePluginControlDll.so")
TQBSE_BUNDLE_LIBRARY=$library timeout 300 "$venv/bin/pip" wheel --quiet --no-deps --no-index \
  --no-build-isolation -w "$wheels" "$root/python"
"$python" "$root/scripts/check-wheel.py" "$wheels"/tqbse-*.whl linux_x86_64 "$library"
# Files that are not in the repository, ignored ones included.
left=$(git -C "$root" ls-files --others -- python)
if [ -n "$left" ]; then
  echo "building the wheel left files in python/: $left" >&2
  exit 1
fi
timeout 300 "$venv/bin/pip" install --quiet --no-index "$wheels"/tqbse-*.whl

cd "$root/python"
timeout 600 "$venv/bin/python" -m pytest -p no:cacheprovider tests
timeout 120 "$venv/bin/python" "$root/examples/python/plot_trace.py" --output "$build/python-trace.png"
test -s "$build/python-trace.png"
echo "python stage passed"
