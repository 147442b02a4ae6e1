# Shared steps of the benchmarks: sourced by the scripts under bench/ after
# they have cd'ed to the repository root and made WORK (a temporary folder).

LOAD_START=$(cut -d' ' -f1-3 /proc/loadavg)

source bench/build_tree.sh

# Builds the application in the benchmarks' tree (build_tree); nothing when
# APP_BIN names an executable to measure.
build_bench() {
  [ -n "${APP_BIN:-}" ] && return
  build_tree Panoptra_Pro panoptra_res
}

# A port below the kernel's range for outgoing connections, free now: a port
# the kernel hands out could meanwhile become the source port of some
# connection (a benchmark's own clients make thousands), and the application
# could not listen on it.
free_port() {
  python3 - <<'PY'
import random, socket
low = int(open("/proc/sys/net/ipv4/ip_local_port_range").read().split()[0])
while True:
    port = random.randint(low - 12000, low - 1)
    with socket.socket() as s:
        try:
            s.bind(("0.0.0.0", port))
        except OSError:
            continue
    print(port)
    break
PY
}

# CPU time (seconds) used so far by the given processes or threads
# (/proc/<pid> or /proc/<pid>/task/<tid> paths, or bare pids).
cpu_of() {
  local total=0 ticks where
  for where in "$@"; do
    [[ $where == /* ]] || where=/proc/$where
    # utime and stime are fields 14 and 15, after the command in parentheses.
    ticks=$(sed 's/.*) //' "$where/stat" | awk '{print $12 + $13}')
    total=$((total + ticks))
  done
  awk -v t="$total" -v hz="$(getconf CLK_TCK)" 'BEGIN {printf "%.6f", t / hz}'
}

print_load() {
  echo "load average (1, 5, 15 min) on $(nproc) cores: at start $LOAD_START, at end $(cut -d' ' -f1-3 /proc/loadavg)"
}

# A registry of the network-video stand-in of this run's own, in WORK: the
# sources of other runs on this machine stay out of it.
private_registry() {
  export PANOPTRA_NDI_DIR="$WORK/ndi"
  mkdir -m 700 "$PANOPTRA_NDI_DIR"
}

# A virtual X server for the application; sets XVFB_PID and DISPLAY.
start_xvfb() {
  exec 3>"$WORK/display"
  Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
  XVFB_PID=$!
  for _ in $(seq 100); do [ -s "$WORK/display" ] && break; sleep 0.1; done
  export DISPLAY=":$(head -n1 "$WORK/display")"
}

# Starts build-bench's (or BUILD_DIR's) application, or the executable APP_BIN
# names, with a home in WORK on HTTP_PORT and WS_PORT, waits until it answers
# and logs in as the administrator; sets APP_PID, BASE and APP_HEADER.
# LOG_LEVEL, when set, goes into its "settings.ini".
start_app() {
  local general="$WORK/home/AppData/Local/Panoptra_Pro/general" token
  mkdir -p "$general"
  python3 -c "import struct,sys; sys.stdout.buffer.write(struct.pack('>iii', $HTTP_PORT, $WS_PORT, 0))" \
    >"$general/device.cfg"
  if [ -n "${LOG_LEVEL:-}" ]; then
    printf '[settings]\nlevel=%s\n' "$LOG_LEVEL" >"$general/settings.ini"
  fi
  HOME="$WORK/home" DBUS_SESSION_BUS_ADDRESS=disabled: "${APP_BIN:-./${BUILD_DIR:-build-bench}/bin/Panoptra_Pro}" >"$WORK/app.out" 2>&1 &
  APP_PID=$!
  BASE="https://127.0.0.1:$HTTP_PORT"
  for _ in $(seq 300); do
    curl -ksf "$BASE/api/v2/config/nav/nav" >/dev/null && break
    sleep 0.1
  done
  token=$(curl -ks -X POST -d '{"username":"admin","password":"vexmo"}' "$BASE/api/v2/users/login.json" |
    python3 -c 'import json,sys; print(json.load(sys.stdin)["data"]["token"])')
  APP_HEADER="app: {\"username\":\"admin\",\"token\":\"$token\"}"
}

# Stops whatever the benchmark started (by the pids it recorded) and removes WORK.
APP_PID= XVFB_PID= NGINX_PID= SOURCES_PID=
cleanup() {
  [ -n "$APP_PID" ] && kill -TERM "$APP_PID" 2>/dev/null && wait "$APP_PID" 2>/dev/null || true
  [ -n "$SOURCES_PID" ] && kill -TERM "$SOURCES_PID" 2>/dev/null && wait "$SOURCES_PID" 2>/dev/null || true
  [ -n "$NGINX_PID" ] && kill -QUIT "$NGINX_PID" 2>/dev/null && wait "$NGINX_PID" 2>/dev/null || true
  [ -n "$XVFB_PID" ] && kill "$XVFB_PID" 2>/dev/null || true
  sleep 0.2
  rm -rf "$WORK"
}
trap cleanup EXIT
