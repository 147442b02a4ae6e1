#!/usr/bin/env python3
"""Acknowledged edits against kill -9: the driver behind bench/kill9.sh.

Starts the application (APP_BIN, HOME in BENCH_HOME, ports HTTP_PORT and
WS_PORT), makes one program per editor, then RUNS times: starts the
application (again), lets EDITORS processes edit their own program and
source groups for a few seconds, kills the application with SIGKILL at a
random moment and reads the state files it left. Each editor watches its
files while it edits and notes when an acknowledged value shows there.

Prints per run and in total: acknowledged values missing from their files
after the kill that were acknowledged more than 100 ms before it (and all
missing ones), and the ack-to-file lag p50/p99/max twice: "written", from
the modification time of the first file the watcher found the value in (the
application's own delay; file times follow the kernel's tick, a few ms), and
"seen", when the watcher found it (which adds the watcher's own wait for a
CPU on a busy machine). KILL9_DEBUG=1 also prints each editor's first failed
request and the application's output.
"""
import http.client
import json
import multiprocessing as mp
import os
import random
import signal
import socket
import ssl
import struct
import subprocess
import sys
import time

from figures import percentile

BIN = os.environ["APP_BIN"]
HOME = os.environ["BENCH_HOME"]
HTTP_PORT = int(os.environ["HTTP_PORT"])
RUNS = int(os.environ.get("RUNS", "10"))
EDITORS = int(os.environ.get("EDITORS", "8"))
GENERAL = HOME + "/AppData/Local/Panoptra_Pro/general"
GRACE = 0.100  # acknowledged this long before the kill: must be in its file

CONTEXT = ssl.create_default_context()
CONTEXT.check_hostname = False
CONTEXT.verify_mode = ssl.CERT_NONE


class Api:
    def __init__(self, header=None):
        self.conn = http.client.HTTPSConnection("127.0.0.1", HTTP_PORT, context=CONTEXT, timeout=30)
        self.header = header

    def post(self, path, body):
        headers = {"Content-Type": "application/json"}
        if self.header:
            headers["app"] = self.header
        try:
            self.conn.request("POST", "/api/v2" + path, json.dumps(body), headers)
            return json.loads(self.conn.getresponse().read() or b"{}")
        except (OSError, http.client.HTTPException, ValueError):
            self.conn.close()  # the next request connects again
            raise

    def ok(self, path, body):
        return self.post(path, body).get("result") == "ok"

    def named(self, path, pro_id, key):
        return {e.get("name"): e.get(key) for e in self.post(path, {"pro_id": pro_id}).get("data", [])}


def start_app():
    env = dict(os.environ, HOME=HOME, DBUS_SESSION_BUS_ADDRESS="disabled:")
    out = open(os.path.join(os.environ["WORK"], "app.out"), "ab")
    app = subprocess.Popen([BIN], env=env, stdout=out, stderr=out)
    deadline = time.monotonic() + 300
    while time.monotonic() < deadline:
        try:
            api = Api()
            reply = api.post("/users/login.json", {"username": "admin", "password": "vexmo"})
            token = reply["data"]["token"]
            header = json.dumps({"username": "admin", "token": token})
            # The WebSocket server starts once the programs' windows are open;
            # until then requests wait for the program map.
            socket.create_connection(("127.0.0.1", int(os.environ["WS_PORT"])), timeout=1).close()
            Api(header).post("/program/list.json", {})
            return app, header
        except (OSError, KeyError, ValueError, http.client.HTTPException):
            time.sleep(0.1)
    sys.exit("the application did not answer")


def load(path):
    """The file's JSON and its modification time (of the same file: a
    replacement after the open is not mixed in); (None, None) when absent."""
    try:
        with open(path, "rb") as f:
            written = os.fstat(f.fileno()).st_mtime_ns / 1e9
            return json.loads(f.read() or b"{}"), written
    except (OSError, ValueError):
        return None, None


# ---- What the files hold -------------------------------------------------------

class Disk:
    """One reading of the files an editor's items live in."""

    def __init__(self, pro_id):
        self.folder = "%s/programs/program_%s" % (GENERAL, pro_id)
        self.cache = {}

    def file(self, path):
        if path not in self.cache:
            self.cache[path] = load(path)
        return self.cache[path][0]

    def path(self, item):
        kind = item[0]
        if kind == "preset":
            return "%s/presets/preset_%s.json" % (self.folder, item[1])
        if kind == "window":
            return "%s/windows/window_%s.json" % (self.folder, item[1])
        return GENERAL + ("/sources.json" if kind == "group" else "/programs.json")

    def written(self, item):
        """The modification time of the file the item was read from."""
        path = self.path(item)
        self.file(path)
        return self.cache[path][1]

    def value(self, item):
        kind = item[0]
        f = self.file(self.path(item))
        if kind == "preset":
            return None if f is None else f.get("videos", {}).get("layout_name")
        if kind == "window":
            return None if f is None else f.get("data", {}).get("name")
        if kind in ("program", "take"):
            for record in (f or {}).get("data", []):
                if record.get("pro_id") == item[1]:
                    return record.get("name") if kind == "program" else [record.get("take_time"), record.get("take_select")]
            return None
        if kind == "group":
            for group in (f or {}).get("data", []):
                if group.get("disc_id") == item[1]:
                    return group.get("name")
            return None
        raise ValueError(kind)


