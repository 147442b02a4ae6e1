#!/usr/bin/env bash
# Acknowledged edits against kill -9 on a busy machine.
#
# Builds the application in Release (build-bench/), runs it under a virtual X
# server with a temporary HOME and high ports beside BUSY busy loops (default
# 8), and RUNS times (default 10) lets EDITORS clients (default 8) edit at
# once (preset add/rename/remove, program and window renames, take settings,
# source group add/rename/remove), kills it with SIGKILL at a random moment
# and reads the state files it left (bench/kill9.py does the editing, the
# watching and the counting). Prints, per run and in total, the acknowledged
# values missing from their files that were acknowledged more than 100 ms
# before the kill, and the ack-to-file lag p50/p99: as written (the
# modification time of the file the value was found in) and as seen (each
# editor polls its files every 2 ms while it edits); both are upper bounds,
# and the seen one adds the editor's own wait for a CPU.
#
# Environment: RUNS, EDITORS, BUSY, JOBS (build jobs, default 4), APP_BIN (an
# application binary to measure instead of building build-bench's).
set -euo pipefail
cd "$(dirname "$0")/.."
WORK=$(mktemp -d)
export WORK
source bench/lib.sh
build_bench
APP_BIN=${APP_BIN:-$PWD/build-bench/bin/Panoptra_Pro}

BUSY_PIDS=()
stop_busy() {
  for pid in "${BUSY_PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
  cleanup
}
trap stop_busy EXIT

start_xvfb
for _ in $(seq "${BUSY:-8}"); do
  bash -c 'while :; do :; done' &
  BUSY_PIDS+=($!)
done

APP_BIN=$APP_BIN BENCH_HOME="$WORK/home" HTTP_PORT=$(free_port) WS_PORT=$(free_port) \
  RUNS=${RUNS:-10} EDITORS=${EDITORS:-8} python3 bench/kill9.py
echo "busy loops beside it: ${BUSY:-8}"
print_load
