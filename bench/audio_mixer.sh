#!/usr/bin/env bash
# Builds the audio mixer benchmark in Release (build-bench/) and runs it:
# the mixing round for 1, 3, 8 and 16 sources beside a plain summing loop,
# the idle CPU of an open mixer beside 100 us polling, and the local playback
# latency with the 122880-byte device buffer beside what the sound server
# reports. For the playback figure it starts a private PulseAudio with a
# null sink in its own runtime folder and stops it again. Extra arguments go
# to the benchmark (see --help).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DPANOPTRA_TESTS=OFF >/dev/null
cmake --build build-bench --target panoptra_bench_audio -j "${JOBS:-4}"

runtime=$(mktemp -d)
sink=panoptra_bench
XDG_RUNTIME_DIR=$runtime pulseaudio --daemonize=no --exit-idle-time=-1 -n \
  -L "module-native-protocol-unix auth-anonymous=1" \
  -L "module-null-sink sink_name=$sink rate=48000 channels=2" >/dev/null 2>&1 &
pulse=$!
cleanup() { kill "$pulse" 2>/dev/null || true; wait "$pulse" 2>/dev/null || true; rm -rf "$runtime"; }
trap cleanup EXIT
export XDG_RUNTIME_DIR=$runtime PULSE_SERVER=unix:$runtime/pulse/native
for _ in $(seq 50); do
  pactl list short sinks 2>/dev/null | grep -q "$sink" && break
  sleep 0.1
done
./build-bench/bin/panoptra_bench_audio --sink "$sink" "$@"
