# Starts a private PulseAudio daemon with its null sink for headless runs,
# unless one already answers. Sourced by the run and test scripts, which call
# stop_pulse when they end: it stops the daemon it started and removes the
# runtime folder it made.
start_pulse() {
  if ! command -v pulseaudio >/dev/null 2>&1; then return 0; fi
  if [ -z "${XDG_RUNTIME_DIR:-}" ] || [ ! -w "${XDG_RUNTIME_DIR}" ]; then
    XDG_RUNTIME_DIR=$(mktemp -d); export XDG_RUNTIME_DIR
    PULSE_RUNTIME_MADE=$XDG_RUNTIME_DIR
  fi
  if pulseaudio --check 2>/dev/null; then PULSE_STARTED=0; return 0; fi
  pulseaudio -D --exit-idle-time=-1 --system=false >/dev/null 2>&1 || true
  PULSE_STARTED=1
}
stop_pulse() {
  if [ "${PULSE_STARTED:-0}" = 1 ]; then
    pulseaudio --kill >/dev/null 2>&1 || true
    # The daemon leaves its socket and pid file in the folder as it goes.
    local tries=0
    while pulseaudio --check 2>/dev/null && [ $tries -lt 100 ]; do
      sleep 0.1
      tries=$((tries + 1))
    done
    PULSE_STARTED=0
  fi
  if [ -n "${PULSE_RUNTIME_MADE:-}" ]; then
    rm -rf -- "$PULSE_RUNTIME_MADE"
    PULSE_RUNTIME_MADE=
  fi
}
