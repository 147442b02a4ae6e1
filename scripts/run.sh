#!/usr/bin/env bash
# Installs what building and running the application needs, builds it and
# starts it (under a virtual X server when there is no display), with four
# test sources published beside it for as long as it runs. Ctrl-C stops it
# in order (see scripts/start.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh --run
bash scripts/build.sh build -DPANOPTRA_TESTS=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo
exec bash scripts/start.sh build "$@"
