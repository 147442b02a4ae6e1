#!/usr/bin/env python3
"""Prints the graph of includes between the layer folders and fails when an
include points up (or sideways into a later folder) or the folders form a
cycle. The order below is the build's: each folder may include the ones
before it, never one after it. docs/layers.md draws it.

usage: scripts/layers.py [--files]   (--files lists the includes behind each arrow)
"""
import collections
import os
import re
import sys

# Bottom first. A folder's library links only folders listed before it.
ORDER = [
    ('base', 'src/base'),                  # globals, logger, JSON files, process setup, shutdown, translator
    ('audiomix', 'audiomix'),              # the mixing engine
    ('media', 'src/media'),                # frames, sinks and queues shared by sources, render and output
    ('ndi', 'src/ndi'),                    # the network-video stand-in (with include/NdiWrapper.h)
    ('transport', 'webrtc_transport'),     # sockets, STUN, DTLS, SRTP
    ('webrtc', 'src/webrtc'),              # the browser preview sessions
    ('sources', 'src/sources'),
    ('output', 'src/output'),
    ('render', 'src/render'),
    ('model', 'src/model'),
    ('http', 'src/http'),
    ('api', 'src/api'),
    ('server', 'src/server'),
    ('ui', 'src/ui'),
    ('app', 'src/app'),
    ('main', 'src/main.cpp'),
]
EXTRA = {'include': 'ndi'}                 # the stand-in's public interface
INCLUDE_ROOTS = ['src', '.', 'include', 'audiomix']

root = os.path.abspath(os.path.join(os.path.dirname(os.path.abspath(__file__)), '..'))
os.chdir(root)


def layer_of(path):
    for name, where in ORDER:
        if path == where or path.startswith(where + '/'):
            return name
    for where, name in EXTRA.items():
        if path.startswith(where + '/'):
            return name
    return None


rank = {name: i for i, (name, _) in enumerate(ORDER)}
files = []
for top in sorted({w.split('/')[0] for _, w in ORDER} | set(EXTRA)):
    if os.path.isfile(top):
        files.append(top)
        continue
    for dirpath, _, names in os.walk(top):
        files += [os.path.join(dirpath, n) for n in names if n.endswith(('.h', '.hpp', '.cpp'))]
files = sorted(f for f in files if layer_of(f))
known = set(files)

include = re.compile(r'^\s*#\s*include\s*"([^"]+)"', re.M)
edges = collections.defaultdict(list)      # (from, to) -> ["file:line -> target"]
unresolved = []
for f in files:
    text = open(f, encoding='utf-8', errors='replace').read()
    for m in include.finditer(text):
        name = m.group(1)
        line = text.count('\n', 0, m.start()) + 1
        candidates = [os.path.normpath(os.path.join(os.path.dirname(f), name))]
        candidates += [os.path.normpath(os.path.join(r, name)) for r in INCLUDE_ROOTS]
        target = next((c for c in candidates if c in known), None)
        if target is None:
            if any(os.path.exists(c) for c in candidates):
                continue                   # generated or outside the layers
            unresolved.append('%s:%d "%s"' % (f, line, name))
            continue
        a, b = layer_of(f), layer_of(target)
        if a != b:
            edges[(a, b)].append('%s:%d -> %s' % (f, line, target))

show_files = '--files' in sys.argv[1:]
wrong = []
print('Layer includes (bottom first; an arrow may only point to an earlier layer):')
for name, _ in ORDER:
    outs = sorted((b for (a, b) in edges if a == name), key=lambda b: rank[b])
    marks = []
    for b in outs:
        bad = rank[b] >= rank[name]
        marks.append(('!' if bad else '') + b)
        if bad:
            wrong.append((name, b))
    print('  %-10s -> %s' % (name, ', '.join(marks) if marks else '-'))
    if show_files:
        for b in outs:
            for e in edges[(name, b)]:
                print('               ' + e)

# A cycle is always also a wrong-way arrow under one order, but say so plainly.
graph = collections.defaultdict(set)
for a, b in edges:
    graph[a].add(b)
cycle = []
state = {}


def visit(node, path):
    state[node] = 1
    for nxt in sorted(graph[node]):
        if state.get(nxt) == 1:
            cycle.extend(path[path.index(nxt):] + [nxt] if nxt in path else [node, nxt])
            return True
        if state.get(nxt) is None and visit(nxt, path + [nxt]):
            return True
    state[node] = 2
    return False


for name, _ in ORDER:
    if state.get(name) is None and visit(name, [name]):
        break

status = 0
for a, b in wrong:
    status = 1
    print('error: %s includes %s, a layer above or beside it:' % (a, b), file=sys.stderr)
    for e in edges[(a, b)]:
        print('  ' + e, file=sys.stderr)
if cycle:
    status = 1
    print('error: the layers form a cycle: ' + ' -> '.join(cycle), file=sys.stderr)
for u in unresolved:
    print('note: include not found in the layer folders: ' + u, file=sys.stderr)
print('layers: ' + ('FAILED' if status else 'ok, no cycle and every arrow points down'))
sys.exit(status)
