#!/usr/bin/env bash
# The main job: scripts/run-main.sh [A.B.C.D]
#
# Installs what is missing and builds, then runs the example host program.
# Without an address it starts the reference emulator on 127.0.0.1 and runs
# against it; with an address it runs against the instrument there (no
# emulator). The report is written to out/main-report.txt.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

address=${1:-}
if [ $# -gt 1 ] || { [ -n "$address" ] && ! [[ $address =~ ^[0-9]{1,3}(\.[0-9]{1,3}){3}$ ]]; }; then
  echo "usage: $0 [A.B.C.D]" >&2
  exit 2
fi

build=${TQBSE_BUILD_DIR:-$root/build}
scripts/install-deps.sh
scripts/build.sh "$build"

mkdir -p out
report=$root/out/main-report.txt
emulator_log=$root/out/emulator.log
emulator_pid=

# True when something listens on 127.0.0.1:6002 (kernel table, no tools needed).
listening_6002() {
  awk 'NR > 1 && $2 == "0100007F:1772" && $4 == "0A" { found = 1 } END { exit !found }' /proc/net/tcp
}

stop_emulator() {
  [ -n "$emulator_pid" ] || return 0
  kill "$emulator_pid" 2>/dev/null || true
  for _ in $(seq 50); do
    kill -0 "$emulator_pid" 2>/dev/null || break
    sleep 0.1
  done
  kill -9 "$emulator_pid" 2>/dev/null || true
  wait "$emulator_pid" 2>/dev/null || true
  emulator_pid=
}
trap stop_emulator EXIT
trap 'exit 130' INT TERM

if [ -z "$address" ]; then
  address=127.0.0.1
  if listening_6002; then
    echo "127.0.0.1 port 6002 is already taken by another program; stop it first" >&2
    exit 1
  fi
  "$build/emulator/tqbse-emulator" --bind 127.0.0.1 --port 6002 --callback-on-scenario-end >"$emulator_log" 2>&1 &
  emulator_pid=$!
  for _ in $(seq 100); do
    listening_6002 && break
    kill -0 "$emulator_pid" 2>/dev/null || break
    sleep 0.1
  done
  if ! listening_6002; then
    echo "the emulator did not start listening within 10 s; its log:" >&2
    cat "$emulator_log" >&2
    exit 1
  fi
  echo "emulator running on 127.0.0.1:6002 (log: $emulator_log)"
fi

set +e
timeout 300 "$build/examples/tqbse_example" "$address" | tee "$report"
status=${PIPESTATUS[0]}
set -e
stop_emulator
echo "report: $report"
if [ "$status" -ne 0 ]; then
  echo "main job FAILED (example host program exit status $status)" >&2
fi
exit "$status"
