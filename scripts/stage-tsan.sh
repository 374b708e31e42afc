#!/usr/bin/env bash
# CI stage: the callback listener, connection lifecycle, thread, fault-matrix and call trace tests built with
# ThreadSanitizer into build-tsan. Fails on a failing test and on any TSan
# report: reports are written to build-tsan/tsan-reports/, halt_on_error
# makes the reporting process fail, and the stage fails if any report file
# appears. TSAN_TESTS overrides the ctest regex.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${TSAN_BUILD_DIR:-$root/build-tsan}
tests=${TSAN_TESTS:-'^(Listener|Lifecycle|Threads|Trace|Sessions|SessionOpen|EventInbox|EventRouting)\.|FaultMatrix'}

"$root/scripts/build.sh" "$build" -DTQBSE_SANITIZE=thread -DTQBSE_BUILD_BENCH=OFF -DTQBSE_BUILD_TOOLS=OFF \
  -DTQBSE_BUILD_FUZZ=OFF -DTQBSE_TEST_EMULATOR="$root/build/emulator/tqbse-emulator"

reports=$build/tsan-reports
rm -rf "$reports"
mkdir -p "$reports"
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:log_path=$reports/tsan"

source "$root/scripts/sanitizer-ctest.sh"
run_sanitized_ctest stage-tsan "$build" "$reports" --timeout 300 -j "${CTEST_JOBS:-2}" --no-tests=error -R "$tests"
echo "stage-tsan: listener, lifecycle, thread, session, event, fault-matrix and trace tests passed under ThreadSanitizer, no reports"
