#!/usr/bin/env bash
# Builds the network-video stand-in benchmark in Release (build-bench/) and
# runs it: CPU time per received 1080p UYVY picture and the latency from a
# sender's send to the frame-synchroniser capture, for 1 and 8 sources at
# 30 fps. Extra arguments go to the benchmark (see --help).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DPANOPTRA_TESTS=OFF >/dev/null
cmake --build build-bench --target panoptra_bench_ndi -j "${JOBS:-4}"
exec ./build-bench/bin/panoptra_bench_ndi "$@"
