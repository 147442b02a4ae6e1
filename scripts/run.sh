#!/usr/bin/env bash
# Installs what the project needs, builds the application and starts it
# (under a virtual X server when there is no display), with four test sources
# published beside it for as long as it runs.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh build -DPANOPTRA_TESTS=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo

source scripts/pulse.sh
start_pulse

# A few synthetic sources beside the application, so a new user sees live
# sources at once. Started after the sound server, so both programs share
# one runtime folder (and with it one source registry).
build/bin/panoptra_testsource --count 4 >/dev/null &
testsource_pid=$!
stop_all() {
  if kill "$testsource_pid" 2>/dev/null; then wait "$testsource_pid" 2>/dev/null || true; fi
  stop_pulse
}
trap stop_all EXIT

if [ -n "${DISPLAY:-}" ]; then
  build/bin/launcher "$@"
else
  xvfb-run -a -s "-screen 0 1920x1080x24" build/bin/launcher "$@"
fi
