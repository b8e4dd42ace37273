#!/usr/bin/env python3
"""Judges congestion-place by the router: the minimum channel width and the
routed wire of nextpnr's placement and of the placement refined with each
map, and writes the section "Congestion-driven placement" of docs/accuracy.md.

Usage: scripts/placement_accuracy.py [--run] [--retime] [--write FILE] [--data DIR]
           [--work DIR] [--tools DIR] [NAME ...]

DIR (default data/placement) holds placements.csv (one row per placement:
its netlist, how it is imported, and its set: `tuning`, the netlists the
pass's defaults were chosen on, or `judged`, netlists it was not tuned
with), results.csv (one row per placement and variant: nextpnr's placement
and the refinements steered by the estimate and by the net boxes) and
channels.csv (every channel routed, as scripts/min_channel_width.py writes
them).

With --run, for each placement of placements.csv (or each NAME), in the
file's order, unless results.csv has it already:
  1. congestion-import --arch generic --no-route of the netlist with the
     row's top, parameters, grid and seed into WORK/NAME; when the same
     placement lies in data/routability, its channels are taken over;
  2. nextpnr's placement time: the fastest of TIMING_RUNS imports of
     WORK/NAME/synth.json (meta.txt's time_place_s: packing and placement);
  3. congestion-place with --map estimate and --map boxes into
     WORK/NAME-estimate and WORK/NAME-boxes, each timed as the fastest of
     TIMING_RUNS runs of the whole command;
  4. W_min of the three placements: nextpnr's by min_channel_width.py's
     blind search, the refined ones guided from nextpnr's W_min
     (--guess), outcomes already in channels.csv replayed;
  5. the routed wire of the three (meta.txt's routed_x_total +
     routed_y_total: the wires' used extents in tiles) on one common
     channel: a quarter wider than the widest of the three W_min, and at
     least the design's own, so that it measures the placement's wire
     rather than the router's detours at its limit.
The work is long (minutes per placement on 2 cores): run it unattended; the
rows are appended as each placement is done, and a second run continues
where the first stopped.

With --retime, nextpnr's placement and the pass are timed again (as in 2
and 3) for every placement results.csv holds, and only their times are
rewritten: after a change that makes the pass faster and leaves its
placements as they were.

With --write FILE the section between its markers in FILE (default
docs/accuracy.md) is written from the data alone; without it, printed.
"""
import argparse
import csv
import math
import os
import re
import shutil
import statistics
import subprocess
import sys
import time

import min_channel_width

ROOT = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
BEGIN = "<!-- placement-accuracy: begin (written by scripts/placement_accuracy.py; edit the script, not this text) -->"
END = "<!-- placement-accuracy: end -->"
ROUTABILITY_DATA = os.path.join(ROOT, "data", "routability")
VARIANTS = ("nextpnr", "estimate", "boxes")
MAPS = ("estimate", "boxes")
SETS = ("tuning", "judged")
TIMING_RUNS = 3
COMMON_MARGIN = 1.25  # the common channel over the widest W_min
RESULT_FIELDS = ("placement", "set", "netlist", "grid", "slices", "variant", "w_min", "channel", "wire", "seconds",
                 "refreshes", "refresh_seconds", "temperatures", "moves")
# The goals of the judged placements.
W_MIN_GOAL = -10.0  # per cent, on average
MAX_TRACKS_ABOVE = 1
WIRE_GOAL = 5.0  # per cent above, on every placement
PASS_LINE = re.compile(r"(\d+) temperatures, (\d+) moves; the map \(\w+\) made (\d+) times in ([\d.]+) s")


class ACCURACY_ERROR(Exception):
    pass


def read_csv(path):
    if not os.path.exists(path):
        return []
    with open(path) as rows:
        return list(csv.DictReader(rows))


def append_rows(path, fields, rows):
    new = not os.path.exists(path) or os.path.getsize(path) == 0
    with open(path, "a", newline="") as out:
        writer = csv.DictWriter(out, fieldnames=fields, lineterminator="\n")
        if new:
            writer.writeheader()
        writer.writerows(rows)


def run(command, what):
    """Runs a command; its standard output, or ACCURACY_ERROR naming `what`."""
    done = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    if done.returncode != 0:
        raise ACCURACY_ERROR("%s failed (status %d): %s" % (what, done.returncode, done.stderr.strip()))
    return done.stdout


def read_meta(folder):
    return min_channel_width.read_meta(folder)


