#!/usr/bin/env bash
# The application with started programs, each with a 16-tile wall: cores
# used and frame rate of every window, for each program count in PROGRAMS
# (default "1 2"), each count in a fresh application.
#
# Builds the application in Release (build-bench/, or BUILD_DIR), publishes
# 16 live 1920x1080 30 fps test sources ("Wall 1".."Wall 16", another
# process), starts the application on loopback with high ports (a temporary
# HOME, a virtual X server, a private source registry) and per program, over
# the API: adds it (1920x1080, 30 fps), gives its user window a preset of the
# "sixteenWindows" template with the sixteen sources, puts "Wall 1" on the
# preview bus and "Wall 2" on the programme bus, switches the network output
# of its three windows (user window, preview and programme windows) on and
# starts the program. After SETTLE seconds it measures the process's CPU over
# SECONDS and, meanwhile, the frame rate each window's network output
# delivers (panoptra_grab --rate, other processes; the programs are named
# "Bench N" so that their outputs, "Bench N_Main" and the like, are not
# taken for test sources). Nobody watches the
# H.264 previews. The reference is the goal: 30 fps on every window, at
# most 2 cores per program; the ratio printed is cores / (2 x programs).
#
# Environment: PROGRAMS ("1 2"), SECONDS_MEASURED (30), SETTLE (15), JOBS (4),
# BUILD_DIR, LP_NUM_THREADS (passed on to the application when set).
set -euo pipefail
cd "$(dirname "$0")/.."
PROGRAM_COUNTS=${PROGRAMS:-1 2}
MEASURED=${SECONDS_MEASURED:-30}
SETTLE=${SETTLE:-15}
source bench/build_tree.sh
build_tree Panoptra_Pro panoptra_res panoptra_testsource panoptra_grab

one_run() {
  local programs=$1
  WORK=$(mktemp -d)
  source bench/lib.sh
  HTTP_PORT=$(free_port) WS_PORT=$(free_port)
  private_registry
  start_xvfb
  "./$BUILD_DIR/bin/panoptra_testsource" --count 16 --prefix Wall --width 1920 --height 1080 --fps 30 \
    >"$WORK/sources.out" 2>&1 &
  SOURCES_PID=$!
  start_app

  python3 - "$BASE" "$APP_HEADER" "$programs" <<'PY'
import http.client, json, ssl, sys, time, urllib.parse

base, header, programs = sys.argv[1], sys.argv[2], int(sys.argv[3])
host = urllib.parse.urlparse(base)
name, value = header.split(": ", 1)
c = http.client.HTTPSConnection(host.hostname, host.port, context=ssl._create_unverified_context(), timeout=120)

def post(path, body):
    c.request("POST", "/api/v2" + path, json.dumps(body), {name: value, "Content-Type": "application/json"})
    return json.loads(c.getresponse().read() or b"{}")

def ok(path, body):
    reply = post(path, body)
    if reply.get("result") != "ok":
        sys.exit("%s %s: %s" % (path, json.dumps(body), json.dumps(reply)))
    return reply

def wait_for(what, get):
    deadline = time.monotonic() + 60
    while time.monotonic() < deadline:
        found = get()
        if found:
            return found
        time.sleep(0.1)
    sys.exit("not made in time: " + what)

resolution = {"width": 1920, "height": 1080, "index": 2, "aspect": 1.7778}
for p in range(programs):
    before = {x["pro_id"] for x in post("/program/list.json", {}).get("data", [])}
    ok("/program/add.json", {"name": "Bench %d" % p, "resolution": resolution, "frameRate": 30})
    pro = wait_for("program", lambda: ({x["pro_id"] for x in post("/program/list.json", {}).get("data", [])} - before))
    pro = pro.pop()
    windows = lambda: [w for w in post("/window/list.json", {"pro_id": pro}).get("data", [])
                       if w.get("id") not in ("pvw", "pgm")]
    if not windows():
        ok("/window/add.json", {"pro_id": pro, "win_id": "", "name": "Bench %d user" % p, "resolution": resolution,
                                "frameRate": 30})
    win = wait_for("user window", windows)[0]["id"]
    presets = lambda: {x["layout_id"] for x in post("/layout/list.json", {"pro_id": pro}).get("data", [])}
    held = presets()
    ok("/layout/add.json", {"pro_id": pro, "layout_id": "", "name": "Bench sixteen %d" % p, "template_id": "10"})
    layout = wait_for("preset", lambda: presets() - held).pop()
    ok("/window/set_layout.json", {"pro_id": pro, "win_id": win, "layout_id": layout})
    for k in range(1, 17):
        ok("/window/set_source.json", {"from": {}, "to": {"pro_id": pro, "win_id": win, "type": "", "pos_id": k,
                                                          "stream_id": "Wall %d" % k}})
    for bus, source in (("pvw", "Wall 1"), ("pgm", "Wall 2")):
        ok("/window/set_source.json", {"from": {}, "to": {"pro_id": pro, "win_id": bus, "type": bus, "pos_id": 1,
                                                          "stream_id": source}})
    for w in (win, "pvw", "pgm"):
        ok("/window/set_output_type.json", {"pro_id": pro, "win_id": w, "select": "ndi"})
    ok("/program/set_status.json", {"pro_id": pro, "status": True})
PY
  sleep "$SETTLE"
  # The windows' network outputs: every source but the test sources, once
  # all three windows of every program send (for a minute at most).
  local outputs tries=0
  while :; do
    outputs=$("./$BUILD_DIR/bin/panoptra_grab" --list --timeout-ms 2000 |
      python3 -c 'import json,sys; print("\n".join(s["name"] for s in json.load(sys.stdin) if not s["name"].startswith("Wall ")))')
    [ "$(grep -c . <<<"$outputs")" -ge $((3 * programs)) ] && break
    tries=$((tries + 1))
    [ "$tries" -lt 30 ] || break
  done
  local before start end after i=0 grabs=()
  before=$(cpu_of "$APP_PID")
  start=$(date +%s.%N)
  while IFS= read -r output; do
    [ -n "$output" ] || continue
    "./$BUILD_DIR/bin/panoptra_grab" "$output" --rate --seconds "$MEASURED" --out "$WORK/grab$i" \
      >"$WORK/rate$i.json" 2>/dev/null &
    grabs+=($!)
    i=$((i + 1))
  done <<<"$outputs"
  sleep "$MEASURED"
  after=$(cpu_of "$APP_PID")
  end=$(date +%s.%N)
  [ "${#grabs[@]}" -eq 0 ] || wait "${grabs[@]}" 2>/dev/null || true
  local cores
  cores=$(awk -v a="$after" -v b="$before" -v s="$start" -v e="$end" 'BEGIN {printf "%.2f", (a - b) / (e - s)}')
  echo "programs $programs: application $cores cores (goal at most $((2 * programs)); ratio $(awk -v c="$cores" -v p="$programs" 'BEGIN {printf "%.2f", c / (2 * p)}')); windows' network output frame rates:"
  for ((k = 0; k < i; k++)); do
    python3 -c 'import json,sys; r = json.load(open(sys.argv[1])); print("  %-28s %5.1f fps" % (r["name"], r["fps"]))' \
      "$WORK/rate$k.json" 2>/dev/null || echo "  (output $k: no picture)"
  done
  print_load
  cleanup
  trap - EXIT
}

echo "LP_NUM_THREADS=${LP_NUM_THREADS:-default}; ${MEASURED}s measured after ${SETTLE}s"
for programs in $PROGRAM_COUNTS; do
  one_run "$programs"
done
