#!/usr/bin/env bash
# HTTPS throughput of the application next to nginx on the same machine.
#
# Builds the application in Release (build-bench/), starts it on loopback
# with high ports (a temporary HOME, a virtual X server), and loads it with
# wrk over TLS: requests/s, p50/p99 latency and the server's CPU time per
# request for three API routes on keep-alive connections, and the rate of new
# TLS connections with "Connection: close". In the same run nginx (one
# worker, the same certificate, files of the same size as our replies) is
# measured the same way, and our figures are printed as ratios to its.
#
# Environment: DURATION (seconds per run, default 10), CONNECTIONS (default
# 32), THREADS (wrk threads, default 2), JOBS (build jobs, default 4),
# LOG_LEVEL (the application's "settings.ini" level; unset keeps its
# default, which writes the debug lines of every request).
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
DURATION=${DURATION:-10}
CONNECTIONS=${CONNECTIONS:-32}
THREADS=${THREADS:-2}

# The load generator and the reference server. nginx's package would start
# the system service on port 80; a policy file forbids that while it installs.
need=()
command -v wrk >/dev/null || need+=(wrk)
[ -x /usr/sbin/nginx ] || need+=(nginx)
if [ ${#need[@]} -gt 0 ]; then
  policy=/usr/sbin/policy-rc.d
  made_policy=
  if [ ! -e $policy ]; then
    printf '#!/bin/sh\nexit 101\n' >$policy && chmod +x $policy && made_policy=1
  fi
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${need[@]}" >/dev/null
  [ -n "$made_policy" ] && rm -f $policy
fi

WORK=$(mktemp -d)
source bench/lib.sh
build_bench
HTTP_PORT=$(free_port) WS_PORT=$(free_port) NGINX_PORT=$(free_port)

div() { awk -v a="$1" -v b="$2" -v f="${3:-1}" 'BEGIN {printf "%.2f", (b > 0 ? a * f / b : 0)}'; }

# One wrk run; prints "rps p50 p99 cpu_us_per_request".
measure() { # url, pids...; extra wrk arguments in the array WRK_EXTRA
  local url=$1; shift
  local before after out requests rps p50 p99
  before=$(cpu_of "$@")
  out=$(wrk -t"$THREADS" -c"$CONNECTIONS" -d"${DURATION}s" --latency "${WRK_EXTRA[@]}" "$url")
  after=$(cpu_of "$@")
  requests=$(echo "$out" | awk '/requests in/ {print $1}')
  rps=$(echo "$out" | awk '/Requests\/sec/ {print $2}')
  p50=$(echo "$out" | awk '$1=="50%" {print $2}')
  p99=$(echo "$out" | awk '$1=="99%" {print $2}')
  if echo "$out" | grep -q "Non-2xx"; then
    echo "warning: non-2xx replies from $url" >&2
  fi
  echo "$rps $p50 $p99 $(div "$(awk -v a="$after" -v b="$before" 'BEGIN {print a - b}')" "$requests" 1000000)"
}

# --- the application -------------------------------------------------------
start_xvfb
start_app

# Every request carries the login header, the nginx ones too, so both read
# the same bytes.
ROUTES=(/api/v2/config/nav/nav /api/v2/program/list.json /api/v2/users/info.json)
declare -A OURS REF
WRK_EXTRA=(-H "$APP_HEADER")
for route in "${ROUTES[@]}"; do
  OURS[$route]=$(measure "$BASE$route" "$APP_PID")
done
WRK_EXTRA=(-H "$APP_HEADER" -H "Connection: close")
OURS[close]=$(measure "$BASE/api/v2/config/nav/nav" "$APP_PID")

# --- nginx: the same bytes as files -----------------------------------------
# The same identity as ours: the installation's own key pair once the
# application has made one, else the build's.
SAVE="$WORK/home/AppData/Local/Panoptra_Pro/general"
CERT=$ROOT/build-bench/tls/server.crt KEY=$ROOT/build-bench/tls/server.key
if [ -s "$SAVE/server.crt" ] && [ -s "$SAVE/server.key" ]; then
  CERT=$SAVE/server.crt KEY=$SAVE/server.key
fi
mkdir -p "$WORK/nginx/www" "$WORK/nginx/tmp"
chmod 755 "$WORK" "$WORK/nginx" "$WORK/nginx/www" # its worker drops to an unprivileged user
for route in "${ROUTES[@]}"; do
  size=$(curl -ks -H "$APP_HEADER" "$BASE$route" | wc -c)
  name=$(echo "$route" | tr '/' '_')
  head -c "$size" /dev/zero | tr '\0' 'x' >"$WORK/nginx/www/$name"
done
cat >"$WORK/nginx/nginx.conf" <<EOF
worker_processes 1;
daemon off;
pid $WORK/nginx/nginx.pid;
error_log $WORK/nginx/error.log;
events { worker_connections 4096; }
http {
  access_log $WORK/nginx/access.log;
  client_body_temp_path $WORK/nginx/tmp;
  proxy_temp_path $WORK/nginx/tmp;
  fastcgi_temp_path $WORK/nginx/tmp;
  uwsgi_temp_path $WORK/nginx/tmp;
  scgi_temp_path $WORK/nginx/tmp;
  default_type application/json;
  keepalive_requests 1000000;
  server {
    listen 127.0.0.1:$NGINX_PORT ssl;
    ssl_certificate $CERT;
    ssl_certificate_key $KEY;
    ssl_protocols TLSv1.2 TLSv1.3;
    root $WORK/nginx/www;
  }
}
EOF
/usr/sbin/nginx -c "$WORK/nginx/nginx.conf" -p "$WORK/nginx" &
NGINX_PID=$!
for _ in $(seq 100); do
  curl -ksf "https://127.0.0.1:$NGINX_PORT/_api_v2_config_nav_nav" >/dev/null && break
  sleep 0.1
done
NGINX_PIDS=$(pgrep -P "$NGINX_PID" | tr '\n' ' ')
WRK_EXTRA=(-H "$APP_HEADER")
for route in "${ROUTES[@]}"; do
  REF[$route]=$(measure "https://127.0.0.1:$NGINX_PORT/$(echo "$route" | tr '/' '_')" $NGINX_PID $NGINX_PIDS)
done
WRK_EXTRA=(-H "$APP_HEADER" -H "Connection: close")
REF[close]=$(measure "https://127.0.0.1:$NGINX_PORT/_api_v2_config_nav_nav" $NGINX_PID $NGINX_PIDS)

# --- report ------------------------------------------------------------------
echo "wrk: $THREADS threads, $CONNECTIONS connections, ${DURATION}s per run; nginx: one worker;" \
  "key: $(openssl x509 -noout -text -in "$CERT" | awk '/Public Key Algorithm/ {print $4; exit}')"
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-34s %12s %9s %9s %11s | %9s %9s %9s %9s\n' "route" "requests/s" "p50" "p99" "CPU us/req" \
  "nginx r/s" "ratio" "CPU ratio" "p99 nginx"
for key in "${ROUTES[@]}" close; do
  read -r rps p50 p99 cpu <<<"${OURS[$key]}"
  read -r nrps np50 np99 ncpu <<<"${REF[$key]}"
  label=$key
  [ "$key" = close ] && label="new TLS connections (close)"
  printf '%-34s %12s %9s %9s %11s | %9s %9s %9s %9s\n' "$label" "$rps" "$p50" "$p99" "$cpu" "$nrps" \
    "$(div "$rps" "$nrps")" "$(div "$cpu" "$ncpu")" "$np99"
done
echo "(ratio: our requests/s over nginx's; CPU ratio: our CPU time per request over nginx's)"
print_load
