#!/usr/bin/env bash
# Builds the WebRTC transport's libFuzzer target with clang (fuzzer, ASan,
# UBSan) and runs it from the seed corpus. Usage: scripts/fuzz.sh [runs]
# (default 10^7 executions). New inputs go to build-fuzz/corpus, never into
# the committed seeds.
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-10000000}
cmake -S fuzz -B build-fuzz -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build build-fuzz
mkdir -p build-fuzz/corpus
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
build-fuzz/transport_fuzzer -runs="$runs" -max_len=2048 -print_final_stats=1 \
  build-fuzz/corpus tests/data/fuzz/transport
