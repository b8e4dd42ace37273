#!/usr/bin/env python3
"""Chooses the next routability rule on the calibration placements only, by
the documented criterion, and (with --judge) measures it on the judged ones.

Usage: scripts/routability_candidate.py [--data DIR] [--work DIR] [--build DIR] [--judge]

Without --judge it chooses again on the calibration placements routed now;
with --judge it measures the candidate as written down (CHOSEN) on the
judged placements.

The family (data/routability/README.md, "The fifth release's candidate"):
the net boxes with each axis's extent lengthened by EXTENTS tiles (a net
inside one column still takes a wire out of its tile and back), the figures
of WINDOWS x QUANTILES, and a threshold that follows the device,
K * starting share ** a / tile inputs ** b with a and b of EXPONENTS, where
the starting share is the share of a direction's tracks that start a
wire in a tile (the sum of count / length over the wire classes, over the
track count: a connection enters and turns only onto wires that start where
it is) and the tile inputs those of a logic tile (slices x LUT inputs + the
clock), both from the folder's meta.txt. For each member, the constant K is
fitted for the least mean relative error of the predicted W_min, and the
member is judged by leaving one netlist out at a time; the criterion is the
least worst error so measured, then the least mean.

The box demand is computed here in NumPy, as front_end/routability.cpp
computes it, with the extent added; the tool does not compute the candidate
yet.
"""
import argparse
import collections
import os
import statistics
import sys

import numpy as np

import routability_accuracy as ra

CALIBRATION = ("calibration", "test", "holdout", "holdout2", "holdout3", "mcnc_calibration", "arch_calibration")
JUDGED = ("mcnc_judged", "arch_judged")
EXTENTS = (0.0, 0.5, 1.0, 1.5)
WINDOWS = ((1, 1), (5, 1), (9, 1), (15, 1), (3, 3))
QUANTILES = (0.9, 0.95, 0.98, 0.99)
EXPONENTS = (0.0, 0.25, 0.5, 0.75, 1.0, 1.5)
# The candidate chosen on the 69 calibration placements routed then (README):
# extent, along, across, quantile, starting-share exponent, tile-input
# exponent, K.
CHOSEN = (1.0, 5, 1, 0.95, 0.25, 0.25, 1.692)
# The crossing factors of front_end/routability.cpp.
SMALL = (1.0, 1.0, 1.0, 1.0828, 1.1536, 1.2206, 1.2823, 1.3385, 1.3991, 1.4493)
EVERY_FIVE = (1.4493, 1.6899, 1.8924, 2.0743, 2.2334, 2.3895, 2.5356, 2.6625, 2.7933)


def get_crossing_factor(pins):
    if pins <= 10:
        return SMALL[max(pins, 1) - 1]
    if pins > 50:
        return EVERY_FIVE[-1] + 0.02616 * (pins - 50)
    step, offset = divmod(pins - 10, 5)
    low = EVERY_FIVE[step]
    return low if offset == 0 else low + (EVERY_FIVE[step + 1] - low) * offset / 5.0


def get_box_demand(nx, ny, boxes, factors, extent):
    """(2, nx, ny): each net's (width + extent) and (height + extent) times
    its crossing factor, spread evenly over its box."""
    maps = []
    xl, xr, yb, yt = boxes[:, 0], boxes[:, 1], boxes[:, 2], boxes[:, 3]
    area = (xr - xl + 1.0) * (yt - yb + 1.0)
    for length in (xr - xl, yt - yb):
        share = factors * (length + extent) / area
        table = np.zeros((nx + 1, ny + 1))
        np.add.at(table, (xl, yb), share)
        np.add.at(table, (xr + 1, yb), -share)
        np.add.at(table, (xl, yt + 1), -share)
        np.add.at(table, (xr + 1, yt + 1), share)
        maps.append(table.cumsum(0).cumsum(1)[:nx, :ny])
    return np.stack(maps)


def get_starting_share(tracks):
    classes = [tuple(int(n) for n in item.split(":")) for item in tracks.split(",")]
    return sum(count / length for length, count in classes) / sum(count for _, count in classes)


class DEVICE_PLACEMENT:
    def __init__(self, cg, p):
        d = cg.load_design(p.folder)
        nets = np.flatnonzero(((d.flags & 3) == 0) & (np.diff(d.net_start) >= 2))
        self.nx, self.ny, self.tracks = d.nx, d.ny, d.tracks
        self.boxes = d.boxes[nets]
        self.factors = np.array([get_crossing_factor(int(n)) for n in np.diff(d.net_start)[nets]])
        self.supply = np.stack([d.left + d.right, d.up + d.down]).astype(np.float32)
        self.starting_share = get_starting_share(p.meta["tracks"])
        self.tile_inputs = int(p.meta["slices"]) * int(p.meta["lut"]) + 1
        self.cache = {}

    def get_load(self, cg, extent, along, across, quantile):
        key = (extent, along, across, quantile)
        if key not in self.cache:
            demand = get_box_demand(self.nx, self.ny, self.boxes, self.factors, extent).astype(np.float32)
            self.cache[key] = self.tracks * cg.routability_figure(demand, self.supply, along, quantile, across=across,
                                                                  vertical=(False, True))
        return self.cache[key]


