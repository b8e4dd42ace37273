#!/usr/bin/env python3
"""Measures the routability verdict against the router's minimum channel
widths and writes the section "Will it route?" of docs/accuracy.md.

Usage: scripts/routability_accuracy.py [--data DIR] [--build DIR] [--write FILE]

DIR (default data/routability) holds placements.csv (one row per placement:
its netlist, its set, calibration or test, and how it was made), channels.csv
(every channel routed by scripts/min_channel_width.py, for the searches and
for the channels around each minimum), and designs/NAME/ (each placement as
imported, on its own channel) with designs/NAME-wmin/ (the same placement
routed at its minimum channel).

On the calibration placements only, it chooses for the estimate's map and for
the baseline's map the window, the quantile and the threshold that predict
W_min best; it then measures both rules on the test placements, checks that
the tool's compiled rule and its verdicts are those chosen, and writes the
figures, with the heatmaps of the worst-predicted test placements, into FILE
(default docs/accuracy.md) between the section's markers. Without --write
it prints the section.
"""
import argparse
import collections
import csv
import json
import math
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

import numpy as np

ROOT = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
BEGIN = "<!-- routability: written by scripts/routability_accuracy.py, do not edit by hand -->"
END = "<!-- end of routability -->"
WINDOWS = (1, 3, 5, 7, 9, 11, 15)
QUANTILES = (0.5, 0.75, 0.8, 0.85, 0.9, 0.95, 0.98, 0.99, 0.995, 1.0)
SWEEP = 3  # channels W_min - 3 .. W_min + 3 are routed for the classification
TOOL_RUNS = 3  # the prediction's time is the fastest of this many runs of the tool
ROUTED = "routed"


def read_csv(path):
    with open(path) as rows:
        return list(csv.DictReader(rows))


class PLACEMENT:
    def __init__(self, row, data):
        self.name = row["placement"]
        self.netlist = row["netlist"]
        self.set = row["set"]
        self.row = row
        self.folder = os.path.join(data, "designs", self.name)
        self.wmin_folder = os.path.join(data, "designs", self.name + "-wmin")
        self.outcomes = {}  # W -> routed (bool), over every search
        self.searches = collections.defaultdict(list)  # search -> rows in order
        self.w_min = None
        self.meta = {}
        with open(os.path.join(self.folder, "meta.txt")) as lines:
            for line in lines:
                key, _, value = line.rstrip("\n").partition(" ")
                self.meta[key] = value
        used, available = (int(n) for n in self.meta["util.GENERIC_SLICE"].split())
        self.utilisation = used / available
        self.luts = None


def load(data):
    placements = {}
    for row in read_csv(os.path.join(data, "placements.csv")):
        if os.path.exists(os.path.join(data, "designs", row["placement"], "meta.txt")):
            placements[row["placement"]] = PLACEMENT(row, data)
        else:
            print("warning: %s has no design folder yet: left out" % row["placement"], file=sys.stderr)
    conflicts = []
    for row in read_csv(os.path.join(data, "channels.csv")):
        p = placements.get(row["folder"])
        if p is None:
            continue
        w = int(row["w"])
        routed = row["outcome"] == ROUTED
        if w in p.outcomes and p.outcomes[w] != routed:
            conflicts.append((p.name, w))
        p.outcomes[w] = routed
        p.searches[row["search"]].append(row)
        p.luts = row["luts"]
    for p in placements.values():
        routed = [int(r["w"]) for r in p.searches["blind"] if r["outcome"] == ROUTED]
        p.w_min = min(routed) if routed else None
    return placements, conflicts


def estimate_maps(cg, folder):
    """The tool's estimate of a directional design, from Python: its smoothed
    wire demand and supply, (4, nx, ny) each, and the Estimator."""
    d = cg.load_design(folder)
    supply = np.stack([d.left, d.right, d.up, d.down, d.lab_in]).astype(np.float32)
    nets = np.flatnonzero(((d.flags & 3) == 0) & (np.diff(d.net_start) >= 2))
    est = cg.Estimator(d.nx, d.ny)
    est.set_supply(supply)
    est.smooth_supply(3, 1)
    est.update_demand(cg.Netlist(d.net_start, d.pin_x, d.pin_y, boxes=d.boxes), cg.PATH_PROBABILITY, nets=nets)
    est.smooth_wire_demand(3, 1)
    return d, est, est.smooth_demand[:4].copy(), supply[:4].copy()


