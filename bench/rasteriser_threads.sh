#!/usr/bin/env bash
# The software rasteriser's thread count against the number of windows: runs
# bench/render_pipeline.sh (ours beside its GStreamer reference, interleaved,
# three runs a case, load printed) once per LP_NUM_THREADS value in THREADS,
# with the tile counts in TILES and the window counts in WINDOWS. Every
# window's render thread has its own set of rasteriser threads, so the best
# count may fall as windows are added; compare ms per frame, frame rate and
# dropped ticks between the blocks.
#
# Environment: THREADS ("1 2 4 8"), TILES ("4"), WINDOWS ("1 2 4"), and what
# bench/render_pipeline.sh takes (SECONDS_MEASURED, WARMUP, BUILD_DIR, ...).
set -euo pipefail
cd "$(dirname "$0")/.."
for threads in ${THREADS:-1 2 4 8}; do
  echo "=== LP_NUM_THREADS=$threads"
  LP_NUM_THREADS=$threads TILES=${TILES:-4} WINDOWS=${WINDOWS:-1 2 4} bash bench/render_pipeline.sh
done