def get_placed_pins(folder):
    """nets.txt without what only routing knows: the placement's pins and boxes."""
    with open(os.path.join(folder, "nets.txt")) as text:
        rows = [line.split() for line in text.read().splitlines()[2:]]
    return [row[:2] + [str(int(row[2]) & 3)] + row[3:8] + row[11:] for row in rows]


class MEASURER:
    def __init__(self, arguments):
        self.arguments = arguments
        self.data = arguments.data
        self.work = arguments.work
        self.tools = arguments.tools
        self.channels = os.path.join(self.data, "channels.csv")
        self.results = os.path.join(self.data, "results.csv")

    def log(self, text):
        print("%s %s" % (time.strftime("%H:%M:%S"), text), flush=True)

    def import_placement(self, row):
        out = os.path.join(self.work, row["placement"])
        if os.path.exists(os.path.join(out, "pins.txt")):
            return out
        command = [os.path.join(self.tools, "congestion-import"), os.path.join(ROOT, row["source"]), "--arch",
                   "generic", "--seed", row["seed"], "--no-route", "--quiet", "--out", out]
        if row["top"]:
            command += ["--top", row["top"]]
        if row["grid"]:
            command += ["--grid", row["grid"]]
        for define in row["parameters"].split():
            command += ["--define", define]
        run(command, "the import of %s" % row["placement"])
        return out

    def take_over_channels(self, name, folder):
        """The channels of the same placement in the routability data, when
        this import placed it the same way."""
        recorded = os.path.join(ROUTABILITY_DATA, "designs", name, "nets.txt")
        if not os.path.exists(recorded) or any(r["folder"] == name for r in read_csv(self.channels)):
            return
        if get_placed_pins(os.path.dirname(recorded)) != get_placed_pins(folder):
            return
        rows = [r for r in read_csv(os.path.join(ROUTABILITY_DATA, "channels.csv")) if r["folder"] == name]
        append_rows(self.channels, min_channel_width.CSV_FIELDS, rows)
        self.log("%s: %d channels taken over from the routability data" % (name, len(rows)))

    def time_nextpnr(self, folder):
        fastest = None
        timing = folder + "-timing"
        for _ in range(TIMING_RUNS):
            run([os.path.join(self.tools, "congestion-import"), os.path.join(folder, "synth.json"), "--arch", "generic",
                 "--grid", read_meta(folder)["grid"].replace(" ", "x"), "--io-per-tile",
                 read_meta(folder)["iobs_per_tile"], "--seed", read_meta(folder)["seed"], "--no-route", "--quiet",
                 "--out", timing], "the timing import of %s" % folder)
            seconds = float(read_meta(timing)["time_place_s"])
            fastest = seconds if fastest is None else min(fastest, seconds)
        shutil.rmtree(timing)
        return fastest

    def refine(self, folder, map_kind):
        """The refined folder and the fastest run's figures."""
        out = "%s-%s" % (folder, map_kind)
        best = None
        for _ in range(TIMING_RUNS):
            started = time.time()
            line = run([os.path.join(self.tools, "congestion-place"), folder, "--out", out, "--map", map_kind,
                        "--quiet"], "congestion-place on %s" % folder)
            seconds = time.time() - started
            found = PASS_LINE.search(line)
            if not found:
                raise ACCURACY_ERROR("congestion-place printed no summary: %s" % line.strip())
            figures = {"seconds": "%.3f" % seconds, "temperatures": found.group(1), "moves": found.group(2),
                       "refreshes": found.group(3), "refresh_seconds": found.group(4)}
            if best is None or seconds < float(best["seconds"]):
                best = figures
        return out, best

    def find_w_min(self, folder, guess=None):
        command = [sys.executable, os.path.join(ROOT, "scripts", "min_channel_width.py"), folder, "--csv",
                   self.channels, "--replay", self.channels, "--tools", self.tools]
        if guess is not None:
            command += ["--guess", str(guess)]
        output = run(command, "the channel search of %s" % folder)
        return int(output.strip().splitlines()[-1].split()[1])

    def route_wire(self, folder, width):
        """routed_x_total + routed_y_total of the folder routed on `width` tracks."""
        info = min_channel_width.DESIGN_INFO(folder)
        tracks = min_channel_width.format_tracks(min_channel_width.scale_tracks(info.classes, width))
        out = folder + "-common"
        done = subprocess.run([os.path.join(self.tools, "congestion-import"), "--reroute", folder, "--tracks", tracks,
                               "--out", out, "--quiet"], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        meta = read_meta(out)
        if done.returncode != 0 or meta.get("routed") != "yes":
            raise ACCURACY_ERROR("%s does not route on the common channel of %d tracks" % (folder, width))
        return int(meta["routed_x_total"]) + int(meta["routed_y_total"])

    def measure(self, row):
        name = row["placement"]
        self.log("%s: import" % name)
        folder = self.import_placement(row)
        self.take_over_channels(name, folder)
        meta = read_meta(folder)
        base = {"placement": name, "set": row["set"], "netlist": row["netlist"], "grid": meta["grid"].replace(" ", "x"),
                "slices": meta["util.GENERIC_SLICE"].replace(" ", "/")}
        self.log("%s: nextpnr's placement time" % name)
        results = {"nextpnr": dict(base, variant="nextpnr", seconds="%.3f" % self.time_nextpnr(folder))}
        folders = {"nextpnr": folder}
        for map_kind in MAPS:
            self.log("%s: congestion-place --map %s" % (name, map_kind))
            folders[map_kind], figures = self.refine(folder, map_kind)
            results[map_kind] = dict(base, variant=map_kind, **figures)
        self.log("%s: W_min of nextpnr's placement" % name)
        results["nextpnr"]["w_min"] = self.find_w_min(folder)
        for map_kind in MAPS:
            self.log("%s: W_min of the placement refined with --map %s" % (name, map_kind))
            results[map_kind]["w_min"] = self.find_w_min(folders[map_kind], results["nextpnr"]["w_min"])
        own = min_channel_width.DESIGN_INFO(folder).width
        common = max(own, math.ceil(COMMON_MARGIN * max(r["w_min"] for r in results.values())))
        for variant in VARIANTS:
            self.log("%s: routed wire of %s on %d tracks" % (name, variant, common))
            results[variant].update(channel=common, wire=self.route_wire(folders[variant], common))
        append_rows(self.results, RESULT_FIELDS, [results[variant] for variant in VARIANTS])
        self.log("%s: W_min %s" % (name, ", ".join("%s %d" % (v, results[v]["w_min"]) for v in VARIANTS)))

    def retime(self, names):
        """Times nextpnr's placement and the pass again for the placements
        results.csv holds, and rewrites their times (the placements, W_min
        and wire stay: the pass is deterministic)."""
        rows = read_csv(self.results)
        for name in dict.fromkeys(row["placement"] for row in rows):
            if names and name not in names:
                continue
            folder = os.path.join(self.work, name)
            self.log("%s: timing again" % name)
            times = {"nextpnr": {"seconds": "%.3f" % self.time_nextpnr(folder)}}
            for map_kind in MAPS:
                _, times[map_kind] = self.refine(folder, map_kind)
            for row in rows:
                if row["placement"] == name:
                    row.update(times[row["variant"]])
        os.replace(self.results, self.results + ".old")
        append_rows(self.results, RESULT_FIELDS, rows)
        os.remove(self.results + ".old")

    def run(self, names):
        placements = read_csv(os.path.join(self.data, "placements.csv"))
        unknown = set(names) - {row["placement"] for row in placements}
        if unknown:
            raise ACCURACY_ERROR("no placement named %s in placements.csv" % sorted(unknown)[0])
        done = {row["placement"] for row in read_csv(self.results)}
        os.makedirs(self.work, exist_ok=True)
        for row in placements:
            if (not names or row["placement"] in names) and row["placement"] not in done:
                self.measure(row)


# ---------------------------------------------------------------------------
# The section
# ---------------------------------------------------------------------------

def get_change(after, before):
    return 100.0 * (after - before) / before


def format_change(value):
    return "%+.1f %%" % value


def get_placements(data):
    """[(placement row, {variant: result row})] in placements.csv's order, measured ones only."""
    results = {}
    for row in read_csv(os.path.join(data, "results.csv")):
        results.setdefault(row["placement"], {})[row["variant"]] = row
    return [(row, results[row["placement"]]) for row in read_csv(os.path.join(data, "placements.csv"))
            if set(results.get(row["placement"], {})) == set(VARIANTS)]


class SUMMARY:
    """The figures of a set of placements."""

    def __init__(self, measured):
        self.count = len(measured)
        self.netlists = sorted({row["netlist"] for row, _ in measured})
        self.w_change = {m: [get_change(int(r[m]["w_min"]), int(r["nextpnr"]["w_min"])) for _, r in measured]
                         for m in MAPS}
        self.tracks_above = {m: [int(r[m]["w_min"]) - int(r["nextpnr"]["w_min"]) for _, r in measured] for m in MAPS}
        self.wire_change = {m: [get_change(int(r[m]["wire"]), int(r["nextpnr"]["wire"])) for _, r in measured]
                            for m in MAPS}
        self.time_ratio = {m: [float(r[m]["seconds"]) / float(r["nextpnr"]["seconds"]) for _, r in measured]
                           for m in MAPS}
        self.estimates_per_second = [int(r["estimate"]["refreshes"]) / float(r["estimate"]["refresh_seconds"])
                                     for _, r in measured if float(r["estimate"]["refresh_seconds"]) > 0]


def get_verdict(met):
    return "met" if met else "missed"


def write_section(data):
    measured = get_placements(data)
    lines = []
    lines.append("Each placement's W_min (router2 within 100 iterations, as [above](#will-it-route)) for nextpnr's "
                 "own placement and for the placement `congestion-place` refined from it, steered by the library's "
                 "estimate (`--map estimate`, the default) and by the routability verdict's net boxes "
                 "(`--map boxes`), with the pass's defaults; the routed wire of the three (the wires' used extents, "
                 "`routed_x_total + routed_y_total`) on one common channel, a quarter wider than the widest W_min "
                 "and at least the design's own; nextpnr's placement time (packing and placement inside nextpnr, "
                 "the fastest of %d imports) and the pass's (the whole command, reading and writing the folders "
                 "included, the fastest of %d runs); and how many estimates a second the loop made "
                 "(a refresh of the map: the estimate made again through the public header).\n" %
                 (TIMING_RUNS, TIMING_RUNS))
    header = ("| placement | set | grid | slices | W_min nextpnr | estimate | boxes | wire nextpnr (channel) | "
              "estimate | boxes | nextpnr placement | pass, estimate | pass, boxes | estimates a second |")
    lines += [header, "|" + "---|" * (header.count("|") - 1)]
    for row, r in measured:
        w0 = int(r["nextpnr"]["w_min"])
        wire0 = int(r["nextpnr"]["wire"])
        cells = [row["placement"], row["set"], r["nextpnr"]["grid"].replace("x", " x "),
                 r["nextpnr"]["slices"].replace("/", " of "), str(w0)]
        cells += ["%s (%s)" % (r[m]["w_min"], format_change(get_change(int(r[m]["w_min"]), w0))) for m in MAPS]
        cells += ["{:,}".format(wire0).replace(",", " ") + " (%s)" % r["nextpnr"]["channel"]]
        cells += [format_change(get_change(int(r[m]["wire"]), wire0)) for m in MAPS]
        cells += ["%.2f s" % float(r["nextpnr"]["seconds"])]
        cells += ["%.2f s (%.2f x)" % (float(r[m]["seconds"]), float(r[m]["seconds"]) / float(r["nextpnr"]["seconds"]))
                  for m in MAPS]
        refreshes = int(r["estimate"]["refreshes"])
        seconds = float(r["estimate"]["refresh_seconds"])
        cells += ["%d (%d in %.2f s)" % (round(refreshes / seconds) if seconds > 0 else 0, refreshes, seconds)]
        lines.append("| " + " | ".join(cells) + " |")
    lines.append("")
    summaries = {}
    for name in SETS:
        chosen = [(row, r) for row, r in measured if row["set"] == name]
        if chosen:
            summaries[name] = SUMMARY(chosen)
    header = ("| set | placements | netlists | W_min change, estimate: mean / worst | boxes: mean / worst | "
              "tracks above nextpnr at worst, estimate / boxes | wire change, estimate: mean / worst | "
              "boxes: mean / worst | pass time over nextpnr's, estimate: mean / worst | boxes: mean / worst |")
    lines += [header, "|" + "---|" * (header.count("|") - 1)]
    for name, s in summaries.items():
        cells = [name, str(s.count), ", ".join(s.netlists)]
        for m in MAPS:
            cells.append("%s / %s" % (format_change(statistics.mean(s.w_change[m])), format_change(max(s.w_change[m]))))
        cells.append("%+d / %+d" % (max(s.tracks_above["estimate"]), max(s.tracks_above["boxes"])))
        for m in MAPS:
            cells.append("%s / %s" % (format_change(statistics.mean(s.wire_change[m])),
                                      format_change(max(s.wire_change[m]))))
        for m in MAPS:
            cells.append("%.2f / %.2f" % (statistics.mean(s.time_ratio[m]), max(s.time_ratio[m])))
        lines.append("| " + " | ".join(cells) + " |")
    lines.append("")
    judged = summaries.get("judged")
    if judged:
        e = "estimate"
        goals = [
            ("W_min at least 10 % below nextpnr's on average", format_change(statistics.mean(judged.w_change[e])),
             statistics.mean(judged.w_change[e]) <= W_MIN_GOAL),
            ("never more than one track above nextpnr's", "%+d at worst" % max(judged.tracks_above[e]),
             max(judged.tracks_above[e]) <= MAX_TRACKS_ABOVE),
            ("routed wire at the common channel at most 5 % above", "%s at worst (%s on average)" %
             (format_change(max(judged.wire_change[e])), format_change(statistics.mean(judged.wire_change[e]))),
             max(judged.wire_change[e]) <= WIRE_GOAL),
            ("the pass no slower than nextpnr's placement", "%.2f x at worst (%.2f x on average)" %
             (max(judged.time_ratio[e]), statistics.mean(judged.time_ratio[e])), max(judged.time_ratio[e]) <= 1.0),
            ("steered by the estimate at least as well as by the net boxes, on average", "%s against %s" %
             (format_change(statistics.mean(judged.w_change[e])), format_change(statistics.mean(judged.w_change["boxes"]))),
             statistics.mean(judged.w_change[e]) <= statistics.mean(judged.w_change["boxes"])),
        ]
        lines += ["The goals on the %d judged placements (`--map estimate`), met or missed as measured:\n" %
                  judged.count, "| goal | measured | |", "|---|---|---|"]
        for goal, figure, met in goals:
            lines.append("| %s | %s | %s |" % (goal, figure, get_verdict(met)))
        lines.append("")
        lines.append("The loop made %d to %d estimates a second (median %d) on the judged placements." %
                     (min(judged.estimates_per_second), max(judged.estimates_per_second),
                      statistics.median(judged.estimates_per_second)))
        lines.append("")
    notes = os.path.join(data, "notes.md")
    if os.path.exists(notes):
        with open(notes) as text:
            lines += [text.read().rstrip("\n"), ""]
    lines.append("Made by `scripts/placement_accuracy.py --run` (the imports, passes and searches; the data are in "
                 "`data/placement/`, whose README says how) and `scripts/placement_accuracy.py --write "
                 "docs/accuracy.md` (this section, from the data alone).")
    return "\n".join(lines) + "\n"


def write_page(path, section):
    with open(path) as page:
        text = page.read()
    if BEGIN not in text or END not in text:
        raise ACCURACY_ERROR("%s has no markers of the section (%s ... %s)" % (path, BEGIN, END))
    before, _, rest = text.partition(BEGIN)
    _, _, after = rest.partition(END)
    with open(path, "w") as page:
        page.write(before + BEGIN + "\n\n" + section + "\n" + END + after)


def parse_arguments(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("names", nargs="*", metavar="NAME", help="placements to measure (default all)")
    parser.add_argument("--run", action="store_true", help="import, refine and route what results.csv lacks")
    parser.add_argument("--retime", action="store_true",
                        help="time nextpnr's placement and the pass again for what results.csv holds")
    parser.add_argument("--write", metavar="FILE", help="write the section into FILE between its markers")
    parser.add_argument("--data", default=os.path.join(ROOT, "data", "placement"), help="the data folder")
    parser.add_argument("--work", default=os.path.join(ROOT, "out", "placement"),
                        help="the folder of the imports, refined placements and routings (default out/placement)")
    parser.add_argument("--tools", default=os.path.join(ROOT, "build", "tools"),
                        help="folder of congestion-import and congestion-place (default build/tools)")
    return parser.parse_args(argv)


def main(argv):
    arguments = parse_arguments(argv)
    try:
        if arguments.run:
            MEASURER(arguments).run(arguments.names)
        if arguments.retime:
            MEASURER(arguments).retime(arguments.names)
        section = write_section(arguments.data)
        if arguments.write:
            write_page(arguments.write, section)
        else:
            sys.stdout.write(section)
    except (ACCURACY_ERROR, min_channel_width.SEARCH_ERROR) as error:
        print("placement_accuracy.py: %s" % error, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
