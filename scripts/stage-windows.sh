#!/usr/bin/env bash
# Test stage: the Windows DLL. Cross-builds the x86-64 and i686 DLLs with
# MinGW-w64 (scripts/windows-build.sh), checks that each exports exactly the
# 75 functions of the public header and imports only KERNEL32, WS2_32 and
# msvcrt, then runs the Windows suite under Wine with ctest: build-win64's,
# then build-win32's (32-bit Wine, in the same prefix). Where the kernel
# runs no 32-bit programs the stage says so in one line and runs the rest.
# The suite starts the natively built emulator on 127.0.0.100-127 and its
# listener takes port 6009 of this host, so it must never run beside the
# native suite: run-tests.sh runs it as a stage of its own, after ctest.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
started=$SECONDS

# The cross compilers and Wine, 64-bit and 32-bit, first (a fresh machine
# has neither; 32-bit Wine breaks a prefix made before it), then one Wine
# prefix for the build's test discovery and for both ctest runs.
bash scripts/windows-build.sh --install-only
. "$root/scripts/wine-env.sh"
trap wine_stop EXIT
wine_start

bash scripts/windows-build.sh

# check_dll DLL TRIPLET FORMAT: built for the architecture of FORMAT;
# exports equal to the .def's names, one per TQBSE_API declaration of the
# public headers, by name only (so no i686
# decoration such as _name or name@N); imports exactly KERNEL32, WS2_32 and
# msvcrt.
check_dll() {
  local dll=$1 triplet=$2 format=$3 dump exports expected count imports
  dump=$("$triplet-objdump" -p "$dll")
  if ! grep -q "file format $format\$" <<<"$dump"; then
    echo "$dll: not $format: $(grep -m1 'file format' <<<"$dump")"
    return 1
  fi
  exports=$(awk '/^\[Ordinal\/Name Pointer\] Table/ { f = 1; next } f && /^\t\[/ { print $NF; next } f { f = 0 }' <<<"$dump" | sort)
  expected=$(awk '/^EXPORTS/ { f = 1; next } f && NF { print $1 }' "$(dirname "$dll")/../tqBsePluginControlDll.def" | sort)
  count=$(grep -cv '^$' <<<"$exports" || true)
  if [ "$exports" != "$expected" ] || [ "$count" -ne "$declared" ]; then
    echo "$dll: exports differ from the headers' $declared functions:"
    diff <(echo "$expected") <(echo "$exports") || true
    return 1
  fi
  if ! grep -Eq $'^\tExport Address Table[ \t]+0*'"$(printf '%x' "$declared")"'$' <<<"$dump"; then
    echo "$dll: the export address table has entries without a name"
    return 1
  fi
  imports=$(grep -oP '^\tDLL Name: \K\S+' <<<"$dump" | tr '[:lower:]' '[:upper:]' | sort -u | paste -sd' ')
  if [ "$imports" != "KERNEL32.DLL MSVCRT.DLL WS2_32.DLL" ]; then
    echo "$dll: imports $imports (only KERNEL32, WS2_32 and msvcrt allowed)"
    return 1
  fi
  echo "$dll: $format, $declared exports, imports $imports"
}
declared=$(cat include/tqBsePluginControlDll.h include/tqbse_session.h | grep -c '^TQBSE_API ')
check_dll build-win64/bin/tqBsePluginControlDll.dll x86_64-w64-mingw32 pei-x86-64
check_dll build-win32/bin/tqBsePluginControlDll.dll i686-w64-mingw32 pei-i386
# run_suite DIR: the Windows suite of one tree under Wine. A test that needs
# port 6009 skips itself while another program holds it (on a shared
# machine, someone's native suite or benchmark): such tests run again once
# the port is free, every 15 s for at most 2 minutes, and the suite fails
# if they never ran.
skipped() { sed -n 's/^[[:space:]]*[0-9]* - \(.*\) (Skipped)$/\1/p' "$1"; }
run_suite() {
  local dir=$1 status=0 log names pattern try
  log=$dir/ctest.log
  echo "$dir: the Windows suite under Wine"
  (cd "$dir" && ctest --output-on-failure --parallel 2 --timeout 180) >"$log" 2>&1 || status=$?
  grep -E '^[0-9]+% tests passed|^The following tests|^[[:space:]]+[0-9]+ - |Total Test time' "$log" || true
  if [ "$status" -ne 0 ]; then
    cat "$log"
    return 1
  fi
  for try in 1 2 3 4 5 6 7 8; do
    names=$(skipped "$log")
    [ -n "$names" ] || return 0
    if [ "$try" -eq 8 ]; then
      echo "$dir: never ran (port 6009 held by another program all along):"
      echo "$names"
      return 1
    fi
    echo "skipped, run again in 15 s: $(paste -sd' ' <<<"$names")"
    sleep 15
    pattern="^($(sed 's/[.]/[.]/g' <<<"$names" | paste -sd'|'))\$"
    log=$dir/ctest-rerun.log
    status=0
    (cd "$dir" && ctest --output-on-failure --timeout 180 -R "$pattern") >"$log" 2>&1 || status=$?
    if [ "$status" -ne 0 ]; then
      cat "$log"
      return 1
    fi
    grep -E '^[0-9]+% tests passed' "$log" || true
  done
}

# One suite after the other: both take port 6009 of this host.
run_suite build-win64 || { echo "windows stage FAILED"; exit 1; }
wine32=$(cat build-win32/wine32)
if [ "$wine32" = run ]; then
  run_suite build-win32 || { echo "windows stage FAILED"; exit 1; }
else
  echo "build-win32: built and checked, $wine32"
fi
echo "windows stage passed in $((SECONDS - started)) s"
