#!/usr/bin/env bash
# Builds the benchmarks (Release) and runs them: the library next to the
# raw-socket floor, callgrind instruction counts, and one table.
#
#   scripts/run-bench.sh [--tiny] [google-benchmark flags...]
#
# Writes out/bench.json (Google Benchmark), out/callgrind.json and
# out/bench-summary.json; prints the table. Servers listen on 127.0.0.40:6002
# only; the library's callback listener takes port 6009 while it runs.
# Environment: TQBSE_BENCH_BUILD (build dir, default build-bench),
# TQBSE_BENCH_OUT (default out), TQBSE_BENCH_REPS (default 3),
# TQBSE_BENCH_CALLS (calls per callgrind run, default 1000).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${TQBSE_BENCH_BUILD:-$root/build-bench}
out=${TQBSE_BENCH_OUT:-$root/out}
reps=${TQBSE_BENCH_REPS:-3}
calls=${TQBSE_BENCH_CALLS:-1000}
mkdir -p "$out"

# Benchmarks only: tests and tools are not needed for the figures.
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DTQBSE_BUILD_TESTS=OFF -DTQBSE_BUILD_TOOLS=OFF >/dev/null
cmake --build "$build" --target tqbse_bench tqbse_bench_calls >/dev/null
bench=$build/bench/tqbse_bench

echo "== benchmarks (repetitions: $reps)" >&2
# Repetitions interleaved at random, so that the library and its floor share
# whatever else the machine is doing.
"$bench" --benchmark_repetitions="$reps" --benchmark_report_aggregates_only=true \
  --benchmark_enable_random_interleaving=true \
  --benchmark_out="$out/bench.json" --benchmark_out_format=json "$@" >"$out/bench.txt"

# Instructions per small call: callgrind collects only inside the export,
# and a run of 100 calls is subtracted from one of 100 + N to drop one-time
# costs (connect, first-call binding, listener start).
echo "== callgrind ($calls calls per export)" >&2
if command -v valgrind >/dev/null; then
  "$bench" --serve 600 >"$out/serve.log" 2>&1 &
  server=$!
  trap 'kill "$server" 2>/dev/null || true; wait "$server" 2>/dev/null || true' EXIT
  for _ in $(seq 50); do
    grep -q serving "$out/serve.log" && break
    sleep 0.1
  done
  grep -q serving "$out/serve.log" || { cat "$out/serve.log" >&2; exit 1; }
  total() { # export mode calls
    valgrind --tool=callgrind --toggle-collect="tqBsePluginControlDll_$1" \
      --callgrind-out-file="$out/callgrind.$2.$3.out" "$build/bench/tqbse_bench_calls" "$2" "$3" >/dev/null 2>&1
    awk '/^totals:/ {print $2}' "$out/callgrind.$2.$3.out"
  }
  json="{"
  for pair in RX_CentreFrequency_Set:set RX_CentreFrequency_Get:get; do
    name=${pair%%:*} mode=${pair##*:}
    base=$(total "$name" "$mode" 100)
    more=$(total "$name" "$mode" $((100 + calls)))
    per=$(( (more - base) / calls ))
    json+="\"$name\": $per,"
  done
  echo "${json%,}}" >"$out/callgrind.json"
  kill "$server" 2>/dev/null || true
  wait "$server" 2>/dev/null || true
  trap - EXIT
else
  echo "valgrind not installed: no instruction counts" >&2
  echo "{}" >"$out/callgrind.json"
fi

python3 "$root/bench/report.py" "$out/bench.json" "$out/callgrind.json" "$out/bench-summary.json"
