#!/usr/bin/env bash
# Builds the window render-pipeline benchmark in Release (build-bench/, or
# BUILD_DIR) and runs it side by side with a GStreamer reference doing the
# same job on the CPU, interleaved (ours, GStreamer, ours, ...), three runs
# per case, for every tile count in TILES and window count in WINDOWS.
#
# Ours: panoptra_bench_render, each window 1920x1080 at 30 fps showing the
# tiles in a square grid, network output on (UYVY 1920x1080) and one viewer
# of its H.264 stream (conversion to 1280x720 and the encoder on).
# GStreamer: per window one gst-launch-1.0 with the same tile rectangles:
# N pictures -> compositor -> UYVY 1920x1080, teed into a 1280x720 x264enc
# branch (2000 kbit/s, key frame every 2 s, zero latency), 300 frames.
# Prints each run, the median ratio of CPU per output frame (ours / GStreamer)
# and the load averages: the machine is shared, so judge runs made while it idles.
#
# Environment: TILES ("4 9 16"), WINDOWS ("1 2 4"), SECONDS_MEASURED (30),
# WARMUP (8), SCENE (bench/render_sources.qml: live test sources, one per
# tile; bench/render_tiles.qml draws four flat tiles that change every frame,
# bench/render_still.qml four that never change, so the window is drawn once
# and then sends that picture again; bench/render_one_source.qml shows the
# first source on all four tiles of a 2 x 2 grid), BUILD_DIR,
# VIEWER (1; 0 measures the window nobody watches, without H.264 work).
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/build_tree.sh
build_tree panoptra_bench_render panoptra_testsource

SCENE=${SCENE:-$PWD/bench/render_sources.qml}
MEASURED=${SECONDS_MEASURED:-30}
WARM=${WARMUP:-8}
TILES=${TILES:-4 9 16}
WINDOWS=${WINDOWS:-1 2 4}
VIEWER=${VIEWER:-1}
FRAMES=300
export PANOPTRA_NDI_DIR=$(mktemp -d)
trap 'rm -rf "$PANOPTRA_NDI_DIR"' EXIT

load() { cut -d' ' -f1-3 /proc/loadavg; }

# CPU milliseconds per output frame of one window's GStreamer pipeline with
# $1 tiles, run $2 at once (one pipeline per window); prints the mean.
gst_ms_per_frame() {
  local tiles=$1 windows=$2 columns=1 i w outs=()
  while [ $((columns * columns)) -lt "$tiles" ]; do columns=$((columns + 1)); done
  local tw=$((1920 / columns)) th=$((1080 / columns))
  local src="" pads=""
  for ((i = 0; i < tiles; i++)); do
    src+=" videotestsrc pattern=ball num-buffers=1 ! video/x-raw,format=UYVY,width=1920,height=1080,framerate=30/1"
    src+=" ! imagefreeze num-buffers=$FRAMES ! mix.sink_$i"
    pads+=" sink_$i::xpos=$(((i % columns) * tw)) sink_$i::ypos=$((i / columns * th))"
    pads+=" sink_$i::width=$tw sink_$i::height=$th"
  done
  for ((w = 0; w < windows; w++)); do
    outs+=("$(mktemp)")
    # shellcheck disable=SC2086
    /usr/bin/time -o "${outs[$w]}" -f "%U %S" gst-launch-1.0 -q compositor name=mix $pads \
      ! video/x-raw,width=1920,height=1080 ! videoconvert ! video/x-raw,format=UYVY ! tee name=t \
      t. ! queue ! fakesink \
      t. ! queue ! videoscale ! video/x-raw,width=1280,height=720 ! videoconvert \
      ! x264enc tune=zerolatency speed-preset=ultrafast bitrate=2000 key-int-max=60 ! fakesink $src \
      >/dev/null 2>&1 &
  done
  wait
  cat "${outs[@]}" | awk -v n="$windows" -v f="$FRAMES" '{ s += $1 + $2 } END { printf "%.2f", s * 1000 / f / n }'
  rm -f "${outs[@]}"
}

# The software rasteriser's thread count (LP_NUM_THREADS) changes our CPU per
# frame a lot; say which one this run used.
echo "LP_NUM_THREADS=${LP_NUM_THREADS:-default (one per core)}; viewer of the H.264 stream: $VIEWER"
echo "tiles windows | ours ms/frame (render side, process) fps/window drawn/s dropped% | GStreamer ms/frame | ratio | load"
for tiles in $TILES; do
  for windows in $WINDOWS; do
    ratios=()
    for run in 1 2 3; do
      args=(--scene "$SCENE" --warmup "$WARM" --seconds "$MEASURED" --sources "$tiles" --windows "$windows")
      [ "$VIEWER" = 1 ] || args+=(--no-viewer)
      before=$(load)
      ours=$(xvfb-run -a -s "-screen 0 1920x1080x24" "./$BUILD_DIR/bin/panoptra_bench_render" "${args[@]}" \
        2>/dev/null | tail -1)
      gst=$(gst_ms_per_frame "$tiles" "$windows")
      field() { echo "$ours" | sed -n "s/.*\"$1\":\([0-9.e+-]*\).*/\1/p"; }
      render_ms=$(field render_cpu_ms_per_frame)
      process_ms=$(field process_cpu_ms_per_frame)
      ratio=$(awk -v a="$process_ms" -v b="$gst" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "nan" }')
      printf '%5s %7s | %6.1f %6.1f %5.1f %5.1f %5.1f | %6s | %5s | %s -> %s\n' "$tiles" "$windows" \
        "${render_ms:-0}" "${process_ms:-0}" "$(field fps_per_window)" "$(field drawn_per_s_per_window)" \
        "$(field dropped_pct)" "$gst" "$ratio" \
        "$before" "$(load)"
      ratios+=("$ratio")
    done
    echo "tiles $tiles, windows $windows: median ratio (process / GStreamer) $(printf '%s\n' "${ratios[@]}" | sort -n | sed -n 2p) (target at most 1.0)"
  done
done
