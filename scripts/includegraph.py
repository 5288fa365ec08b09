#!/usr/bin/env python3
"""The include graph of core/, one node per subsystem, and the edges that
point up.

    scripts/includegraph.py [--dot] [--root DIR]

Prints the subsystems from the highest (the window) down to utilities, each
with the subsystems it includes; an arrow to a subsystem of the same height
is marked "=". An include that reaches a higher subsystem is listed below the
graph with the file that makes it, and the exit code is then 1. --dot prints
the same graph as Graphviz text instead (upward edges in red). --root names
the folder that holds core/ (default: this checkout), so an older tree can be
drawn from `git archive`.

Python 3 standard library only.
"""

import argparse
import re
import sys
from collections import defaultdict
from pathlib import Path

# Low to high. A file belongs to the subsystem of the longest prefix of its
# path under core/ that is listed; subsystems on one line are of one height.
# services/ holds services of three heights: most are used by everything and
# sit just above utilities; the communication log hears the bus and is told
# by the devices; the HTTP API drives the device manager from outside.
LAYERS = [
    [("utils", "utils/")],
    [("services", "services/")],
    [("dongles", "dongles/")],
    [("models", "models/")],
    [("i2c", "i2c/")],
    [("commslog", "services/commslog")],
    # The chip family implements the device base; the factory makes it.
    [("devices", "devices/"), ("bvr60600", "bvr60600/")],
    [("apisvc", "services/apisvc")],
    [("view", "view/")],
]

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.MULTILINE)


def subsystem(relative):
    """(name, height) of a path under core/, or None outside the layers."""
    best = None
    for height, layer in enumerate(LAYERS):
        for name, prefix in layer:
            if relative.startswith(prefix) and (best is None or len(prefix) > len(best[2])):
                best = (name, height, prefix)
    return best[:2] if best else None


def scan(core):
    """Every include between files of core/, as (from, to) relative paths."""
    edges = []
    for source in sorted(core.rglob("*")):
        if source.suffix not in (".h", ".cpp") or not source.is_file():
            continue
        relative = source.relative_to(core).as_posix()
        for included in INCLUDE.findall(source.read_text(errors="replace")):
            # "x.h" next to the file, or "folder/x.h" from core/.
            for candidate in (source.parent / included, core / included):
                if candidate.is_file():
                    edges.append((relative, candidate.resolve().relative_to(core.resolve()).as_posix()))
                    break
    return edges


def graph(edges):
    heights = {}
    arrows = defaultdict(set)
    upward = []
    for source, target in edges:
        a, b = subsystem(source), subsystem(target)
        if not a or not b:
            continue
        heights[a[0]] = a[1]
        heights[b[0]] = b[1]
        if a[0] == b[0]:
            continue
        arrows[a[0]].add(b[0])
        if b[1] > a[1]:
            upward.append((a[0], b[0], source, target))
    return heights, arrows, upward


def order(heights):
    return sorted(heights, key=lambda name: (-heights[name], name))


def text(heights, arrows, upward):
    lines = []
    for name in order(heights):
        targets = sorted(arrows[name], key=lambda t: (-heights[t], t))
        marked = [t + ("=" if heights[t] == heights[name] else "") for t in targets]
        lines.append(f"{name:9} -> {', '.join(marked)}" if marked else name)
    lines.append("")
    if upward:
        lines.append("upward:")
        for a, b, source, target in sorted(upward):
            lines.append(f"  {a} -> {b}: {source} includes {target}")
    else:
        lines.append("upward: none")
    return "\n".join(lines)


def dot(heights, arrows, upward):
    up = {(a, b) for a, b, _, _ in upward}
    lines = ["digraph core {", "  rankdir=TB;", "  node [shape=box];"]
    for height in sorted(set(heights.values()), reverse=True):
        names = " ".join(f'"{n}";' for n in order(heights) if heights[n] == height)
        lines.append(f"  {{ rank=same; {names} }}")
    for name in order(heights):
        for target in sorted(arrows[name]):
            style = " [color=red]" if (name, target) in up else ""
            lines.append(f'  "{name}" -> "{target}"{style};')
    lines.append("}")
    return "\n".join(lines)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--dot", action="store_true", help="print Graphviz text")
    parser.add_argument("--root", default=Path(__file__).resolve().parent.parent, type=Path,
                        help="the folder that holds core/")
    args = parser.parse_args()
    core = args.root / "core"
    if not core.is_dir():
        sys.exit(f"includegraph: no core/ in {args.root}")
    heights, arrows, upward = graph(scan(core))
    print(dot(heights, arrows, upward) if args.dot else text(heights, arrows, upward))
    return 1 if upward else 0


if __name__ == "__main__":
    sys.exit(main())
