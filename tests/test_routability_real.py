#!/usr/bin/env python3
# Tests of scripts/routability_real.py (the router's W_min and how stable it is, the channels classified, the
# goals) and of the box demand and device figures of scripts/routability_candidate.py.
import collections
import os
import sys
import unittest

import numpy as np

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "scripts"))
import routability_candidate as rc  # noqa: E402
import routability_real as rr  # noqa: E402


class PLACEMENT:
    """Recorded channels: W -> (iterations, routed), all of one search."""

    def __init__(self, name, runs, w_min):
        self.name = name
        self.w_min = w_min
        self.searches = collections.defaultdict(list)
        for w, (iterations, routed) in runs.items():
            self.searches["around"].append({"w": str(w), "iterations": str(iterations),
                                            "outcome": "routed" if routed else "not routed"})


# The router of the issue: 15 routes (in its 95th iteration), 16 does not, 17 and wider route.
LUCKY = PLACEMENT("lucky", {13: (100, False), 14: (100, False), 15: (95, True), 16: (100, False), 17: (40, True),
                            18: (10, True)}, 15)
# A monotone placement whose W_min routes late and the channel above early.
LATE = PLACEMENT("late", {9: (100, False), 10: (60, True), 11: (20, True), 12: (5, True)}, 10)


class TruthTest(unittest.TestCase):
    def test_stable_w_min_and_monotony(self):
        # The stable W_min is above the last failure; a smaller iteration bound only raises it.
        self.assertEqual(rr.get_stable_w_min(LUCKY), 17)
        self.assertEqual(rr.get_stable_w_min(LATE), 10)
        self.assertIsNone(rr.get_stable_w_min(PLACEMENT("never", {5: (100, False)}, 0)))
        self.assertEqual([rr.get_stable_w_min(LATE, bound) for bound in (5, 20, 59, 60, 100)],
                         [12, 11, 11, 10, 10])
        self.assertIsNone(rr.get_stable_w_min(LATE, 4))
        self.assertEqual(rr.get_stable_w_min(LUCKY, 39), 18)
        # LUCKY routes at 15, not at 16.
        self.assertFalse(rr.is_monotone(LUCKY))
        self.assertTrue(rr.is_monotone(LATE))


class ClassifyTest(unittest.TestCase):
    def test_channels_classified_against_a_prediction(self):
        # Predicted 17 against W_min 15: 13, 14, 16 (not routing) and 17, 18 (routing) right; 15 wrong.
        self.assertEqual(rr.classify(LUCKY, 17, 15), (5, 6))
        # Predicted 15: 16 is the one wrong.
        self.assertEqual(rr.classify(LUCKY, 15, 15), (5, 6))
        # Against the stable W_min 17 only the channels 14 .. 18 (+- 3 of it) count.
        self.assertEqual(rr.classify(LUCKY, 17, 17), (4, 5))

    def test_summary_and_goals(self):
        summary = rr.summarise([LUCKY, LATE], {"lucky": 18, "late": 10}, {"lucky": 15, "late": 10})
        self.assertEqual((summary["over"], summary["under"]), (1, 0))
        self.assertAlmostEqual(summary["mean"], 0.1)
        self.assertAlmostEqual(summary["worst"], 0.2)
        self.assertEqual((summary["correct"], summary["total"]), (8, 10))
        goals = {"mean": 0.1, "worst": 0.2, "classified": 0.9}
        self.assertEqual([cell.split(": ")[-1] for cell in rr.goal_cells(summary, goals)],
                         ["met", "met", "missed", "met"])
        leaning = dict(summary, over=3, under=1)
        self.assertEqual(rr.goal_cells(leaning, goals)[3], "3 over, 1 under: missed")


class CandidateTest(unittest.TestCase):
    def test_box_demand_on_a_grid_drawn_by_hand(self):
        # 4 x 3 grid, one net of 3 pins (factor 1) with the box x 1..2, y 0..2 (2 x 3 tiles):
        # width 1 and height 2, with the extent 1 added 2 and 3, spread over its 6 tiles.
        #   y=2  . a a .
        #   y=1  . a a .
        #   y=0  . a a .
        boxes = np.array([[1, 2, 0, 2]])
        for extent, (h, v) in ((0.0, (1 / 6, 2 / 6)), (1.0, (2 / 6, 3 / 6))):
            maps = rc.get_box_demand(4, 3, boxes, np.array([1.0]), extent)
            inside = np.zeros((4, 3), bool)
            inside[1:3, :] = True
            np.testing.assert_allclose(maps[0], np.where(inside, h, 0.0), atol=1e-12)
            np.testing.assert_allclose(maps[1], np.where(inside, v, 0.0), atol=1e-12)
            self.assertAlmostEqual(maps.sum(), 1 + 2 + 2 * extent)

    def test_device_figures(self):
        self.assertAlmostEqual(rc.get_starting_share("1:12,4:8"), 0.7)
        self.assertAlmostEqual(rc.get_starting_share("1:4,2:8,6:8"), (4 + 4 + 8 / 6) / 20)
        self.assertEqual([rc.get_crossing_factor(n) for n in (1, 3, 10, 15, 50)],
                         [1.0, 1.0, 1.4493, 1.6899, 2.7933])
        self.assertAlmostEqual(rc.get_crossing_factor(12), 1.4493 + (1.6899 - 1.4493) * 2 / 5)

    def test_fit_and_leave_one_out(self):
        # Loads of exactly twice W_min fit a constant of 2 (predictions exact); a netlist whose
        # loads are 2.5 times its W_min is predicted 25 % high when left out.
        truths = np.array([10.0, 12.0, 14.0, 8.0])
        loads = np.array([20.0, 24.0, 28.0, 20.0])
        self.assertTrue(np.all(np.ceil(loads[:3] / rc.fit(loads[:3], truths[:3])) == truths[:3]))
        worst, mean = rc.leave_one_out(loads, truths, np.array(["a", "a", "b", "c"]))
        self.assertAlmostEqual(worst, 0.25)


if __name__ == "__main__":
    unittest.main()
