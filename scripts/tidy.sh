#!/usr/bin/env bash
# Runs clang-tidy with the committed .clang-tidy over every project source of a
# built tree's compile_commands.json, in parallel, and fails on any finding.
# Usage: scripts/tidy.sh [build-dir]   (default build-test; build it first: the
# generated moc files must exist)
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build-test}
root=$PWD
if [ ! -f "$dir/compile_commands.json" ]; then
  echo "tidy: no $dir/compile_commands.json; build that tree first" >&2
  exit 2
fi
RUN=$(command -v run-clang-tidy || command -v run-clang-tidy-14 || true)
if [ -z "$RUN" ]; then
  echo "tidy: run-clang-tidy not found (bash scripts/install-deps.sh installs it)" >&2
  exit 2
fi

# Our folders only: generated files (moc, resources) and system headers stay out.
ours="^$root/(src|tests|webrtc_transport|audiomix|launcher|include|tools|fuzz)/"
log=$(mktemp)
trap 'rm -f "$log"' EXIT
start=$(date +%s)
# -Wno-error: the compiler's own warnings are the compiler's business (the
# build makes them errors with gcc); clang's differ and are not checked here.
status=0
# run-clang-tidy always asks for colours; the log is read without them.
"$RUN" -quiet -j "${JOBS:-$(nproc)}" -p "$dir" -header-filter="$ours" -extra-arg=-Wno-error "$ours" 2>&1 |
  sed 's/\x1b\[[0-9;]*m//g' >"$log" || status=$?
findings=$(grep -E '(warning|error): .*\[[a-z0-9.,-]+\]$' "$log" | sort -u || true)
if [ "$status" -ne 0 ] || [ -n "$findings" ]; then
  grep -vE '^(clang-tidy-[0-9]+ |[0-9]+ warnings? (and [0-9]+ errors? )?generated|Suppressed [0-9]+ warnings|Use -header-filter|Error while processing)' "$log" || true
  echo "tidy: $(printf '%s\n' "$findings" | grep -c . || true) findings (exit $status), $(($(date +%s) - start)) s"
  exit 1
fi
echo "tidy: clean, $(($(date +%s) - start)) s"
