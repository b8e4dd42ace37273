#!/usr/bin/env python3
# Fails when a source includes, or a target links, what CONTRIBUTING.md's layering table does not allow.
"""Usage: check_layering.py SOURCE_DIR LINK_GRAPH

Reads the table under the heading "Who may include and link whom" of
SOURCE_DIR/CONTRIBUTING.md: a row per room (a top-level folder), the files
its sources may include and what its targets may link. An entry ending in
"/" is a folder and means every file and target in it; any other entry is a
file (may include) or a target (may link). The targets named in the link
column are the engines, and no target may reach two of them.

Checks every `#include "..."` of every C++ source in the tree's top-level
folders: the file must exist (beside the source or from the tree's root) and
the source's room must allow it. Checks every target of LINK_GRAPH (written
by cmake/CongestionLayering.cmake): the folder that defines it must be a
room, and each of its link entries that is a target of the project must be
allowed by that room's row. Prints one line for each fault.
"""

import os
import re
import sys

HEADING = "## Who may include and link whom"
CODE = re.compile(r"`([^`]+)`")
INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"', re.MULTILINE)
SOURCE_SUFFIXES = (".cpp", ".h")
NAME = re.compile(r"[A-Za-z0-9_.+-]+")


def read_table(path):
    """{room: (may include, may link)}, each a list of entries."""
    with open(path) as text:
        lines = text.read().splitlines()
    if HEADING not in lines:
        raise ValueError("%s has no heading '%s'" % (path, HEADING))
    rows = {}
    for line in lines[lines.index(HEADING) + 1:]:
        if line.startswith("#"):
            break
        cells = [cell.strip() for cell in line.strip().strip("|").split("|")]
        if not line.startswith("|") or len(cells) != 3:
            continue
        room = CODE.findall(cells[0])
        if len(room) == 1 and room[0].endswith("/"):
            rows[room[0][:-1]] = (CODE.findall(cells[1]), CODE.findall(cells[2]))
    if not rows:
        raise ValueError("the table under '%s' in %s has no room" % (HEADING, path))
    return rows


def allows(entries, path):
    return any(path == entry or entry.endswith("/") and path.startswith(entry) for entry in entries)


def get_room(path):
    return path.split("/", 1)[0] if "/" in path else ""


def is_build_folder(folder):
    return os.path.exists(os.path.join(folder, "CMakeCache.txt"))


def check_includes(root, rows):
    faults = []
    for top in sorted(os.listdir(root)):
        folder = os.path.join(root, top)
        if top.startswith(".") or not os.path.isdir(folder) or is_build_folder(folder):
            continue
        for where, _, files in sorted(os.walk(folder)):
            for name in sorted(files):
                if not name.endswith(SOURCE_SUFFIXES):
                    continue
                source = os.path.relpath(os.path.join(where, name), root).replace(os.sep, "/")
                if top not in rows:
                    faults.append("%s: %s/ is not a room of the layering table" % (source, top))
                    continue
                with open(os.path.join(root, source), errors="replace") as text:
                    included = INCLUDE.findall(text.read())
                for include in included:
                    beside = os.path.normpath(os.path.join(os.path.dirname(source), include)).replace(os.sep, "/")
                    if os.path.isfile(os.path.join(root, beside)):
                        target = beside
                    elif os.path.isfile(os.path.join(root, include)):
                        target = include
                    else:
                        faults.append('%s includes "%s", which is not in the tree' % (source, include))
                        continue
                    if not allows(rows[top][0], target):
                        faults.append("%s includes %s, which the %s/ row does not allow" % (source, target, top))
    return faults


def read_graph(path):
    """({target: room}, {target: [link entries]})."""
    rooms, links = {}, {}
    with open(path) as text:
        for line in text.read().splitlines():
            kind, name, value = line.split("\t")
            if kind == "target":
                rooms[name] = get_room(value + "/")
                links.setdefault(name, [])
            else:
                links.setdefault(name, []).append(value)
    return rooms, links


def get_linked(entry, rooms):
    """The project's targets that a link entry names; a generator
    expression may name several."""
    if entry in rooms:
        return [entry]
    return [name for name in NAME.findall(entry) if name in rooms] if "$<" in entry else []


def check_links(graph_path, rows):
    rooms, links = read_graph(graph_path)
    if not rooms:
        return ["%s lists no target" % graph_path]
    engines = {entry for _, may_link in rows.values() for entry in may_link if not entry.endswith("/")}
    faults = []
    direct = {}
    for target, room in sorted(rooms.items()):
        if room not in rows:
            faults.append("target %s: %s/ is not a room of the layering table" % (target, room))
            continue
        direct[target] = [linked for entry in links[target] for linked in get_linked(entry, rooms)]
        for linked in direct[target]:
            if not (linked in rows[room][1] or allows(rows[room][1], rooms[linked] + "/")):
                faults.append("target %s links %s (%s/), which the %s/ row does not allow" %
                              (target, linked, rooms[linked], room))
    for target in sorted(direct):
        reached, pending = set(), list(direct[target])
        while pending:
            linked = pending.pop()
            if linked not in reached:
                reached.add(linked)
                pending.extend(direct.get(linked, []))
        both = sorted(reached & engines)
        if len(both) > 1:
            faults.append("target %s links %s: one engine at most" % (target, " and ".join(both)))
    return faults


def main(argv):
    if len(argv) != 3:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    root, graph = argv[1], argv[2]
    rows = read_table(os.path.join(root, "CONTRIBUTING.md"))
    faults = check_includes(root, rows) + check_links(graph, rows)
    for fault in faults:
        print(fault, file=sys.stderr)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
