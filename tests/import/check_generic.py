#!/usr/bin/env python3
# Checks a folder written by `congestion-import --arch generic` against nextpnr's own record of the routing.
"""Usage: check_generic.py DIR ROUTED_JSON [ESTIMATE_TOOL]

ROUTED_JSON is the design nextpnr wrote after routing (the import run with
--nextpnr-arg=--write=ROUTED_JSON). The routed usage is counted again here
from nextpnr's record, by the rules data/FORMAT.md states (wire and pip
names, wire spans, extents), without the importer's code, and must equal
routed.txt tile by tile and nets.txt net by net: every routed wire is
counted once, in its direction, in the tiles of its used extent. The supply
of every logic tile must be the track count meta.txt gives in each
direction. placement.txt must give every cell nextpnr's bel, and pins.txt
every pin of nets.txt the cell and port that nextpnr connects to the net,
and no other. With ESTIMATE_TOOL, the tool must read the folder and its
all-wires estimate correlate with the routed usage."""

import json
import os
import re
import sys

import check_import

DIRECTION_COLUMN = {"E": "right", "W": "left", "N": "up", "S": "down"}
COLUMNS = ("right", "left", "up", "down", "lab_in")
ROUTING_WIRE = re.compile(r"X(\d+)/Y(\d+)/([EWNS])(\d+)_(\d+)$")
LAB_INPUT = re.compile(r"X(\d+)/Y(\d+)/(I\d+_\d+|CLK|IOI\d+|IOE\d+)$")


def read_grid(path, header):
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


def recount(routed_json, nx, ny):
    """({tile: {column: count}}, {net name: (routed_x, routed_y, n_wires)})
    from nextpnr's record of the routing."""
    with open(routed_json) as text:
        modules = json.load(text)["modules"]
    usage, per_net = {}, {}
    for module in modules.values():
        for net, record in module.get("netnames", {}).items():
            fields = record.get("attributes", {}).get("ROUTING", "").split(";")
            if len(fields) < 3:
                continue
            bound = list(zip(fields[0::3], fields[1::3]))
            pips = {wire: parse_pip(pip) for wire, pip in bound if pip}
            sources = {}
            for px, py, source in pips.values():
                sources.setdefault(source, []).append((px, py))
            routed = [0, 0, 0]
            for wire, _ in bound:
                pin = LAB_INPUT.match(wire)
                if pin:
                    tile = usage.setdefault((int(pin.group(1)), int(pin.group(2))), dict.fromkeys(COLUMNS, 0))
                    tile["lab_in"] += 1
                found = ROUTING_WIRE.match(wire)
                if not found or wire not in pips:
                    continue
                x, y, direction, length, track = found.groups()
                x, y, length, track = int(x), int(y), int(length), int(track)
                horizontal = direction in "EW"
                switches = [pips[wire][:2]] + sources.get(wire, [])
                along = [sx if horizontal else sy for sx, sy in switches]
                routed[0 if horizontal else 1] += max(along) - min(along)
                routed[2] += 1
                for position in get_span(direction, length, track, x, y, nx, ny):
                    if min(along) <= position <= max(along):
                        tile = usage.setdefault((position, y) if horizontal else (x, position),
                                                dict.fromkeys(COLUMNS, 0))
                        tile[DIRECTION_COLUMN[direction]] += 1
            per_net[net] = tuple(routed)
    return usage, per_net


