#!/usr/bin/env bash
# Starts or stops the natively built emulator for the Windows tests (ctest
# fixtures): emulator.sh start EMULATOR ADDRESS PIDFILE [options...] runs it
# on ADDRESS:6002 and returns once it says it listens (at most 10 s);
# emulator.sh stop PIDFILE ends it (SIGTERM, then SIGKILL after 5 s).
set -euo pipefail
case "$1" in
start)
  emulator=$2 address=$3 pidfile=$4
  shift 4
  if [ -s "$pidfile" ] && kill -0 "$(cat "$pidfile")" 2>/dev/null; then
    kill "$(cat "$pidfile")" 2>/dev/null || true
  fi
  "$emulator" --bind "$address" --port 6002 "$@" >"$pidfile.log" 2>&1 &
  echo $! >"$pidfile"
  for _ in $(seq 100); do
    grep -q "listening on $address:6002" "$pidfile.log" && exit 0
    kill -0 "$(cat "$pidfile")" 2>/dev/null || break
    sleep 0.1
  done
  echo "emulator on $address did not start:" >&2
  cat "$pidfile.log" >&2
  exit 1
  ;;
stop)
  pidfile=$2
  [ -s "$pidfile" ] || exit 0
  pid=$(cat "$pidfile")
  kill "$pid" 2>/dev/null || true
  for _ in $(seq 50); do
    kill -0 "$pid" 2>/dev/null || { rm -f "$pidfile"; exit 0; }
    sleep 0.1
  done
  kill -9 "$pid" 2>/dev/null || true
  rm -f "$pidfile"
  ;;
*)
  echo "usage: emulator.sh start EMULATOR ADDRESS PIDFILE [options...] | stop PIDFILE" >&2
  exit 2
  ;;
esac