def fit(loads, truths):
    """The constant of least mean relative error, then least worst: the
    geometric middle of the best interval between two crossings."""
    crossings = np.unique(np.concatenate([loads / k for k in range(1, 80)]))
    candidates = np.sqrt(crossings[:-1] * crossings[1:])
    predicted = np.maximum(1, np.ceil(loads[:, None] / candidates[None, :] - 1e-12))
    errors = np.abs(predicted - truths[:, None]) / truths[:, None]
    return candidates[np.lexsort((errors.max(0), errors.mean(0)))[0]]


def leave_one_out(loads, truths, netlists):
    predicted = np.empty(len(loads))
    for netlist in np.unique(netlists):
        out = netlists == netlist
        predicted[out] = np.maximum(1, np.ceil(loads[out] / fit(loads[~out], truths[~out]) - 1e-12))
    errors = np.abs(predicted - truths) / truths
    return errors.max(), errors.mean()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--data", default=os.path.join(ra.ROOT, "data", "routability"))
    parser.add_argument("--work", default=os.path.join(ra.ROOT, "out", "routability"))
    parser.add_argument("--build", default=os.path.join(ra.ROOT, "build"))
    parser.add_argument("--judge", action="store_true", help="also measure the chosen member on the judged sets")
    args = parser.parse_args()
    sys.path.insert(0, os.path.join(args.build, "python"))
    import congestion as cg
    placements, _ = ra.load(args.data, args.work)
    if args.judge:
        judge(cg, placements, CHOSEN)
        return
    calibration = sorted((p for p in placements.values() if p.set in CALIBRATION and p.w_min), key=lambda p: p.name)
    device = {p.name: DEVICE_PLACEMENT(cg, p) for p in calibration}
    truths = np.array([p.w_min for p in calibration], float)
    netlists = np.array([p.netlist for p in calibration])
    print("%d calibration placements: %s" % (len(calibration), dict(collections.Counter(
        p.row.get("arch") or "default" for p in calibration))))
    table = []
    for extent in EXTENTS:
        for along, across in WINDOWS:
            for quantile in QUANTILES:
                base = np.array([device[p.name].get_load(cg, extent, along, across, quantile) for p in calibration])
                for a in EXPONENTS:
                    for b in EXPONENTS:
                        scale = np.array([device[p.name].starting_share ** -a * device[p.name].tile_inputs ** b
                                          for p in calibration])
                        worst, mean = leave_one_out(base * scale, truths, netlists)
                        table.append((worst, mean, extent, along, across, quantile, a, b))
    table.sort()
    print("worst / mean error with a netlist left out, extent, window, quantile, starting-share and tile-input "
          "exponents:")
    for row in table[:10]:
        print("%.3f / %.3f  extent %g  window %d x %d  quantile %g  exponents %g %g" % row)
    worst, mean, extent, along, across, quantile, a, b = table[0]
    member = lambda p, d: d.get_load(cg, extent, along, across, quantile) * d.starting_share ** -a * d.tile_inputs ** b
    loads = [member(p, device[p.name]) for p in calibration]
    constant, fit_mean, fit_worst = ra.best_threshold(loads, list(truths.astype(int)))
    print("chosen: K = %.4g (threshold = K * starting share ** %g / tile inputs ** %g), fitted on all: %.1f %% / "
          "%.1f %%" % (constant, a, b, 100 * fit_mean, 100 * fit_worst))


def judge(cg, placements, chosen):
    """The candidate's predictions on every judged placement, per set and
    architecture: mean and worst error, lean, channels W_min +- 3 right."""
    extent, along, across, quantile, a, b, constant = chosen
    judged = sorted((p for p in placements.values() if p.set in JUDGED and p.w_min),
                    key=lambda p: (p.row.get("arch"), p.name))
    groups = collections.defaultdict(list)
    for p in judged:
        d = DEVICE_PLACEMENT(cg, p)
        load = d.get_load(cg, extent, along, across, quantile) * d.starting_share ** -a * d.tile_inputs ** b
        predicted = ra.predict(load, constant)
        right = total = 0
        for w, routed in p.outcomes.items():
            if abs(w - p.w_min) <= ra.SWEEP:
                total += 1
                right += (w >= predicted) == routed
        groups[(p.set, p.row.get("arch") or "default")].append((p.name, predicted, p.w_min, right, total))
    for key, rows in groups.items():
        errors = [abs(row[1] - row[2]) / row[2] for row in rows]
        print("%s %s: mean %.1f %%, worst %.1f %%, %d over, %d under, %d of %d channels right: %s" %
              (key[0], key[1], 100 * statistics.mean(errors), 100 * max(errors), sum(r[1] > r[2] for r in rows),
               sum(r[1] < r[2] for r in rows), sum(r[3] for r in rows), sum(r[4] for r in rows),
               ", ".join("%s %d for %d" % row[:3] for row in rows)))


if __name__ == "__main__":
    main()
