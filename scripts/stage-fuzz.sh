#!/usr/bin/env bash
# CI stage: builds the libFuzzer targets with clang-14 and ASan+UBSan into
# build-fuzz, replays every checked-in crash reproducer, then fuzzes each
# target for FUZZ_SECONDS (default 30) from its seed corpus. Any crash or
# broken check fails the stage; new crash inputs are left in
# build-fuzz/artifacts/<target>/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${FUZZ_BUILD_DIR:-$root/build-fuzz}
seconds=${FUZZ_SECONDS:-30}

if ! command -v clang++-14 >/dev/null; then
  echo "stage-fuzz: clang++-14 is missing (scripts/install-deps.sh installs it)" >&2
  exit 1
fi

CC=clang-14 CXX=clang++-14 cmake -S "$root" -B "$build" -G Ninja \
  -DTQBSE_BUILD_FUZZ=ON -DTQBSE_BUILD_TESTS=OFF -DTQBSE_BUILD_TOOLS=OFF -DTQBSE_BUILD_BENCH=OFF \
  -DTQBSE_SANITIZE=address,undefined >/dev/null
cmake --build "$build" --target tqbse_fuzzers

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

targets=()
for bin in "$build"/fuzz/fuzz_*; do
  [ -x "$bin" ] && [ -f "$bin" ] && targets+=("$(basename "$bin")")
done
if ((${#targets[@]} == 0)); then
  echo "stage-fuzz: no fuzz targets were built" >&2
  exit 1
fi

# 1. Replay: every reproducer runs once; a crash fails at once.
for t in "${targets[@]}"; do
  dir=$root/fuzz/regressions/$t
  [ -d "$dir" ] || continue
  mapfile -t files < <(find "$dir" -type f | sort)
  ((${#files[@]})) || continue
  echo "== replay $t: ${#files[@]} reproducer(s)"
  "$build/fuzz/$t" -runs=1 "${files[@]}" >"$build/replay-$t.log" 2>&1 || {
    tail -40 "$build/replay-$t.log"; echo "stage-fuzz: $t crashes on a reproducer" >&2; exit 1; }
done

# 2. Fuzz each target from a scratch copy of its seeds (the checked-in
#    corpus is never modified).
summary=()
for t in "${targets[@]}"; do
  work=$build/work/$t
  artifacts=$build/artifacts/$t/
  rm -rf "$work"
  mkdir -p "$work" "$artifacts"
  [ -d "$root/fuzz/corpus/$t" ] && cp "$root/fuzz/corpus/$t"/* "$work"/ 2>/dev/null || true
  echo "== fuzz $t for ${seconds}s"
  log=$build/fuzz-$t.log
  if ! timeout $((seconds + 120)) "$build/fuzz/$t" "$work" \
      -dict="$root/fuzz/tokens.dict" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -max_len=8192 -print_final_stats=1 -artifact_prefix="$artifacts" >"$log" 2>&1; then
    tail -60 "$log"
    echo "stage-fuzz: $t failed; reproducer in $artifacts (check it into fuzz/regressions/$t/ once fixed)" >&2
    exit 1
  fi
  execs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || echo '?')
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | grep -o '[0-9]*' || echo '?')
  corpus=$(find "$work" -type f | wc -l)
  summary+=("$t: $execs execs in ${seconds}s, coverage $cov edges, corpus $corpus inputs")
done

echo "== stage-fuzz summary"
printf '%s\n' "${summary[@]}"