def check_cells(folder, routed_json):
    """The faults of placement.txt and pins.txt against nextpnr's netlist."""
    with open(routed_json) as text:
        module = next(iter(json.load(text)["modules"].values()))
    faults = []
    with open(os.path.join(folder, "placement.txt")) as text:
        placement = [line.rstrip("\n").rpartition(" ")[::2] for line in text]
    for cell, bel in placement:
        if module["cells"].get(cell, {}).get("attributes", {}).get("NEXTPNR_BEL") != bel:
            faults.append("placement.txt puts %s on %s, which is not nextpnr's bel of it" % (cell, bel))
    with open(os.path.join(folder, "netnames.txt")) as text:
        names = [line.rstrip("\n").split(" ", 1)[1] for line in text]
    with open(os.path.join(folder, "pins.txt")) as text:
        rows = [line.split() for line in text.read().splitlines()[2:]]
    with open(os.path.join(folder, "nets.txt")) as text:
        npins = [int(line.split()[1]) for line in text.read().splitlines()[2:]]
    listed = set()
    for row, name, count in zip(rows, names, npins):
        bit = module["netnames"][name]["bits"][0]
        pins = list(zip(row[2::2], row[3::2]))
        if int(row[1]) != count or len(pins) != count:
            faults.append("pins.txt lists %s pins of net %s, nets.txt %d" % (row[1], name, count))
        for cell_index, port in pins:
            cell = placement[int(cell_index)][0]
            bus, _, index = port.rstrip("]").partition("[")
            connected = module["cells"][cell]["connections"].get(bus, [])
            if int(index or 0) >= len(connected) or connected[int(index or 0)] != bit:
                faults.append("pins.txt connects %s %s to net %s, nextpnr does not" % (cell, port, name))
            listed.add((cell, port))
    bits = {module["netnames"][name]["bits"][0] for name in names}
    for cell, record in module["cells"].items():
        for bus, connected in record["connections"].items():
            for index, bit in enumerate(connected):
                port = "%s[%d]" % (bus, index) if len(connected) > 1 else bus
                if bit in bits and (cell, port) not in listed:
                    faults.append("nextpnr connects %s %s to a net of nets.txt, pins.txt does not" % (cell, port))
    return faults


def check_folder(folder, routed_json, tool=None):
    """The faults found, as sentences; empty when the folder is sound."""
    faults = []
    with open(os.path.join(folder, "meta.txt")) as text:
        meta = dict(line.rstrip("\n").partition(" ")[::2] for line in text)
    tracks = sum(int(item.split(":")[1]) for item in meta["tracks"].split(","))
    pins = int(meta["slices"]) * int(meta["lut"]) + 1
    nx, ny, tiles = read_grid(os.path.join(folder, "tiles.txt"), "tiles")
    supply = {}
    for row in tiles:
        x, y, kind, values = int(row[0]), int(row[1]), row[2], list(map(int, row[3:]))
        supply[(x, y)] = values
        if kind == "logic" and values != [tracks] * 4 + [pins]:
            faults.append("logic tile (%d, %d) has supply %s, not %d per direction and %d inputs" %
                          (x, y, values, tracks, pins))
        if kind != "logic" and max(values[:4]) > tracks:
            faults.append("%s tile (%d, %d) has supply %s, above %d per direction" % (kind, x, y, values, tracks))
    if meta["routed"] != "yes":
        return faults + ["meta.txt says routed %s" % meta["routed"]]
    faults += check_cells(folder, routed_json)
    usage, per_net = recount(routed_json, nx, ny)
    _, _, rows = read_grid(os.path.join(folder, "routed.txt"), "routed")
    for row in rows:
        x, y, values = int(row[0]), int(row[1]), list(map(int, row[2:]))
        expected = [usage.get((x, y), {}).get(column, 0) for column in COLUMNS]
        if values != expected:
            faults.append("tile (%d, %d) has routed %s, nextpnr's routing gives %s" % (x, y, values, expected))
        if any(used > limit for used, limit in zip(values, supply[(x, y)])):
            faults.append("tile (%d, %d) uses %s, above its supply %s" % (x, y, values, supply[(x, y)]))
    with open(os.path.join(folder, "netnames.txt")) as text:
        names = dict(line.rstrip("\n").split(" ", 1) for line in text)
    with open(os.path.join(folder, "nets.txt")) as text:
        for line in text.read().splitlines()[2:]:
            values = line.split()
            expected = per_net.get(names[values[0]], (0, 0, 0))
            if tuple(map(int, values[8:11])) != expected:
                faults.append("net %s has routed_x routed_y n_wires %s, nextpnr's routing gives %s" %
                              (names[values[0]], values[8:11], list(expected)))
    if tool:
        faults += check_import.check_estimate(folder, tool, True)
    return faults


def main(argv):
    faults = check_folder(*argv)
    for fault in faults[:20]:
        print("check_generic: %s: %s." % (argv[0], fault), file=sys.stderr)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
