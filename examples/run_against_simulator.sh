#!/usr/bin/env bash
# Runs an example program against a simulated headset served by voq-sim:
#
#   run_against_simulator.sh VOQ_SIM EXAMPLE SECONDS
#
# Fails when the example fails or when its report lacks what a session must
# show (identity, montage, batches, impedances, information string).
set -euo pipefail
sim=$1 example=$2 seconds=$3
work=$(mktemp -d)
sim_pid=
cleanup() {
  if [ -n "$sim_pid" ]; then kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

"$sim" --impedance O1=40 >"$work/sim.out" 2>"$work/sim.err" &
sim_pid=$!
for _ in $(seq 1 100); do
  [ -s "$work/sim.out" ] && break
  sleep 0.05
done
port=$(head -n 1 "$work/sim.out")
if [ -z "$port" ]; then
  echo "voq-sim printed no device path" >&2
  cat "$work/sim.err" >&2
  exit 1
fi

status=0
"$example" "$port" "$seconds" >"$work/example.out" 2>&1 || status=$?
cat "$work/example.out"
if [ "$status" -ne 0 ]; then
  echo "example exited with $status" >&2
  exit 1
fi
expect() {
  if ! grep -Eq "$1" "$work/example.out"; then
    echo "missing from the report: $1" >&2
    exit 1
  fi
}
expect '^model .*, [0-9]+ sensors$'
expect '^firmware [0-9]'
expect '^montage: F3-A1/2-A2/2 C3-A1/2-A2/2 P3-A1/2-A2/2 Cz-A1/2-A2/2 O1-A1/2-A2/2$'
expect '^reference: A1/2\+A2/2$'
expect '^[0-9]+ batches, [0-9]+ values'
expect '^overflowed values: 0$'
expect ' O1=[34][0-9]\.[0-9]'
echo "ok"
