# The island-style architecture of `congestion-import --arch generic`: its layout, and its build in nextpnr.
"""Run by nextpnr-generic as a --pre-pack script (with `ctx` in its globals),
this file builds the device that the environment describes (see
ARCH.from_environment); the importer's flow inside nextpnr calls build()
instead, and the importer outside nextpnr uses the same layout (which wire
covers which tiles) to count supply and routed usage.

Grid: W x H tiles; the perimeter holds I/O tiles (`iobs` GENERIC_IOB bels
each), the four corners are empty, every other tile is a logic tile of
`slices` GENERIC_SLICE bels (a K-input LUT and a flip-flop each). The LUT
output and the flip-flop output of a slice share one wire: nextpnr's packer
never uses both.

Routing wires are directional: E (right, increasing x), W (left), N (up,
increasing y) and S (down). A wire class LEN:COUNT gives COUNT tracks per
direction of wires LEN tiles long. Track t starts a wire at every LEN-th tile
from offset t % LEN, so that each track has exactly one segment in every
tile of its row or column, and every logic tile holds the track count of
segments per direction; wires are cut short at the grid's edges. Horizontal
wires run along the rows of logic tiles over the whole width (into the I/O
tiles at both ends), vertical wires along the columns of logic tiles over
the whole height. A wire is named X<x>/Y<y>/<D><LEN>_<t> after the tile it
is driven in (its first tile in its direction), its direction, length and
track.

Switches (pips), all located in the tile they belong to:
- outputs: each output of a tile drives some of the wires that start there,
  in every direction (OUTPUTS_PER_START drivers per starting wire);
- switch box: a wire ends by feeding the switch box of the next tile in its
  direction, which continues it on its own track and turns it onto one
  starting wire of each other direction but back;
- connection box: every wire covering a tile feeds LOCALS_PER_SEGMENT of
  the tile's local tracks, which (with the tile's own outputs) feed the
  input pins, each pin a window of LOCALS_PER_PIN tracks; I/O pins read the
  wires that run towards the edge in their tile directly;
- clock: each logic tile has one clock wire (nextpnr allows one clock per
  tile) fed by the GLOBALS global wires, which every I/O input can drive,
  and by local tracks.
The local tracks and pins are no routing wires: a connection inside one
tile uses none.
"""

import os
import re

DIRECTIONS = ("E", "W", "N", "S")
HORIZONTAL = ("E", "W")
FORWARD = ("E", "N")
_BACK = {"E": "W", "W": "E", "N": "S", "S": "N"}

GLOBALS = 4
OUTPUTS_PER_START = 2
LOCALS_PER_INPUT = 1.5
LOCALS_PER_SEGMENT = 3
LOCALS_PER_PIN = 10
TAPS_PER_IO_PIN = 10

# Delays steer the router, which costs a congested wire in proportion to its
# delay: every switch costs about the same, so that crowding on local tracks
# weighs as much as crowding on routing wires, and a long wire costs less
# per tile than a short one.
SWITCH_DELAY_NS = 0.2
DELAY_PER_LENGTH_NS = 0.05
DELAY_PER_TILE_NS = 0.1

# The environment that describes a device to this script.
GRID_VARIABLE = "CONGESTION_GENERIC_GRID"
SLICES_VARIABLE = "CONGESTION_GENERIC_SLICES"
LUT_VARIABLE = "CONGESTION_GENERIC_LUT"
TRACKS_VARIABLE = "CONGESTION_GENERIC_TRACKS"
IOBS_VARIABLE = "CONGESTION_GENERIC_IOBS"


def parse_tracks(text):
    """[(length, count)] of a 'LEN:COUNT,...' text, by increasing length;
    ValueError with a sentence when it is not one."""
    classes = {}
    for item in text.split(","):
        length, colon, count = item.strip().partition(":")
        if not colon or not length.isdigit() or not count.isdigit():
            raise ValueError("'%s' is not a wire class LEN:COUNT of two whole numbers" % item.strip())
        length, count = int(length), int(count)
        if length < 1 or count < 1:
            raise ValueError("the wire class '%s' needs a length and a count of at least 1" % item.strip())
        if length in classes:
            raise ValueError("the wire length %d is given twice" % length)
        classes[length] = count
    return sorted(classes.items())


def format_tracks(tracks):
    return ",".join("%d:%d" % pair for pair in tracks)


def _runs(n, length, track):
    """The (lo, hi) tile ranges of one track's wires along a line of n tiles,
    in increasing order."""
    offset = track % length
    if offset:
        yield 0, min(offset, n) - 1
    for start in range(offset, n, length):
        yield start, min(start + length, n) - 1


