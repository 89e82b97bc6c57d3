#!/usr/bin/env bash
# check-run.sh: ./run as a new user meets it. A fresh clone of this checkout's
# HEAD is started under Xvfb; the check waits for the station, then expects the
# simulated modems running, config.ini pointing at them and the demo files in
# place, and after a SIGTERM to ./run both the station and the simulator gone.
# Builds from scratch: a quarter of an hour on two cores.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
work="$(mktemp -d)"
clone="$work/korvalen"
log="$work/run.log"
xvfb_pid=""

finish() {
  if [ -n "$xvfb_pid" ]; then
    kill -TERM "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap finish EXIT

fail() {
  echo "check-run: FAILED: $*" >&2
  echo "---- ./run said:" >&2
  cat "$log" >&2
  exit 1
}

git clone -q "$top" "$clone"
cd "$clone"
xvfb-run -a ./run >"$log" 2>&1 &
xvfb_pid=$!

station=""
for _ in $(seq 2400); do
  station="$(pgrep -f -x "$clone/build/bin/korvalen" || true)"
  [ -n "$station" ] && break
  kill -0 "$xvfb_pid" 2>/dev/null || fail "./run ended before the station started"
  sleep 1
done
[ -n "$station" ] || fail "the station did not start"
sleep 3
kill -0 "$station" 2>/dev/null || fail "the station did not keep running"

simulator="$(pgrep -f -x "$clone/build/bin/modemsim --demo --link-dir $clone/station-data/modems" || true)"
[ -n "$simulator" ] || fail "no modem simulator"
for n in 1 2; do
  [ -e "station-data/modems/modem$n" ] || fail "no link of modem $n"
  grep -q "^CPort=$clone/station-data/modems/modem$n" build/bin/config.ini || fail "config.ini does not name modem $n"
done
for f in t1.bin t2.bin t3.bin t4.bin t5.bin t6.bin; do
  [ -s "station-data/$f" ] || fail "no station-data/$f"
done
build/bin/korvalen-jrn check station-data/t1.bin | grep -qx "OK 6" || fail "the register does not hold six devices"
grep -q 'user "Оператор", password "1234"' "$log" || fail "./run did not tell how to log in"

run_script="$(ps -o ppid= -p "$station" | tr -d ' ')"
kill -TERM "$run_script"
for _ in $(seq 100); do
  kill -0 "$station" 2>/dev/null || kill -0 "$simulator" 2>/dev/null || break
  sleep 0.2
done
kill -0 "$station" 2>/dev/null && fail "the station outlived SIGTERM"
kill -0 "$simulator" 2>/dev/null && fail "the simulator outlived the station"
[ -e station-data/modems/modem1 ] && fail "the simulator left its links behind"
grep -q "the simulated modems are stopped" "$log" || fail "./run did not say the modems stopped"
echo "check-run: passed"
