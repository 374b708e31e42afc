#!/bin/sh
# Captures the example host program, a failing call and a callback on the
# loopback of a network namespace of its own, then checks what tshark
# decodes with the generated dissector: names, parameter values, result
# codes, a reply sent a token per write (each write ending in a balanced
# ")") reassembled by the row's token count, and every reply linked
# to its request.
# Usage: capture_test.sh TQBSE_LUA EMULATOR EXAMPLE TQBSE WORKDIR
set -eu
if [ "${TQBSE_IN_NAMESPACE:-}" != 1 ]; then
  for tool in tcpdump tshark unshare; do
    command -v "$tool" >/dev/null || { echo "capture_test: $tool is missing (scripts/install-deps.sh)"; exit 1; }
  done
  exec env TQBSE_IN_NAMESPACE=1 unshare -n sh "$0" "$@"
fi
lua=$1 emulator=$2 example=$3 tool=$4 work=$5
address=127.0.0.151
rm -rf "$work" && mkdir -p "$work" && cd "$work"
ip link set lo up

tcpdump -i lo -U -w capture.pcap 'tcp port 6002 or tcp port 6009' 2>tcpdump.log &
dump=$!
for _ in $(seq 50); do grep -q listening tcpdump.log && break; sleep 0.1; done
"$emulator" --bind "$address" --scenario-ms 200 --callback-on-scenario-end \
  --fault-call Scenario_Download --token-pieces 20 >emulator.log 2>&1 &
server=$!
for _ in $(seq 50); do grep -q listening emulator.log && break; sleep 0.1; done
"$example" "$address" >example.txt 2>&1
"$tool" --server "$address" RX_CentreFrequency_Get 99 >tool.txt 2>&1 || true
# A scenario run from a shell that stays connected while it ends, so that its
# callback finds the shell's listener.
(echo "Scenario_Execute example_attach"; sleep 1) | "$tool" --server "$address" shell >shell.txt 2>&1
kill "$server"; wait "$server" || true
# tcpdump writes what it has read so far when it stops: wait until the file
# has stopped growing (at most 5 s).
size=-1
for _ in $(seq 10); do
  sleep 0.5
  now=$(wc -c <capture.pcap)
  [ "$now" -eq "$size" ] && break
  size=$now
done
kill -INT "$dump"; wait "$dump" || true
grep -q "RESULT: PASSED" example.txt || { cat example.txt; exit 1; }

fields() {
  tshark -2 -r capture.pcap -X lua_script:"$lua" -Y "$1" -T fields -E separator='|' -E aggregator=';' \
    -e frame.number -e tqbse.kind -e tqbse.name -e tqbse.result -e tqbse.param -e tqbse.value \
    -e tqbse.request_in -e tqbse.response_in 2>/dev/null
}
fail() { echo "capture_test: $*"; exit 1; }
expect() { # expect FILTER PATTERN: some decoded message matches the pattern
  fields "$1" >decoded.txt
  grep -Eq "$2" decoded.txt || { cat decoded.txt; fail "no '$1' message matching '$2'"; }
}

expect 'tqbse.kind == "request" && tqbse.name contains "RX_CentreFrequency_Set"' \
  '\|request\|tqBsePluginControlDll_RX_CentreFrequency_Set\|\|index;frequency\|0;1950000000\|'
expect 'tqbse.kind == "reply" && tqbse.name contains "RX_CentreFrequency_Get"' \
  '\|reply\|tqBsePluginControlDll_RX_CentreFrequency_Get\|0\|frequency\|1950000000\|[0-9]+\|'
expect 'tqbse.kind == "reply" && tqbse.name contains "RX_InputLevel_Get"' '\|0\|level\|-50\|'
expect 'tqbse.kind == "reply" && tqbse.name contains "GetServerVersion"' '\|version;version;version;version\|6;0;0;0\|'
expect 'tqbse.result == -18' \
  '\|reply\|tqBsePluginControlDll_RX_CentreFrequency_Get\|-18\|reason\|"RF path index 99 is outside 0\.\.1"\|'
expect 'tqbse.kind == "reply" && tqbse.name contains "Scenario_Download"' '\|0\|buffer\|"<scenario><step>attach</step>.*</scenario>"\|'
expect 'tqbse.kind == "callback"' '\|callback\|ScenarioFinished\|\|#1\|"example_attach"\|'
expect 'tqbse.kind == "callback answer"' '\|callback answer\|ScenarioFinished\|-8\|'

# Every reply is linked to its request, and there are as many as requests.
requests=$(fields 'tqbse.kind == "request"' | wc -l)
linked=$(fields 'tqbse.kind == "reply" && tqbse.request_in' | wc -l)
[ "$requests" -ge 50 ] && [ "$requests" -eq "$linked" ] || fail "$requests requests, $linked linked replies"
# The result's name is shown in the tree.
tshark -2 -r capture.pcap -X lua_script:"$lua" -Y 'tqbse.result == -18' -V 2>/dev/null \
  | grep -q "TQBSE_INTERNAL_OBJECT_ERROR" || fail "the result code's name is not shown"
echo "capture_test: $requests requests decoded and linked"
