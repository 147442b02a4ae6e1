#!/usr/bin/env bash
# Installs the Debian packages the project needs. This is the one list: the
# run and test scripts and CI all call this script.
#
#   install-deps.sh --run   what building and running the application needs
#                           (scripts/run.sh)
#   install-deps.sh         that and what the tests, benchmarks and fuzzing
#                           need, with the tests' Node packages (scripts/test.sh)
#
# Entries marked "test:" are needed by the tests only.
set -euo pipefail

mode=all
case "${1:-}" in
  --run) mode=run ;;
  "") ;;
  *) echo "usage: $0 [--run]" >&2; exit 2 ;;
esac

LIST=(
  # toolchain
  build-essential cmake ninja-build pkg-config git
  # Qt 5.15
  qtbase5-dev qttools5-dev qttools5-dev-tools libqt5sql5-sqlite qtdeclarative5-dev
  libqt5websockets5-dev qtmultimedia5-dev libqt5multimedia5-plugins
  qml-module-qtquick2 qml-module-qtquick-window2
  # media
  libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev gstreamer1.0-tools
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-bad
  gstreamer1.0-plugins-ugly gstreamer1.0-libav
  # crypto, transport, QR code, HTTP parsing
  libssl-dev libsrtp2-dev libqrencode-dev libhttp-parser-dev openssl
  # display and sound for headless runs (util-linux's setsid keeps the
  # virtual display out of the terminal's Ctrl-C)
  xvfb libgl1-mesa-dri pulseaudio util-linux
  # the user-interface font staged into res/ at build time
  fonts-droid-fallback
  # xvfb-run, with which the tests run, needs xauth
  test:xauth
  # parec and pactl: the playback test reads what a private sound server played
  test:pulseaudio-utils
  # tests and benchmarks
  test:googletest test:libgtest-dev test:curl test:procps
  # reading the desktop window's QR code and clicking it in its tests
  test:zbar-tools test:xdotool
  # the WebRTC preview's real-browser test (driven by playwright-core, tests/package.json)
  test:chromium
  # the WebRTC transport's fuzz target (scripts/fuzz.sh)
  test:clang test:libclang-rt-14-dev
  # the style checks: scripts/check-format.sh, and scripts/tidy.sh (run-clang-tidy)
  test:clang-format test:clang-tidy
  # xwd, for the screen-output test's grabs of a second X screen
  test:x11-apps
)

PACKAGES=()
for entry in "${LIST[@]}"; do
  case "$entry" in
    test:*) if [ "$mode" = all ]; then PACKAGES+=("${entry#test:}"); fi ;;
    *) PACKAGES+=("$entry") ;;
  esac
done

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

# Node.js may come from elsewhere with its own npm; Debian's npm only where none is.
if [ "$mode" = all ]; then
  command -v npm >/dev/null 2>&1 || missing+=(nodejs npm)
fi

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all ${#PACKAGES[@]} packages present"
else
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -q
  $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
if [ "$mode" = all ]; then
  bash "$(dirname "$0")/npm-deps.sh"
fi
