#!/usr/bin/env bash
# How login guesses spread over many addresses affect everybody else.
#
# Builds the application in Release (build-bench/), starts it on loopback
# with high ports (a temporary HOME, a virtual X server) and measures the
# latency of a cheap route ("/api/v2/config/nav/nav", one keep-alive
# connection, a request every 10 ms): first alone, then while GUESSERS
# clients guess passwords at once, each from its own loopback address
# (127.0.0.0/8 is all local), moving to a fresh address every five guesses
# so that the per-address throttle never stops them. Prints p50, p99 and the
# worst latency of the cheap route in both runs, and how the guesses were
# answered (hashed and refused, refused at once).
#
# Environment: DURATION (seconds per run, default 10), GUESSERS (default
# 32), JOBS (build jobs, default 4), APP_BIN (an executable to measure
# instead of building one).
set -euo pipefail
cd "$(dirname "$0")/.."
DURATION=${DURATION:-10}
GUESSERS=${GUESSERS:-32}

WORK=$(mktemp -d)
source bench/lib.sh
build_bench
HTTP_PORT=$(free_port) WS_PORT=$(free_port)
start_xvfb
start_app

python3 - "$HTTP_PORT" "$DURATION" "$GUESSERS" <<'PY'
import json, socket, ssl, sys, threading, time
sys.path.insert(0, "bench")
from figures import percentile

port, duration, guessers = int(sys.argv[1]), float(sys.argv[2]), int(sys.argv[3])
context = ssl.create_default_context()
context.check_hostname = False
context.verify_mode = ssl.CERT_NONE

def connect(source="127.0.0.1"):
    raw = socket.create_connection(("127.0.0.1", port), timeout=30, source_address=(source, 0))
    return context.wrap_socket(raw)

def ask(conn, target, body=b""):
    conn.sendall(b"POST " + target + b" HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: "
                 + str(len(body)).encode() + b"\r\n\r\n" + body)
    data = b""
    while b"\r\n\r\n" not in data:
        data += conn.recv(65536)
    head, _, rest = data.partition(b"\r\n\r\n")
    length = int([l.split(b":")[1] for l in head.split(b"\r\n") if l.lower().startswith(b"content-length")][0])
    while len(rest) < length:
        rest += conn.recv(65536)
    return rest

def probe(stop, samples):
    conn = connect()
    while not stop.is_set():
        start = time.monotonic()
        ask(conn, b"/api/v2/config/nav/nav")
        samples.append(time.monotonic() - start)
        time.sleep(0.01)

def guess(index, stop, counts, lock):
    n = 0
    while not stop.is_set():
        # A fresh address every five guesses: 127.1.x.y, away from the probe's.
        address = "127.%d.%d.%d" % (1 + index, (n // 5) // 250 % 250, 1 + (n // 5) % 250)
        try:
            conn = connect(address)
            for _ in range(5):
                if stop.is_set():
                    break
                start = time.monotonic()
                reply = ask(conn, b"/api/v2/users/login.json", b'{"username":"admin","password":"guess%d"}' % n)
                n += 1
                with lock:
                    counts["answers"] += 1
                    counts["seconds"] += time.monotonic() - start
                    if not reply.startswith(b"{"):
                        # Counted and shown, not fatal: the other guessers go on.
                        counts["not json"] += 1
                        counts.setdefault("first", reply[:200])
            conn.close()
        except OSError:
            with lock:
                counts["errors"] += 1

def run(with_guessers):
    stop = threading.Event()
    samples, counts, lock = [], {"answers": 0, "seconds": 0.0, "errors": 0, "not json": 0}, threading.Lock()
    threads = [threading.Thread(target=probe, args=(stop, samples))]
    if with_guessers:
        threads += [threading.Thread(target=guess, args=(i, stop, counts, lock)) for i in range(guessers)]
    for t in threads:
        t.start()
    time.sleep(duration)
    stop.set()
    for t in threads:
        t.join()
    samples.sort()
    pick = lambda q: percentile(samples, q) * 1000
    label = "with %d guessers" % guessers if with_guessers else "alone"
    line = "%-18s %8d %9.1f %9.1f %9.1f" % (label, len(samples), pick(0.5), pick(0.99), samples[-1] * 1000)
    if with_guessers:
        mean = counts["seconds"] / max(1, counts["answers"]) * 1000
        line += "   %d login answers (%.1f/s, mean %.1f ms), %d connection errors" % (
            counts["answers"], counts["answers"] / duration, mean, counts["errors"])
        if counts["not json"]:
            line += ", %d replies not JSON (the first: %r)" % (counts["not json"], counts["first"])
    print(line, flush=True)

print("%-18s %8s %9s %9s %9s" % ("cheap route", "requests", "p50 ms", "p99 ms", "max ms"))
run(False)
run(True)
PY
print_load
