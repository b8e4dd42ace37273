#!/usr/bin/env python3
# The accuracy tables of the generic designs in docs/accuracy.md, made again from the designs.
"""Usage: scripts/generic_accuracy.py [--designs DIR] [--tools DIR] [--page FILE] [--sizes 20,40,60,80]

For every generic design folder of DIR (default out/generic, made by `make
generic-designs`, which this script runs first when a design of the sizes
is missing):
  1. congestion-estimate with both net models: the figures of its accuracy
     table against the targets;
  2. a second routing of the same placement on the same channel
     (congestion-import --reroute into DIR/NAME-again, skipped when there,
     with nextpnr's record of the routing): how well the router agrees with
     itself;
  3. from that record, where the routed wires lie: against the net's
     direction, on pin tiles, on nets of 16 pins or more, and how the
     estimate of those nets and of the others compares with their wires.
The tables go into FILE (default docs/accuracy.md) between the script's own
marker comments; the rest of the page stays as it is."""

import argparse
import json
import os
import shutil
import subprocess
import sys
import tempfile

import generic_routing  # beside this script: nextpnr's record of the routing, read by names alone

ROOT = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))

BEGIN = "<!-- generic-accuracy: begin (written by scripts/generic_accuracy.py; edit the script, not this text) -->"
END = "<!-- generic-accuracy: end -->"
NETLISTS = ("lfsr_mesh", "fir_mac")
# The netlists any rule or default may be tuned on; the others judge it.
CALIBRATION = ("lfsr_mesh",)
MODELS = ("path", "bbox")
DIRECTIONS = ("HORIZONTAL_LEFT", "HORIZONTAL_RIGHT", "VERTICAL_UP", "VERTICAL_DOWN")
ALL_WIRES_FLOOR = 0.93
TOP10_FLOOR = 0.6
DIRECTIONS_FLOOR = 0.85
TOP_FRACTION = 0.1
# The path model's rule changes at this pin count: smaller nets load by load, larger ones by quadrant counts.
LARGE_NET_PINS = 16
# routed.txt's wire columns.
WIRE_COLUMNS = ("right", "left", "up", "down")
# nets.txt: the flags column, and the flag that leaves a net out of the estimate (constant).
FLAGS_FIELD = 2
FLAG_LEFT_OUT = 2
AGAIN = "-again"


def read_meta(folder):
    with open(os.path.join(folder, "meta.txt")) as text:
        return dict(line.rstrip("\n").partition(" ")[::2] for line in text)


def rounded(value):
    """A figure as the tables print it: the targets compare printed values,
    so that "level" means equal to the third decimal."""
    return round(value, 3)


def run_tool(tool, folder, *options):
    output = subprocess.run([tool, folder, "--no-timings", "--json", "-"] + list(options), check=True,
                            stdout=subprocess.PIPE, universal_newlines=True).stdout
    return {row["estimate"]: row for row in json.loads(output)["accuracy"]["rows"]}


def get_figures(tool, folder, model):
    """{figure: (estimate, baseline)} of one design under one net model."""
    rows = run_tool(tool, folder, "--model", model)

    def pair(name, key="pearson"):
        return tuple(rounded(rows[name][side + "_figures"][key]) for side in ("estimate", "baseline"))

    figures = {"all": pair("all wires"), "H": pair("H (left+right)"), "V": pair("V (up+down)"),
               "top10": pair("all wires", "top10_share")}
    for name in DIRECTIONS:
        figures[name] = pair(name)
    figures["directions"] = tuple(
        rounded(sum(rows[name][side + "_figures"]["pearson"] for name in DIRECTIONS) / len(DIRECTIONS))
        for side in ("estimate", "baseline"))
    return figures


def get_missed(figures):
    """The targets a design's figures miss, by name."""
    missed = []
    estimate, baseline = figures["all"]
    if estimate < ALL_WIRES_FLOOR or estimate <= baseline:
        missed.append("all wires")
    for axis in ("H", "V"):
        if figures[axis][0] <= figures[axis][1]:
            missed.append(axis)
    if figures["top10"][0] < TOP10_FLOOR:
        missed.append("top10")
    estimate, baseline = figures["directions"]
    if estimate < DIRECTIONS_FLOOR or estimate < baseline:
        missed.append("directions")
    return missed


# The tool's figures, for two routings of one placement.
def get_pearson(a, b):
    mean_a, mean_b = sum(a) / len(a), sum(b) / len(b)
    covariance = sum((x - mean_a) * (y - mean_b) for x, y in zip(a, b))
    variance_a = sum((x - mean_a) ** 2 for x in a)
    variance_b = sum((y - mean_b) ** 2 for y in b)
    return covariance / (variance_a * variance_b) ** 0.5


def get_top_share(truth, other):
    """The share of truth's top tiles among other's: the largest values
    first, the earlier tile first among equals, as the tool counts."""
    count = max(1, int(len(truth) * TOP_FRACTION))

    def top(values):
        return set(sorted(range(len(values)), key=lambda i: -values[i])[:count])

    return len(top(truth) & top(other)) / count


