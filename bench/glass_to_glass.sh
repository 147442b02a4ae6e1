#!/usr/bin/env bash
# Glass-to-glass latency from a source picture to a window's outputs, beside
# the GStreamer reference pipeline of bench/render_pipeline.sh fed with the
# same sources, interleaved (ours, reference, ours, ...), RUNS runs each, for
# every tile count in TILES.
#
# The test sources draw the time they send each picture into it as a block
# code (panoptra_testsource --stamp). Ours: panoptra_bench_render --stamp, one
# 1920x1080 30 fps window with the tiles in a square grid, all of them live
# (the load), network output on and one viewer of its H.264 stream; the
# first tile's code is read back from the window's network output (received
# with the stand-in, as another program would) and from its H.264 output
# (the encoder's units as the preview sessions get them, decoded with
# GStreamer's avdec_h264 on one thread). Reference: panoptra_bench_render
# --reference, the same sources received the same way, pushed into
# compositor -> UYVY 1920x1080 (read there) and its 1280x720 x264enc branch
# (decoded and read the same way). Each code counts once, at its first sight.
#
# Prints p50 and p90 in milliseconds and in frames (33.3 ms) per run, the
# medians and the ratio ours / reference, and the load averages: the machine
# is shared, so judge runs made while it idles.
#
# Environment: TILES ("4 16"), RUNS (3), SECONDS_MEASURED (20), WARMUP (8),
# BUILD_DIR (a Release build; default build-bench, made here).
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/build_tree.sh
build_tree panoptra_bench_render panoptra_testsource

TILES=${TILES:-4 16}
RUNS=${RUNS:-3}
MEASURED=${SECONDS_MEASURED:-20}
WARM=${WARMUP:-8}
export PANOPTRA_NDI_DIR=$(mktemp -d)
trap 'rm -rf "$PANOPTRA_NDI_DIR"' EXIT

load() { cut -d' ' -f1-3 /proc/loadavg; }
field() { echo "$1" | sed -n "s/.*\"$2\":\([0-9.e+-]*\).*/\1/p"; }
median() { printf '%s\n' "$@" | grep -v nan | sort -n | awk '{ v[NR] = $1 } END { print (NR ? v[int((NR + 1) / 2)] : "nan") }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (a != "nan" && b != "nan" && b > 0) printf "%.2f", a / b; else print "nan" }'; }

run() {
  xvfb-run -a -s "-screen 0 1920x1080x24" "./$BUILD_DIR/bin/panoptra_bench_render" \
    --scene "$PWD/bench/render_sources.qml" --warmup "$WARM" --seconds "$MEASURED" --sources "$1" "${@:2}" \
    2>/dev/null | tail -1
}

echo "glass-to-glass, first tile of a 1920x1080 30 fps window; ms (frames) p50 / p90; stamps = codes seen"
for tiles in $TILES; do
  declare -A all=()
  for ((r = 1; r <= RUNS; r++)); do
    for side in ours reference; do
      before=$(load)
      if [ "$side" = ours ]; then out=$(run "$tiles" --stamp); else out=$(run "$tiles" --reference); fi
      line=$(printf '%5s %-9s' "$tiles" "$side")
      for output in network h264; do
        p50=$(field "$out" "g2g_${output}_p50_ms") p90=$(field "$out" "g2g_${output}_p90_ms")
        # No code seen (no picture came through in time): no figure.
        [ "$(field "$out" "g2g_${output}_stamps")" != 0 ] || p50=nan p90=nan
        all[$side.$output.p50]+="${p50:-nan} " all[$side.$output.p90]+="${p90:-nan} "
        line+=$(printf ' | %-7s %5.0f (%4.1f) / %5.0f (%4.1f) ms, %4s stamps' "$output" "${p50:-0}" \
          "$(field "$out" "g2g_${output}_p50_frames")" "${p90:-0}" "$(field "$out" "g2g_${output}_p90_frames")" \
          "$(field "$out" "g2g_${output}_stamps")")
      done
      [ "$side" = ours ] && line+=$(printf ' | %4.1f fps' "$(field "$out" fps_per_window)")
      echo "$line | load $before -> $(load)"
    done
  done
  for output in network h264; do
    # shellcheck disable=SC2086
    o50=$(median ${all[ours.$output.p50]}) o90=$(median ${all[ours.$output.p90]})
    # shellcheck disable=SC2086
    r50=$(median ${all[reference.$output.p50]}) r90=$(median ${all[reference.$output.p90]})
    echo "tiles $tiles, $output output: median p50 / p90 ours $o50 / $o90 ms ($(awk -v a="$o90" 'BEGIN { printf "%.1f", a * 30 / 1000 }') frames at p90, goal at most 2)," \
      "reference $r50 / $r90 ms; ratio ours / reference p50 $(ratio "$o50" "$r50"), p90 $(ratio "$o90" "$r90")"
  done
  unset all
done
echo "load average (1, 5, 15 min) on $(nproc) cores at end: $(load)"
