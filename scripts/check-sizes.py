#!/usr/bin/env python3
"""Lists the source files over the line limit and the functions over the
function limit (defaults 900 and 150) under the given folders (default src).
A function is counted from its signature to the closing brace in the first
column, the way this code is formatted. Exits 1 when anything is listed."""
import argparse
import pathlib
import re
import sys

parser = argparse.ArgumentParser(description=__doc__)
parser.add_argument("folders", nargs="*", default=["src"])
parser.add_argument("--file-lines", type=int, default=900)
parser.add_argument("--function-lines", type=int, default=150)
args = parser.parse_args()

found = []
for folder in args.folders:
    for path in sorted(pathlib.Path(folder).rglob("*")):
        if path.suffix not in (".cpp", ".h"):
            continue
        lines = path.read_text(errors="replace").split("\n")
        if len(lines) > args.file_lines:
            found.append(f"{path}: {len(lines)} lines")
        start = None
        for number, line in enumerate(lines):
            if line == "{" and number > 0:
                # The signature starts after the last line that ends a statement or a block.
                start = number - 1
                while start > 0 and not re.search(r"[;}]\s*$|^\s*$|^\s*//|^#", lines[start - 1]):
                    start -= 1
            elif line == "}" and start is not None:
                length = number - start + 1
                if length > args.function_lines:
                    found.append(f"{path}:{start + 1}: {length} lines: {lines[start].strip()[:80]}")
                start = None

print("\n".join(found) if found else "no file or function over the limits")
sys.exit(1 if found else 0)
