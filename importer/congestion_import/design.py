# Builds nets.txt, netnames.txt and routed.txt of a design folder from nextpnr's dump and the chip database.
"""Counting conventions (the format document states them for users):

- A pin's tile is the tile of the wire of its bel pin, as nextpnr names it;
  so a global net's driver is where the global wire is named, and a block
  RAM pin may be in the upper (ramt) tile.
- A span wire bound to a net has one driving switch, at tile (dx, dy), and
  the switches of the same net that take the signal off it. Its used extent
  is the range of these switches' columns (horizontal wire) or rows
  (vertical wire); it occupies every tile it has a segment in inside that
  range.
- Routing-only values of a placed design that was not routed are UNKNOWN.
"""

from .chipdb import SPAN_CLASSES, get_wire_type

UNKNOWN = -1

FLAG_GLOBAL = 1
FLAG_CONSTANT = 2
FLAG_NO_SPAN_WIRE = 4

_CONSTANT_NETS = ("$PACKER_GND_NET", "$PACKER_VCC_NET")
_CONSTANT_DRIVERS = ("GND", "VCC")

ROUTED_COLUMNS = ("h_all", "h_left", "h_right", "h_drv", "v_all", "v_up", "v_down", "v_drv",
                  "h4", "h12", "v4", "v12", "local", "lab_in", "sw")


def split_wire_name(wire):
    """(x, y, name) of a nextpnr wire name 'X5/Y11/lutff_3:in_3', the name
    spelt as in the chip database ('lutff_3/in_3')."""
    x, y, name = wire.split("/", 2)
    return int(x[1:]), int(y[1:]), name.replace(":", "/")


class NET:
    def __init__(self, name, pins, flags, cells=()):
        self.name = name
        self.pins = pins  # [(x, y)], driver first
        self.cells = list(cells)  # [(cell name, port)] of the pins, in their order
        self.flags = flags
        self.routed_x = self.routed_y = self.n_wires = UNKNOWN

    def get_box(self):
        xs = [x for x, _ in self.pins]
        ys = [y for _, y in self.pins]
        return min(xs), max(xs), min(ys), max(ys)


class DESIGN_DATA:
    """The nets of a dump and, when it was taken after routing, the routed
    usage per tile. `diagnostics` counts what could not be mapped."""

    DIAGNOSTICS = ("span_wires_unmapped", "span_wires_dangling")

    def __init__(self, chipdb, dump):
        self.chipdb = chipdb
        self.routed = dump["stage"] == "routed"
        self.nets = []
        self.skipped_no_driver = 0
        self.diagnostics = dict.fromkeys(self.DIAGNOSTICS, 0)
        self.usage = {}  # (x, y) -> {column: count}
        for record in sorted(dump["nets"], key=lambda record: record["name"]):
            if record["driver"] is None:
                self.skipped_no_driver += 1
                continue
            net = self._make_net(record)
            if self.routed:
                self._count_routing(net, record["wires"])
            self.nets.append(net)

    def _is_global(self, record):
        return get_wire_type(split_wire_name(record["driver"][1])[2]) == "global"

    def _make_net(self, record):
        driver_type, driver_wire = record["driver"]
        pins = [split_wire_name(wire)[:2] for wire in [driver_wire] + record["users"]]
        flags = 0
        if self._is_global(record):
            flags |= FLAG_GLOBAL
        if record["name"] in _CONSTANT_NETS or driver_type in _CONSTANT_DRIVERS:
            flags |= FLAG_CONSTANT
        return NET(record["name"], pins, flags, record.get("cells", ()))

    def _add(self, tile, column):
        counts = self.usage.setdefault(tile, dict.fromkeys(ROUTED_COLUMNS, 0))
        counts[column] += 1

    def _count_routing(self, net, wires):
        """Counts the wires [(wire, dx, dy, source wire)] bound to `net` into
        `usage` and the net's routed extents and wire count into `net`; a
        net without a routing wire is flagged."""
        taken_off = {}  # source wire -> locations of the switches it feeds
        for _, x, y, source in wires:
            if source is not None:
                taken_off.setdefault(source, []).append((x, y))
        net.routed_x = net.routed_y = net.n_wires = 0
        for wire, dx, dy, _ in wires:
            self._count_wire(net, wire, dx, dy, taken_off.get(wire, []))
        if net.n_wires == 0:
            net.flags |= FLAG_NO_SPAN_WIRE

    def _count_wire(self, net, wire, dx, dy, taken_off):
        """Counts one wire of `net`, driven by the switch at (dx, dy) (None
        when no pip binds it) and taken off at the locations `taken_off`."""
        chipdb = self.chipdb
        key = split_wire_name(wire)
        index = chipdb.wire_of.get(key)
        wire_type = get_wire_type(key[2])
        if index is None:
            if wire_type in SPAN_CLASSES:
                self.diagnostics["span_wires_unmapped"] += 1
            return
        tile = key[:2]
        if wire_type == "local":
            self._add(tile, "local")
        if index in chipdb.block_inputs:
            self._add(tile, "lab_in")
        span = chipdb.span_class.get(index)
        if span is None:
            return
        if dx is None:
            self.diagnostics["span_wires_dangling"] += 1
            return
        net.n_wires += 1
        self._add((dx, dy), "sw")
        horizontal = span[0] == "h"
        along = [x if horizontal else y for x, y in [(dx, dy)] + taken_off]
        lo, hi = min(along), max(along)
        start = dx if horizontal else dy
        if horizontal:
            net.routed_x += hi - lo
        else:
            net.routed_y += hi - lo
        for segment in chipdb.segments[index]:
            position = segment[0] if horizontal else segment[1]
            if not lo <= position <= hi:
                continue
            side = "drv" if position == start else ("left" if position < start else "right")
            if not horizontal:
                side = {"drv": "drv", "left": "down", "right": "up"}[side]
            axis = "h" if horizontal else "v"
            self._add(segment, axis + "_all")
            self._add(segment, axis + "_" + side)
            self._add(segment, span)

    def get_num_pins(self):
        return sum(len(net.pins) for net in self.nets)

    def write_nets(self, path):
        with open(path, "w") as out:
            out.write("nets %d %d %d\n" % (len(self.nets), self.chipdb.nx, self.chipdb.ny))
            out.write("# id npins flags weight xl xr yb yt routed_x routed_y n_wires  x0 y0 x1 y1 ...\n")
            for index, net in enumerate(self.nets):
                fields = [index, len(net.pins), net.flags, 0, *net.get_box(), net.routed_x, net.routed_y,
                          net.n_wires]
                for pin in net.pins:
                    fields.extend(pin)
                out.write(" ".join(map(str, fields)) + "\n")

    def write_netnames(self, path):
        with open(path, "w") as out:
            for index, net in enumerate(self.nets):
                out.write("%d %s\n" % (index, net.name))

    def write_routed(self, path):
        with open(path, "w") as out:
            out.write("routed %d %d\n# x y %s\n" % (self.chipdb.nx, self.chipdb.ny, " ".join(ROUTED_COLUMNS)))
            empty = dict.fromkeys(ROUTED_COLUMNS, 0)
            for y in range(self.chipdb.ny):
                for x in range(self.chipdb.nx):
                    counts = self.usage.get((x, y), empty)
                    out.write("%d %d %s\n" % (x, y, " ".join(str(counts[c]) for c in ROUTED_COLUMNS)))