def now():
    """An acknowledgement's time: monotonic, and the wall clock that file
    modification times are compared with."""
    return time.monotonic(), time.time()


def shows(value_now, values, index):
    """The file holds the value sent at index or one sent after it."""
    return any(value_now == v for v in values[index:])


# ---- One editor ------------------------------------------------------------------

def editor(number, header, pro_id, win_id, stop, results):
    import threading

    api = Api(header)
    sent = {}  # item -> values sent, in order
    acks = []  # (item, index into sent[item], ack time, ack wall-clock time)
    lags = []  # (written, seen) for each ack that showed
    lock = threading.Lock()
    done = threading.Event()

    def watch():
        checked = 0  # acks before this index are in `waiting` or have shown
        waiting = []
        while not done.is_set():
            with lock:
                waiting += acks[checked:]
                checked = len(acks)
                values = {k: list(v) for k, v in sent.items()}
            disk = Disk(pro_id)
            still = []
            for item, index, acked, wall in waiting:
                if shows(disk.value(item), values[item], index):
                    # Both upper bounds: it was written by then, and showed by now.
                    seen = time.monotonic() - acked
                    written = disk.written(item)
                    lags.append((min(seen, max(0.0, written - wall)) if written else seen, seen))
                else:
                    still.append((item, index, acked, wall))
            waiting = still
            time.sleep(0.002)

    watcher = threading.Thread(target=watch)
    watcher.start()

    def acknowledge(item, value, at):
        # An add: its id is known only once it was acknowledged.
        with lock:
            sent.setdefault(item, []).append(value)
            acks.append((item, len(sent[item]) - 1) + at)

    def edit(item, value, path, body):
        with lock:
            sent.setdefault(item, []).append(value)
            index = len(sent[item]) - 1
        try:
            ok = api.ok(path, body)
        except (OSError, http.client.HTTPException, ValueError):
            return False
        if ok:
            with lock:
                acks.append((item, index) + now())
        return ok

    presets, groups = [], []  # [(id, name)] alive, oldest first
    i = 0
    rng = random.Random(number)
    failures = 0
    while not stop.is_set():
        try:
            i += 1
            tag = "e%d-%d-%d" % (number, os.getpid(), i)
            kind = rng.randrange(8)
            if kind <= 1 or (kind <= 3 and len(presets) < 2):
                name = "P " + tag
                if api.ok("/layout/add.json", {"pro_id": pro_id, "name": name, "template_id": str(1 + i % 11)}):
                    at = now()
                    lid = api.named("/layout/list.json", pro_id, "layout_id").get(name)
                    if lid is not None:
                        acknowledge(("preset", lid), name, at)
                        presets.append([lid, name])
            elif kind == 2:
                name = "R " + tag
                if edit(("preset", presets[-1][0]), name, "/layout/rename.json",
                        {"pro_id": pro_id, "layout_id": presets[-1][0], "name": name}):
                    presets[-1][1] = name
            elif kind == 3:
                lid = presets.pop(0)[0]
                edit(("preset", lid), None, "/layout/remove.json", {"pro_id": pro_id, "layout_id": lid})
            elif kind == 4:
                edit(("program", pro_id), "Bench " + tag, "/program/rename.json", {"pro_id": pro_id, "name": "Bench " + tag})
            elif kind == 5:
                edit(("window", win_id), "W " + tag, "/window/set_param.json",
                     {"pro_id": pro_id, "win_id": win_id, "name": "W " + tag, "frameRate": 25,
                      "resolution": {"width": 1280, "height": 720, "index": 1, "aspect": 1.7778}})
            elif kind == 6:
                edit(("take", pro_id), [i % 50, 1 + i % 7], "/take/set_params.json",
                     {"pro_id": pro_id, "time": i % 50, "select": 1 + i % 7})
            else:
                body = {"disc_type": "Auto", "group": ["public"], "discovery_enable": False, "discovery_ip": ""}
                if len(groups) < 2 or i % 3 == 0:
                    name = "G " + tag
                    if api.ok("/source/add.json", dict(body, disc_name=name)):
                        at = now()
                        listed = api.post("/source/list.json", {}).get("data", [])
                        disc_id = next((g["disc_id"] for g in listed if g.get("disc_name") == name), None)
                        if disc_id is not None:
                            acknowledge(("group", disc_id), name, at)
                            groups.append([disc_id, name])
                elif i % 3 == 1:
                    name = "H " + tag
                    if edit(("group", groups[-1][0]), name, "/source/modify.json",
                            dict(body, disc_id=groups[-1][0], disc_name=name)):
                        groups[-1][1] = name
                else:
                    disc_id = groups.pop(0)[0]
                    edit(("group", disc_id), None, "/source/remove.json", {"disc_id": disc_id})
        except (OSError, http.client.HTTPException, ValueError) as e:
            if failures == 0 and os.environ.get("KILL9_DEBUG"):
                print("editor %d: %r" % (number, e), file=sys.stderr)
            # A refused or reset connection (the machine is busy, or the
            # application was killed under us): the edit was not acknowledged.
            failures += 1
            if not stop.is_set():
                time.sleep(0.02)
    done.set()
    watcher.join()
    with lock:
        results.put((number, pro_id, sent, acks, lags, failures))


