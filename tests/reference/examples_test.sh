#!/usr/bin/env bash
# Every export's command-line example, as the reference and `tqbse describe`
# show it, is accepted by the tool: its arguments parse (exit status 2 would
# be refused input). No server listens (run it in a network namespace of its
# own), so a remote call ends unreachable (3) or, for the local ones, with
# the library's own result.
# Usage: examples_test.sh TQBSE REFERENCE.json
set -euo pipefail
tool=$1
examples=$(/usr/bin/python3 -c 'import json,sys; [print(c["example"]) for c in json.load(open(sys.argv[1]))["calls"]]' "$2")
[ "$(wc -l <<<"$examples")" -eq 75 ] || { echo "FAIL: $(wc -l <<<"$examples") examples" >&2; exit 1; }
refused=0
while IFS= read -r example; do
  [[ $example == "tqbse "* ]] || { echo "FAIL: not a tqbse command: $example" >&2; exit 1; }
  status=0
  eval "timeout 30 \"\$tool\" --timeout 2000 ${example#tqbse }" >/dev/null 2>&1 || status=$?
  if [ "$status" -eq 2 ] || [ "$status" -gt 4 ]; then
    echo "FAIL: '$example' ended with exit status $status" >&2
    refused=1
  fi
done <<<"$examples"
[ "$refused" -eq 0 ] && echo "every example accepted"
