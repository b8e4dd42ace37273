# The directional files of a generic device: supply and routed usage per direction, from layout and dump.
"""Counting conventions of the directional form (data/FORMAT.md states them
for users):

- A routing wire has a segment in every tile it covers (generic_arch).
- A routing wire bound to a net has one driving switch, the pip that binds
  it, and the switches of the same net that take the signal off it. Its used
  extent is the range of these switches' x (E and W wires) or y (N and S
  wires) coordinates; it counts once in every tile it has a segment in
  inside that range, in the column of its direction (E right, W left, N up,
  S down). The switch box that continues a wire lies in the tile after its
  last one, so a wire that carries the signal to its end has the extent of
  its length.
- lab_in counts the bound pin wires fed by a tile's input multiplexers.
- A net is global (flag 1) when it drives a clock input: the global wires
  carry it when an I/O drives it.
"""

from . import design, generic_arch

COLUMNS = ("right", "left", "up", "down", "lab_in")
_COLUMN = {"E": "right", "W": "left", "N": "up", "S": "down"}


def get_tile_rows(arch):
    """The rows of tiles.txt, y-major: (x, y, kind, right, left, up, down,
    lab_in)."""
    supply = {}
    for direction, _, _, x, y, lo, hi in arch.get_wires():
        column = COLUMNS.index(_COLUMN[direction])
        horizontal = direction in generic_arch.HORIZONTAL
        for position in range(lo, hi + 1):
            tile = (position, y) if horizontal else (x, position)
            supply.setdefault(tile, [0, 0, 0, 0])[column] += 1
    rows = []
    for y in range(arch.ny):
        for x in range(arch.nx):
            kind = arch.get_kind(x, y)
            rows.append((x, y, kind, *supply.get((x, y), [0, 0, 0, 0]), arch.get_lab_inputs(kind)))
    return rows


def write_tiles(arch, path):
    with open(path, "w") as out:
        out.write("tiles %d %d directional\n# x y kind %s\n" % (arch.nx, arch.ny, " ".join(COLUMNS)))
        for row in get_tile_rows(arch):
            out.write("%d %d %s %d %d %d %d %d\n" % row)


class GENERIC_DESIGN_DATA(design.DESIGN_DATA):
    """The nets of a dump of the generic flow and, after routing, the
    routed usage per tile and direction."""

    DIAGNOSTICS = ("routing_wires_dangling",)

    def _is_global(self, record):
        return any(design.split_wire_name(wire)[2] == generic_arch.CLOCK_WIRE for wire in record["users"])

    def _count_wire(self, net, wire, dx, dy, taken_off):
        parsed = generic_arch.parse_wire_name(wire)
        if parsed is None:
            parts = wire.split("/")
            if len(parts) == 3 and generic_arch.is_lab_input(parts[2]):
                self._add((int(parts[0][1:]), int(parts[1][1:])), "lab_in")
            return
        if dx is None:
            self.diagnostics["routing_wires_dangling"] += 1
            return
        direction, length, track, x, y = parsed
        lo, hi = self.chipdb.get_wire_span(direction, length, track, x, y)
        horizontal = direction in generic_arch.HORIZONTAL
        along = [sx if horizontal else sy for sx, sy in [(dx, dy)] + taken_off]
        first, last = min(along), max(along)
        net.n_wires += 1
        if horizontal:
            net.routed_x += last - first
        else:
            net.routed_y += last - first
        column = _COLUMN[direction]
        for position in range(max(lo, first), min(hi, last) + 1):
            self._add((position, y) if horizontal else (x, position), column)

    def _add(self, tile, column):
        counts = self.usage.setdefault(tile, dict.fromkeys(COLUMNS, 0))
        counts[column] += 1

    def write_pins(self, path, placement_path):
        """pins.txt: per net of nets.txt, the cell and port of each pin, in
        the pins' order; a cell is named by its line in placement.txt (0
        first), whose cells are the packed cells that nextpnr placed."""
        with open(placement_path) as placement:
            cells = [line.rstrip("\n").rpartition(" ")[0] for line in placement]
        index = {name: i for i, name in enumerate(cells)}
        with open(path, "w") as out:
            out.write("pins %d %d\n# id npins  cell port ...\n" % (len(self.nets), len(cells)))
            for number, net in enumerate(self.nets):
                fields = [str(number), str(len(net.cells))]
                for cell, port in net.cells:
                    fields += [str(index[cell]), port]
                out.write(" ".join(fields) + "\n")

    def write_routed(self, path):
        with open(path, "w") as out:
            out.write("routed %d %d directional\n# x y %s\n" % (self.chipdb.nx, self.chipdb.ny, " ".join(COLUMNS)))
            empty = dict.fromkeys(COLUMNS, 0)
            for y in range(self.chipdb.ny):
                for x in range(self.chipdb.nx):
                    counts = self.usage.get((x, y), empty)
                    out.write("%d %d %s\n" % (x, y, " ".join(str(counts[c]) for c in COLUMNS)))
