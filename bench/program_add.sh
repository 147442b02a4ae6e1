#!/usr/bin/env bash
# Answer times of other routes while programs and windows are being added.
#
# Builds the application in Release (build-bench/, or the executable named by
# APP_BIN), starts it on loopback with high ports (a temporary HOME, a virtual
# X server), and adds PROGRAMS programs one after another over the API, each
# followed by WINDOWS window adds, waiting until each is listed. Meanwhile a
# probe connection asks "/program/list.json" and "/window/list.json" in turn,
# one request at a time on one keep-alive connection; its answer times over
# the adds are printed (p50, p99, max) beside the goal of 100 ms at p99.
#
# Environment: PROGRAMS (default 9), WINDOWS (window adds per program,
# default 2), JOBS (build jobs, default 4), APP_BIN (an executable to measure
# instead of building one).
set -euo pipefail
cd "$(dirname "$0")/.."
PROGRAMS=${PROGRAMS:-9}
WINDOWS=${WINDOWS:-2}

WORK=$(mktemp -d)
source bench/lib.sh
build_bench
HTTP_PORT=$(free_port) WS_PORT=$(free_port)
start_xvfb
start_app

python3 - "$BASE" "$APP_HEADER" "$PROGRAMS" "$WINDOWS" <<'PY'
import http.client, json, ssl, sys, threading, time, urllib.parse
sys.path.insert(0, "bench")
from figures import percentile

base, header, programs, windows = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
host = urllib.parse.urlparse(base)
name, value = header.split(": ", 1)
context = ssl._create_unverified_context()

def connection():
    return http.client.HTTPSConnection(host.hostname, host.port, context=context, timeout=120)

def post(c, path, body):
    c.request("POST", "/api/v2" + path, json.dumps(body), {name: value, "Content-Type": "application/json"})
    return json.loads(c.getresponse().read() or b"{}")

stop = threading.Event()
times = []
first = {"pro_id": ""}

def probe():
    c = connection()
    turn = 0
    while not stop.is_set():
        path, body = ("/program/list.json", {}) if turn % 2 == 0 else ("/window/list.json", {"pro_id": first["pro_id"]})
        turn += 1
        start = time.monotonic()
        post(c, path, body)
        times.append(1000 * (time.monotonic() - start))

resolution = {"width": 1920, "height": 1080, "index": 2, "aspect": 1.7778}
adder = connection()
listed = lambda: {p["pro_id"] for p in post(adder, "/program/list.json", {}).get("data", [])}
window_names = lambda pro: {w["name"] for w in post(adder, "/window/list.json", {"pro_id": pro}).get("data", [])}

def wait_for(check):
    deadline = time.monotonic() + 120
    while not check():
        if time.monotonic() > deadline:
            sys.exit("an add was not made within 120 s")
        time.sleep(0.02)

thread = threading.Thread(target=probe)
started = time.monotonic()
thread.start()
for p in range(programs):
    before = listed()
    assert post(adder, "/program/add.json", {"name": "Bench %d" % p, "resolution": resolution, "frameRate": 30})["result"] == "ok"
    wait_for(lambda: len(listed() - before) == 1)
    pro = (listed() - before).pop()
    first["pro_id"] = first["pro_id"] or pro
    for w in range(windows):
        body = {"pro_id": pro, "win_id": "", "name": "W%d" % w, "resolution": resolution, "frameRate": 30}
        assert post(adder, "/window/add.json", body)["result"] == "ok"
        wait_for(lambda: "W%d" % w in window_names(pro))
stop.set()
thread.join()
elapsed = time.monotonic() - started
times.sort()
pick = lambda q: percentile(times, q)
print("%d programs with %d window adds each in %.1f s; %d probe requests meanwhile" % (programs, windows, elapsed, len(times)))
print("probe answer time: p50 %.1f ms, p99 %.1f ms, max %.1f ms (goal: p99 under 100 ms)" % (pick(0.50), pick(0.99), times[-1]))
PY
print_load