def read_columns(folder):
    """Per tile with wire supply, in file order: the routed wire columns."""
    with open(os.path.join(folder, "tiles.txt")) as text:
        supplied = [sum(map(int, line.split()[3:7])) > 0 for line in text.read().splitlines()[2:]]
    with open(os.path.join(folder, "routed.txt")) as text:
        rows = [list(map(int, line.split()[2:6])) for line in text.read().splitlines()[2:]]
    return [row for row, has in zip(rows, supplied) if has]


def get_agreement(first, second):
    """(all wires Pearson, top-10 % share, mean of the direction rows) of
    the second routing against the first."""
    a, b = read_columns(first), read_columns(second)
    directions = [get_pearson([row[c] for row in a], [row[c] for row in b]) for c in range(len(WIRE_COLUMNS))]
    totals_a, totals_b = [sum(row) for row in a], [sum(row) for row in b]
    return (rounded(get_pearson(totals_a, totals_b)), rounded(get_top_share(totals_a, totals_b)),
            rounded(sum(directions) / len(directions)))


def read_nets(folder):
    """{net name: (flags, [(x, y) of each pin, driver first], (xl, xr, yb, yt))}."""
    with open(os.path.join(folder, "netnames.txt")) as text:
        names = dict(line.rstrip("\n").split(" ", 1) for line in text)
    nets = {}
    with open(os.path.join(folder, "nets.txt")) as text:
        for line in text.read().splitlines()[2:]:
            values = list(map(int, line.split()))
            pins = list(zip(values[11::2], values[12::2]))
            nets[names[str(values[0])]] = (values[FLAGS_FIELD], pins, tuple(values[4:8]))
    return nets


def is_with_net(direction, tile, driver, box):
    """Whether a wire of the direction in the tile runs the way the estimate
    can send the net: away from the driver, inside the box, on an axis the
    box spans."""
    (x, y), (dx, dy), (xl, xr, yb, yt) = tile, driver, box
    return {"E": xr > dx and dx <= x <= xr, "W": xl < dx and xl <= x <= dx,
            "N": yt > dy and dy <= y <= yt, "S": yb < dy and yb <= y <= dy}[direction]


def get_wire_figures(folder, routed_json):
    """Where the routed wires of the estimated nets lie, from nextpnr's
    record: shares of the wire-tiles (a wire counted once in each tile of
    its used extent, as routed.txt counts) and the wire-tiles of the nets of
    LARGE_NET_PINS pins or more."""
    nx, ny, _ = generic_routing.read_grid(os.path.join(folder, "tiles.txt"), "tiles")
    nets = read_nets(folder)
    counts = dict.fromkeys(("tiles", "against", "against_load", "pin", "large"), 0)
    per_direction = {column: [0, 0] for column in WIRE_COLUMNS}  # [against, all]
    for name, _, wires in generic_routing.read_routes(routed_json, nx, ny):
        if name not in nets:
            continue
        flags, pins, box = nets[name]
        if flags & 3 or len(pins) < 2:
            continue
        for wire in wires:
            column = generic_routing.DIRECTION_COLUMN[wire.direction]
            for tile in wire.tiles:
                against = not is_with_net(wire.direction, tile, pins[0], box)
                counts["tiles"] += 1
                counts["against"] += against
                counts["against_load"] += against and tile in pins[1:] and tile != pins[0]
                counts["pin"] += tile in pins
                counts["large"] += len(pins) >= LARGE_NET_PINS
                per_direction[column][0] += against
                per_direction[column][1] += 1
    return counts, per_direction


def get_estimate_sum(tool, folder, large):
    """The estimate's wire demand of the nets of LARGE_NET_PINS pins or more
    (large) or of the others, all four directions: the tool on a copy of the
    folder whose other nets are marked constant, so left out."""
    with tempfile.TemporaryDirectory() as work:
        for name in ("tiles.txt", "netnames.txt", "meta.txt", "routed.txt"):
            shutil.copyfile(os.path.join(folder, name), os.path.join(work, name))
        with open(os.path.join(folder, "nets.txt")) as text, open(os.path.join(work, "nets.txt"), "w") as out:
            for number, line in enumerate(text):
                values = line.split()
                if number >= 2 and (int(values[1]) >= LARGE_NET_PINS) != large:
                    values[FLAGS_FIELD] = str(int(values[FLAGS_FIELD]) | FLAG_LEFT_OUT)
                    line = " ".join(values) + "\n"
                out.write(line)
        return run_tool(tool, work)["all wires"]["sums"]["estimate"]


def route_again(tools, folder):
    """The folder of a second routing of folder's placement on its channel,
    with nextpnr's record of it; made when missing."""
    again = folder + AGAIN
    record = os.path.join(again, "routed.json")
    if not os.path.exists(record):
        subprocess.run([os.path.join(tools, "congestion-import"), "--reroute", folder, "--tracks",
                        read_meta(folder)["tracks"], "--out", again, "--nextpnr-arg=--write=" + record, "--quiet"],
                       check=True)
    return again, record


