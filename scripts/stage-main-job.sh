#!/usr/bin/env bash
# Test stage: the main job runs once from start to end and passes.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
log=$(mktemp)
trap 'rm -f "$log"' EXIT
if ! bash "$root/scripts/run-main.sh" >"$log" 2>&1; then
  cat "$log"
  echo "main job stage FAILED"
  exit 1
fi
if ! grep -q '^RESULT: PASSED' "$root/out/main-report.txt"; then
  cat "$log"
  echo "main job stage FAILED: the report does not say PASSED"
  exit 1
fi
tail -n 3 "$log"
echo "main job stage passed"
