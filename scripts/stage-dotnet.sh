#!/usr/bin/env bash
# Test stage: the .NET package (dotnet/).
#   - restores, builds Tqbse (netstandard2.0 and net10.0; its P/Invoke layer and
#     typed methods generated from build/'s `tqbse list --json`) and the xunit
#     tests; without a reachable NuGet index the restore falls back to the
#     local folder /opt/nuget/packages and net10.0 alone (said on one line);
#   - runs the tests against build/'s library and tqbse-emulator, in a network
#     namespace of their own where this is root and unshare works;
#   - packs the NuGet package (build/dotnet-packages/) with build/'s shared
#     object under runtimes/linux-x64/native/ and checks its contents and version;
#   - builds the examples and runs the benchmark briefly (figures printed).
# Where the .NET SDK is not installed it says so on one line and passes.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${TQBSE_BUILD_DIR:-$root/build}
if ! command -v dotnet >/dev/null 2>&1; then
  echo "dotnet stage skipped: the .NET SDK (dotnet) is not installed"
  exit 0
fi
export DOTNET_CLI_TELEMETRY_OPTOUT=1 DOTNET_NOLOGO=1 DOTNET_SKIP_FIRST_TIME_EXPERIENCE=1
export TQBSE_EMULATOR=$build/emulator/tqbse-emulator TQBSE_TOOL=$build/tools/tqbse
# The link by its plain name: the package takes the file under the name it is given.
library=$build/libtqBsePluginControlDll.so
for needed in "$TQBSE_EMULATOR" "$TQBSE_TOOL" "$library"; do
  [ -e "$needed" ] || { echo "dotnet stage: $needed is missing (build build/ first)" >&2; exit 1; }
done
version=$(sed -n 's/^#define TQBSE_VERSION_\(MAJOR\|MINOR\|PATCH\|BUILD\) *\([0-9]*\).*/\2/p' \
  "$root/include/tqBsePluginControlDll.h" | paste -sd.)
props=(-c Release -p:TqbseTool="$TQBSE_TOOL" -p:TqbseLinuxLibrary="$library")
projects=("$root/dotnet/Tqbse.csproj" "$root/dotnet/tests/Tqbse.Tests.csproj" "$root/dotnet/bench/Tqbse.Bench.csproj"
          "$root/examples/dotnet/TwoSessions/TwoSessions.csproj" "$root/examples/dotnet/UserTests/UserTests.csproj")

source "$root/scripts/dotnet-restore.sh"
dotnet_restore "${projects[@]}"
props+=("${dotnet_props[@]}")
for project in "${projects[@]}"; do
  timeout 900 nice -n 5 dotnet build "$project" --no-restore "${props[@]}" -warnaserror -v:q -nologo -clp:NoSummary
done

run_isolated() {
  if [ "$(id -u)" = 0 ] && unshare -n true 2>/dev/null; then
    unshare -n sh -c 'ip link set lo up && "$@"' sh "$@"
  else
    "$@"
  fi
}
run_isolated timeout 600 dotnet test "$root/dotnet/tests/Tqbse.Tests.csproj" --no-build -c Release
# The example against two emulators on 127.0.0.2 and 127.0.0.3, as its defaults expect.
two_sessions='
  emulator=$1 example=$2 log=$(mktemp -d)
  pids=""
  trap "kill \$pids 2>/dev/null; rm -rf $log" EXIT
  for address in 127.0.0.2 127.0.0.3; do
    "$emulator" --bind $address --port 6002 --callback-on-scenario-end --scenario-ms 200 >"$log/$address" 2>&1 &
    pids="$pids $!"
  done
  for address in 127.0.0.2 127.0.0.3; do
    for _ in $(seq 100); do grep -q " listening on " "$log/$address" && break; sleep 0.1; done
  done
  timeout 120 dotnet "$example"'
if nm -D --defined-only "$library" | grep -qw tqbse_open; then
  run_isolated bash -c "$two_sessions" two-sessions "$TQBSE_EMULATOR" \
    "$root/examples/dotnet/TwoSessions/bin/Release/net10.0/TwoSessions.dll"
else
  echo "dotnet stage: the library exports no tqbse_open; the session tests and example were skipped"
fi

out=$build/dotnet-packages
rm -rf "$out"
win=()
[ -f "$root/build-win64/bin/tqBsePluginControlDll.dll" ] && win+=(-p:TqbseWin64Library="$root/build-win64/bin/tqBsePluginControlDll.dll")
[ -f "$root/build-win32/bin/tqBsePluginControlDll.dll" ] && win+=(-p:TqbseWin32Library="$root/build-win32/bin/tqBsePluginControlDll.dll")
timeout 600 dotnet pack "$root/dotnet/Tqbse.csproj" --no-restore "${props[@]}" "${win[@]}" -o "$out" -v:q -nologo -clp:NoSummary
# NuGet leaves out a fourth version component of 0 (6.0.0.0 is 6.0.0).
package=$out/Tqbse.${version%.0}.nupkg
[[ $version == *.*.*.0 ]] || package=$out/Tqbse.$version.nupkg
[ -f "$package" ] || { echo "dotnet pack wrote $(ls "$out"), expected ${package##*/}" >&2; exit 1; }
contents=$(unzip -Z1 "$package")
expected=(runtimes/linux-x64/native/libtqBsePluginControlDll.so lib/net10.0/Tqbse.dll lib/net10.0/Tqbse.xml)
$dotnet_offline || expected+=(lib/netstandard2.0/Tqbse.dll lib/netstandard2.0/Tqbse.xml)
for file in "${expected[@]}"; do
  grep -qx "$file" <<<"$contents" || { echo "$package lacks $file" >&2; exit 1; }
done
echo "packed ${package#"$root"/}: $(grep -c . <<<"$contents") files"

cc -O2 -Wall -Wextra -Werror -I"$root/include" "$root/dotnet/bench/c_baseline.c" -L"$(dirname "$library")" \
  -ltqBsePluginControlDll -Wl,-rpath,"$(dirname "$library")" -o "$build/dotnet-bench-c"
run_isolated timeout 300 dotnet "$root/dotnet/bench/bin/Release/net10.0/Tqbse.Bench.dll" \
  --c-baseline "$build/dotnet-bench-c" --calls 2000 --trace-points 1000000 --rounds 3
echo "dotnet stage passed"