class MAPS:
    """What each rule looks at for one placement: the estimate's four
    directions each against its supply, and the baseline's two axes against
    the supply of both directions of the axis."""

    def __init__(self, cg, p):
        d, self.estimator, demand, supply = estimate_maps(cg, p.folder)
        self.tracks = d.tracks
        self.maps = {"estimate": (demand, supply)}
        base = cg.load_baseline(p.folder)
        axes = np.stack([supply[0] + supply[1], supply[2] + supply[3]])
        self.maps["baseline"] = (base, axes)
        self.cache = {}

    def get_figure(self, cg, side, window, quantile):
        key = (side, window, quantile)
        if key not in self.cache:
            demand, supply = self.maps[side]
            self.cache[key] = cg.routability_figure(demand, supply, window, quantile)
        return self.cache[key]


def predict(figure, tracks, threshold):
    """The tool's rounding: the smallest whole track count at or above
    tracks * figure / threshold, at least 1."""
    return max(1, math.ceil(tracks * figure / threshold))


def relative_errors(placements, predicted):
    return [abs(predicted[p.name] - p.w_min) / p.w_min for p in placements]


def shortest_decimal(low, high):
    """The number of fewest significant digits in (low, high]."""
    for digits in range(1, 17):
        scale = 10.0 ** (math.floor(math.log10(high)) - digits + 1)
        candidate = math.floor(high / scale) * scale
        if low < candidate <= high:
            return float("%.*g" % (digits, candidate))
    return high


def best_threshold(loads, truths):
    """The threshold that predicts the minima best from loads (figure times
    tracks): least mean relative error, then least worst. Predictions change
    only where load / threshold crosses a whole number, so the thresholds
    between two such crossings predict alike: of the best such interval, the
    number of fewest digits is returned, with its mean and worst error."""
    crossings = sorted({load / k for load, truth in zip(loads, truths) if load > 0.0
                        for k in range(max(1, truth - 10), truth + 11)})
    best = None
    for low, high in zip(crossings, crossings[1:]):
        threshold = shortest_decimal(low, high)
        errors = [abs(max(1, math.ceil(load / threshold)) - truth) / truth for load, truth in zip(loads, truths)]
        score = (statistics.mean(errors), max(errors))
        if best is None or score < best[0]:
            best = (score, threshold)
    if best is None:
        return math.inf, math.inf, math.inf
    return best[1], best[0][0], best[0][1]


def calibrate(cg, side, placements, maps):
    """The window, quantile and threshold for one map, from the placements.
    Each pair of window and quantile is judged by leaving one netlist out at
    a time: its threshold fitted on the other netlists' placements, its error
    measured on the netlist left out. The pair of least mean error so
    measured (then least worst) is kept, with the threshold fitted on every
    placement. Returns the table of all pairs, best first: (mean, worst with
    a netlist left out, window, quantile, threshold, mean, worst of the fit
    on every placement)."""
    netlists = sorted({p.netlist for p in placements})
    table = []
    for window in WINDOWS:
        for quantile in QUANTILES:
            load = {p.name: maps[p.name].get_figure(cg, side, window, quantile) * maps[p.name].tracks
                    for p in placements}
            if not all(value > 0.0 for value in load.values()):
                continue  # a figure of 0 predicts no channel at all
            errors = []
            for left_out in netlists:
                fit = [p for p in placements if p.netlist != left_out]
                threshold, _, _ = best_threshold([load[p.name] for p in fit], [p.w_min for p in fit])
                errors += [abs(max(1, math.ceil(load[p.name] / threshold)) - p.w_min) / p.w_min
                           for p in placements if p.netlist == left_out]
            threshold, mean, worst = best_threshold([load[p.name] for p in placements],
                                                    [p.w_min for p in placements])
            table.append((statistics.mean(errors), max(errors), window, quantile, threshold, mean, worst))
    table.sort(key=lambda row: (row[0], row[1]))
    return table


def evaluate(cg, side, rule, placements, maps):
    window, quantile, threshold = rule
    predicted = {}
    for p in placements:
        figure = maps[p.name].get_figure(cg, side, window, quantile)
        predicted[p.name] = predict(figure, maps[p.name].tracks, threshold)
    correct = total = 0
    for p in placements:
        for w in range(p.w_min - SWEEP, p.w_min + SWEEP + 1):
            if w in p.outcomes and w >= 1:
                total += 1
                correct += (w >= predicted[p.name]) == p.outcomes[w]
    return predicted, correct, total


def time_tool(build, folder):
    tool = os.path.join(build, "tools", "congestion-estimate")
    best = None
    report = None
    for _ in range(TOOL_RUNS):
        started = time.perf_counter()
        done = subprocess.run([tool, folder, "--json", "-", "--no-timings"], stdout=subprocess.PIPE, check=True)
        elapsed = time.perf_counter() - started
        best = elapsed if best is None else min(best, elapsed)
        report = json.loads(done.stdout)
    return best, report["routability"]


