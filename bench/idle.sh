#!/usr/bin/env bash
# Idle CPU of the application: four test sources published beside it and one
# program, nobody connected. Builds the application in Release (build-bench/),
# starts it on loopback with high ports (a temporary HOME, a virtual X server,
# a private source registry), adds the program over the API, lets it settle
# and then reads the process's CPU time from /proc over DURATION seconds. The
# reference is the goal of half a percent of one core; the threads that used
# most are listed, and the load average is printed.
#
# Environment: DURATION (seconds measured, default 45), SETTLE (seconds
# before measuring, default 10), JOBS (build jobs, default 4), BUILD_DIR (a
# Release build to use instead of build-bench).
set -euo pipefail
cd "$(dirname "$0")/.."
DURATION=${DURATION:-45}
SETTLE=${SETTLE:-10}
GOAL=0.5

source bench/build_tree.sh
build_tree Panoptra_Pro panoptra_res panoptra_testsource

WORK=$(mktemp -d)
source bench/lib.sh
HTTP_PORT=$(free_port) WS_PORT=$(free_port)

private_registry
start_xvfb
"./$BUILD_DIR/bin/panoptra_testsource" --count 4 >"$WORK/sources.out" 2>&1 &
SOURCES_PID=$!
start_app
curl -ks -H "$APP_HEADER" -X POST "$BASE/api/v2/program/add.json" \
  -d '{"name":"Idle","resolution":{"width":1920,"height":1080,"index":2,"aspect":1.7778},"frameRate":30}' >/dev/null
sleep "$SETTLE"
found=$(curl -ks -H "$APP_HEADER" "$BASE/api/v2/source/list.json" | grep -o '"name":"Panoptra Test [0-9]*"' | sort -u | wc -l)
programs=$(curl -ks -H "$APP_HEADER" "$BASE/api/v2/program/list.json" | grep -o '"pro_id"' | wc -l)

# Wake-ups of a thread: the times it went to sleep (voluntary switches).
wakes_of() { sed -n 's/^voluntary_ctxt_switches:\s*//p' "$1/status"; }
declare -A THREAD_BEFORE WAKES_BEFORE
for t in /proc/$APP_PID/task/*; do THREAD_BEFORE[$t]=$(cpu_of "$t") WAKES_BEFORE[$t]=$(wakes_of "$t"); done
before=$(cpu_of "$APP_PID")
start=$(date +%s.%N)
sleep "$DURATION"
after=$(cpu_of "$APP_PID")
end=$(date +%s.%N)
pct=$(awk -v a="$after" -v b="$before" -v s="$start" -v e="$end" 'BEGIN {printf "%.2f", 100 * (a - b) / (e - s)}')

echo "idle: $found test sources listed, $programs program(s), ${DURATION}s measured after ${SETTLE}s"
echo "process CPU: $pct % of one core (goal under $GOAL %; ratio to the goal $(awk -v a="$pct" -v g="$GOAL" 'BEGIN {printf "%.2f", a / g}'))"
echo "threads that used most or woke (ms over the run, wake-ups per second):"
for t in /proc/$APP_PID/task/*; do
  now=$(cpu_of "$t" 2>/dev/null) || continue
  used=$(awk -v a="$now" -v b="${THREAD_BEFORE[$t]:-0}" 'BEGIN {printf "%d", 1000 * (a - b)}')
  woke=$(awk -v a="$(wakes_of "$t")" -v b="${WAKES_BEFORE[$t]:-0}" -v s="$DURATION" 'BEGIN {printf "%.1f", (a - b) / s}')
  if [ "$used" -gt 0 ] || [ "$woke" != 0.0 ]; then printf '%8d ms %6s/s  %s\n' "$used" "$woke" "$(cat "$t/comm")"; fi
done | sort -rn | head -10
print_load
