#!/usr/bin/env python3
"""Measures the routability verdict against the router's minimum channel
widths and writes the section "Will it route?" of docs/accuracy.md.

Usage: scripts/routability_accuracy.py [--data DIR] [--build DIR] [--write FILE]

DIR (default data/routability) holds placements.csv (one row per placement:
its netlist, its set, calibration, test or holdout, and how it was made),
channels.csv (every channel routed by scripts/min_channel_width.py, for the
searches and for the channels around each minimum), notes.txt (what was
seen in the figures, written by hand), and designs/NAME/ (each placement as
imported, on its own channel) with designs/NAME-wmin/ (the same placement
routed at its minimum channel).

On the calibration placements only, it chooses for the net boxes', the
estimate's and the baseline's maps the figure (maps, window, quantile) and
the threshold that predict W_min with the least worst error when each
netlist is left out in turn (the fourth release's choice), and replays guided
searches from those predictions; it then measures those rules and the earlier
releases' on the test and holdout placements, and the tool's own rule (the
fifth release, whose predictions are the C++ code's: the Python module's
verdict, checked equal to the tool's on every placement it runs the tool on)
on every placement, the MCNC circuits and the other architectures; it checks
that the tool's compiled rule is the fifth release's as chosen
(scripts/routability_candidate.py) and writes the figures, with the heatmaps
of the worst-predicted placements, into FILE (default docs/accuracy.md)
between the section's markers. Without --write it prints the section.
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

import min_channel_width
import routability_real
from routability_real import REAL_SETS

ROOT = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
BEGIN = "<!-- routability: written by scripts/routability_accuracy.py, do not edit by hand -->"
END = "<!-- end of routability -->"
WINDOWS = (1, 3, 5, 7, 9, 11, 15)  # square windows, tiles a side
STRETCHES = (3, 5, 7, 9)  # windows of 1 tile along the wires and this many across, and the other way round
QUANTILES = (0.5, 0.75, 0.8, 0.85, 0.9, 0.95, 0.98, 0.99, 0.995, 1.0)
TOP_SHARES = (0.005, 0.01, 0.02, 0.05, 0.1)  # the mean of this share of the largest tile values
SWEEP = 3  # channels W_min - 3 .. W_min + 3 are routed for the classification
TOOL_RUNS = 10  # the prediction's time is the fastest of this many runs of the tool
ROUTED = "routed"
SETS = ("calibration", "test", "holdout", "holdout2", "holdout3")
# The sets the fourth release was chosen on: the first release was chosen on
# the calibration set and judged on the test set, the second on the
# calibration set and judged on the holdout set; with those figures read,
# the third (the first on the net boxes) was chosen on all three and judged
# on the second holdout set; the fourth was chosen on all four and is judged
# on the third holdout set, whose figures were first read with it fixed.
CALIBRATION_SETS = ("calibration", "test", "holdout", "holdout2")
JUDGED = {"holdout3": "holdout 3 (unseen)"}
# Every set but calibration is reported, each named by what it judged.
REPORTED = {"test": "test (judged the first release)", "holdout": "holdout (judged the second)",
            "holdout2": "holdout 2 (judged the third)", **JUDGED}
# The goals: the largest mean and worst relative error of the predicted
# W_min, the least share of channels classified right, the least ratio of
# the search's time to the prediction's, the largest share of the blind
# bisection's router runs that the guided search may take.
GOALS = {"mean": 0.10, "worst": 0.20, "classified": 0.90, "faster": 1000.0, "guided runs": 0.5}
# The estimate's rule of the verdict's first release (chosen by the least
# mean error with a netlist left out), kept to report its figures beside the
# fourth release's: maps, along, across, quantile, mean above, threshold.
FIRST_RULE = ("directions", 1, 1, 1.0, False, 1.266)
# The second release's rule (chosen by the least worst error with a netlist
# of the calibration set left out), on the estimate's maps likewise.
SECOND_RULE = ("axes", 1, 1, 0.9, False, 0.667)
# The third release's rule, the first on the net boxes (chosen likewise on
# the calibration, test and holdout sets).
THIRD_RULE = ("net boxes", 1, 1, 0.98, True, 0.701)
# The fourth release's rule as released (chosen likewise on the four sets
# before holdout 3, and chosen here again).
FOURTH_RULE = ("net boxes", 9, 1, 0.95, False, 0.52)
# The guided searches simulated on the calibration placements: the first
# channel routed (the prediction plus this offset) and the first step.
GUIDED_VARIANTS = tuple((offset, step) for offset in (0, -1, 1) for step in (1, 2, 3))


def read_csv(path):
    with open(path) as rows:
        return list(csv.DictReader(rows))


class PLACEMENT:
    def __init__(self, row, data, work):
        self.name = row["placement"]
        self.netlist = row["netlist"]
        self.set = row["set"]
        self.row = row
        # A placement too large for the data folder is read from the work
        # folder of scripts/routability_data.py, which makes it again.
        kept = os.path.join(data, "designs", self.name)
        self.folder = kept if os.path.exists(os.path.join(kept, "meta.txt")) else os.path.join(work, self.name)
        self.wmin_folder = self.folder + "-wmin"
        self.outcomes = {}  # W -> routed (bool), over every search
        self.seconds = {}  # W -> the wall time of its first run
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


def load(data, work):
    placements = {}
    for row in read_csv(os.path.join(data, "placements.csv")):
        if row["set"] not in SETS + REAL_SETS:
            sys.exit("placements.csv: %s has the set %s, not one of %s" %
                     (row["placement"], row["set"], SETS + REAL_SETS))
        if any(os.path.exists(os.path.join(folder, row["placement"], "meta.txt"))
               for folder in (os.path.join(data, "designs"), work)):
            placements[row["placement"]] = PLACEMENT(row, data, work)
        else:
            print("warning: %s has no design folder yet (scripts/routability_data.py makes it): left out" %
                  row["placement"], file=sys.stderr)
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
        p.seconds.setdefault(w, float(row["seconds"]))
        p.searches[row["search"]].append(row)
        p.luts = row["luts"]
    for p in placements.values():
        # The largest circuits were searched from the estimate's prediction
        # instead of blind (data/routability/README.md).
        routed = [int(r["w"]) for r in p.searches["blind"] or p.searches["guess"] if r["outcome"] == ROUTED]
        p.w_min = min(routed) if routed else None
    return placements, conflicts


class ESTIMATE:
    """The tool's estimate of a directional design, from Python: the
    Estimator, the design's netlist and the nets the tool estimates, the
    smoothed wire demand and the supply, (4, nx, ny) each, the box demand of
    the nets as the earlier releases spread it (boxes not lengthened), (2, nx,
    ny), and the device of its meta.txt."""

    def __init__(self, cg, folder):
        d = cg.load_design(folder)
        self.tracks = d.tracks
        self.device = {"starting_share": d.starting_share, "tile_inputs": d.tile_inputs}
        supply = np.stack([d.left, d.right, d.up, d.down, d.lab_in]).astype(np.float32)
        self.nets = np.flatnonzero(((d.flags & 3) == 0) & (np.diff(d.net_start) >= 2))
        self.netlist = cg.Netlist(d.net_start, d.pin_x, d.pin_y, boxes=d.boxes)
        self.estimator = cg.Estimator(d.nx, d.ny)
        self.estimator.set_supply(supply)
        self.estimator.smooth_supply(3, 1)
        self.estimator.update_demand(self.netlist, cg.PATH_PROBABILITY, nets=self.nets)
        self.estimator.smooth_wire_demand(3, 1)
        self.demand = self.estimator.smooth_demand[:4].copy()
        self.supply = supply[:4].copy()
        self.box_demand = self.estimator.box_demand(self.netlist, nets=self.nets, extent=0.0).astype(np.float32)
        self.verdict = None

    def get_verdict(self):
        """The tool's verdict (the fifth release) on the design's own device, from the C++ code."""
        if self.verdict is None:
            self.verdict = self.estimator.routability(self.netlist, self.tracks, nets=self.nets, **self.device)
        return self.verdict


def get_family(side):
    """Every figure tried for a map, simplest first: (maps, along, across,
    quantile, mean above). The estimate's maps are its four wire directions
    or its two axes; the baseline's are its two axes; the net boxes' their
    two axes."""
    shapes = [(w, w) for w in WINDOWS] + [(1, k) for k in STRETCHES] + [(k, 1) for k in STRETCHES]
    family = []
    for maps in {"estimate": ("directions", "axes"), "baseline": ("axes",), "boxes": ("net boxes",)}[side]:
        family += [(maps, along, across, q, False) for along, across in shapes for q in QUANTILES]
        family += [(maps, 1, 1, 1.0 - share, True) for share in TOP_SHARES]
    return family


class MAPS:
    """What each figure looks at for one placement: the estimate's four
    directions (or its two axes, each the sum of its directions) against
    their supply, the baseline's two axes and the net boxes' two axes, each
    against the supply of both directions of the axis."""

    def __init__(self, cg, p):
        self.estimate = ESTIMATE(cg, p.folder)
        self.tracks = self.estimate.tracks
        demand, supply = self.estimate.demand, self.estimate.supply
        axes = np.stack([supply[0] + supply[1], supply[2] + supply[3]])
        self.maps = {("estimate", "directions"): (demand, supply, (False, False, True, True)),
                     ("estimate", "axes"): (np.stack([demand[0] + demand[1], demand[2] + demand[3]]), axes,
                                            (False, True)),
                     ("baseline", "axes"): (cg.load_baseline(p.folder), axes, (False, True)),
                     ("boxes", "net boxes"): (self.estimate.box_demand, axes, (False, True))}
        self.cache = {}

    def get_figure(self, cg, side, figure):
        key = (side,) + tuple(figure[:5])
        if key not in self.cache:
            maps, along, across, quantile, mean_above = figure[:5]
            demand, supply, vertical = self.maps[(side, maps)]
            self.cache[key] = cg.routability_figure(demand, supply, along, quantile, across=across, vertical=vertical,
                                                    mean_above=mean_above)
        return self.cache[key]


def predict(load, threshold):
    """The rule's prediction from a load (figure times tracks): the smallest
    whole track count at or above load / threshold, at least 1."""
    return max(1, math.ceil(load / threshold))


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
        errors = [abs(predict(load, threshold) - truth) / truth for load, truth in zip(loads, truths)]
        score = (statistics.mean(errors), max(errors))
        if best is None or score < best[0]:
            best = (score, threshold)
    if best is None:
        return math.inf, math.inf, math.inf
    return best[1], best[0][0], best[0][1]


def leave_one_out(placements, load):
    """The predictions of each placement by the threshold fitted on the
    placements of the other netlists."""
    predicted = {}
    for left_out in sorted({p.netlist for p in placements}):
        fit = [p for p in placements if p.netlist != left_out]
        threshold, _, _ = best_threshold([load[p.name] for p in fit], [p.w_min for p in fit])
        for p in placements:
            if p.netlist == left_out:
                predicted[p.name] = predict(load[p.name], threshold)
    return predicted


def calibrate(cg, side, placements, maps, extra=()):
    """Every figure of the family (and the `extra` ones) for one map, judged
    on the placements by leaving one netlist out at a time: the threshold
    fitted on the other netlists' placements, the error measured on the
    netlist left out. The criterion, fixed before the figures of this family
    were computed: the least worst error so measured, then the least mean,
    then the simpler figure (earlier in the family). Returns the table, best
    first: (worst, mean with a netlist left out, figure, threshold fitted on
    every placement, mean, worst of that fit, leave-one-out predictions)."""
    table = []
    for order, figure in enumerate(list(get_family(side)) + list(extra)):
        load = {p.name: maps[p.name].get_figure(cg, side, figure) * maps[p.name].tracks for p in placements}
        if not all(value > 0.0 for value in load.values()):
            continue  # a figure of 0 predicts no channel at all
        predicted = leave_one_out(placements, load)
        errors = relative_errors(placements, predicted)
        threshold, mean, worst = best_threshold([load[p.name] for p in placements], [p.w_min for p in placements])
        table.append((max(errors), statistics.mean(errors), order, tuple(figure[:5]), threshold, mean, worst,
                      predicted))
    table.sort(key=lambda row: row[:3])
    return [row[:2] + row[3:] for row in table]


def count_classified(placements, predicted):
    """The channels W_min - 3 .. W_min + 3 routed, and of them those whose
    outcome the predictions give."""
    correct = total = 0
    for p in placements:
        for w in range(p.w_min - SWEEP, p.w_min + SWEEP + 1):
            if w in p.outcomes and w >= 1:
                total += 1
                correct += (w >= predicted[p.name]) == p.outcomes[w]
    return correct, total


def evaluate(cg, side, rule, placements, maps):
    predicted = {}
    for p in placements:
        figure = maps[p.name].get_figure(cg, side, rule)
        predicted[p.name] = predict(maps[p.name].tracks * figure, rule[5])
    return (predicted,) + count_classified(placements, predicted)


class REPLAYED_ROUTER:
    """The router of min_channel_width.py replayed from the recorded channels
    of a placement: a channel routes when it is at least W_min wide (the
    search's own assumption, which the recorded channels bear out), and it
    takes the wall time recorded for it, or for the nearest recorded channel
    with the same outcome."""

    def __init__(self, p):
        self.p = p
        self.results = {}

    def route(self, width, search):
        routes = width >= self.p.w_min
        if width not in self.results:
            alike = [w for w in self.p.seconds if (w >= self.p.w_min) == routes] or list(self.p.seconds)
            self.results[width] = self.p.seconds[min(alike, key=lambda w: (abs(w - width), w))]
        return routes


def replay_guided(placements, predicted, offset=0, first_step=1):
    """Router runs and seconds of the guided search from the predictions,
    replayed; and whether every search found the recorded W_min."""
    runs = seconds = 0
    same = True
    for p in placements:
        router = REPLAYED_ROUTER(p)
        found = min_channel_width.search_from_guess(router, max(1, predicted[p.name] + offset), first_step)
        same = same and found == p.w_min
        runs += len(router.results)
        seconds += sum(router.results.values())
    return runs, seconds, same


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


def check_tool_rule(cg):
    """Warns when the tool's compiled rule is not the fifth release's as
    chosen by scripts/routability_candidate.py (extent, window along and
    across, quantile, the two exponents, the constant)."""
    import routability_candidate
    rule = cg.ROUTABILITY_RULE
    compiled = (rule["extent"], rule["along"], rule["across"], rule["quantile"], rule["exponent"], rule["exponent"],
                rule["constant"])
    if rule["maps"] != "net boxes" or rule["mean_above"] or compiled != routability_candidate.CHOSEN:
        print("warning: the tool's rule %s is not the fifth release's %s" % (compiled, routability_candidate.CHOSEN),
              file=sys.stderr)


def time_tool_verdict(build, p, maps):
    """The tool's time on the placement; exits when its verdict differs from
    the Python module's, whose predictions the page reports as the tool's."""
    seconds, verdict = time_tool(build, p.folder)
    mine = maps[p.name].estimate.get_verdict()
    if mine != {key: verdict[key] for key in mine}:
        sys.exit("the tool's verdict on %s differs from the Python module's" % p.name)
    return seconds


def get_fifth(placements, maps):
    """The fifth release's prediction of each placement: the tool's verdict,
    from the C++ code through the Python module."""
    return {p.name: maps[p.name].estimate.get_verdict()["predicted_min_tracks"] for p in placements}


def format_fifth(cg):
    """The tool's rule in words, from its compiled constants."""
    rule = cg.ROUTABILITY_RULE
    return ("net boxes lengthened by %g tile on each axis, window %d along x %d across, quantile %g, threshold %g "
            "(s / p)^%g, s the share of a direction's tracks that start a wire in a tile, p a logic tile's input "
            "pins" % (rule["extent"], rule["along"], rule["across"], rule["quantile"], rule["constant"],
                      rule["exponent"]))


def format_rule(rule):
    maps, along, across, quantile, mean_above = rule[:5]
    window = "window %d x %d" % (along, across) if along == across else "window %d along x %d across" % (along, across)
    if mean_above:
        text = "%s, mean of the top %g %% of tile values" % (maps, round(100.0 * (1.0 - quantile), 6))
    else:
        text = "%s, %s, quantile %g" % (maps, window, quantile)
    return text + (", threshold %.4g" % rule[5] if len(rule) > 5 else "")


def percent(value):
    return "%.1f %%" % (100.0 * value)


def get_search(p):
    """The search that found the placement's W_min: blind, or guided by the
    estimate for the largest circuits."""
    return "blind" if p.searches["blind"] else "guess"


def search_cost(p, search):
    rows = p.searches[search]
    return len(rows), sum(float(r["seconds"]) for r in rows)


def write_heatmap(build, p, out_dir):
    """The estimate beside the routed usage at W_min, from the tool, for the
    wire direction of the largest smoothed utilization: the placement's nets
    with the supply and usage of its W_min folder. Returns the image's path
    and the direction's name."""
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


def read_notes(path):
    """Written by hand after looking at the figures: one paragraph after a
    line "NAME:" (a placement's name, or a part of the page)."""
    notes = {}
    if os.path.exists(path):
        name = None
        with open(path) as text:
            for line in text:
                if line.rstrip().endswith(":") and " " not in line.strip():
                    name = line.strip()[:-1]
                    notes[name] = ""
                elif name is not None:
                    notes[name] = (notes[name] + " " + line.strip()).strip()
    return notes


def write_goals(out, judged, sets, results, tool_times):
    """Each goal against the fourth release and the baseline's on every judged
    set, met or missed as measured, and which of the two does better."""
    measured = {}
    for name in judged:
        members = sets[name]
        blind_runs = sum(search_cost(p, "blind")[0] for p in members)
        faster = min(search_cost(p, "blind")[1] / tool_times[p.name] for p in members)
        for label in (FOURTH, "baseline"):
            predicted, correct, total = results[(name, label)]
            errors = relative_errors(members, predicted)
            runs, _, same = replay_guided(members, predicted)
            measured[(name, label)] = {"mean": statistics.mean(errors), "worst": max(errors),
                                       "classified": correct / total, "faster": faster,
                                       "guided runs": runs / blind_runs if same else math.inf}
    rows = (("mean", "mean error at most %s" % percent(GOALS["mean"]), percent, False),
            ("worst", "worst error at most %s" % percent(GOALS["worst"]), percent, False),
            ("classified", "channels classified right: at least %s" % percent(GOALS["classified"]), percent, True),
            ("faster", "prediction faster than the blind search: at least %.0f x" % GOALS["faster"],
             lambda ratio: "%.0f x" % ratio, True),
            ("guided runs", "guided search: at most %s of the blind bisection's router runs" %
             percent(GOALS["guided runs"]), lambda share: percent(share) if math.isfinite(share) else "a W_min missed",
             False))
    columns = [(name, label) for name in judged for label in (FOURTH, "baseline")]
    out("The goals, met or missed as measured (the least ratio over the set for the time; the guided search "
        "replayed from each rule's predictions, as below):")
    out("")
    out("| goal | %s |" % " | ".join("%s: %s" % (JUDGED[name], label) for name, label in columns))
    out("|---|%s" % ("---|" * len(columns)))
    for key, text, show, at_least in rows:
        cells = []
        for column in columns:
            if key == "faster" and column[1] == "baseline":
                cells.append("(not timed)")
                continue
            value = measured[column][key]
            met = value >= GOALS[key] if at_least else value <= GOALS[key]
            cells.append("%s: %s" % (show(value), "met" if met else "missed"))
        out("| %s | %s |" % (text, " | ".join(cells)))
    out("")
    for name in judged:
        better = {}
        for key, _, _, at_least in rows[:3]:
            ours, theirs = measured[(name, FOURTH)][key], measured[(name, "baseline")][key]
            better[key] = "tie" if ours == theirs else (FOURTH if (ours > theirs) == at_least else "baseline")
        wins = collections.Counter(better.values())
        winner = max((FOURTH, "baseline"), key=lambda side: wins[side]) if wins[FOURTH] != wins["baseline"] \
            else "neither"
        named = {"mean": "the mean error", "worst": "the worst error", "classified": "the classification"}
        out("On the %s set, %s: the fourth release does better on %s, the baseline's on %s%s." %
            (JUDGED[name], "the baseline's map wins" if winner == "baseline" else
             "the net boxes win" if winner == FOURTH else "neither map wins",
             ", ".join(named[key] for key in better if better[key] == FOURTH) or "nothing",
             ", ".join(named[key] for key in better if better[key] == "baseline") or "nothing",
             "" if "tie" not in better.values() else
             ", and they tie on " + ", ".join(named[key] for key in better if better[key] == "tie")))
        out("")


# The rules measured on the judged sets, by label, and the maps they read:
# the fourth release (chosen here again, on the net boxes) first.
MEASURED = (("fourth release", "boxes"), ("estimate", "estimate"), ("baseline", "baseline"),
            ("third release", "boxes"), ("second release", "estimate"), ("first release", "estimate"))
FOURTH = MEASURED[0][0]
# The tool's rule, whose predictions are its verdict's.
FIFTH = "fifth release"


def predict_real(cg, real, maps, rules):
    """The predictions of the fifth release (the tool's), the fourth and the
    baseline's rule on each placement of the real circuits and other
    architectures."""
    predicted = {FIFTH: get_fifth(real.values(), maps)}
    for label, side in ((FOURTH, "boxes"), ("baseline", "baseline")):
        predicted[label], _, _ = evaluate(cg, side, rules[label], list(real.values()), maps)
    return predicted


def error_cell(predicted, w_min):
    return "%d (%+.1f %%)" % (predicted, 100.0 * (predicted - w_min) / w_min)


def write_real(out, args, cg, real, placements, maps, rules, notes):
    """The MCNC circuits, the other architectures and the router's truth
    (over every placement with its channels around W_min routed)."""
    if not real:
        return
    predicted = predict_real(cg, real, maps, rules)
    fifth, fourth, theirs = predicted[FIFTH], predicted[FOURTH], predicted["baseline"]
    tool_times = {p.name: time_tool_verdict(args.build, p, maps) for p in real.values()}
    blind = {p.name: p.w_min for p in real.values()}
    stable = {p.name: routability_real.get_stable_w_min(p) for p in real.values()}
    mcnc = sorted((p for p in real.values() if p.set in routability_real.MCNC_SETS),
                  key=lambda p: (int(p.luts), p.name))
    out("### The MCNC circuits")
    out("")
    if "mcnc" in notes:
        out(notes["mcnc"])
        out("")
    out("| circuit | half | LUTs | grid | logic fill | W_min | stable W_min | iterations at W_min | fifth "
        "release (the tool) predicts | fourth release predicts | baseline's rule predicts | channels W_min ± 3 "
        "classified, fifth / fourth release | all wires Pearson at W_min, estimate / baseline | search: runs, time "
        "| tool | ratio |")
    out("|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|")
    for p in mcnc:
        iterations = routability_real.get_iterations(p)[p.w_min][0]
        right = [routability_real.classify(p, rule[p.name], p.w_min) for rule in (fifth, fourth)]
        runs, seconds = search_cost(p, get_search(p))
        estimate, baseline = routability_real.get_all_wires_pearson(args.build, p)
        out("| %s | %s | %s | %s | %s | %d | %s | %d | %s | %s | %s | %d / %d of %d | %.3f / %.3f | %d, %.0f s%s "
            "| %.3f s | %.0f x |" %
            (p.name, p.set.split("_")[1], p.luts, p.meta["grid"].replace(" ", " x "),
             percent(p.utilisation), p.w_min, stable[p.name] or "-", iterations, error_cell(fifth[p.name], p.w_min),
             error_cell(fourth[p.name], p.w_min), error_cell(theirs[p.name], p.w_min), right[0][0], right[1][0],
             right[0][1], estimate, baseline, runs, seconds, "" if get_search(p) == "blind" else " (guided)",
             tool_times[p.name], seconds / tool_times[p.name]))
    out("")
    groups = [("judged half, unseen by the fifth release", [p for p in mcnc if p.set == "mcnc_judged"]),
              ("calibration half (with s38584.1 seed 2), which the fifth release was fitted on in part",
               [p for p in mcnc if p.set == "mcnc_calibration"]),
              ("all ten (seed 1)", [p for p in mcnc if p.row["seed"] == "1"])]
    write_real_summaries(out, groups, predicted, blind, stable, tool_times)

    arch = [p for p in real.values() if p.set in routability_real.ARCH_SETS]
    if arch:
        out("### Other architectures")
        out("")
        if "architectures" in notes:
            out(notes["architectures"])
            out("")
        out("| placement | set | architecture | s, p | LUTs | grid | logic fill | W_min | stable W_min | iterations "
            "at W_min | fifth release (the tool) predicts | fourth release predicts | baseline's rule predicts | "
            "channels classified, fifth / fourth release | all wires Pearson at W_min, estimate / baseline | "
            "search: runs, time |")
        out("|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|")
        by_arch = collections.OrderedDict()
        for p in sorted(arch, key=lambda p: (routability_real.get_arch_word(p), p.set, p.name)):
            by_arch.setdefault(routability_real.get_arch_word(p), []).append(p)
        for members in by_arch.values():
            for p in members:
                iterations = routability_real.get_iterations(p)[p.w_min][0]
                right = [routability_real.classify(p, rule[p.name], p.w_min) for rule in (fifth, fourth)]
                runs, seconds = search_cost(p, "blind")
                estimate, baseline = routability_real.get_all_wires_pearson(args.build, p)
                device = maps[p.name].estimate.device
                out("| %s | %s | %s | %.3f, %d | %s | %s | %s | %d | %s | %d | %s | %s | %s | %d / %d of %d | "
                    "%.3f / %.3f | %d, %.0f s |" %
                    (p.name, p.set.split("_")[1], routability_real.get_arch_word(p), device["starting_share"],
                     device["tile_inputs"], p.luts, p.meta["grid"].replace(" ", " x "), percent(p.utilisation),
                     p.w_min, stable[p.name] or "-", iterations, error_cell(fifth[p.name], p.w_min),
                     error_cell(fourth[p.name], p.w_min), error_cell(theirs[p.name], p.w_min), right[0][0],
                     right[1][0], right[0][1], estimate, baseline, runs, seconds))
        out("")
        groups = [(routability_real.get_arch_word(members[0]) + ", " + which, chosen)
                  for members in by_arch.values()
                  for which, chosen in (("judged", [p for p in members if p.set == "arch_judged"]),
                                        ("all", members))
                  if chosen]
        write_real_summaries(out, groups, predicted, blind, stable, tool_times)
    write_truth(out, sorted(list(real.values()) + list(placements.values()), key=lambda p: p.name), notes)


def write_real_summaries(out, groups, predicted, blind, stable, tool_times):
    """Per group: the fifth release's errors, lean and classification against
    W_min and against the stable W_min, the fourth's and the baseline's
    against W_min; then the goals met or missed by the fifth release."""
    out("| placements | n | fifth release (the tool) against W_min: mean / worst error, lean, channels classified | "
        "against the stable W_min | fourth release against W_min | baseline's rule against W_min | least ratio, "
        "1000+ LUTs |")
    out("|---|---|---|---|---|---|---|")
    for label, members in groups:
        members = [p for p in members if stable[p.name]]
        if not members:
            continue
        large = [search_cost(p, get_search(p))[1] / tool_times[p.name] for p in members
                 if p.name in tool_times and int(p.luts) >= 1000]
        out("| %s | %d | %s | %s | %s | %s | %s |" %
            (label, len(members),
             routability_real.format_summary(routability_real.summarise(members, predicted[FIFTH], blind)),
             routability_real.format_summary(routability_real.summarise(members, predicted[FIFTH], stable)),
             routability_real.format_summary(routability_real.summarise(members, predicted[FOURTH], blind)),
             routability_real.format_summary(routability_real.summarise(members, predicted["baseline"], blind)),
             "%.0f x" % min(large) if large else "-"))
    out("")
    out("The goals on each group, the fifth release (the tool's rule) against W_min: mean error at most %s, worst "
        "at most %s, channels classified right at least %s, over- and under-predictions within one of each other; "
        "the prediction at least %.0f times faster than the search on the placements of 1 000 LUTs or more:" %
        (percent(GOALS["mean"]), percent(GOALS["worst"]), percent(GOALS["classified"]), GOALS["faster"]))
    out("")
    out("| placements | mean | worst | classified | lean | faster, 1000+ LUTs |")
    out("|---|---|---|---|---|---|")
    for label, members in groups:
        large = [search_cost(p, get_search(p))[1] / tool_times[p.name] for p in members if int(p.luts) >= 1000]
        faster = ("%.0f x: %s" % (min(large), "met" if min(large) >= GOALS["faster"] else "missed")) if large else "-"
        out("| %s | %s | %s |" % (label, " | ".join(routability_real.goal_cells(
            routability_real.summarise(members, predicted[FIFTH], blind), GOALS)), faster))
    out("")


def write_truth(out, real, notes):
    """How W_min depends on the iteration bound and on one channel's luck."""
    out("### The truth: what W_min means")
    out("")
    if "truth" in notes:
        out(notes["truth"])
        out("")
    swept = [p for p in real if p.searches["around"]]
    changed = [p for p in swept if routability_real.get_stable_w_min(p) != p.w_min]
    out("Of %d placements with the channels W_min - 3 .. W_min + 3 routed, %d are not monotone (a channel "
        "that does not route above one that does)%s, and the stable W_min (the smallest W at and above which every "
        "routed channel routes) differs from the search's on %d%s." %
        (len(swept), sum(1 for p in swept if not routability_real.is_monotone(p)),
         " (%s)" % ", ".join(p.name for p in swept if not routability_real.is_monotone(p))
         if any(not routability_real.is_monotone(p) for p in swept) else "", len(changed),
         " (%s)" % ", ".join("%s %d for %d" % (p.name, routability_real.get_stable_w_min(p), p.w_min)
                             for p in changed) if changed else ""))
    out("")
    out("| iteration bound | placements whose stable W_min is that of the bound of 100 | higher by 1 | "
        "higher by 2 or more |")
    out("|---|---|---|---|")
    for bound in routability_real.BOUNDS:
        shifts = collections.Counter()
        for p in swept:
            at_bound = routability_real.get_stable_w_min(p, bound)
            full = routability_real.get_stable_w_min(p)
            shift = (at_bound - full) if at_bound is not None else 99
            shifts[min(shift, 2)] += 1
        out("| %d | %d | %d | %d |" % (bound, shifts[0], shifts[1], shifts[2]))
    out("")
    late = sorted((routability_real.get_iterations(p)[p.w_min][0], p.name) for p in swept)
    out("Router iterations at W_min over these placements: median %d, %d of %d above 50, %d above 80." %
        (statistics.median(i for i, _ in late), sum(1 for i, _ in late if i > 50), len(late),
         sum(1 for i, _ in late if i > 80)))
    out("")


def build_section(args, cg):
    placements, conflicts = load(args.data, args.work)
    real = {name: p for name, p in placements.items() if p.set in REAL_SETS}
    for name in sorted(name for name, p in real.items() if p.w_min is None):
        print("warning: %s has no routed channel in its blind search yet: left out" % name, file=sys.stderr)
        del real[name]
    placements = {name: p for name, p in placements.items() if p.set not in REAL_SETS}
    missing = [p.name for p in placements.values() if p.w_min is None]
    if missing:
        sys.exit("no routed channel in the blind search of " + ", ".join(missing))
    sets = {name: sorted((p for p in placements.values() if p.set == name), key=lambda p: p.name) for name in SETS}
    calibration = sorted((p for name in CALIBRATION_SETS for p in sets[name]), key=lambda p: p.name)
    judged = [name for name in JUDGED if sets[name]]
    maps = {p.name: MAPS(cg, p) for p in list(placements.values()) + list(real.values())}
    notes_path = os.path.join(args.data, "notes.txt")
    notes = read_notes(notes_path)

    lines = [BEGIN, "", "## Will it route?", ""]
    out = lines.append
    rules = {"first release": FIRST_RULE, "second release": SECOND_RULE, "third release": THIRD_RULE}
    tables = {}
    for label, side in MEASURED[:3]:
        tables[side] = calibrate(cg, side, calibration, maps)
        rules[label] = tables[side][0][2] + (tables[side][0][3],)
    if rules[FOURTH] != FOURTH_RULE:
        print("warning: the fourth release chosen again (%s) is not the one released (%s)" %
              (format_rule(rules[FOURTH]), format_rule(FOURTH_RULE)), file=sys.stderr)
    check_tool_rule(cg)

    reported = [name for name in REPORTED if sets[name]]
    results = {(name, label): evaluate(cg, side, rules[label], sets[name], maps)
               for name in reported for label, side in MEASURED}
    for name in reported:
        fifth = get_fifth(sets[name], maps)
        results[(name, FIFTH)] = (fifth,) + count_classified(sets[name], fifth)
    # The tool itself on every judged placement: its time, and its verdict
    # equal to the Python module's.
    tool_times = {}
    for name in judged:
        for p in sets[name]:
            tool_times[p.name] = time_tool_verdict(args.build, p, maps)

    netlists = {name: sorted({p.netlist for p in sets[name]}) for name in SETS}
    out("Does a placement route on its channel, and with how few tracks? The tool answers from the placement "
        "(`verdict`, `margin`, `min_supply_scale` and `predicted_min_tracks` in the report, "
        "[tool.md](tool.md#routability-verdict)); here the answer is set against the router's. "
        "The truth is the minimum channel width W_min of each placement: the fewest tracks per direction "
        "with which router2 reaches zero overuse within %s iterations, found by "
        "`scripts/min_channel_width.py` (bisection over re-routes of the fixed placement, the mix of wire "
        "lengths scaled with W)." % calibration[0].searches["blind"][0]["bound"])
    out("")
    if "releases" in notes:
        out(notes["releases"])
        out("")
    out("%d placements of %d netlists in five sets split by netlist: calibration (%d placements: %s), on "
        "which the first two releases of the rule were chosen; test (%d: %s), which judged the first; holdout "
        "(%d: %s), which judged the second; holdout 2 (%d: %s), written for the third release and routed "
        "while it was chosen on the three sets before, which judged it; and holdout 3 (%d: %s), written for "
        "the fourth and routed while it was chosen on the four sets before (%d placements "
        "of %d netlists), whose figures were first looked at with the rule fixed." %
        (len(placements), sum(len(netlists[name]) for name in SETS), len(sets["calibration"]),
         ", ".join(netlists["calibration"]), len(sets["test"]), ", ".join(netlists["test"]), len(sets["holdout"]),
         ", ".join(netlists["holdout"]), len(sets["holdout2"]), ", ".join(netlists["holdout2"]),
         len(sets["holdout3"]), ", ".join(netlists["holdout3"]) or "none yet", len(calibration),
         len({p.netlist for p in calibration})))
    out("")
    out("| placement | set | grid | LUTs | slices used | own channel | W_min | channels routed | search time |")
    out("|---|---|---|---|---|---|---|---|---|")
    for name in SETS:
        for p in sets[name]:
            runs, seconds = search_cost(p, "blind")
            out("| %s | %s | %s | %s | %s | %s | %d | %d | %.0f s |" %
                (p.name, p.set, p.meta["grid"].replace(" ", " x "), p.luts, percent(p.utilisation),
                 p.meta["tracks_per_direction"], p.w_min, len(p.outcomes), seconds))
    out("")
    out("### The rule and how it was chosen")
    out("")
    out("The figure is a high quantile of window utilization: for every tile with supply and every map (an "
        "axis of the net boxes, below), the demand summed over a window centred on the tile over the supply "
        "summed there. Demand does not depend on the channel, so on a channel scaled by s the figure is "
        "divided by s, and the placement is predicted to route while the figure stays at or below a "
        "threshold: `min_supply_scale` = figure / threshold, and `predicted_min_tracks` is the smallest whole "
        "track count at or above the design's own track count times `min_supply_scale`.")
    out("")
    out("The net boxes are each net's expected routed length spread evenly over its box: its box's width "
        "(horizontal) and height (vertical) times the crossing factor of its pin count (1 up to 3 pins, 1.45 "
        "at 10, 2.79 at 50, from Cheng's routability model), each axis against the supply of both of its "
        "directions. The first two releases read the estimate's smoothed path demand instead, which counts "
        "each load's path from the driver: on nets of many pins, which a router connects with one tree, it "
        "overestimates, and how much depends on the netlist (the table below reports each release on the "
        "set that judged it).")
    out("")
    out("On the calibration placements of the four earlier sets only, the same family of figures was tried "
        "on three maps: the net boxes' two axes; the estimate's four directions or two axes (%d figures); and "
        "the baseline's two axes (each net's width and height spread evenly over its box, no pin-count "
        "factor). The family: square windows of %s tiles, windows of 1 tile along the wires and %s across, "
        "and the other way round, each with the quantiles %s; and the mean of the top %s %% of tile values. "
        "For each figure, a threshold is fitted to give the least mean relative error of the predicted W_min "
        "(then the least worst), and the figure is judged by leaving one netlist out at a time: the threshold "
        "fitted on the other netlists, the error measured on the one left out. The criterion, that of the "
        "second release, is the least worst error so measured, then the least mean; the threshold of the "
        "figure chosen is then fitted on all calibration placements. The map was chosen the same way: the net "
        "boxes' best figure has the least worst error (the estimate's first-release figure, for the record, "
        "%s; the third release's figure, on the net boxes, %s)." %
        (len(get_family("estimate")), ", ".join(str(w) for w in WINDOWS), ", ".join(str(k) for k in STRETCHES),
         ", ".join("%g" % q for q in QUANTILES), ", ".join("%g" % (100 * s) for s in TOP_SHARES),
         percent(next(row for row in tables["estimate"] if row[2] == FIRST_RULE[:5])[0]),
         percent(next(row for row in tables["boxes"] if row[2] == THIRD_RULE[:5])[0])))
    out("")
    out("| map | rank | figure | worst / mean error, netlist left out | threshold on all | "
        "mean / worst error, fitted on all |")
    out("|---|---|---|---|---|---|")
    for side in ("boxes", "estimate", "baseline"):
        shown = list(enumerate(tables[side][:4], 1))
        release = {"estimate": (FIRST_RULE, "first release"), "boxes": (THIRD_RULE, "third release")}.get(side)
        if release:
            rank, row = next((i, row) for i, row in enumerate(tables[side], 1) if row[2] == release[0][:5])
            if rank > 4:
                shown.append((rank, row))
        for rank, row in shown:
            label = " (%s)" % release[1] if release and row[2] == release[0][:5] else ""
            out("| %s | %d%s | %s | %s / %s | %.4g | %s / %s |" %
                (side, rank, label, format_rule(row[2]), percent(row[0]), percent(row[1]), row[3], percent(row[4]),
                 percent(row[5])))
    out("")
    loo = tables["boxes"][0][6]
    by_netlist = collections.defaultdict(list)
    for p in calibration:
        by_netlist[p.netlist].append("%s %d for %d" % (p.name, loo[p.name], p.w_min))
    out("The chosen figure's predictions with each netlist left out: %s." %
        "; ".join(", ".join(items) for _, items in sorted(by_netlist.items())))
    out("")

    out("### On the unseen set")
    out("")
    out("Goals: mean error at most 10 %%, worst at most 20 %%, at least 90 %% of the channels W_min - 3 .. "
        "W_min + 3 classified right (each routed; a channel is predicted to route when it has at least "
        "`predicted_min_tracks` tracks). Beside the fourth release (net boxes): the estimate's and the "
        "baseline's maps, each with its best figure and threshold chosen the same way, the rules of the "
        "first release (%s), the second (%s) and the third (%s), and the fifth, the tool's rule (%s), which "
        "was fitted on all of these sets and is judged in the sections on the MCNC circuits and the other "
        "architectures below. The earlier holdout and test sets are reported too, each judging the release it "
        "was kept for: the fourth release and the two other maps were fitted on them." %
        (format_rule(FIRST_RULE), format_rule(SECOND_RULE), format_rule(THIRD_RULE), format_fifth(cg)))
    out("")
    labels = [label for label, _ in MEASURED] + [FIFTH]
    out("| set | netlist | placements | %s | %s |" %
        (" | ".join("%s: mean / worst error" % label for label in labels),
         " | ".join("%s: channels classified" % label for label in labels)))
    out("|---|---|---|%s" % ("---|" * (2 * len(labels))))
    for name in reported:
        groups = collections.OrderedDict()
        for p in sets[name]:
            groups.setdefault(p.netlist, []).append(p)
        groups["all"] = sets[name]
        for netlist, members in groups.items():
            cells = []
            for label in labels:
                errors = relative_errors(members, results[(name, label)][0])
                cells.append("%s / %s" % (percent(statistics.mean(errors)), percent(max(errors))))
            for label in labels:
                correct, total = count_classified(members, results[(name, label)][0])
                cells.append("%d of %d (%s)" % (correct, total, percent(correct / total)))
            out("| %s | %s | %d | %s |" % (REPORTED[name], netlist if netlist != "all" else "**all**", len(members),
                                           " | ".join(cells)))
    out("")
    write_goals(out, judged, sets, results, tool_times)
    if "summary" in notes:
        out(notes["summary"])
        out("")
    guess = statistics.median(p.w_min for p in calibration)
    for name in judged:
        constant = [abs(guess - p.w_min) / p.w_min for p in sets[name]]
        out("For scale: a constant guess, the calibration placements' median W_min (%g), errs on the %s set by "
            "%s on average, at worst by %s." % (guess, JUDGED[name], percent(statistics.mean(constant)),
                                                 percent(max(constant))))
        out("")
    out("| placement | set | W_min | %s | tool time | search time | ratio |" %
        " | ".join("%s predicts" % label for label in labels))
    out("|---|---|---|%s---|---|---|" % ("---|" * len(labels)))
    ratios = []
    for name in judged:
        for p in sets[name]:
            _, seconds = search_cost(p, "blind")
            ratio = seconds / tool_times[p.name]
            ratios.append(ratio)
            out("| %s | %s | %d | %s | %.3f s | %.0f s | %.0f x |" %
                (p.name, name, p.w_min, " | ".join("%d" % results[(name, label)][0][p.name] for label in labels),
                 tool_times[p.name], seconds, ratio))
    out("")
    if ratios:
        out("The tool's time is a whole run of `congestion-estimate` (reading the folder, the estimate, the "
            "report), the fastest of %d, measured when this page was written; the search's is the sum of its "
            "blind bisection's router runs' wall times, recorded on a shared 2-core machine under load. The "
            "prediction is %.0f to %.0f times faster (goal: 1 000)." % (TOOL_RUNS, min(ratios), max(ratios)))
    out("")

    out("### The guided search")
    out("")
    out("`min_channel_width.py --guess-from-estimate` routes the predicted W_min first, then steps away from "
        "it by 1, 2, 4, ... tracks until the answer is bracketed, and bisects. Its cost can be replayed from "
        "the recorded channels: a channel routes when it is at least W_min wide, and takes the time recorded "
        "for it or for the nearest recorded channel with the same outcome. On the calibration placements, "
        "with the chosen rule's predictions with each netlist left out, other first channels and first steps "
        "were replayed (the search is changed only for one that needs fewer runs there):")
    out("")
    out("| first channel | first step | router runs | minutes |")
    out("|---|---|---|---|")
    blind_runs = sum(search_cost(p, "blind")[0] for p in calibration)
    blind_seconds = sum(search_cost(p, "blind")[1] for p in calibration)
    out("| blind bisection | | %d | %.1f |" % (blind_runs, blind_seconds / 60))
    for offset, step in GUIDED_VARIANTS:
        runs, seconds, same = replay_guided(calibration, loo, offset, step)
        out("| prediction%s | %d | %d (%s)%s | %.1f (%s) |" %
            (" %+d" % offset if offset else "", step, runs, percent(runs / blind_runs),
             "" if same else ", a W_min missed", seconds / 60, percent(seconds / blind_seconds)))
    out("")
    for name in judged:
        members = sets[name]
        blind_runs = sum(search_cost(p, "blind")[0] for p in members)
        blind_seconds = sum(search_cost(p, "blind")[1] for p in members)
        runs, seconds, same = replay_guided(members, results[(name, FOURTH)][0])
        out("On the %s set, replayed from the fourth release's predictions: %d router runs instead of the blind "
            "bisection's %d (%s), %.1f minutes instead of %.1f (%s)%s." %
            (JUDGED[name], runs, blind_runs, percent(runs / blind_runs), seconds / 60, blind_seconds / 60,
             percent(seconds / blind_seconds), "" if same else "; some W_min missed"))
        guessed = [p for p in members if p.searches["guess"]]
        if guessed:
            guess_runs = sum(search_cost(p, "guess")[0] for p in guessed)
            guess_seconds = sum(search_cost(p, "guess")[1] for p in guessed)
            blind_runs_g = sum(search_cost(p, "blind")[0] for p in guessed)
            blind_seconds_g = sum(search_cost(p, "blind")[1] for p in guessed)
            same = sum(1 for p in guessed
                       if min(int(r["w"]) for r in p.searches["guess"] if r["outcome"] == ROUTED) == p.w_min)
            out("Run for real (`--guess-from-estimate`) with the tool's predictions on %d of its placements: the same W_min as "
                "the blind bisection on %d; %d router runs instead of %d (%s), %.1f minutes instead of %.1f "
                "(%s)." % (len(guessed), same, guess_runs, blind_runs_g, percent(guess_runs / blind_runs_g),
                           guess_seconds / 60, blind_seconds_g / 60, percent(guess_seconds / blind_seconds_g)))
        out("")
    if "guided" in notes:
        out(notes["guided"])
        out("")

    write_real(out, args, cg, real, placements, maps, rules, notes)

    out("### Where it is wrong")
    out("")
    page_dir = os.path.dirname(args.write or os.path.join(ROOT, "docs", "accuracy.md"))
    out("The worst-predicted placement of each netlist of holdout 3 under the fourth release: the estimate "
        "(left) beside the routed usage at W_min (right), both over the supply of W_min, in the wire "
        "direction of the largest smoothed utilization.")
    out("")
    images = os.path.join(page_dir, "images", "routability")
    written = []
    for name in judged:
        predicted = results[(name, FOURTH)][0]
        ranked = sorted(sets[name], key=lambda p: (-abs(predicted[p.name] - p.w_min) / p.w_min, p.name))
        for netlist in netlists[name]:
            p = next(p for p in ranked if p.netlist == netlist)
            image, direction = write_heatmap(args.build, p, images)
            written.append(os.path.basename(image))
            out("**%s** (%s, W_min %d, predicted %d), %s:" % (p.name, name, p.w_min, predicted[p.name], direction))
            out("")
            out("![%s, %s](%s)" % (p.name, direction, os.path.relpath(image, page_dir)))
            out("")
            out(notes.get(p.name, "(no note yet on why: add one to %s)" % os.path.relpath(notes_path, ROOT)))
            out("")
    # The images of placements no longer among the worst go with their text
    # when the page is written.
    for stale in sorted(set(os.listdir(images)) - set(written)) if args.write else ():
        if stale.endswith(".png"):
            os.remove(os.path.join(images, stale))
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
    parser.add_argument("--work", default=os.path.join(ROOT, "out", "routability"),
                        help="work folder of scripts/routability_data.py, where the larger placements are")
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
