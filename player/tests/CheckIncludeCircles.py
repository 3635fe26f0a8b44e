#!/usr/bin/env python3
"""Fails when the player's units include each other in a circle.

A unit is X.h with X.cpp; the main window's files are one unit. Tests are left out.
Usage: CheckIncludeCircles.py PLAYER_FOLDER
"""
import os
import re
import sys

WINDOW = {"TunedeckFormUnit", "UnitGenerale", "TunedeckFormBrowser", "TunedeckFormPlayListFiles"}


def unit(path):
    name = os.path.splitext(os.path.basename(path))[0]
    return "main window" if name in WINDOW else name


def main():
    files = [os.path.join(folder, name)
             for folder, _, names in os.walk(sys.argv[1]) if "tests" not in folder.split(os.sep)
             for name in names if name.endswith((".h", ".cpp"))]
    units = {unit(f) for f in files}
    edges = {u: set() for u in units}
    for f in files:
        with open(f, encoding="utf-8", errors="replace") as source:
            for included in re.findall(r'#include "([^"]+)"', source.read()):
                if unit(included) in units and unit(included) != unit(f):
                    edges[unit(f)].add(unit(included))
    # Depth-first search; a unit met again while still on the path closes a circle.
    circles, done = [], set()

    def visit(node, path):
        for nxt in sorted(edges[node]):
            if nxt in path:
                circles.append(path[path.index(nxt):] + [nxt])
            elif nxt not in done:
                visit(nxt, path + [nxt])
        done.add(node)

    for start in sorted(units):
        if start not in done:
            visit(start, [start])
    for circle in circles:
        print("include circle: " + " -> ".join(circle))
    return 1 if circles else 0


sys.exit(main())
