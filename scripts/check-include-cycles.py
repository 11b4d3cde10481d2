#!/usr/bin/env python3
"""Reports include circles between the units of the given folders.

A unit is a header with its source file (platform/XpFile.h and
platform/XpFile.cpp are the unit platform/XpFile). A unit depends on another
when any of its two files includes the other's header with #include "...".
Exits 1 and lists each circle (a strongly connected group of units) when there
is one, 0 otherwise.

    check-include-cycles.py [folder ...]    (default: platform app watch device)
"""
import os
import re
import sys

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def units(top, folders):
    """Maps each unit to the set of units it includes."""
    graph = {}
    for folder in folders:
        base = os.path.join(top, folder)
        for root, _, names in os.walk(base):
            for name in names:
                stem, ext = os.path.splitext(name)
                if ext not in ('.h', '.cpp', '.c'):
                    continue
                path = os.path.join(root, name)
                unit = os.path.relpath(os.path.join(root, stem), top).replace(os.sep, '/')
                targets = graph.setdefault(unit, set())
                with open(path, encoding='utf-8', errors='replace') as f:
                    text = f.read()
                for included in INCLUDE.findall(text):
                    # Beside the file first, then from the top of the tree.
                    for candidate in (os.path.join(root, included), os.path.join(top, included)):
                        if os.path.isfile(candidate):
                            target = os.path.relpath(os.path.splitext(candidate)[0], top)
                            targets.add(target.replace(os.sep, '/'))
                            break
    for unit in graph:
        graph[unit] = {t for t in graph[unit] if t in graph and t != unit}
    return graph


def circles(graph):
    """Tarjan's strongly connected components with more than one unit."""
    index, low, on_stack, stack, found = {}, {}, set(), [], []
    counter = [0]

    def visit(unit):
        index[unit] = low[unit] = counter[0]
        counter[0] += 1
        stack.append(unit)
        on_stack.add(unit)
        for target in sorted(graph[unit]):
            if target not in index:
                visit(target)
                low[unit] = min(low[unit], low[target])
            elif target in on_stack:
                low[unit] = min(low[unit], index[target])
        if low[unit] == index[unit]:
            group = []
            while True:
                member = stack.pop()
                on_stack.discard(member)
                group.append(member)
                if member == unit:
                    break
            if len(group) > 1:
                found.append(sorted(group))

    sys.setrecursionlimit(10000)
    for unit in sorted(graph):
        if unit not in index:
            visit(unit)
    return found


def main():
    top = os.path.abspath(os.path.join(os.path.dirname(__file__), '..'))
    folders = sys.argv[1:] or ['platform', 'app', 'watch', 'device']
    graph = units(top, folders)
    found = circles(graph)
    for group in found:
        print('include circle: ' + ' <-> '.join(group))
    print('%d units in %s, %d circles' % (len(graph), ' '.join(folders), len(found)))
    return 1 if found else 0


if __name__ == '__main__':
    sys.exit(main())
