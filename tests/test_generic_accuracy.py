#!/usr/bin/env python3
# Tests of scripts/generic_accuracy.py: the targets it checks, its reading of a routing and the page section it owns.
import json
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


class RoutingTest(unittest.TestCase):
    # A 6 x 3 device and one net from (1, 1) to a load on (3, 1): a wire of
    # length 1 right from the driver's tile, one from the next tile (each
    # used up to the switch box after it), then in the load's tile a wire
    # turned up that only feeds the tile's inputs: against the net's
    # direction, on a load's tile.
    ROUTING = ("X1/Y1/E1_0;X1/Y1/O0>E1_0;1;X2/Y1/E1_0;X2/Y1/E1_0@-1.0>E1_0;1;"
               "X3/Y1/N1_0;X3/Y1/E1_0@-1.0>N1_0;1;X3/Y1/I0_0;X3/Y1/N1_0>I0_0;1")

    def write_folder(self, folder):
        tiles = ["tiles 6 3 directional", "# x y kind right left up down lab_in"]
        routed = ["routed 6 3 directional", "# x y right left up down lab_in"]
        for y in range(3):
            for x in range(6):
                tiles.append("%d %d logic 2 2 2 2 5" % (x, y))
                routed.append("%d %d %d %d %d %d 0" % (x, y, x % 3, y, (x * y) % 2, x // 4))
        files = {"tiles.txt": tiles, "routed.txt": routed, "netnames.txt": ["0 n"],
                 "nets.txt": ["nets 1 6 3", "# id npins flags weight xl xr yb yt", "0 2 0 0 1 3 1 1 2 0 3 1 1 3 1"]}
        for name, lines in files.items():
            with open(os.path.join(folder, name), "w") as text:
                text.write("\n".join(lines) + "\n")
        record = os.path.join(folder, "routed.json")
        with open(record, "w") as text:
            json.dump({"modules": {"top": {"netnames": {"n": {"attributes": {"ROUTING": self.ROUTING}}}}}}, text)
        return record

    def test_wire_tiles_and_agreement(self):
        with tempfile.TemporaryDirectory() as folder:
            counts, per_direction = ga.get_wire_figures(folder, self.write_folder(folder))
            self.assertEqual(counts, {"tiles": 3, "against": 1, "against_load": 1, "pin": 2, "large": 0})
            self.assertEqual(per_direction, {"right": [0, 2], "left": [0, 0], "up": [1, 1], "down": [0, 0]})
            self.assertEqual(ga.get_agreement(folder, folder), (1.0, 1.0, 1.0))


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
