#!/usr/bin/env bash
# Starts the application of a build tree through its launcher, under a
# virtual X server of its own when there is no display, with four test
# sources published beside it for as long as it runs.
#
#   scripts/start.sh <build folder> [arguments for the application]
#
# Ctrl-C, SIGTERM or SIGHUP end with the application's orderly shutdown; the
# script then ends with the launcher's status (0 after an orderly shutdown)
# and stops what it started: the test sources, the virtual X server (only
# after the application, which draws on it until its last moment) and the
# sound server.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:?usage: scripts/start.sh <build folder> [arguments]}
shift

source scripts/pulse.sh

testsource_pid=""
xvfb_pid=""
xvfb_dir=""
launcher_pid=""

stop_display() {
  if [ -n "$xvfb_pid" ]; then
    kill "$xvfb_pid" 2>/dev/null || true
    local tries=0
    while kill -0 "$xvfb_pid" 2>/dev/null && [ $tries -lt 100 ]; do
      sleep 0.1
      tries=$((tries + 1))
    done
    xvfb_pid=""
  fi
  if [ -n "$xvfb_dir" ]; then
    rm -rf -- "$xvfb_dir"
    xvfb_dir=""
  fi
}

stop_all() {
  if [ -n "$launcher_pid" ] && kill -0 "$launcher_pid" 2>/dev/null; then
    kill -TERM "$launcher_pid" 2>/dev/null || true
    wait "$launcher_pid" 2>/dev/null || true
  fi
  if [ -n "$testsource_pid" ] && kill "$testsource_pid" 2>/dev/null; then
    wait "$testsource_pid" 2>/dev/null || true
  fi
  stop_display
  stop_pulse
}
trap stop_all EXIT

# Starts Xvfb on the first free display and points DISPLAY at it. It runs in
# a session of its own, so the terminal's Ctrl-C (sent to the whole
# foreground process group) does not end it under the application.
start_display() {
  xvfb_dir=$(mktemp -d)
  # A job of a script is no process-group leader, so setsid runs Xvfb in
  # place: $! is the server.
  setsid Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp \
    3>"$xvfb_dir/display" >/dev/null 2>"$xvfb_dir/log" &
  xvfb_pid=$!
  local tries=0
  while [ ! -s "$xvfb_dir/display" ]; do
    if [ $tries -ge 200 ] || ! kill -0 "$xvfb_pid" 2>/dev/null; then
      echo "start: the virtual X server did not start:" >&2
      cat "$xvfb_dir/log" >&2
      exit 1
    fi
    sleep 0.1
    tries=$((tries + 1))
  done
  export DISPLAY=":$(head -n 1 "$xvfb_dir/display")"
  echo "start: virtual display $DISPLAY"
}

start_pulse
if [ -z "${DISPLAY:-}" ]; then
  start_display
fi

# A few synthetic sources beside the application, so a new user sees live
# sources at once. Started after the sound server, so both programs share
# one runtime folder (and with it one source registry).
"$build/bin/panoptra_testsource" --count 4 >/dev/null &
testsource_pid=$!

# The launcher runs in the background so that a stop signal sent to this
# script alone can be passed on; Ctrl-C reaches it (and the application)
# from the terminal as well, which the application takes as one request.
forward() {
  if [ -n "$launcher_pid" ]; then kill -s "$1" "$launcher_pid" 2>/dev/null || true; fi
}
trap 'forward INT' INT
trap 'forward TERM' TERM
trap 'forward HUP' HUP
"$build/bin/launcher" "$@" &
launcher_pid=$!
while kill -0 "$launcher_pid" 2>/dev/null; do
  wait "$launcher_pid" || true
done
status=0
wait "$launcher_pid" || status=$?
launcher_pid=""
exit "$status"
