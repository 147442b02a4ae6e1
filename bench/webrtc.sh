#!/usr/bin/env bash
# Builds the WebRTC preview benchmark in Release (build-bench/) and runs it:
# SRTP cost per 1372-byte packet beside a bare srtp_protect + sendto loop,
# sendVideo time per 1080p30 frame for 1 to 250 sessions beside the frame
# budget, NAL units dropped while offers are made 10 times a second, and the
# glass-to-glass latency into Debian's chromium.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DPANOPTRA_TESTS=OFF >/dev/null
cmake --build build-bench --target panoptra_bench_webrtc -j "${JOBS:-4}"
ulimit -n 4096 2>/dev/null || true
exec ./build-bench/bin/panoptra_bench_webrtc "$@"
