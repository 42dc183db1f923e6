#!/usr/bin/env bash
# Smoke test of the benchmarks: each program builds and runs briefly.  The
# figures come from scripts/bench, not from here.
set -euo pipefail
ingest=$1
live=$2
"$ingest" --record-seconds=0.3 --benchmark_min_time=0.01
"$ingest" --record-seconds=0.3 --allocations --laps=1
"$live" stream --rate=600 --seconds=0.5 --warmup=0.3
"$live" drift --seconds=1.5 --drift=500
"$live" startup --repeats=1
