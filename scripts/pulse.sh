# Starts a private PulseAudio daemon with its null sink for headless runs,
# unless one already answers. Sourced by the run and test scripts.
start_pulse() {
  if ! command -v pulseaudio >/dev/null 2>&1; then return 0; fi
  if [ -z "${XDG_RUNTIME_DIR:-}" ] || [ ! -w "${XDG_RUNTIME_DIR}" ]; then
    XDG_RUNTIME_DIR=$(mktemp -d); export XDG_RUNTIME_DIR
  fi
  if pulseaudio --check 2>/dev/null; then PULSE_STARTED=0; return 0; fi
  pulseaudio -D --exit-idle-time=-1 --system=false >/dev/null 2>&1 || true
  PULSE_STARTED=1
}
stop_pulse() {
  if [ "${PULSE_STARTED:-0}" = 1 ]; then pulseaudio --kill >/dev/null 2>&1 || true; fi
}