class ARCH:
    """One generic device: grid, slices per logic tile, LUT inputs, the wire
    classes [(length, count)] and the I/O cells per I/O tile."""

    def __init__(self, width, height, slices, lut, tracks, iobs):
        self.nx, self.ny = width, height
        self.slices, self.lut, self.iobs = slices, lut, iobs
        self.tracks = list(tracks)
        # Every track, in the order of the tiles' wire lists.
        self.track_list = [(length, t) for length, count in self.tracks for t in range(count)]

    @classmethod
    def from_environment(cls, environment=os.environ):
        width, height = (int(v) for v in environment[GRID_VARIABLE].split("x"))
        return cls(width, height, int(environment[SLICES_VARIABLE]), int(environment[LUT_VARIABLE]),
                   parse_tracks(environment[TRACKS_VARIABLE]), int(environment[IOBS_VARIABLE]))

    def get_environment(self):
        return {GRID_VARIABLE: "%dx%d" % (self.nx, self.ny), SLICES_VARIABLE: str(self.slices),
                LUT_VARIABLE: str(self.lut), TRACKS_VARIABLE: format_tracks(self.tracks),
                IOBS_VARIABLE: str(self.iobs)}

    def get_track_count(self):
        """Tracks per direction: the supply of each direction in a logic tile."""
        return sum(count for _, count in self.tracks)

    def get_kind(self, x, y):
        edge_x = x in (0, self.nx - 1)
        edge_y = y in (0, self.ny - 1)
        if edge_x and edge_y:
            return "empty"
        return "io" if edge_x or edge_y else "logic"

    def get_lab_inputs(self, kind):
        """Input pins fed by a tile's input multiplexers: the LUT inputs and
        the clock wire of a logic tile, the outputs and enables of I/O."""
        if kind == "logic":
            return self.slices * self.lut + 1
        return 2 * self.iobs if kind == "io" else 0

    def get_io_count(self):
        return get_io_tiles(self.nx, self.ny) * self.iobs

    def _lines(self, direction):
        """The rows (horizontal) or columns (vertical) that carry wires of a
        direction, and their length in tiles."""
        if direction in HORIZONTAL:
            return range(1, self.ny - 1), self.nx
        return range(1, self.nx - 1), self.ny

    def get_line_wires(self, direction):
        """[(length, track, drive, lo, hi)] of every row or column of a
        direction: the position the wire is driven at and the positions
        lo..hi it covers."""
        _, n = self._lines(direction)
        wires = []
        for length, track in self.track_list:
            for lo, hi in _runs(n, length, track):
                if direction in FORWARD:
                    wires.append((length, track, lo, lo, hi))
                else:
                    wires.append((length, track, n - 1 - lo, n - 1 - hi, n - 1 - lo))
        return wires

    def get_wires(self):
        """Every routing wire: (direction, length, track, x, y, lo, hi), with
        (x, y) the tile it is driven in and lo..hi the x (horizontal) or y
        (vertical) range of the tiles it covers."""
        for direction in DIRECTIONS:
            lines, _ = self._lines(direction)
            line_wires = self.get_line_wires(direction)
            for line in lines:
                for length, track, drive, lo, hi in line_wires:
                    if direction in HORIZONTAL:
                        yield direction, length, track, drive, line, lo, hi
                    else:
                        yield direction, length, track, line, drive, lo, hi

    def get_wire_span(self, direction, length, track, x, y):
        """(lo, hi) of the wire driven at (x, y): the x (horizontal) or y
        (vertical) range of the tiles it covers."""
        _, n = self._lines(direction)
        position = x if direction in HORIZONTAL else y
        forward = direction in FORWARD
        u = position if forward else n - 1 - position
        offset = track % length
        hi = offset - 1 if u == 0 and offset else min(u + length, n) - 1
        return (u, hi) if forward else (n - 1 - hi, n - 1 - u)


def get_io_tiles(width, height):
    """The I/O tiles of a grid: its perimeter but the corners."""
    return 2 * (width - 2 + height - 2)


def get_wire_name(direction, length, track, x, y):
    return "X%d/Y%d/%s%d_%d" % (x, y, direction, length, track)


def parse_wire_name(name):
    """(direction, length, track, x, y) of a routing wire's name, None for
    any other wire."""
    parts = name.split("/")
    if len(parts) != 3 or parts[2][:1] not in DIRECTIONS:
        return None
    length, underscore, track = parts[2][1:].partition("_")
    if not underscore or not length.isdigit() or not track.isdigit():
        return None
    return parts[2][0], int(length), int(track), int(parts[0][1:]), int(parts[1][1:])


# The local names of the pin wires fed by a tile's input multiplexers (see _add_bels).
_LAB_INPUT = re.compile(r"(I\d+_\d+|CLK|IOI\d+|IOE\d+)$")
CLOCK_WIRE = "CLK"


