#!/bin/sh
# Records the example against the emulator (TQBSE_TRACE), replays the trace
# with tqbse-emulator --replay and checks that the example prints exactly
# the same report, that the recorded callback is replayed, that a request
# the trace does not hold is reported (exit status 3) with what it was
# answered, and that tqbse trace decodes the recording.
# Usage: replay_test.sh EMULATOR EXAMPLE TQBSE WORKDIR
set -eu
if [ "${TQBSE_IN_NAMESPACE:-}" != 1 ]; then
  exec env TQBSE_IN_NAMESPACE=1 unshare -n sh "$0" "$@"
fi
emulator=$1 example=$2 tool=$3 work=$4
address=127.0.0.152
rm -rf "$work" && mkdir -p "$work" && cd "$work"
ip link set lo up
fail() { echo "replay_test: $*"; exit 1; }

# serve LOG OPTIONS...: starts the emulator and waits until it listens.
serve() {
  log=$1; shift
  "$emulator" --bind "$address" "$@" >"$log" 2>&1 &
  server=$!
  for _ in $(seq 50); do grep -q listening "$log" && return 0; sleep 0.1; done
  fail "the emulator did not start: $(cat "$log")"
}
# stop: ends the emulator with SIGTERM and sets $status to its exit status.
stop() {
  kill -TERM "$server"
  status=0
  wait "$server" || status=$?
}

# The example waits for its scenario's end as a ScenarioFinished event: the
# recording has the emulator's callback, which the replay sends again.
serve record.log --scenario-ms 300 --callback-on-scenario-end
TQBSE_TRACE=$PWD/session.jsonl "$example" "$address" >recorded.txt
stop
grep -q '"event":"callback","message":"ScenarioFinished=(s=example_attach)"' session.jsonl \
  || fail "the scenario's end callback was not recorded: $(grep callback record.log)"

# The same report from the replay alone, and the callback answered as recorded.
serve replay.log --replay session.jsonl --replay-callbacks
TQBSE_TRACE=$PWD/replayed.jsonl "$example" "$address" >replayed.txt
stop
# The library's listener says where the callback came from; nothing else may differ.
report() { grep -v '^Accepted client: ' "$1"; }
report replayed.txt | diff - "$(report recorded.txt >recorded.report && echo recorded.report)" \
  || fail "the replayed report differs"
[ "$status" -eq 0 ] || fail "replay exit status $status: $(tail -3 replay.log)"
grep -Eq "replay: ([0-9]+) of \1 requests matched a recorded call \(byte for byte\), 0 did not; 0 of" replay.log \
  || fail "no full match in the summary: $(tail -2 replay.log)"
grep -q '"event":"callback","message":"ScenarioFinished=(s=example_attach)"' replayed.jsonl \
  || fail "the callback was not replayed: $(grep callback replay.log)"

# A request the recording does not hold: -8 by default, reported, status 3.
sed 's/RX_CentreFrequency_Set=(n=00000000)(d=[0-9a-f]*)/RX_CentreFrequency_Set=(n=00000000)(d=0000000000000000)/' \
  session.jsonl >changed.jsonl
serve mismatch.log --replay changed.jsonl --replay-callbacks
TQBSE_TRACE=$PWD/mismatch.jsonl "$example" "$address" >mismatch.txt || true
stop
[ "$status" -eq 3 ] || fail "a mismatch gave exit status $status"
grep -q "replay: no match: tqBsePluginControlDll_RX_CentreFrequency_Set(n=0, d=1950000000) -> tqBsePluginControlDll_RX_CentreFrequency_Set(n=-8)" \
  mismatch.log || fail "the mismatch is not reported: $(grep 'replay:' mismatch.log)"
grep -q "FAIL.*RX centre frequency.*-8\|FAIL.*-8" mismatch.txt || fail "the example did not see -8: $(grep FAIL mismatch.txt)"
# Matched by name, the same request gets its recorded reply.
serve byname.log --replay changed.jsonl --match name --replay-callbacks
"$example" "$address" >byname.txt
stop
[ "$status" -eq 0 ] && report byname.txt | diff -q recorded.report - >/dev/null || fail "--match name did not match"

# tqbse trace decodes every call through the rows.
"$tool" trace session.jsonl >decoded.txt
grep -q "RX_CentreFrequency_Get(index=0) → 0, frequency=1950000000 " decoded.txt || fail "no decoded Get"
grep -q "TestCase_Name_Get(index=0, bufferSize=256) → 0, buffer=\"Attach\"" decoded.txt || fail "no decoded text"
grep -q "callback \"ScenarioFinished=(s=example_attach)\" answered \"ScenarioFinished=(n=00000000)\"" decoded.txt \
  || fail "no callback line"
"$tool" trace session.jsonl --name 'RX_*_Get' --csv >rx.csv
[ "$(wc -l <rx.csv)" -eq 3 ] && grep -q '"RX_InputLevel_Get",0,[0-9]*,"index=0","level=-50"' rx.csv \
  || fail "filtered CSV: $(cat rx.csv)"
"$tool" trace session.jsonl --to 0 >first.txt
"$tool" trace session.jsonl --from 1000 >none.txt
[ "$(cat first.txt)" = "    0.000000  [connect $address:6002]" ] && [ ! -s none.txt ] || fail "--from/--to: $(cat first.txt)"
"$tool" trace changed.jsonl --summary --json >summary.json
grep -q '"name":"RX_CentreFrequency_Get","calls":1,"errors":0' summary.json || fail "summary: $(cat summary.json)"
"$tool" trace session.jsonl --errors >errors.txt
[ ! -s errors.txt ] || fail "--errors listed: $(head -3 errors.txt)"
"$tool" trace mismatch.jsonl --errors >errors.txt
[ "$(wc -l <errors.txt)" -eq 1 ] && grep -q "RX_CentreFrequency_Set(index=0, frequency=1950000000) → -8 TQBSE_FUNCTION_NOT_FOUND" \
  errors.txt || fail "--errors: $(cat errors.txt)"
"$tool" trace session.jsonl --summary --plot latency.svg >/dev/null
[ "$(grep -c 'r="2.5"' latency.svg)" -eq "$(grep -c '"event":"call"' session.jsonl)" ] || fail "--plot: not one point per call"
echo "replay_test: $(grep -c '"event":"call"' session.jsonl) calls recorded, replayed and decoded"
