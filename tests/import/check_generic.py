#!/usr/bin/env python3
# Checks a folder written by `congestion-import --arch generic` against nextpnr's own record of the routing.
"""Usage: check_generic.py DIR ROUTED_JSON [ESTIMATE_TOOL]

Every cell of the netlist must be placed (meta.txt's cell counts against the
bels in use). ROUTED_JSON is the design nextpnr wrote after routing (the
import run with --nextpnr-arg=--write=ROUTED_JSON). The routed usage is
counted again here from nextpnr's record, by the rules data/FORMAT.md states
(wire and pip names, wire spans, extents), without the importer's code, and
must equal routed.txt tile by tile and nets.txt net by net: every routed
wire is counted once, in its direction, in the tiles of its used extent. The
supply of every tile must be the layout's: the track count meta.txt gives in
each direction of a logic tile, and of the direction along its edge of an
I/O tile, its LUT inputs and clock, and its I/O cells' two inputs each.
placement.txt must give every cell nextpnr's bel, and pins.txt every pin of
nets.txt the cell and port that nextpnr connects to the net, and no other.
With ESTIMATE_TOOL, the tool must read the folder and its all-wires estimate
correlate with the routed usage."""

import json
import os
import re
import sys

import check_import

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts"))
import generic_routing  # noqa: E402  (nextpnr's record of the routing, read by names alone)

COLUMNS = ("right", "left", "up", "down", "lab_in")
LAB_INPUT = re.compile(r"X(\d+)/Y(\d+)/(I\d+_\d+|CLK|IOI\d+|IOE\d+)$")


def recount(routed_json, nx, ny):
    """({tile: {column: count}}, {net name: (routed_x, routed_y, n_wires)})
    from nextpnr's record of the routing."""
    usage, per_net = {}, {}
    for net, bound, wires in generic_routing.read_routes(routed_json, nx, ny):
        for wire in bound:
            pin = LAB_INPUT.match(wire)
            if pin:
                usage.setdefault((int(pin.group(1)), int(pin.group(2))), dict.fromkeys(COLUMNS, 0))["lab_in"] += 1
        routed = [0, 0, 0]
        for wire in wires:
            routed[0 if wire.direction in "EW" else 1] += wire.last - wire.first
            routed[2] += 1
            column = generic_routing.DIRECTION_COLUMN[wire.direction]
            for tile in wire.tiles:
                usage.setdefault(tile, dict.fromkeys(COLUMNS, 0))[column] += 1
        per_net[net] = tuple(routed)
    return usage, per_net


def check_cells(folder, routed_json, names):
    """The faults of placement.txt and pins.txt against nextpnr's netlist;
    `names`: the net names of netnames.txt, in order."""
    with open(routed_json) as text:
        module = next(iter(json.load(text)["modules"].values()))
    faults = []
    with open(os.path.join(folder, "placement.txt")) as text:
        placement = [line.rstrip("\n").rpartition(" ")[::2] for line in text]
    for cell, bel in placement:
        if module["cells"].get(cell, {}).get("attributes", {}).get("NEXTPNR_BEL") != bel:
            faults.append("placement.txt puts %s on %s, which is not nextpnr's bel of it" % (cell, bel))
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


def check_folder(folder, routed_json, tool=None, correlate=True):
    """The faults found, as sentences; empty when the folder is sound.
    `correlate`: the estimate must also follow the routed usage (on a design
    of more than a few nets)."""
    faults = []
    meta = check_import.read_meta(folder)
    for key, value in meta.items():
        if key.startswith("cells.") and meta.get("util." + key[6:], "").split()[:1] != [value]:
            faults.append("%s %s of its cells are placed" % (meta.get("util." + key[6:], "none"), key[6:]))
    tracks = sum(int(item.split(":")[1]) for item in meta["tracks"].split(","))
    pins = int(meta["slices"]) * int(meta["lut"]) + 1
    nx, ny, tiles = generic_routing.read_grid(os.path.join(folder, "tiles.txt"), "tiles")
    supply = {}
    for row in tiles:
        x, y, kind, values = int(row[0]), int(row[1]), row[2], list(map(int, row[3:]))
        supply[(x, y)] = values
        # Horizontal wires run along the rows of logic tiles into the I/O tiles at both ends,
        # vertical wires along the columns; the corners are empty.
        edge_x, edge_y = x in (0, nx - 1), y in (0, ny - 1)
        if edge_x and edge_y:
            layout = ("empty", [0] * 5)
        elif edge_x or edge_y:
            along = [0 if edge_y else tracks] * 2 + [0 if edge_x else tracks] * 2
            layout = ("io", along + [2 * int(meta["iobs_per_tile"])])
        else:
            layout = ("logic", [tracks] * 4 + [pins])
        if (kind, values) != layout:
            faults.append("tile (%d, %d) is %s with supply %s, not %s with %s" % (x, y, kind, values, *layout))
    if meta["routed"] != "yes":
        return faults + ["meta.txt says routed %s" % meta["routed"]]
    with open(os.path.join(folder, "netnames.txt")) as text:
        names = [line.rstrip("\n").split(" ", 1)[1] for line in text]
    faults += check_cells(folder, routed_json, names)
    usage, per_net = recount(routed_json, nx, ny)
    _, _, rows = generic_routing.read_grid(os.path.join(folder, "routed.txt"), "routed")
    for row in rows:
        x, y, values = int(row[0]), int(row[1]), list(map(int, row[2:]))
        expected = [usage.get((x, y), {}).get(column, 0) for column in COLUMNS]
        if values != expected:
            faults.append("tile (%d, %d) has routed %s, nextpnr's routing gives %s" % (x, y, values, expected))
        if any(used > limit for used, limit in zip(values, supply[(x, y)])):
            faults.append("tile (%d, %d) uses %s, above its supply %s" % (x, y, values, supply[(x, y)]))
    with open(os.path.join(folder, "nets.txt")) as text:
        for line in text.read().splitlines()[2:]:
            values = line.split()
            expected = per_net.get(names[int(values[0])], (0, 0, 0))
            if tuple(map(int, values[8:11])) != expected:
                faults.append("net %s has routed_x routed_y n_wires %s, nextpnr's routing gives %s" %
                              (names[int(values[0])], values[8:11], list(expected)))
    if tool:
        faults += check_import.check_estimate(folder, tool, correlate)
    return faults


def main(argv):
    faults = check_folder(*argv)
    for fault in faults[:20]:
        print("check_generic: %s: %s." % (argv[0], fault), file=sys.stderr)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