def is_lab_input(local_name):
    return _LAB_INPUT.match(local_name) is not None


def _add_bels(ctx, arch, loc):
    """Adds the bels and their pin wires; returns {tile: (input pins fed by
    the tile's multiplexers, outputs)}."""
    pins_and_outputs = {}
    for y in range(arch.ny):
        for x in range(arch.nx):
            kind = arch.get_kind(x, y)
            tile = "X%d/Y%d/" % (x, y)
            pins, outputs = [], []
            if kind == "logic":
                clock = tile + CLOCK_WIRE
                ctx.addWire(clock, "CLK", x, y)
                for z in range(arch.slices):
                    bel, out = tile + "SLICE%d" % z, tile + "O%d" % z
                    ctx.addWire(out, "OUT", x, y)
                    ctx.addBel(bel, "GENERIC_SLICE", loc(x, y, z), False, False)
                    ctx.addBelInput(bel, "CLK", clock)
                    ctx.addBelOutput(bel, "F", out)
                    ctx.addBelOutput(bel, "Q", out)
                    for k in range(arch.lut):
                        pin = tile + "I%d_%d" % (z, k)
                        ctx.addWire(pin, "IN", x, y)
                        ctx.addBelInput(bel, "I[%d]" % k, pin)
                        pins.append(pin)
                    outputs.append(out)
                pins.append(clock)
            elif kind == "io":
                for z in range(arch.iobs):
                    bel = tile + "IO%d" % z
                    ctx.addBel(bel, "GENERIC_IOB", loc(x, y, z), False, False)
                    for port, role in (("I", "IOI"), ("EN", "IOE"), ("O", "IOO")):
                        wire = tile + "%s%d" % (role, z)
                        ctx.addWire(wire, role, x, y)
                        if port == "O":
                            ctx.addBelOutput(bel, port, wire)
                            outputs.append(wire)
                        else:
                            ctx.addBelInput(bel, port, wire)
                            pins.append(wire)
            else:
                continue
            pins_and_outputs[(x, y)] = (pins, outputs)
    return pins_and_outputs


def _add_routing_wires(ctx, arch):
    """Adds the routing wires; returns per tile the wires driven there, the
    wires ending next to it (whose switch box it holds) and the wires
    covering it, each list as (key, name), key = (direction, length, track),
    in direction, class and track order."""
    starts, arrivals, covers = {}, {}, {}
    for direction, length, track, x, y, lo, hi in arch.get_wires():
        name = get_wire_name(direction, length, track, x, y)
        key = (direction, length, track)
        horizontal = direction in HORIZONTAL
        end, step = (hi, 1) if direction in FORWARD else (lo, -1)
        # The router estimates from a wire's nominal location: its far end.
        ctx.addWire(name, "%s%d" % (direction, length), *((end, y) if horizontal else (x, end)))
        starts.setdefault((x, y), []).append((key, name))
        arrival = (end + step, y) if horizontal else (x, end + step)
        arrivals.setdefault(arrival, []).append((key, name))
        for position in range(lo, hi + 1):
            covers.setdefault((position, y) if horizontal else (x, position), []).append((key, name))
    return starts, arrivals, covers


def get_pip_end_name(name, x, y):
    """A wire's name as a pip of tile (x, y) names it: the local part when
    the wire is named in that tile, else the local part and the offset of
    the wire's tile (E4_2@-4.0), GLB.G<n> for a global wire."""
    parts = name.split("/")
    if parts[0] == "GLB":
        return "GLB." + parts[1]
    wx, wy = int(parts[0][1:]), int(parts[1][1:])
    return parts[2] if (wx, wy) == (x, y) else "%s@%d.%d" % (parts[2], wx - x, wy - y)


def parse_pip_name(name):
    """(x, y, source wire, sink wire) of a pip's name."""
    x, y, ends = name.split("/", 2)
    x, y = int(x[1:]), int(y[1:])
    wires = []
    for end in ends.split(">"):
        local, at, offset = end.partition("@")
        if local.startswith("GLB."):
            wires.append("GLB/" + local[4:])
        else:
            dx, dy = (int(value) for value in offset.split(".")) if at else (0, 0)
            wires.append("X%d/Y%d/%s" % (x + dx, y + dy, local))
    return x, y, wires[0], wires[1]


