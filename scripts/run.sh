#!/usr/bin/env bash
# Installs what the project needs, builds the application and starts it
# (under a virtual X server when there is no display).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh build -DPANOPTRA_TESTS=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo

source scripts/pulse.sh
start_pulse
trap stop_pulse EXIT

if [ -n "${DISPLAY:-}" ]; then
  build/bin/Panoptra_Pro "$@"
else
  xvfb-run -a -s "-screen 0 1920x1080x24" build/bin/Panoptra_Pro "$@"
fi
