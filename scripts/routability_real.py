"""The parts of the page "Will it route?" on real circuits and other
architectures, which scripts/routability_accuracy.py writes: the MCNC
circuits on the default architecture, each other architecture, and the
router's own answer (W_min) and how stable it is.

The measures here read a PLACEMENT of routability_accuracy.py: its recorded
channels (outcome, router iterations), its blind search's W_min, and its
folders (the placement on its own channel, and the placement routed at
W_min).
"""
import json
import os
import shutil
import statistics
import subprocess
import tempfile

# The sets of real circuits and other architectures (data/routability/README.md).
MCNC_SETS = ("mcnc_calibration", "mcnc_judged")
ARCH_SETS = ("arch_calibration", "arch_judged")
REAL_SETS = MCNC_SETS + ARCH_SETS
# The router iteration bounds under which the minimum channel is measured
# again from the recorded channels (each was routed with a bound of 100: a
# channel that routed in k iterations routes under any bound of k or more,
# one that did not route does not under a smaller bound).
BOUNDS = (25, 50, 75, 100)
SWEEP = 3


def get_iterations(p):
    """W -> the router iterations of the placement's first recorded run of
    channel W, and whether it routed."""
    runs = {}
    for rows in p.searches.values():
        for row in rows:
            runs.setdefault(int(row["w"]), (int(row["iterations"]), row["outcome"] == "routed"))
    return runs


def get_stable_w_min(p, bound=None):
    """The smallest W at and above which every recorded channel routes
    (within `bound` iterations when given): the minimum channel that no one
    channel's luck decides. None when the widest recorded channel does not
    route."""
    runs = get_iterations(p)
    stable = None
    for w in sorted(runs, reverse=True):
        iterations, routed = runs[w]
        if not routed or (bound is not None and iterations > bound):
            break
        stable = w
    return stable


def is_monotone(p):
    """Whether no recorded channel routes below one that does not."""
    runs = get_iterations(p)
    failed = [w for w, (_, routed) in runs.items() if not routed]
    return not failed or min(w for w, (_, routed) in runs.items() if routed) > max(failed)


def get_arch_word(p):
    """The architecture of a placement, from its folder's meta.txt."""
    meta = p.meta
    return "%s slices of %s-input LUTs, `%s`" % (meta["slices"], meta["lut"], meta["tracks"])


def get_all_wires_pearson(build, p):
    """(estimate, baseline) all-wires Pearson of the placement's estimate
    against its routing at W_min, from the tool."""
    tool = os.path.join(build, "tools", "congestion-estimate")
    with tempfile.TemporaryDirectory() as folder:
        design = os.path.join(folder, p.name + "-wmin")
        os.makedirs(design)
        for name in ("tiles.txt", "routed.txt", "meta.txt"):
            shutil.copyfile(os.path.join(p.wmin_folder, name), os.path.join(design, name))
        shutil.copyfile(os.path.join(p.folder, "nets.txt"), os.path.join(design, "nets.txt"))
        done = subprocess.run([tool, design, "--no-timings", "--json", "-"], stdout=subprocess.PIPE, check=True)
    rows = json.loads(done.stdout)["accuracy"]["rows"]
    row = next(r for r in rows if r["truth"] == "right+left+up+down")
    return row["estimate_figures"]["pearson"], row["baseline_figures"]["pearson"]


def percent(value):
    return "%.1f %%" % (100.0 * value)


def classify(p, predicted, w_min):
    """Channels w_min - 3 .. w_min + 3 recorded, and of them those whose
    outcome the prediction gives (a channel routes when it has at least the
    predicted tracks)."""
    correct = total = 0
    for w, (_, routed) in get_iterations(p).items():
        if w_min - SWEEP <= w <= w_min + SWEEP:
            total += 1
            correct += (w >= predicted) == routed
    return correct, total


def summarise(placements, predicted, truth):
    """Mean and worst relative error, over- and under-predictions, and the
    channels classified right, of predictions against a truth (name ->
    W_min)."""
    errors = [abs(predicted[p.name] - truth[p.name]) / truth[p.name] for p in placements]
    over = sum(1 for p in placements if predicted[p.name] > truth[p.name])
    under = sum(1 for p in placements if predicted[p.name] < truth[p.name])
    correct = total = 0
    for p in placements:
        c, t = classify(p, predicted[p.name], truth[p.name])
        correct += c
        total += t
    return {"mean": statistics.mean(errors), "worst": max(errors), "over": over, "under": under,
            "correct": correct, "total": total}


def format_summary(s):
    return "%s / %s, %d over, %d under, %d of %d (%s)" % (
        percent(s["mean"]), percent(s["worst"]), s["over"], s["under"], s["correct"], s["total"],
        percent(s["correct"] / s["total"]) if s["total"] else "-")


def goal_cells(s, goals):
    """Each goal met or missed by a summary."""
    lean = abs(s["over"] - s["under"]) <= 1
    return ["%s: %s" % (percent(s["mean"]), "met" if s["mean"] <= goals["mean"] else "missed"),
            "%s: %s" % (percent(s["worst"]), "met" if s["worst"] <= goals["worst"] else "missed"),
            "%s: %s" % (percent(s["correct"] / s["total"]) if s["total"] else "-",
                        "met" if s["total"] and s["correct"] / s["total"] >= goals["classified"] else "missed"),
            "%d over, %d under: %s" % (s["over"], s["under"], "met" if lean else "missed")]
