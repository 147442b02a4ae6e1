#!/usr/bin/env bash
# Builds the H.264 encoder benchmark in Release (build-bench/) and runs it:
# latency in frames, CPU ms per frame and drops of the window encoder at
# 1920x1080 and 1280x720, 30 fps, beside gst-launch-1.0 with the same
# elements and properties, with load averages. Extra arguments go to the
# benchmark (see --help).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DPANOPTRA_TESTS=OFF >/dev/null
cmake --build build-bench --target panoptra_bench_encoder -j "${JOBS:-4}"
exec ./build-bench/bin/panoptra_bench_encoder "$@"
