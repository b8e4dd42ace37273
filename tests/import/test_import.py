#!/usr/bin/env python3
# Tests of congestion-import; they need the open iCE40 flow and exit 77 (skipped) without it.
"""Usage: test_import.py IMPORT_TOOL ESTIMATE_TOOL"""

import os
import shutil
import subprocess
import sys
import tempfile
import unittest

import check_import

SKIPPED = 77
FLOW = ("yosys", "nextpnr-ice40")
CHIPDB = "/usr/share/fpga-icestorm/chipdb/chipdb-1k.txt"

# The project's example: many medium and long connections, so span wires in both directions.
EXAMPLE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "examples", "lfsr_mesh",
                       "lfsr_mesh.v")

# More flip-flops than an hx1k has logic cells.
TOO_BIG_DESIGN = """
module big(input clk, input d, output o);
    reg [1499:0] r;
    always @(posedge clk) r <= {r[1498:0], d ^ r[1499]};
    assign o = r[1499];
endmodule
"""


class IMPORT_TEST(unittest.TestCase):
    tool = estimate = None

    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix="test-import-")

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.work)

    @classmethod
    def write(cls, name, text):
        path = os.path.join(cls.work, name)
        with open(path, "w") as out:
            out.write(text)
        return path

    def run_import(self, *arguments, environment=None):
        return subprocess.run([sys.executable, self.tool] + list(arguments), capture_output=True, text=True,
                              env=environment)

    def test_routed_and_placed_imports_keep_the_format_promises(self):
        routed = os.path.join(self.work, "routed")
        result = self.run_import(EXAMPLE, "--top", "lfsr_mesh", "--device", "hx1k", "--out", routed)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(check_import.check_folder(routed, "hx1k", self.estimate), [])
        placed = os.path.join(self.work, "placed")
        result = self.run_import(os.path.join(routed, "synth.json"), "--device", "hx1k", "--out", placed,
                                 "--no-route")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertFalse(os.path.exists(os.path.join(placed, "routed.txt")))
        self.assertEqual(check_import.check_folder(placed, "hx1k", self.estimate), [])
        # The same seed places the same: the placed-only nets are the routed design's but for what
        # only routing knows (flag 4 and the routed columns).
        def placed_view(path):
            with open(path) as nets:
                rows = [line.split() for line in nets.read().splitlines()[2:]]
            return [[row[0], row[1], str(int(row[2]) & 3)] + row[3:8] + row[11:] for row in rows]
        self.assertEqual(placed_view(os.path.join(routed, "nets.txt")), placed_view(os.path.join(placed, "nets.txt")))

    def test_routed_usage_of_one_net_drawn_by_hand(self):
        # Row 5 of an hx1k: the span-4 wire sp4_h_r_0 of tile (5, 5) has segments in columns 5..9;
        # driven in column 7 and taken off in columns 6 and 9, it occupies 6 (left), 7 (driver's
        # column), 8 and 9 (right). Column 5: sp4_v_b_0 of (5, 5) has segments in rows 1..5; driven
        # in row 4 and taken off in row 1, it occupies 4 (driver's row), 3, 2 and 1 (down).
        #
        #   row 5   .  [L][D][R][R]     x = 5..9
        #   row 4  [D]
        #   row 1  [v] <- local_g0_0
        from congestion_import import chipdb, design, flow
        wires = [
            ["X5/Y5/lutff_0:out", None, None, None],
            ["X5/Y5/sp4_h_r_0", 7, 5, "X5/Y5/lutff_0:out"],
            ["X6/Y5/local_g1_1", 6, 5, "X5/Y5/sp4_h_r_0"],
            ["X9/Y5/local_g0_0", 9, 5, "X5/Y5/sp4_h_r_0"],
            ["X9/Y5/lutff_0:in_0", 9, 5, "X9/Y5/local_g0_0"],
            ["X5/Y5/sp4_v_b_0", 5, 4, "X5/Y5/lutff_0:out"],
            ["X5/Y1/local_g0_0", 5, 1, "X5/Y5/sp4_v_b_0"],
        ]
        dump = {"stage": "routed", "nets": [{"name": "n", "driver": ["ICESTORM_LC", "X5/Y5/lutff_0:out"],
                                            "users": ["X9/Y5/lutff_0:in_0"], "wires": wires}]}
        data = design.DESIGN_DATA(chipdb.CHIPDB(flow.get_chipdb_path("hx1k")), dump)
        net = data.nets[0]
        self.assertEqual((net.routed_x, net.routed_y, net.n_wires, net.flags), (3, 3, 2, 0))
        expected = {
            (6, 5): "h_all h_left h4 local", (7, 5): "h_all h_drv h4 sw", (8, 5): "h_all h_right h4",
            (9, 5): "h_all h_right h4 local lab_in", (5, 4): "v_all v_drv v4 sw", (5, 3): "v_all v_down v4",
            (5, 2): "v_all v_down v4", (5, 1): "v_all v_down v4 local",
        }
        used = {tile: " ".join(column for column in design.ROUTED_COLUMNS if counts[column])
                for tile, counts in data.usage.items()}
        self.assertEqual(used, expected)
        self.assertTrue(all(count <= 1 for counts in data.usage.values() for count in counts.values()))

    def test_grids_of_the_other_reference_devices(self):
        from congestion_import import chipdb, flow
        for device in ("hx8k", "up5k"):
            with self.subTest(device=device):
                grid = os.path.join(self.work, "tiles-%s.txt" % device)
                chipdb.write_tiles(chipdb.CHIPDB(flow.get_chipdb_path(device)), grid)
                with open(grid, "rb") as written, open(check_import.REFERENCE_TILES[device], "rb") as reference:
                    self.assertEqual(written.read(), reference.read())

    def test_refuses_with_one_sentence(self):
        out = os.path.join(self.work, "refused")
        broken = self.write("broken.v", "module broken(input a, output b); assign b = ; endmodule\n")
        too_big = self.write("big.v", TOO_BIG_DESIGN)
        no_path = dict(os.environ, PATH=self.work)
        cases = [
            ([EXAMPLE, "--device", "hx2k"], None, 2,
             ["unknown device 'hx2k': the devices are lp1k, hx1k, lp8k, hx8k, up5k."]),
            ([EXAMPLE, "--device", "hx1k", "--package", "qn99"], None, 2,
             ["unknown package 'qn99' for hx1k: the packages are "]),
            ([EXAMPLE, "--device", "hx1k"], no_path, 1,
             ["nextpnr-ice40 is not installed: install the Debian package nextpnr-ice40"]),
            ([broken, "--device", "hx1k"], None, 1,
             ["synthesis failed (", "): see the yosys log %s." % os.path.join(out, "yosys.log")]),
            ([too_big, "--top", "big", "--device", "hx1k"], None, 3,
             ["the design does not fit the device hx1k (", "no BELs remaining"]),
        ]
        for arguments, environment, status, fragments in cases:
            with self.subTest(message=fragments[0]):
                result = self.run_import(*arguments, "--out", out, environment=environment)
                self.assertEqual(result.returncode, status)
                self.assertTrue(result.stderr.startswith("congestion-import: " + fragments[0]), result.stderr)
                for fragment in fragments[1:]:
                    self.assertIn(fragment, result.stderr)
                self.assertEqual(result.stderr.count("\n"), 1, result.stderr)


if __name__ == "__main__":
    if not all(shutil.which(program) for program in FLOW) or not os.path.exists(CHIPDB):
        print("the open iCE40 flow (yosys, nextpnr-ice40, fpga-icestorm-chipdb) is not installed: skipped")
        sys.exit(SKIPPED)
    IMPORT_TEST.tool, IMPORT_TEST.estimate = sys.argv[1], sys.argv[2]
    sys.path.insert(0, os.path.dirname(os.path.realpath(IMPORT_TEST.tool)))
    unittest.main(argv=sys.argv[:1])