def format_rule(rule):
    window, quantile, threshold = rule
    return "window %d x %d, quantile %g, threshold %.4f" % (window, window, quantile, threshold)


def percent(value):
    return "%.1f %%" % (100.0 * value)


def search_cost(p, search):
    rows = p.searches[search]
    return len(rows), sum(float(r["seconds"]) for r in rows)


def write_heatmap(build, p, out_dir):
    """The estimate beside the routed usage at W_min, from the tool, for the
    wire direction where the rule's figure (the largest smoothed utilization)
    is: the placement's nets with the supply and usage of its W_min folder.
    Returns the image's path and the direction's name."""
    tool = os.path.join(build, "tools", "congestion-estimate")
    with tempfile.TemporaryDirectory() as folder:
        design = os.path.join(folder, p.name + "-wmin")
        shutil.copytree(p.wmin_folder, design)
        shutil.copyfile(os.path.join(p.folder, "nets.txt"), os.path.join(design, "nets.txt"))
        maps = os.path.join(folder, "maps")
        done = subprocess.run([tool, design, "--heatmaps", maps, "--no-timings", "--json", "-"],
                              stdout=subprocess.PIPE, check=True)
        wires = json.loads(done.stdout)["resources"][:4]
        peak = max(wires, key=lambda r: r["smoothed_peak_utilization"])
        os.makedirs(out_dir, exist_ok=True)
        image = os.path.join(out_dir, p.name + ".png")
        shutil.copyfile(os.path.join(maps, peak["type"].lower() + ".png"), image)
    return image, peak["name"]


