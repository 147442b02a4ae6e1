#!/usr/bin/env bash
# Installs what the project needs, builds the tests with AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs every test under a virtual X server
# with a PulseAudio null sink; then runs the tests that need no OpenGL again,
# built with ThreadSanitizer. Warnings fail the builds.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh build-test -DPANOPTRA_SANITIZE=ON -DPANOPTRA_WERROR=ON -DCMAKE_BUILD_TYPE=Debug
# The ThreadSanitizer tree: the tests of the layers that run threads of their
# own without OpenGL (tests/CMakeLists.txt names them), run after the others.
bash scripts/build.sh build-tsan -DPANOPTRA_TSAN=ON -DPANOPTRA_WERROR=ON -DCMAKE_BUILD_TYPE=Debug

# verify_asan_link_order=0: the software GL driver is preloaded (below) into
# every process the tests start, so it comes before the ASan runtime in the
# initial library list, and ASan would refuse to start. The order is harmless
# here: the driver defines none of the allocation functions ASan intercepts.
# intercept_tls_get_addr=0: libraries loaded late (the sound library by the
# audio plug-in, TLS and others by the media plug-ins) keep thread-local data
# in blocks the C library allocates per thread on first use. Tracking them,
# the sanitizer guesses each block's bounds: for a block that starts 16 bytes
# into a page it reads them from the 16 bytes before it, which on this C
# library are no header, and the leak check at exit then scans a garbage range
# and crashes ("Tracer caught signal 11"), now and then. Untracked, those
# blocks are no roots of the leak check: it can report more, never less.
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:verify_asan_link_order=0:intercept_tls_get_addr=0"
export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export QT_QPA_PLATFORM=xcb
# The sanitizers make every step several times slower: each wait in the tests
# allows this factor more than on a quiet plain build.
export PANOPTRA_TEST_TIME_SCALE=3
# One media registry for the whole run: every test gives the application a
# fresh HOME, where GStreamer would rescan all plug-ins on each start.
export GST_REGISTRY_1_0="$PWD/build-test/gst-registry-1.0.bin"
gst-inspect-1.0 >/dev/null 2>&1 || true

source scripts/pulse.sh
start_pulse
trap stop_pulse EXIT

# Mesa unloads its software GL driver when the last context goes; a buffer the
# driver keeps in a static then looks leaked, with a stack the sanitizer can no
# longer name (so no suppression matches). Keeping the driver loaded in every
# test process (the application and tools the tests start included) avoids it.
PRELOAD=""
DRI=/usr/lib/x86_64-linux-gnu/dri/swrast_dri.so
[ -f "$DRI" ] && PRELOAD=$DRI

# run_ctest <tree> [env assignments...] -- [ctest args...]
run_ctest() {
  local tree=$1; shift
  local vars=()
  while [ "$1" != -- ]; do vars+=("$1"); shift; done
  shift
  (cd "$tree" && xvfb-run -a -s "-screen 0 1920x1080x24" env "${vars[@]}" ctest --output-on-failure -j "$(nproc)" "$@")
}

run_ctest build-test ${PRELOAD:+LD_PRELOAD=$PRELOAD} -- "$@"

# halt_on_error: the first race fails its test. second_deadlock_stack: a
# lock-order report shows where both locks were taken.
# ignore_noninstrumented_modules: what the system libraries (Qt, GLib,
# GStreamer) do among themselves is theirs; our code is checked, with Qt's
# mutexes and posted calls made visible (tests/support/TsanQtLocks.cpp). The
# suppressions file takes third-party races only. The race detector slows
# every step more than the other sanitizers do.
run_ctest build-tsan \
  TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:ignore_noninstrumented_modules=1:suppressions=$PWD/tests/tsan.supp" \
  PANOPTRA_TEST_TIME_SCALE=6 -- "$@"