def build(ctx, arch):
    """Builds the device in nextpnr's context; returns the number of pips."""
    from nextpnrpy_generic import Loc  # only there inside nextpnr

    ctx.setLutK(arch.lut)
    ctx.setDelayScaling(DELAY_PER_TILE_NS, 0.0)
    switch_delay = {length: ctx.getDelayFromNS(SWITCH_DELAY_NS + DELAY_PER_LENGTH_NS * length)
                    for length, _ in arch.tracks}
    pin_delay = ctx.getDelayFromNS(SWITCH_DELAY_NS)
    pins_and_outputs = _add_bels(ctx, arch, Loc)
    starts, arrivals, covers = _add_routing_wires(ctx, arch)
    globals_ = ["GLB/G%d" % g for g in range(GLOBALS)]
    for name in globals_:
        ctx.addWire(name, "GLOBAL", arch.nx // 2, arch.ny // 2)
    pips = 0

    for (x, y), (pins, outputs) in pins_and_outputs.items():
        tile = "X%d/Y%d/" % (x, y)
        loc = Loc(x, y, 0)
        added = set()
        end_names = {}

        # A pip is named after its tile, source and sink: X<x>/Y<y>/<source>><sink>, each end
        # as get_pip_end_name gives it, so that a route can be read back from the names alone.
        def add_pip(kind, source, sink, delay):
            if (source, sink) not in added:
                added.add((source, sink))
                ends = []
                for wire in (source, sink):
                    end = end_names.get(wire)
                    if end is None:
                        end = end_names[wire] = get_pip_end_name(wire, x, y)
                    ends.append(end)
                ctx.addPip(tile + ends[0] + ">" + ends[1], kind, source, sink, delay, loc)

        tile_starts = starts.get((x, y), [])
        by_direction = {d: [s for s in tile_starts if s[0][0] == d] for d in DIRECTIONS}
        # Outputs onto the wires driven here: every output reaches every direction.
        for direction in DIRECTIONS:
            targets = by_direction[direction]
            if targets and outputs:
                for i in range(max(len(outputs), OUTPUTS_PER_START * len(targets))):
                    key, name = targets[i % len(targets)]
                    add_pip("OUT", outputs[i % len(outputs)], name, switch_delay[key[1]])
        # Connection box.
        segments = [name for _, name in covers.get((x, y), [])]
        if arch.get_kind(x, y) == "logic":
            tracks = [tile + "L%d" % i for i in range(int(LOCALS_PER_INPUT * arch.slices * arch.lut))]
            n = len(tracks)
            for name in tracks:
                ctx.addWire(name, "LOCAL", x, y)
            for i, segment in enumerate(segments):
                for j in range(LOCALS_PER_SEGMENT):
                    add_pip("IN", segment, tracks[(i + j * (n // LOCALS_PER_SEGMENT + 1)) % n], pin_delay)
            for i, out in enumerate(outputs):
                add_pip("FB", out, tracks[(2 * i) % n], pin_delay)
                add_pip("FB", out, tracks[(2 * i + n // 2 + 1) % n], pin_delay)
            # Pin p reads the window of tracks from p * n / pins on: any m pins together read at
            # least min(n, m + LOCALS_PER_PIN - 1) tracks, so nets to distinct pins find distinct
            # tracks.
            for p, pin in enumerate(pins):
                first = p * n // len(pins)
                for k in range(min(n, LOCALS_PER_PIN)):
                    add_pip("LOC", tracks[(first + k) % n], pin, pin_delay)
            for name in globals_:
                add_pip("GCLK", name, tile + CLOCK_WIRE, pin_delay)
        else:
            # Only the wires that run towards the edge bring signals to an I/O tile.
            inward = "W" if x == 0 else "E" if x == arch.nx - 1 else "S" if y == 0 else "N"
            segments = [name for key, name in covers.get((x, y), []) if key[0] == inward]
            for p, pin in enumerate(pins):
                first = p * len(segments) // len(pins)
                for k in range(min(len(segments), TAPS_PER_IO_PIN)):
                    add_pip("IN", segments[(first + k) % len(segments)], pin, pin_delay)
            for out in outputs:
                for name in globals_:
                    add_pip("GBUF", out, name, pin_delay)
        # Switch box: each wire ending next to this tile continues on its own track and turns
        # onto one wire of every other direction but back, round-robin from a tile-dependent
        # offset so that neighbouring switch boxes differ.
        turn = dict.fromkeys(DIRECTIONS, x * 7 + y * 13)
        own = {start[0]: start for start in tile_starts}
        for key, name in arrivals.get((x, y), []):
            continued = own.get(key)
            if continued is not None:
                add_pip("SW", name, continued[1], switch_delay[key[1]])
            for target in DIRECTIONS:
                candidates = by_direction[target]
                if target == _BACK[key[0]] or not candidates:
                    continue
                pick = candidates[turn[target] % len(candidates)]
                turn[target] += 1
                if pick is continued and len(candidates) > 1:
                    pick = candidates[turn[target] % len(candidates)]
                    turn[target] += 1
                add_pip("SW", name, pick[1], switch_delay[pick[0][1]])
        pips += len(added)
    return pips


if "ctx" in globals():
    build(ctx, ARCH.from_environment())  # noqa: F821 (nextpnr's context)
