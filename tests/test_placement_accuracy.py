#!/usr/bin/env python3
# Tests of scripts/placement_accuracy.py: the goals it judges, and the page section it owns.
import csv
import os
import shutil
import sys
import tempfile
import unittest

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
sys.path.insert(0, os.path.join(ROOT, "scripts"))
import placement_accuracy as pa  # noqa: E402


def write_data(folder, placements):
    """A data folder of judged placements: {name: {variant: (w_min, wire, seconds)}}."""
    with open(os.path.join(folder, "placements.csv"), "w", newline="") as out:
        writer = csv.writer(out, lineterminator="\n")
        writer.writerow(["placement", "netlist", "source", "top", "parameters", "grid", "seed", "set"])
        for name in placements:
            writer.writerow([name, name.rstrip("0123456789"), "", "", "", "", "1", "judged"])
    rows = []
    for name, variants in placements.items():
        for variant, (w_min, wire, seconds) in variants.items():
            rows.append({"placement": name, "set": "judged", "netlist": name.rstrip("0123456789"), "grid": "20x20",
                         "slices": "600/1296", "variant": variant, "w_min": w_min, "channel": 20, "wire": wire,
                         "seconds": seconds, "refreshes": 50, "refresh_seconds": 0.05, "temperatures": 51,
                         "moves": 100000})
    pa.append_rows(os.path.join(folder, "results.csv"), pa.RESULT_FIELDS, rows)


def get_goals(section):
    """{goal: verdict} of the section's table of goals."""
    goals = {}
    for line in section.splitlines():
        cells = [cell.strip() for cell in line.strip("|").split("|")]
        if len(cells) == 3 and cells[2] in ("met", "missed"):
            goals[cells[0]] = cells[2]
    return goals


class GOALS_TEST(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="test-placement-accuracy-")

    def tearDown(self):
        shutil.rmtree(self.folder)

    def test_each_goal_met_at_its_limit_and_missed_past_it(self):
        # Two placements: W_min 10 % and 12.5 % below on average (estimate), the boxes' a little less;
        # the wire 5 % above at worst; the pass as fast as nextpnr at worst.
        met = {"a1": {"nextpnr": (10, 1000, 1.0), "estimate": (9, 1050, 1.0), "boxes": (9, 1000, 0.5)},
               "b2": {"nextpnr": (8, 2000, 2.0), "estimate": (7, 2000, 1.0), "boxes": (8, 2000, 1.0)}}
        # All met (None), then each past its limit alone: a W_min mean of -5 %, a placement two tracks above
        # (the other 50 % below), the wire 5.1 % above, the pass 1 % slower, the boxes ahead.
        cases = {None: {},
                 "W_min at least 10 % below nextpnr's on average": {"b2": {"estimate": (8, 2000, 1.0)},
                                                                     "a1": {"estimate": (9, 1000, 1.0)}},
                 "never more than one track above nextpnr's": {"a1": {"estimate": (12, 1050, 1.0)},
                                                               "b2": {"estimate": (4, 2000, 1.0)}},
                 "routed wire at the common channel at most 5 % above": {"a1": {"estimate": (9, 1051, 1.0)}},
                 "the pass no slower than nextpnr's placement": {"b2": {"estimate": (7, 2000, 2.02)}},
                 "steered by the estimate at least as well as by the net boxes, on average":
                     {"a1": {"boxes": (8, 1000, 0.5)}, "b2": {"boxes": (6, 2000, 1.0)}}}
        for goal, change in cases.items():
            with self.subTest(goal=goal):
                shutil.rmtree(self.folder)
                os.makedirs(self.folder)
                placements = {name: dict(variants, **change.get(name, {})) for name, variants in met.items()}
                write_data(self.folder, placements)
                goals = get_goals(pa.write_section(self.folder))
                self.assertEqual(len(goals), 5)
                self.assertEqual([g for g, verdict in goals.items() if verdict == "missed"], [goal] if goal else [])


class PAGE_TEST(unittest.TestCase):
    def test_the_page_holds_the_section_the_data_give(self):
        with open(os.path.join(ROOT, "docs", "accuracy.md")) as page:
            text = page.read()
        section = text.split(pa.BEGIN, 1)[1].split(pa.END, 1)[0]
        self.assertEqual(section.strip(), pa.write_section(os.path.join(ROOT, "data", "placement")).strip())


if __name__ == "__main__":
    unittest.main()