def cell(pair):
    return "%.3f / %.3f" % pair


def percent(part, whole):
    return "%.0f %%" % (100.0 * part / whole) if whole else "-"


def get_section(designs, tools):
    """The page's section between the markers, as lines."""
    tool = os.path.join(tools, "congestion-estimate")
    lines = [BEGIN, ""]
    for model in MODELS:
        lines += ["Estimate / baseline with `--model %s`%s:" % (model, " (the default)" if model == MODELS[0] else ""),
                  "",
                  "| design | set | grid, tracks | nets | router iterations | all wires Pearson | H Pearson | V Pearson | "
                  "all wires top10 | directions Pearson (mean of 4) | left | right | up | down | targets missed |",
                  "|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|"]
        for name, folder in designs:
            meta = read_meta(folder)
            figures = get_figures(tool, folder, model)
            lines.append("| %s | %s | %s, `%s` | %s | %s | %s | %s |" % (
                name, "calibration" if name.rsplit("_", 1)[0] in CALIBRATION else "judged",
                meta["grid"].replace(" ", " x "), meta["tracks"], meta["nets"], meta["route_iterations"],
                " | ".join(cell(figures[key]) for key in ("all", "H", "V", "top10", "directions") + DIRECTIONS),
                ", ".join(get_missed(figures)) or "none"))
        lines.append("")
    lines += ["The router against itself and where its wires lie: a second routing of each placement on its "
              "channel (`--reroute`) against the first (a placement that was itself rerouted routes the same "
              "way again), and, from nextpnr's record of the second routing, the shares of the wire-tiles (a "
              "wire counted in each tile of its used extent) that run against the net's direction (another "
              "direction than away from the driver inside the pin box), those of them on a load's tile, the "
              "share against the net in each direction, the share on pin tiles, the share carried by nets of "
              "%d pins or more, and the estimate's demand per routed wire-tile of those nets and of the others "
              "(the path model):" % LARGE_NET_PINS, "",
              "| design | all wires Pearson | top10 | directions | against the net | on a load's tile | "
              "right / left / up / down against | on pin tiles | nets of %d+ pins | estimate per wire-tile, "
              "%d+ / others |" % (LARGE_NET_PINS, LARGE_NET_PINS),
              "|---|---|---|---|---|---|---|---|---|---|"]
    for name, folder in designs:
        again, record = route_again(tools, folder)
        agreement = get_agreement(folder, again)
        counts, per_direction = get_wire_figures(again, record)
        tiles = counts["tiles"]
        large = get_estimate_sum(tool, again, True) / counts["large"] if counts["large"] else 0.0
        small = get_estimate_sum(tool, again, False) / (tiles - counts["large"])
        rerouted = read_meta(folder)["rerouted_from"] != "-"
        lines.append("| %s | %s | %s | %s | %s | %s | %s | %s | %s | %.2f / %.2f |" % (
            (name,) + (("same routing",) * 3 if rerouted else tuple("%.3f" % value for value in agreement)) +
            (percent(counts["against"], tiles), percent(counts["against_load"], tiles),
                                   " / ".join(percent(*per_direction[c]) for c in WIRE_COLUMNS),
                                   percent(counts["pin"], tiles), percent(counts["large"], tiles), large, small)))
    lines += ["", "Made by `scripts/generic_accuracy.py` (after `make generic-designs`, which it runs when a "
              "design is missing) from the folders of `out/generic/`.", "", END]
    return lines


def write_section(page, section):
    with open(page) as text:
        lines = text.read().split("\n")
    if BEGIN not in lines or END not in lines or lines.index(END) < lines.index(BEGIN):
        raise SystemExit("generic_accuracy.py: %s has no line '%s' followed by a line '%s'." % (page, BEGIN, END))
    lines[lines.index(BEGIN):lines.index(END) + 1] = section
    with open(page, "w") as text:
        text.write("\n".join(lines))


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--designs", default=os.path.join(ROOT, "out", "generic"))
    parser.add_argument("--tools", default=os.path.join(ROOT, "build", "tools"))
    parser.add_argument("--page", default=os.path.join(ROOT, "docs", "accuracy.md"))
    parser.add_argument("--sizes", default="20,40,60,80")
    arguments = parser.parse_args(argv)
    names = ["%s_%d" % (netlist, int(size)) for size in arguments.sizes.split(",") for netlist in NETLISTS]
    designs = [(name, os.path.join(arguments.designs, name)) for name in names]
    if not all(os.path.exists(os.path.join(folder, "routed.txt")) for _, folder in designs):
        subprocess.run([sys.executable, os.path.join(ROOT, "scripts", "generic_designs.py"),
                        os.path.join(arguments.tools, "congestion-import"), arguments.designs,
                        "--sizes", arguments.sizes], check=True)
    write_section(arguments.page, get_section(designs, arguments.tools))
    print("generic_accuracy.py: wrote the generic designs' tables into %s" % arguments.page)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
