#!/usr/bin/env bash
# Test stage: the Python package.
#   - pip install ./python from a clean copy of the tree (only the tracked
#     files), as a user does: with build isolation, no variables, the build
#     compiles only the library and the tool it reads the calls from (the
#     build log shows nothing else linked), and the installed package
#     imports with the header's version. No package index here: pip's
#     isolated build takes setuptools and wheel from Debian's wheel packages.
#   - the wheel with the library built in build/ bundled (in a temporary
#     directory: the source tree must stay clean), its tag and contents
#     checked; installed into a virtual environment under build/ (Debian's
#     pytest, numpy and matplotlib from the system site packages), the
#     pytest suite run against tqbse-emulator and the trace plot drawn.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${TQBSE_BUILD_DIR:-$root/build}
venv=$build/python-venv
# Debian's interpreter: its dist-packages hold python3-pytest, -numpy, -matplotlib.
python=/usr/bin/python3
[ -x "$python" ] || python=python3

version=$(sed -n 's/^#define TQBSE_VERSION_\(MAJOR\|MINOR\|PATCH\|BUILD\) *\([0-9]*\).*/\2/p' \
  "$root/include/tqBsePluginControlDll.h" | paste -sd.)
bash "$root/scripts/install-deps.sh" python3-setuptools-whl python3-wheel-whl
clean=$(mktemp -d)
trap 'rm -rf "$clean"' EXIT
mkdir "$clean/tree"
git -C "$root" ls-files -z | tar -C "$root" --null --no-recursion -T - -cf - | tar -xf - -C "$clean/tree"
"$python" -m venv "$clean/venv"
(cd "$clean/tree" && env -u TQBSE_TOOL -u TQBSE_HEADER -u TQBSE_BUNDLE_LIBRARY PIP_NO_INDEX=1 \
  PIP_FIND_LINKS=/usr/share/python-wheels timeout 1200 nice -n 5 "$clean/venv/bin/pip" install -v ./python) \
  >"$clean/pip.log" 2>&1 || { tail -40 "$clean/pip.log" >&2; echo "pip install ./python failed" >&2; exit 1; }
linked=$(sed -n 's/.*Linking [A-Z]* .* \([^ ]*\)$/\1/p' "$clean/pip.log" | sort | tr '\n' ' ')
expected="libtqBsePluginControlDll.so.$version libtqbse_platform.a libtqbse_protocol.a libtqbse_receive.a tools/libtqbse_reference.a tools/tqbse "
[ "$linked" = "$expected" ] || { echo "pip install ./python linked: $linked, expected: $expected" >&2; exit 1; }
imported=$("$clean/venv/bin/python" -c 'import tqbse; print(tqbse.__version__, tqbse._library.load(tqbse.CALLS.values()).path)')
[[ $imported == "$version "*/site-packages/tqbse/lib/libtqBsePluginControlDll.so ]] \
  || { echo "the package installed from the clean tree: $imported" >&2; exit 1; }
rm -rf "$clean"
echo "pip install ./python built only $linked"

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
# The checks catch what they are meant to: a copy of the wheel with the
# unstripped library, the generator and a plain linux tag is refused on each.
"$python" - "$wheels" "$library" <<'PY'
import sys, zipfile
from pathlib import Path
wheels, library = Path(sys.argv[1]), Path(sys.argv[2])
good = next(wheels.glob("tqbse-*.whl"))
bad = wheels / "bad" / good.name.replace(good.name.split("-")[-1], "linux_x86_64.whl")
bad.parent.mkdir()
with zipfile.ZipFile(good) as src, zipfile.ZipFile(bad, "w") as out:
    for item in src.infolist():
        data = library.read_bytes() if item.filename.startswith("tqbse/lib/") else src.read(item)
        out.writestr(item, data.replace(b"-manylinux_", b"-xmanylinux_") if item.filename.endswith("WHEEL") else data)
    out.writestr("tqbse/_generate.py", "")
PY
if reasons=$("$python" "$root/scripts/check-wheel.py" "$wheels"/bad/tqbse-*.whl linux_x86_64 "$library" 2>&1); then
  echo "check-wheel.py accepted a broken wheel" >&2; exit 1
fi
for reason in "not stripped" "expected tqbse-$version-py3-none-manylinux_" "WHEEL tags" "ships the build-time generator"; do
  [[ $reasons == *"$reason"* ]] || { echo "check-wheel.py did not say '$reason': $reasons" >&2; exit 1; }
done
rm -rf "$wheels/bad"
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
