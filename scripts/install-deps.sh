#!/usr/bin/env bash
# Installs every Debian package the application, its tests and its build need.
# This is the one list: the README commands and CI both call this script.
set -euo pipefail

PACKAGES=(
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
  # display and sound for headless runs
  xvfb xauth libgl1-mesa-dri pulseaudio
  # parec and pactl: the playback test reads what a private sound server played
  pulseaudio-utils
  # the user-interface font staged into res/ at build time
  fonts-droid-fallback
  # tests
  googletest libgtest-dev curl procps
  # reading the desktop window's QR code and clicking it in its tests
  zbar-tools xdotool
  # the WebRTC preview's real-browser test (driven by playwright-core, tests/package.json)
  chromium
  # the WebRTC transport's fuzz target (scripts/fuzz.sh)
  clang libclang-rt-14-dev
)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

# Node.js may come from elsewhere with its own npm; Debian's npm only where none is.
command -v npm >/dev/null 2>&1 || missing+=(nodejs npm)

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all ${#PACKAGES[@]} packages present"
  bash "$(dirname "$0")/npm-deps.sh"
  exit 0
fi

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
bash "$(dirname "$0")/npm-deps.sh"
