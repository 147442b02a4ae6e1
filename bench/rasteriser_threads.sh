#!/usr/bin/env bash
# The software rasteriser's thread count against the number of windows: runs
# bench/render_pipeline.sh (ours beside its GStreamer reference, interleaved,
# three runs a case, load printed) once per LP_NUM_THREADS value in THREADS,
# with the tile counts in TILES and the window counts in WINDOWS; compare ms
# per frame, frame rate and dropped ticks between the blocks. The software
# driver of Debian 12 keeps one set of rasteriser threads per process (the
# threads "llvmpipe-0".."llvmpipe-N", however many windows render), and the
# windows' scenes take turns on it; so adding windows adds no threads, and
# the count trades each scene's parallelism against the cost of its threads
# meeting at the end of every scene.
#
# Environment: THREADS ("1 2 4 8"), TILES ("4"), WINDOWS ("1 2 4"), and what
# bench/render_pipeline.sh takes (SECONDS_MEASURED, WARMUP, BUILD_DIR, ...).
set -euo pipefail
cd "$(dirname "$0")/.."
for threads in ${THREADS:-1 2 4 8}; do
  echo "=== LP_NUM_THREADS=$threads"
  LP_NUM_THREADS=$threads TILES=${TILES:-4} WINDOWS=${WINDOWS:-1 2 4} bash bench/render_pipeline.sh
done
