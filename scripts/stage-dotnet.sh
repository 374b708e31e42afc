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
library=$(realpath "$build/libtqBsePluginControlDll.so")
for needed in "$TQBSE_EMULATOR" "$TQBSE_TOOL" "$library"; do
  [ -e "$needed" ] || { echo "dotnet stage: $needed is missing (build build/ first)" >&2; exit 1; }
done
version=$(sed -n 's/^#define TQBSE_VERSION_\(MAJOR\|MINOR\|PATCH\|BUILD\) *\([0-9]*\).*/\2/p' \
  "$root/include/tqBsePluginControlDll.h" | paste -sd.)
props=(-c Release -p:TqbseTool="$TQBSE_TOOL" -p:TqbseLinuxLibrary="$library")
projects=("$root/dotnet/Tqbse.csproj" "$root/dotnet/tests/Tqbse.Tests.csproj" "$root/dotnet/bench/Tqbse.Bench.csproj"
          "$root/examples/dotnet/TwoSessions/TwoSessions.csproj" "$root/examples/dotnet/UserTests/UserTests.csproj")

restored=true
for project in "${projects[@]}"; do
  timeout 600 dotnet restore "$project" >/dev/null 2>&1 || { restored=false; break; }
done
if ! $restored; then
  echo "dotnet stage: no NuGet index reachable; net10.0 only, from /opt/nuget/packages"
  props+=(-p:TargetFrameworks=net10.0)
  for project in "${projects[@]}"; do
    timeout 600 dotnet restore "$project" --source /opt/nuget/packages -p:TargetFrameworks=net10.0 >/dev/null
  done
fi
for project in "${projects[@]}"; do
  timeout 900 nice -n 5 dotnet build "$project" --no-restore "${props[@]}" -warnaserror -v:q -nologo
done

run_isolated() {
  if [ "$(id -u)" = 0 ] && unshare -n true 2>/dev/null; then
    unshare -n sh -c 'ip link set lo up && "$@"' sh "$@"
  else
    "$@"
  fi
}
run_isolated timeout 600 dotnet test "$root/dotnet/tests/Tqbse.Tests.csproj" --no-build -c Release
run_isolated timeout 120 dotnet "$root/examples/dotnet/TwoSessions/bin/Release/net10.0/TwoSessions.dll" --emulator

out=$build/dotnet-packages
rm -rf "$out"
win=()
[ -f "$root/build-win64/bin/tqBsePluginControlDll.dll" ] && win+=(-p:TqbseWin64Library="$root/build-win64/bin/tqBsePluginControlDll.dll")
[ -f "$root/build-win32/bin/tqBsePluginControlDll.dll" ] && win+=(-p:TqbseWin32Library="$root/build-win32/bin/tqBsePluginControlDll.dll")
timeout 600 dotnet pack "$root/dotnet/Tqbse.csproj" --no-restore "${props[@]}" "${win[@]}" -o "$out" -v:q -nologo
package=$out/Tqbse.$version.nupkg
[ -f "$package" ] || { echo "dotnet pack wrote $(ls "$out"), expected Tqbse.$version.nupkg" >&2; exit 1; }
contents=$(unzip -Z1 "$package")
expected=(runtimes/linux-x64/native/libtqBsePluginControlDll.so lib/net10.0/Tqbse.dll lib/net10.0/Tqbse.xml)
$restored && expected+=(lib/netstandard2.0/Tqbse.dll lib/netstandard2.0/Tqbse.xml)
for file in "${expected[@]}"; do
  grep -qx "$file" <<<"$contents" || { echo "$package lacks $file" >&2; exit 1; }
done
echo "packed ${package#"$root"/}: $(grep -c . <<<"$contents") files"

run_isolated timeout 300 dotnet "$root/dotnet/bench/bin/Release/net10.0/Tqbse.Bench.dll" --calls 2000 --trace-points 1000000
echo "dotnet stage passed"
