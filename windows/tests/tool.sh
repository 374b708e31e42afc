#!/usr/bin/env bash
# tqbse.exe against the emulator on ADDRESS, through Wine:
#   tool.sh TQBSE_EXE ADDRESS
# Sets and reads back a value, reads a text sized by its length query (the
# emulator's first test case), and checks the exit status of a refused call
# (1) and of bad input (2), --version and -h, and that the shell's banner
# does not offer Tab completion (there is no readline on Windows).
set -uo pipefail
tool=$1 address=$2
failures=0
# expect STATUS PATTERN args...: the tool's exit status and a line of its output.
expect() {
  local status=$1 pattern=$2 out rc
  shift 2
  out=$(timeout 60 wine "$tool" --server "$address" "$@" 2>&1 | tr -d '\r')
  rc=${PIPESTATUS[0]}
  if [ "$rc" -ne "$status" ] || ! grep -Eq -- "$pattern" <<<"$out"; then
    echo "FAILED: tqbse $* -> status $rc (expected $status), output:"
    echo "$out"
    failures=$((failures + 1))
  else
    echo "ok: tqbse $*"
  fi
}
expect 0 '^OK' RX_CentreFrequency_Set 0 1.95e9
expect 0 '^frequency = 1950000000$' RX_CentreFrequency_Get 0
expect 0 '^Attach$' TestCase_Name_Get 0
expect 0 '"result":0' --json GetServerVersion
expect 1 '-18' TestCase_Name_Get 9999
expect 2 '.' RX_CentreFrequency_Get not-a-number
expect 0 'loaded from .*tqBsePluginControlDll\.dll$' --version
expect 0 '^Usage: tqbse ' -h
# The Windows shell reads plain lines: its banner must not promise Tab completion.
banner=$(echo quit | timeout 60 wine "$tool" --server "$address" shell 2>&1 | tr -d '\r')
if ! grep -q '^connected to' <<<"$banner" || grep -q 'Tab' <<<"$banner"; then
  echo "FAILED: tqbse shell banner: $banner"
  failures=$((failures + 1))
else
  echo "ok: tqbse shell banner"
fi
exit $((failures > 0))
