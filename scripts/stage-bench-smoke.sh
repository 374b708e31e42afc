#!/usr/bin/env bash
# CI stage: builds every benchmark and runs each once with tiny sizes, so
# that none of them rots. Not a gate on figures: it fails only when a
# benchmark cannot run, reports an error, or the table cannot be made.
#
#   scripts/stage-bench-smoke.sh [BUILD_DIR]    (default: ./build, as run-tests.sh builds it)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$root" -B "$build" -G Ninja >/dev/null
fi
cmake --build "$build" --target tqbse_bench tqbse_bench_calls >/dev/null
bench=$build/bench/tqbse_bench

timeout 120 "$bench" --tiny --benchmark_min_time=0.01 \
  --benchmark_out="$out/bench.json" --benchmark_out_format=json >"$out/bench.txt"

# Every benchmark ran and none failed. The callback one may be skipped when
# another process on this machine holds port 6009.
python3 - "$out/bench.json" <<'EOF'
import json, sys
runs = json.load(open(sys.argv[1]))["benchmarks"]
names = {r.get("run_name", r["name"]) for r in runs}
failed = [r["name"] + ": " + r.get("error_message", "")
          for r in runs if r.get("error_occurred") and "port 6009" not in r.get("error_message", "")]
expected = ["small/", "bulk/Scenario_Download", "bulk/LTE_Results_GetTrace", "codec/encode", "codec/decode/double_array",
            "codec/decode/text", "callback/"]
missing = [p for p in expected if not any(n.startswith(p) for n in names)]
for f in failed:
    print("benchmark failed:", f)
for m in missing:
    print("benchmark missing:", m)
print(f"{len(runs)} benchmarks ran")
sys.exit(1 if failed or missing else 0)
EOF

# The callgrind driver, against the benchmark server, a few calls each.
if command -v valgrind >/dev/null; then
  "$bench" --serve 60 >"$out/serve.log" 2>&1 &
  server=$!
  for _ in $(seq 50); do
    grep -q serving "$out/serve.log" && break
    sleep 0.1
  done
  status=0
  for mode in set get; do
    timeout 60 valgrind --tool=callgrind --toggle-collect="tqBsePluginControlDll_RX_CentreFrequency_*" \
      --callgrind-out-file="$out/cg.$mode" "$build/bench/tqbse_bench_calls" "$mode" 5 >/dev/null 2>&1 || status=1
    grep -q '^totals:' "$out/cg.$mode" 2>/dev/null || status=1
  done
  kill "$server" 2>/dev/null || true
  wait "$server" 2>/dev/null || true
  [ "$status" -eq 0 ] || { echo "callgrind driver failed"; exit 1; }
  # Five calls include the one-time costs: a smoke figure, not a measurement.
  set_ir=$(awk '/^totals:/ {print int($2 / 5)}' "$out/cg.set")
  get_ir=$(awk '/^totals:/ {print int($2 / 5)}' "$out/cg.get")
  echo "{\"RX_CentreFrequency_Set\": $set_ir, \"RX_CentreFrequency_Get\": $get_ir}" >"$out/callgrind.json"
else
  echo "valgrind not installed: callgrind driver not run"
  echo '{}' >"$out/callgrind.json"
fi

python3 "$root/bench/report.py" "$out/bench.json" "$out/callgrind.json" >"$out/table.txt"
cat "$out/table.txt"
grep -q "^Small calls" "$out/table.txt"
echo "bench smoke: passed (tiny sizes: the figures are not measurements)"
