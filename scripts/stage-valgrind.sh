#!/usr/bin/env bash
# CI stage: the end-to-end tests (library against the emulator process) and
# the hardening tests under valgrind memcheck, from a plain build in
# build-hard. Fails on any memory error or definite/indirect leak. Test
# binaries that do not exist in this tree are skipped with a message.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VALGRIND_BUILD_DIR:-$root/build-hard}

if ! command -v valgrind >/dev/null; then
  echo "stage-valgrind: valgrind is missing (scripts/install-deps.sh installs it)" >&2
  exit 1
fi

# binary : gtest filter (the 64 MiB download is left to the native and
# sanitizer runs: under valgrind it only costs time)
runs=(
  "tests/emulator/emulator_process_test:*"
  "tests/emulator/emulator_requests_test:*"
  "tests/client/hardening_faults_test:-*64MiB*"
  "tests/listener/listener_test:*"
)

cmake -S "$root" -B "$build" -G Ninja -DTQBSE_BUILD_TESTS=ON -DTQBSE_BUILD_TOOLS=ON -DTQBSE_BUILD_BENCH=OFF \
  -DTQBSE_BUILD_FUZZ=OFF >/dev/null
targets=()
for run in "${runs[@]}"; do
  targets+=("$(basename "${run%%:*}")")
done
# Build what exists; a target missing from this tree is skipped below.
available=$(ninja -C "$build" -t targets all 2>/dev/null | cut -d: -f1)
wanted=()
for t in "${targets[@]}"; do
  grep -qx "$t" <<<"$available" && wanted+=("$t")
done
if ((${#wanted[@]} == 0)); then
  echo "stage-valgrind: none of the end-to-end test binaries exists yet; skipped"
  exit 0
fi
cmake --build "$build" --target "${wanted[@]}"

logs=$build/valgrind
mkdir -p "$logs"
failed=0
for run in "${runs[@]}"; do
  bin=$build/${run%%:*}
  filter=${run#*:}
  name=$(basename "$bin")
  if [ ! -x "$bin" ]; then
    echo "== $name: not built in this tree, skipped"
    continue
  fi
  echo "== valgrind $name"
  start=$SECONDS
  if timeout 1200 valgrind --leak-check=full --errors-for-leak-kinds=definite,indirect \
      --error-exitcode=1 --track-fds=no --log-file="$logs/$name.log" \
      "$bin" --gtest_filter="$filter" >"$logs/$name.out" 2>&1; then
    echo "   clean, $((SECONDS - start)) s"
  else
    echo "   FAILED after $((SECONDS - start)) s; see $logs/$name.log and $logs/$name.out" >&2
    grep -E 'Invalid|uninitialised|definitely lost|indirectly lost|FAILED' "$logs/$name.log" "$logs/$name.out" | head -20 >&2 || true
    failed=1
  fi
done
if ((failed)); then
  echo "stage-valgrind: FAILED" >&2
  exit 1
fi
echo "stage-valgrind: no memory errors, no leaks"
