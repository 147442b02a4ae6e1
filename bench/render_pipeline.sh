#!/usr/bin/env bash
# Builds the window render-pipeline benchmark in Release (build-bench/) and
# runs it three times, alternating with a GStreamer reference that does the
# same job on the CPU: four still 1080p UYVY pictures composed into quadrants
# and converted back to UYVY, 300 frames, CPU by GNU time. Prints each run,
# the median ratio of CPU per output frame (our render side / GStreamer) and
# the load averages: the machine is shared, so judge runs made while it idles.
# Environment: SECONDS_MEASURED (60), WARMUP (10), SCENE (bench/render_tiles.qml,
# flat tiles; bench/render_sources.qml draws the four live sources instead).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DPANOPTRA_TESTS=OFF >/dev/null
cmake --build build-bench --target panoptra_bench_render panoptra_testsource -j "${JOBS:-4}" >/dev/null

SCENE=${SCENE:-$PWD/bench/render_tiles.qml}
MEASURED=${SECONDS_MEASURED:-60}
WARM=${WARMUP:-10}
export PANOPTRA_NDI_DIR=$(mktemp -d)
trap 'rm -rf "$PANOPTRA_NDI_DIR"' EXIT

gst_ms_per_frame() {
  local src=""
  local i
  for i in 0 1 2 3; do
    src+=" videotestsrc pattern=smpte num-buffers=1 ! video/x-raw,format=UYVY,width=1920,height=1080,framerate=30/1"
    src+=" ! imagefreeze num-buffers=300 ! mix.sink_$i"
  done
  local pads="sink_0::xpos=0 sink_0::ypos=0 sink_1::xpos=960 sink_1::ypos=0"
  pads+=" sink_2::xpos=0 sink_2::ypos=540 sink_3::xpos=960 sink_3::ypos=540"
  for i in 0 1 2 3; do pads+=" sink_$i::width=960 sink_$i::height=540"; done
  local out
  out=$(mktemp)
  # shellcheck disable=SC2086
  /usr/bin/time -o "$out" -f "%U %S" gst-launch-1.0 -q compositor name=mix $pads \
    ! video/x-raw,width=1920,height=1080 ! videoconvert ! video/x-raw,format=UYVY ! fakesink $src \
    >/dev/null 2>&1
  awk '{ printf "%.2f", ($1 + $2) * 1000 / 300 }' "$out"
  rm -f "$out"
}

# The software rasteriser's thread count (LP_NUM_THREADS) changes our CPU per
# frame a lot; say which one this run used.
echo "LP_NUM_THREADS=${LP_NUM_THREADS:-default (one per core)}"
ratios=()
for run in 1 2 3; do
  echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
  ours=$(xvfb-run -a -s "-screen 0 1920x1080x24" ./build-bench/bin/panoptra_bench_render \
    --scene "$SCENE" --warmup "$WARM" --seconds "$MEASURED" 2>/dev/null | tail -1)
  echo "run $run render pipeline: $ours"
  gst=$(gst_ms_per_frame)
  echo "run $run GStreamer: $gst ms CPU per frame"
  ours_ms=$(echo "$ours" | sed -n 's/.*"render_cpu_ms_per_frame":\([0-9.e+-]*\).*/\1/p')
  ratio=$(awk -v a="$ours_ms" -v b="$gst" 'BEGIN { printf "%.2f", a / b }')
  echo "run $run ratio (render side / GStreamer): $ratio"
  ratios+=("$ratio")
done
median=$(printf '%s\n' "${ratios[@]}" | sort -n | sed -n 2p)
echo "median ratio: $median (target at most 1.0, goal 0.5)"
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
