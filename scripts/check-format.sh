#!/usr/bin/env bash
# Lists the C++ files that differ from the committed .clang-format and fails
# when there is one. Usage: scripts/check-format.sh [--fix]
#   --fix   rewrites those files in place instead (the one-off formatting
#           commit; list that commit in .git-blame-ignore-revs).
# The files are found afresh on each run: every tracked and every new,
# not ignored .cpp/.h/.c file under the source folders below.
set -euo pipefail
cd "$(dirname "$0")/.."

fix=0
case "${1:-}" in
  --fix) fix=1 ;;
  "") ;;
  *) echo "usage: $0 [--fix]" >&2; exit 2 ;;
esac

FOLDERS=(src tests webrtc_transport audiomix launcher include tools fuzz)
CLANG_FORMAT=${CLANG_FORMAT:-clang-format}

mapfile -t files < <(git ls-files --cached --others --exclude-standard -- "${FOLDERS[@]}" |
  grep -E '\.(cpp|cc|c|h|hpp)$' | while read -r f; do [ -f "$f" ] && echo "$f"; done)

if [ "$fix" = 1 ]; then
  printf '%s\0' "${files[@]}" | xargs -0 -r -n 20 -P "$(nproc)" "$CLANG_FORMAT" -i --style=file
  echo "check-format: formatted ${#files[@]} files"
  exit 0
fi

# Each file is formatted into a scratch file and compared; a file that differs
# is named on one short line of its own, which parallel batches write whole.
export CLANG_FORMAT
bad=$(printf '%s\0' "${files[@]}" | xargs -0 -r -n 20 -P "$(nproc)" sh -c '
  out=$(mktemp)
  for f do
    if "$CLANG_FORMAT" --style=file "$f" >"$out"; then
      cmp -s "$f" "$out" || echo "$f"
    else
      echo "FAILED $f"
    fi
  done
  rm -f "$out"' sh | sort)
if echo "$bad" | grep -q '^FAILED '; then
  echo "$bad" | sed -n 's/^FAILED /check-format: clang-format failed on /p' >&2
  exit 2
fi
if [ -n "$bad" ]; then
  echo "check-format: these files differ from .clang-format (fix with: bash scripts/check-format.sh --fix):"
  echo "$bad" | sed 's/^/  /'
  echo "check-format: $(echo "$bad" | wc -l) of ${#files[@]} files"
  exit 1
fi
echo "check-format: all ${#files[@]} files formatted"