def build_section(args, cg):
    placements, conflicts = load(args.data)
    missing = [p.name for p in placements.values() if p.w_min is None]
    if missing:
        sys.exit("no routed channel in the blind search of " + ", ".join(missing))
    calibration = sorted((p for p in placements.values() if p.set == "calibration"), key=lambda p: p.name)
    test = sorted((p for p in placements.values() if p.set == "test"), key=lambda p: p.name)
    maps = {p.name: MAPS(cg, p) for p in calibration + test}

    lines = [BEGIN, "", "## Will it route?", ""]
    out = lines.append
    rules = {}
    tables = {}
    for side in ("estimate", "baseline"):
        tables[side] = calibrate(cg, side, calibration, maps)
        _, _, window, quantile, threshold, _, _ = tables[side][0]
        rules[side] = (window, quantile, threshold)
    compiled = (cg.ROUTABILITY_RULE["window"], cg.ROUTABILITY_RULE["quantile"], cg.ROUTABILITY_RULE["threshold"])
    if compiled[:2] != rules["estimate"][:2] or abs(compiled[2] - rules["estimate"][2]) > 1e-9 * compiled[2]:
        print("warning: the tool's rule (%s) is not the calibrated one (%s)" %
              (format_rule(compiled), format_rule(rules["estimate"])), file=sys.stderr)

    results = {side: evaluate(cg, side, rules[side], test, maps) for side in rules}
    # The tool itself on every test placement: its time, and its verdict
    # equal to the one computed here with the compiled rule.
    tool_times = {}
    for p in test:
        seconds, verdict = time_tool(args.build, p.folder)
        tool_times[p.name] = seconds
        mine = maps[p.name].estimator.routability(maps[p.name].tracks)
        if mine != {key: verdict[key] for key in mine}:
            sys.exit("the tool's verdict on %s differs from the Python module's" % p.name)

    # Written by hand after looking at the figures: the summary, and what the
    # heatmaps of the worst placements show; one paragraph after a line
    # "NAME:" (a placement's name, or "summary").
    notes_path = os.path.join(args.data, "notes.txt")
    notes = {}
    if os.path.exists(notes_path):
        name = None
        with open(notes_path) as text:
            for line in text:
                if line.rstrip().endswith(":") and " " not in line.strip():
                    name = line.strip()[:-1]
                    notes[name] = ""
                elif name is not None:
                    notes[name] = (notes[name] + " " + line.strip()).strip()
    netlists = collections.OrderedDict()
    for p in calibration + test:
        netlists.setdefault(p.netlist, set()).add(p.set)
    out("Does a placement route on its channel, and with how few tracks? The tool answers from one estimate "
        "(`verdict`, `margin`, `min_supply_scale` and `predicted_min_tracks` in the report, "
        "[tool.md](tool.md#routability-verdict)); here the answer is set against the router's. "
        "The truth is the minimum channel width W_min of each placement: the fewest tracks per direction "
        "with which router2 reaches zero overuse within %s iterations, found by "
        "`scripts/min_channel_width.py` (bisection over re-routes of the fixed placement, the mix of wire "
        "lengths scaled with W)." % calibration[0].searches["blind"][0]["bound"])
    out("")
    out("%d placements of %d netlists (%d calibration, %d test), split by netlist before any test result "
        "was looked at: calibration %s; test %s." %
        (len(calibration) + len(test), len(netlists), len(calibration), len(test),
         ", ".join(sorted({p.netlist for p in calibration})), ", ".join(sorted({p.netlist for p in test}))))
    out("")
    out("| placement | set | grid | LUTs | slices used | own channel | W_min | channels routed | search time |")
    out("|---|---|---|---|---|---|---|---|---|")
    for p in calibration + test:
        runs, seconds = search_cost(p, "blind")
        out("| %s | %s | %s | %s | %s | %s | %d | %d | %.0f s |" %
            (p.name, p.set, p.meta["grid"].replace(" ", " x "), p.luts, percent(p.utilisation),
             p.meta["tracks_per_direction"], p.w_min, len(p.outcomes), seconds))
    out("")
    out("### The rule and how it was chosen")
    out("")
    out("The figure is a high quantile of window utilization: for every tile with supply and every wire "
        "direction, the smoothed demand summed over a square window centred on the tile over the supply "
        "summed there. Demand does not depend on the channel, so on a channel scaled by s the figure is "
        "divided by s, and the placement is predicted to route while the figure stays at or below a "
        "threshold: `min_supply_scale` = figure / threshold, and `predicted_min_tracks` is the smallest "
        "whole track count at or above the design's own track count times `min_supply_scale`. On the "
        "calibration placements only, every window of %s tiles and every quantile of %s was tried. "
        "A threshold is fitted to give the least mean relative error of the predicted W_min (then the least "
        "worst); each pair of window and quantile was judged by leaving one calibration netlist out at a "
        "time, fitting the threshold on the others and measuring the error on the one left out, and the "
        "pair of least mean error so measured was kept, its threshold fitted on all calibration "
        "placements. The baseline's map (each net's width and "
        "height spread evenly over its box) was given the same rule and calibrated the same way, its two "
        "axes each against the supply of both of the axis's directions." %
        (", ".join(str(w) for w in WINDOWS), ", ".join("%g" % q for q in QUANTILES)))
    out("")
    out("| map | best rule on the calibration set | mean / worst error, netlist left out | "
        "mean / worst error, fitted on all | next best |")
    out("|---|---|---|---|---|")
    for side in ("estimate", "baseline"):
        first, second = tables[side][0], tables[side][1]
        out("| %s | %s | %s / %s | %s / %s | %s (%s / %s) |" %
            (side, format_rule(rules[side]), percent(first[0]), percent(first[1]), percent(first[5]),
             percent(first[6]), format_rule(second[2:5]), percent(second[0]), percent(second[1])))
    out("")
    out("### On the test set")
    out("")
    out("| netlist | placements | estimate: mean / worst error | baseline: mean / worst error | "
        "estimate: channels classified | baseline: channels classified |")
    out("|---|---|---|---|---|---|")
    groups = collections.OrderedDict()
    for p in test:
        groups.setdefault(p.netlist, []).append(p)
    groups["all"] = test
    for netlist, members in groups.items():
        cells = []
        for side in ("estimate", "baseline"):
            predicted, _, _ = results[side]
            errors = relative_errors(members, predicted)
            cells.append("%s / %s" % (percent(statistics.mean(errors)), percent(max(errors))))
        for side in ("estimate", "baseline"):
            _, correct, total = evaluate(cg, side, rules[side], members, maps)
            cells.append("%d of %d (%s)" % (correct, total, percent(correct / total)))
        out("| %s | %d | %s |" % (netlist if netlist != "all" else "**all**", len(members), " | ".join(cells)))
    out("")
    out("Goals: mean error at most 10 %, worst at most 20 %, at least 90 % of the channels W_min - 3 .. "
        "W_min + 3 classified right (each routed; a channel is predicted to route when it has at least "
        "`predicted_min_tracks` tracks).")
    out("")
    if "summary" in notes:
        out(notes["summary"])
        out("")
    guess = statistics.median(p.w_min for p in calibration)
    constant = [abs(guess - p.w_min) / p.w_min for p in test]
    out("For scale: a constant guess, the calibration placements' median W_min (%g), errs by %s on "
        "average on the test set, at worst by %s." % (guess, percent(statistics.mean(constant)),
                                                      percent(max(constant))))
    out("")
    predicted = results["estimate"][0]
    out("| test placement | W_min | estimate predicts | baseline predicts | tool time | search time | ratio |")
    out("|---|---|---|---|---|---|---|")
    ratios = []
    for p in test:
        _, seconds = search_cost(p, "blind")
        ratio = seconds / tool_times[p.name]
        ratios.append(ratio)
        out("| %s | %d | %d | %d | %.3f s | %.0f s | %.0f x |" %
            (p.name, p.w_min, predicted[p.name], results["baseline"][0][p.name], tool_times[p.name], seconds, ratio))
    out("")
    out("The tool's time is a whole run of `congestion-estimate` (reading the folder, the estimate, the "
        "report), the fastest of %d; the search's is the sum of its router runs' wall times. The "
        "prediction is %.0f to %.0f times faster (goal: 1 000)." % (TOOL_RUNS, min(ratios), max(ratios)))
    out("")
    blind_runs = sum(search_cost(p, "blind")[0] for p in test)
    blind_seconds = sum(search_cost(p, "blind")[1] for p in test)
    guessed = [p for p in test if p.searches["guess"]]
    if guessed:
        guess_runs = sum(search_cost(p, "guess")[0] for p in guessed)
        guess_seconds = sum(search_cost(p, "guess")[1] for p in guessed)
        blind_runs_g = sum(search_cost(p, "blind")[0] for p in guessed)
        blind_seconds_g = sum(search_cost(p, "blind")[1] for p in guessed)
        same = sum(1 for p in guessed if min(int(r["w"]) for r in p.searches["guess"] if r["outcome"] == ROUTED)
                   == p.w_min)
        out("`min_channel_width.py --guess-from-estimate` on the %d test placements: the same W_min as the "
            "blind bisection on %d; %d router runs instead of %d (%s), %.1f minutes instead of %.1f (%s)." %
            (len(guessed), same, guess_runs, blind_runs_g, percent(guess_runs / blind_runs_g),
             guess_seconds / 60, blind_seconds_g / 60, percent(guess_seconds / blind_seconds_g)))
        out("")
    errors = sorted(test, key=lambda p: -abs(predicted[p.name] - p.w_min) / p.w_min)
    worst = [next(p for p in errors if p.netlist == netlist) for netlist in sorted({p.netlist for p in test})]
    out("### Where it is wrong")
    out("")
    page_dir = os.path.dirname(args.write or os.path.join(ROOT, "docs", "accuracy.md"))
    out("The worst-predicted test placement of each netlist: the estimate (left) beside the routed usage at "
        "W_min (right), both over the supply of W_min, in the wire direction of the rule's figure.")
    out("")
    for p in worst:
        image, direction = write_heatmap(args.build, p, os.path.join(page_dir, "images", "routability"))
        out("**%s** (W_min %d, predicted %d), %s:" % (p.name, p.w_min, predicted[p.name], direction))
        out("")
        out("![%s, %s](%s)" % (p.name, direction, os.path.relpath(image, page_dir)))
        out("")
        out(notes.get(p.name, "(no note yet on why: add one to %s)" % os.path.relpath(notes_path, ROOT)))
        out("")
    if conflicts:
        out("Channels routed twice with different outcomes: %s." %
            ", ".join("%s at W %d" % conflict for conflict in conflicts))
        out("")
    out("Regenerate this section: `scripts/routability_accuracy.py --write docs/accuracy.md` (after `make "
        "build`; the data are in `data/routability/`, and `data/routability/README.md` says how they were made).")
    out("")
    out(END)
    return "\n".join(lines) + "\n"


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--data", default=os.path.join(ROOT, "data", "routability"))
    parser.add_argument("--build", default=os.path.join(ROOT, "build"))
    parser.add_argument("--write", help="the Markdown file whose section is replaced")
    args = parser.parse_args()
    sys.path.insert(0, os.path.join(args.build, "python"))
    import congestion as cg
    section = build_section(args, cg)
    if not args.write:
        sys.stdout.write(section)
        return
    with open(args.write) as page:
        text = page.read()
    if BEGIN in text:
        head, rest = text.split(BEGIN, 1)
        tail = rest.split(END, 1)[1]
        text = head + section.rstrip("\n") + tail
    else:
        text = text.rstrip("\n") + "\n\n" + section
    with open(args.write, "w") as page:
        page.write(text)


if __name__ == "__main__":
    main()
