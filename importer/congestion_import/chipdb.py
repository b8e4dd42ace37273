# The iCE40 chip database text of icestorm: tiles, wires, their segments per tile and their names.
"""Reads an icestorm chip database (chipdb-*.txt) and derives from it what the
design folder needs: the tile grid and kinds, every routing wire with the tiles
it has a segment in and its class (the one nextpnr gives it), and the block
input pins fed by each tile's input multiplexers.

A wire of the database (a `.net`) has one name per tile it reaches. nextpnr
names each wire after one of these, chosen by a fixed preference (see
_prefers), and gives the wire the type of that name; this module picks the
same name, so that a wire is horizontal or vertical here exactly when it is
in nextpnr, including the span-4 wires of the I/O ring that turn a corner.
"""

import functools
import re

SPAN_CLASSES = ("h4", "h12", "v4", "v12")

# Name prefixes of the wire types that matter here, as nextpnr classifies them.
_TYPE_PREFIXES = (
    (("sp4_v_", "sp4_r_v_", "span4_vert_"), "v4"),
    (("sp4_h_", "span4_horz_"), "h4"),
    (("sp12_v_", "span12_vert_"), "v12"),
    (("sp12_h_", "span12_horz_"), "h12"),
    (("glb2local",), "glb2local"),
    (("glb_netwk_",), "global"),
    (("local_",), "local"),
)

# Wire types that are not block inputs even when a local track feeds them.
_NOT_BLOCK_INPUT = {"v4", "h4", "v12", "h12", "glb2local", "global", "local"}

_INDEX_SUFFIX = re.compile(r".*_(\d+)$")


@functools.lru_cache(maxsize=None)
def get_wire_type(name):
    """The type of a wire named `name` (local part of the name): one of
    h4 h12 v4 v12 glb2local global local, or None for every other wire."""
    for prefixes, wire_type in _TYPE_PREFIXES:
        if name.startswith(prefixes):
            return wire_type
    return None


@functools.lru_cache(maxsize=None)
def _is_major_name(name):
    if name.startswith(("lutff_", "io_", "ram/")):
        return True
    for prefix, count in (("sp4_h_r_", 12), ("sp4_v_b_", 12), ("sp12_h_r_", 2), ("sp12_v_b_", 2)):
        if name.startswith(prefix):
            return int(name[len(prefix):]) < count
    return False


def _prefers(new, old):
    """True when nextpnr names a wire after `new` rather than `old`; both are
    (x, y, name) and are compared in the order the database lists them."""
    if _is_major_name(new[2]):
        return True
    if _is_major_name(old[2]):
        return False
    if new[2].startswith("sp") and old[2].startswith("sp"):
        new_index = _INDEX_SUFFIX.match(new[2])
        old_index = _INDEX_SUFFIX.match(old[2])
        if new_index and old_index and int(new_index.group(1)) != int(old_index.group(1)):
            return int(new_index.group(1)) < int(old_index.group(1))
    return new < old


class CHIPDB:
    """One chip database. Attributes:
    nx, ny       grid size in tiles;
    kinds        {(x, y): kind} for every tile that is not empty;
    packages     names of the packages whose pins the database lists;
    wire_of      {(x, y, name): wire index} for every name of every wire;
    canonical    {wire index: (x, y, name)}, the name nextpnr uses;
    span_class   {wire index: h4 | h12 | v4 | v12} for the routing wires;
    segments     {wire index: [(x, y), ...]} the tiles a routing wire has a
                 segment in (for a vertical wire the column it lies in, not
                 the column to its left that reads it as sp4_r_v_b);
    block_inputs set of wire indices that are block inputs fed by a tile's
                 input multiplexers (local tracks or the global network)."""

    def __init__(self, path):
        self.nx = self.ny = 0
        self.kinds = {}
        self.packages = []
        self.wire_of = {}
        self.canonical = {}
        self.span_class = {}
        self.segments = {}
        self.block_inputs = set()
        self._read(path)

    def _read(self, path):
        # The buffers, one-way switches: (x, y, destination wire, [source
        # wires]). The .routing switches join routing wires only, so they
        # feed no block input.
        switches = []
        names = {}  # wire -> [(x, y, name)] in file order
        section = None
        with open(path) as text:
            for line in text:
                # Only section lines, wire names and buffer sources are split:
                # the other lines are most of the file.
                if line.startswith("."):
                    fields = line.split()
                    keyword = section = fields[0]
                    if keyword == ".device":
                        self.nx, self.ny = int(fields[2]), int(fields[3])
                    elif keyword == ".net":
                        wire = int(fields[1])
                        names[wire] = []
                    elif keyword == ".buffer":
                        switches.append((int(fields[1]), int(fields[2]), int(fields[3]), []))
                    elif keyword == ".pins":
                        self.packages.append(fields[1])
                    elif keyword.endswith("_tile") and len(fields) == 3:
                        self.kinds[(int(fields[1]), int(fields[2]))] = keyword[1:-len("_tile")]
                elif section == ".net":
                    fields = line.split()
                    if fields:
                        names[wire].append((int(fields[0]), int(fields[1]), fields[2]))
                elif section == ".buffer":
                    fields = line.split()
                    if fields:
                        switches[-1][3].append(int(fields[1]))

        for wire, wire_names in names.items():
            best = wire_names[0]
            for entry in wire_names:
                self.wire_of[entry] = wire
                if _prefers(entry, best):
                    best = entry
            self.canonical[wire] = best
            span = get_wire_type(best[2])
            if span in SPAN_CLASSES:
                self.span_class[wire] = span
                tiles = []
                for x, y, name in wire_names:
                    if not name.startswith("sp4_r_v_") and (x, y) not in tiles:
                        tiles.append((x, y))
                self.segments[wire] = tiles

        for x, y, destination, sources in switches:
            if get_wire_type(self.canonical[destination][2]) in _NOT_BLOCK_INPUT:
                continue
            if any(get_wire_type(self.canonical[source][2]) in ("local", "global") for source in sources):
                self.block_inputs.add(destination)

    def get_wire_tile(self, wire):
        """The tile nextpnr places a wire in: that of its canonical name."""
        x, y, _ = self.canonical[wire]
        return x, y

    def get_tile_rows(self):
        """The rows of tiles.txt, y-major: (x, y, kind, h4, h12, v4, v12, lab_in)."""
        supply = {}
        for wire, tiles in self.segments.items():
            column = SPAN_CLASSES.index(self.span_class[wire])
            for tile in tiles:
                supply.setdefault(tile, [0, 0, 0, 0])[column] += 1
        lab_in = {}
        for wire in self.block_inputs:
            tile = self.get_wire_tile(wire)
            lab_in[tile] = lab_in.get(tile, 0) + 1
        rows = []
        for y in range(self.ny):
            for x in range(self.nx):
                counts = supply.get((x, y), [0, 0, 0, 0])
                rows.append((x, y, self.kinds.get((x, y), "empty"), *counts, lab_in.get((x, y), 0)))
        return rows


def write_tiles(chipdb, path):
    """Writes tiles.txt of the chip."""
    with open(path, "w") as out:
        out.write("tiles %d %d\n# x y kind h4 h12 v4 v12 lab_in\n" % (chipdb.nx, chipdb.ny))
        for row in chipdb.get_tile_rows():
            out.write("%d %d %s %d %d %d %d %d\n" % row)
