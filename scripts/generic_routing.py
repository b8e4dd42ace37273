# A generic design's routing as nextpnr records it, read without the importer's code.
"""The routing of a design that nextpnr-generic routed, from the JSON it
writes (--write), read by the names and rules data/FORMAT.md states (wire
and pip names, the tiles a wire covers, the used extent between its
switches) and by none of the importer's code: so that the importer's
counts can be checked against it (tests/import/check_generic.py) and the
routing studied apart from the estimate (scripts/generic_accuracy.py)."""

import collections
import json
import re

ROUTING_WIRE = re.compile(r"X(\d+)/Y(\d+)/([EWNS])(\d+)_(\d+)$")
# routed.txt's column of each wire direction.
DIRECTION_COLUMN = {"E": "right", "W": "left", "N": "up", "S": "down"}

# A routing wire bound to a net: its direction, the range of its switches'
# x (E and W) or y (N and S), and the tiles of its used extent.
ROUTED_WIRE = collections.namedtuple("ROUTED_WIRE", "direction first last tiles")


def read_grid(path, header):
    """(nx, ny, the rows' words) of a file of the directional form."""
    with open(path) as text:
        lines = text.read().splitlines()
    words = lines[0].split()
    if words[0] != header or words[3:] != ["directional"]:
        raise ValueError("%s does not start with '%s NX NY directional'" % (path, header))
    return int(words[1]), int(words[2]), [line.split() for line in lines[2:]]


def get_span(direction, length, track, x, y, nx, ny):
    """The tiles a wire covers along its line: it starts at its named tile
    and runs `length` tiles in its direction, cut at the grid's edge; the
    first wire of a track whose offset (track % length) is not 0 covers only
    the tiles before the offset."""
    n = nx if direction in "EW" else ny
    position = x if direction in "EW" else y
    forward = direction in "EN"
    u = position if forward else n - 1 - position
    offset = track % length
    last = offset - 1 if u == 0 and offset else min(u + length, n) - 1
    return range(u, last + 1) if forward else range(n - 1 - last, n - u)


def parse_pip(name):
    """(x, y, source wire) of a pip named X<x>/Y<y>/<source>><sink>."""
    x, y, ends = name.split("/", 2)
    x, y = int(x[1:]), int(y[1:])
    local, at, offset = ends.split(">")[0].partition("@")
    if local.startswith("GLB."):
        return x, y, "GLB/" + local[4:]
    dx, dy = (int(v) for v in offset.split(".")) if at else (0, 0)
    return x, y, "X%d/Y%d/%s" % (x + dx, y + dy, local)


def read_routes(routed_json, nx, ny):
    """Yields, for every routed net of the design on an nx by ny grid, (its
    name, the names of every wire bound to it, its routing wires driven by a
    pip as ROUTED_WIRE). A wire's switches are the pip that drives it and the
    pips of the net that take the signal off it."""
    with open(routed_json) as text:
        modules = json.load(text)["modules"]
    for module in modules.values():
        for net, record in module.get("netnames", {}).items():
            fields = record.get("attributes", {}).get("ROUTING", "").split(";")
            if len(fields) < 3:
                continue
            bound = list(zip(fields[0::3], fields[1::3]))
            pips = {wire: parse_pip(pip) for wire, pip in bound if pip}
            taken_off = {}
            for x, y, source in pips.values():
                taken_off.setdefault(source, []).append((x, y))
            wires = []
            for wire, _ in bound:
                found = ROUTING_WIRE.match(wire)
                if not found or wire not in pips:
                    continue
                x, y, direction, length, track = found.groups()
                x, y, length, track = int(x), int(y), int(length), int(track)
                horizontal = direction in "EW"
                along = [sx if horizontal else sy for sx, sy in [pips[wire][:2]] + taken_off.get(wire, [])]
                first, last = min(along), max(along)
                tiles = [(position, y) if horizontal else (x, position)
                         for position in get_span(direction, length, track, x, y, nx, ny)
                         if first <= position <= last]
                wires.append(ROUTED_WIRE(direction, first, last, tiles))
            yield net, [wire for wire, _ in bound], wires
