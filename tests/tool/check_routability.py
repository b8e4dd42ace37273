#!/usr/bin/env python3
# Checks the tool's routability verdict on a recorded placement against the router's minimum channel width.
"""Usage: check_routability.py ESTIMATE_TOOL DATA_DIR PLACEMENT

DATA_DIR is data/routability: the placement's folder as imported on its own
channel (designs/PLACEMENT) and the channels the router tried on it
(channels.csv). The estimate alone (no routing) must give the verdict the
router gave on the design's own channel, and a predicted minimum channel
within 20 % of the router's W_min (the goal for the worst error; the
measured errors are in docs/accuracy.md)."""

import csv
import json
import os
import subprocess
import sys

MAX_RELATIVE_ERROR = 0.2


def main():
    tool, data, placement = sys.argv[1:]
    with open(os.path.join(data, "channels.csv")) as rows:
        rows = [row for row in csv.DictReader(rows) if row["folder"] == placement and row["search"] == "blind"]
    routed = [int(row["w"]) for row in rows if row["outcome"] == "routed"]
    not_routed = [int(row["w"]) for row in rows if row["outcome"] != "routed"]
    w_min = min(routed)
    if w_min - 1 not in not_routed:
        sys.exit("%s: the recorded search does not bracket W_min %d" % (placement, w_min))
    done = subprocess.run([tool, os.path.join(data, "designs", placement), "--json", "-", "--no-timings",
                           "--fail-if-unroutable"], stdout=subprocess.PIPE, text=True)
    verdict = json.loads(done.stdout)["routability"]
    tracks = verdict["tracks"]
    routes = w_min <= tracks
    failures = []
    if (verdict["verdict"] == "routes") != routes or done.returncode != (0 if routes else 3):
        failures.append("verdict '%s' (exit %d) on %d tracks, where the router needs %d" %
                        (verdict["verdict"], done.returncode, tracks, w_min))
    error = abs(verdict["predicted_min_tracks"] - w_min) / w_min
    if error > MAX_RELATIVE_ERROR:
        failures.append("predicted minimum channel %d against the router's %d" % (verdict["predicted_min_tracks"], w_min))
    if failures:
        sys.exit("%s: %s" % (placement, "; ".join(failures)))
    print("%s: %s on %d tracks, predicted W_min %d, router %d" %
          (placement, verdict["verdict"], tracks, verdict["predicted_min_tracks"], w_min))


if __name__ == "__main__":
    main()
