#!/usr/bin/env python3
# Tests of scripts/generic_accuracy.py: the targets it checks and the page section it owns.
import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "scripts"))
import generic_accuracy as ga  # noqa: E402


class TargetsTest(unittest.TestCase):
    # Figures that meet every target: all wires at its floor and ahead,
    # H and V ahead, top10 at its floor, directions at the floor and level.
    MET = {"all": (0.93, 0.929), "H": (0.9, 0.899), "V": (0.9, 0.899), "top10": (0.6, 0.7),
           "directions": (0.85, 0.85)}

    def test_each_target_missed_alone(self):
        self.assertEqual(ga.get_missed(self.MET), [])
        cases = (("all", (0.929, 0.9), "all wires"), ("all", (0.95, 0.95), "all wires"), ("H", (0.9, 0.9), "H"),
                 ("V", (0.8, 0.9), "V"), ("top10", (0.599, 0.2), "top10"),
                 ("directions", (0.849, 0.8), "directions"), ("directions", (0.9, 0.901), "directions"))
        for key, pair, target in cases:
            with self.subTest(key=key, pair=pair):
                self.assertEqual(ga.get_missed(dict(self.MET, **{key: pair})), [target])

    def test_top_share_takes_the_earlier_tile_among_equals(self):
        # Ten tiles, so the top 10 % is one tile: tile 0 of the two tied at 5.
        truth = [5, 5, 0, 0, 0, 0, 0, 0, 0, 0]
        self.assertEqual(ga.get_top_share(truth, [0, 9, 0, 0, 0, 0, 0, 0, 0, 0]), 0.0)
        self.assertEqual(ga.get_top_share(truth, [9, 0, 0, 0, 0, 0, 0, 0, 0, 0]), 1.0)


class SectionTest(unittest.TestCase):
    def test_only_its_own_section_is_replaced(self):
        other = ["<!-- routability: begin -->", "theirs", "<!-- routability: end -->"]
        with tempfile.TemporaryDirectory() as work:
            page = os.path.join(work, "page.md")
            with open(page, "w") as text:
                text.write("\n".join(["# Accuracy", ga.BEGIN, "old", ga.END] + other + [""]))
            ga.write_section(page, [ga.BEGIN, "new", ga.END])
            with open(page) as text:
                self.assertEqual(text.read(), "\n".join(["# Accuracy", ga.BEGIN, "new", ga.END] + other + [""]))
            with open(page, "w") as text:
                text.write("\n".join(["# Accuracy"] + other))
            with self.assertRaises(SystemExit):
                ga.write_section(page, [ga.BEGIN, "new", ga.END])


if __name__ == "__main__":
    unittest.main()