def main():
    os.makedirs(GENERAL, exist_ok=True)
    with open(GENERAL + "/device.cfg", "wb") as f:
        f.write(struct.pack(">iii", HTTP_PORT, int(os.environ["WS_PORT"]), 0))
    app, header = start_app()
    api = Api(header)
    programs = {}
    for e in range(EDITORS):
        api.ok("/program/add.json", {"name": "Bench %d" % e, "frameRate": 25,
                                     "resolution": {"width": 1280, "height": 720, "index": 1, "aspect": 1.7778}})
    while True:
        listed = api.post("/program/list.json", {}).get("data", [])
        ids = [p["pro_id"] for p in listed]
        windows = {p: api.named("/window/list.json", p, "id") for p in ids}
        if len(ids) >= EDITORS and all(len(w) >= 1 for w in windows.values()):
            break
        time.sleep(0.2)
    programs = {p: next(iter(windows[p].values())) for p in ids[:EDITORS]}
    app.terminate()
    app.wait()

    total_lost, total_missing, total_acks, all_lags = 0, 0, 0, []
    for run in range(RUNS):
        app, header = start_app()
        stop = mp.Event()
        results = mp.Queue()
        workers = [mp.Process(target=editor, args=(n, header, p, w, stop, results))
                   for n, (p, w) in enumerate(programs.items())]
        for w in workers:
            w.start()
        time.sleep(3 + random.random() * 3)
        if app.poll() is not None:
            print("run %2d: the application ended by itself (status %d) before the kill" % (run + 1, app.returncode))
        killed = time.monotonic()
        app.send_signal(signal.SIGKILL)
        app.wait()
        stop.set()
        outcomes = [results.get(timeout=120) for _ in workers]
        for w in workers:
            w.join()

        lost = missing = acked = 0
        lags = []
        failed = sum(o[5] for o in outcomes)
        for number, pro_id, sent, acks, editor_lags, _ in outcomes:
            disk = Disk(pro_id)
            lags += editor_lags
            for item, index, at, _ in acks:
                if at > killed:
                    continue
                acked += 1
                if not shows(disk.value(item), sent[item], index):
                    missing += 1
                    if at < killed - GRACE:
                        lost += 1
                        print("  lost: editor %d %s = %r, acknowledged %.0f ms before the kill, file has %r"
                              % (number, item, sent[item][index], (killed - at) * 1000, disk.value(item)))
        print("run %2d: %5d acks (%d requests failed), lost (acked >100 ms before kill) %d, missing (any age) %d, "
              "ack-to-file lag %s, load %s"
              % (run + 1, acked, failed, lost, missing, lag_figures(lags),
                 " ".join(open("/proc/loadavg").read().split()[:3])), flush=True)
        if os.environ.get("KILL9_DEBUG"):
            with open(os.path.join(os.environ["WORK"], "app.out"), "rb") as f:
                sys.stderr.write(f.read()[-3000:].decode(errors="replace"))
        total_lost += lost
        total_missing += missing
        total_acks += acked
        all_lags += lags
    print("total over %d runs: %d acks, lost (acked >100 ms before kill) %d, missing (any age) %d, "
          "ack-to-file lag %s" % (RUNS, total_acks, total_lost, total_missing, lag_figures(all_lags)))


def lag_figures(lags):
    """p50/p99/max of the written and of the seen lags, in ms."""
    def figures(values):
        ms = lambda q: percentile(values, q) * 1000
        return "p50 %.1f ms p99 %.1f ms max %.1f ms" % (ms(0.5), ms(0.99), ms(1))
    return "written %s; seen %s" % (figures([w for w, _ in lags]), figures([s for _, s in lags]))

if __name__ == "__main__":
    main()
