#!/usr/bin/env bash
# Test stage: the Python package. Installs python/ into a virtual environment
# under build/ (no package index; Debian's pytest, numpy and matplotlib come
# from the system site packages), with the library built in build/ bundled,
# runs its pytest suite against tqbse-emulator and draws the trace plot.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${TQBSE_BUILD_DIR:-$root/build}
venv=$build/python-venv
# Debian's interpreter: its dist-packages hold python3-pytest, -numpy, -matplotlib.
python=/usr/bin/python3
[ -x "$python" ] || python=python3

rm -rf "$venv" "$root/python/build"
"$python" -m venv --system-site-packages "$venv"
export TQBSE_TOOL=$build/tools/tqbse
export TQBSE_HEADER=$root/include/tqBsePluginControlDll.h
export TQBSE_EMULATOR=$build/emulator/tqbse-emulator
TQBSE_BUNDLE_LIBRARY=$build/libtqBsePluginControlDll.so \
  timeout 300 "$venv/bin/pip" install --quiet --no-index --no-build-isolation "$root/python"

cd "$root/python"
timeout 600 "$venv/bin/python" -m pytest -p no:cacheprovider tests
timeout 120 "$venv/bin/python" "$root/examples/python/plot_trace.py" --output "$build/python-trace.png"
test -s "$build/python-trace.png"
echo "python stage passed"
