#!/usr/bin/env python3
# Tests of congestion-import; they need yosys, nextpnr-ice40 and nextpnr-generic and exit 77 (skipped) without them.
"""Usage: test_import.py IMPORT_TOOL ESTIMATE_TOOL"""

import os
import pty
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

import check_generic
import check_import

SKIPPED = 77
FLOW = ("yosys", "nextpnr-ice40", "nextpnr-generic")
CHIPDB = "/usr/share/fpga-icestorm/chipdb/chipdb-1k.txt"

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
# The project's example: many medium and long connections, so span wires in both directions.
EXAMPLE = os.path.join(ROOT, "examples", "lfsr_mesh", "lfsr_mesh.v")
# The other example, sized by its parameter TAPS: 16 taps fill no 16 x 16 generic device, 2 fill it by half.
FIR = os.path.join(ROOT, "examples", "fir_mac", "fir_mac.v")
SMALL_FIR = ["--top", "fir_mac", "--define", "TAPS=2", "--arch", "generic", "--grid", "16x16"]

# A multiplier that synth_ice40 puts into a DSP block of the up5k unless told otherwise.
MULTIPLIER = """
module mul(input clk, input [7:0] a, input [7:0] b, output reg [15:0] p);
    always @(posedge clk) p <= a * b;
endmodule
"""

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

    def read_meta(self, folder):
        with open(os.path.join(folder, "meta.txt")) as text:
            return dict(line.rstrip("\n").partition(" ")[::2] for line in text)

    def test_generic_import_counts_what_nextpnr_routed_and_reroutes_its_placement(self):
        out = os.path.join(self.work, "generic")
        os.makedirs(out)
        for stale in ("report.json", "notes.txt"):  # an earlier import's file, and one of the user's
            self.write(os.path.join("generic", stale), "{}")
        routed_json = os.path.join(self.work, "generic-routed.json")
        result = self.run_import(FIR, *SMALL_FIR, "--out", out, "--nextpnr-arg=--write=" + routed_json)
        self.assertEqual((result.returncode, result.stderr), (0, ""))
        self.assertEqual(sorted(set(os.listdir(out)) & {"report.json", "notes.txt"}), ["notes.txt"])
        self.assertEqual(check_generic.check_folder(out, routed_json, self.estimate), [])

        # The same inputs and seed give the same folder, timings, folder name and --write aside.
        again = os.path.join(self.work, "generic-again")
        self.assertEqual(self.run_import(FIR, *SMALL_FIR, "--out", again).returncode, 0)
        for name in ("tiles.txt", "nets.txt", "netnames.txt", "routed.txt", "placement.txt", "pins.txt", "synth.json"):
            with open(os.path.join(out, name), "rb") as first, open(os.path.join(again, name), "rb") as second:
                self.assertEqual(first.read(), second.read(), name)
        timeless = [{k: v for k, v in self.read_meta(folder).items()
                     if not k.startswith("time_") and k not in ("design", "nextpnr_extra_args")}
                    for folder in (out, again)]
        self.assertEqual(timeless[0], timeless[1])

        # Too narrow a channel: one track leaves an I/O pin without any path, two are stopped at the
        # bound; either way the placed design is kept.
        for tracks, outcome, iterations in (("1:1", "unroutable", "0"), ("1:2", "iteration-bound", "2")):
            narrow = os.path.join(self.work, "generic-" + outcome)
            result = self.run_import("--reroute", out, "--tracks", tracks, "--max-route-iterations", "2",
                                     "--out", narrow)
            self.assertEqual(result.returncode, 4, result.stderr)
            meta = self.read_meta(narrow)
            self.assertEqual((meta["routed"], meta["route_result"], meta["route_iterations"], meta["tracks"]),
                             ("no", outcome, iterations, tracks))
            self.assertEqual(int(meta["route_overuse"]) > 0, outcome == "iteration-bound")
            self.assertFalse(os.path.exists(os.path.join(narrow, "routed.txt")))
        # A wider one routes the same placement: the same pins, and the counts match nextpnr's routing.
        wide = os.path.join(self.work, "generic-wide")
        wide_json = os.path.join(self.work, "generic-wide.json")
        result = self.run_import("--reroute", out, "--tracks", "1:10,2:10,4:8", "--out", wide,
                                 "--nextpnr-arg=--write=" + wide_json)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(check_generic.check_folder(wide, wide_json), [])

        def pins(folder):  # nets.txt but for what only routing knows (flag 4 and the routed columns)
            with open(os.path.join(folder, "nets.txt")) as text:
                rows = [line.split() for line in text.read().splitlines()[2:]]
            return [row[:2] + [str(int(row[2]) & 3)] + row[3:8] + row[11:] for row in rows]
        self.assertEqual(pins(wide), pins(out))
        self.assertEqual(pins(narrow), pins(out))
        for folder in (wide, narrow):
            with open(os.path.join(out, "pins.txt")) as first, open(os.path.join(folder, "pins.txt")) as second:
                self.assertEqual(first.read(), second.read())

    def test_progress_names_the_steps_on_a_terminal_unless_quiet(self):
        for quiet in ([], ["--quiet"]):
            with self.subTest(quiet=quiet):
                process_id, terminal = pty.fork()
                if process_id == 0:  # the child: the import with a terminal as standard error
                    os.execv(sys.executable, [sys.executable, self.tool, FIR, *SMALL_FIR, "--no-route", "--out",
                                              os.path.join(self.work, "progress")] + quiet)
                shown = b""
                try:
                    while chunk := os.read(terminal, 4096):
                        shown += chunk
                except OSError:  # the child has closed the terminal
                    pass
                os.waitpid(process_id, 0)
                steps = re.findall(r"congestion-import: (\w+) [\d.]+ s", shown.decode())
                self.assertEqual(steps, [] if quiet else ["synthesis", "architecture", "placement", "export"])

    def test_no_dsp_keeps_the_multipliers_of_an_up5k_in_logic(self):
        out = os.path.join(self.work, "no-dsp")
        result = self.run_import(self.write("mul.v", MULTIPLIER), "--top", "mul", "--device", "up5k", "--no-dsp",
                                 "--no-route", "--out", out)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertNotIn("cells.SB_MAC16", self.read_meta(out))

    def test_version_is_the_projects_and_help_lists_the_documented_exit_statuses(self):
        with open(os.path.join(ROOT, "CMakeLists.txt")) as cmake:
            version = re.search(r"project\(congestion VERSION ([\d.]+)", cmake.read()).group(1)
        result = self.run_import("--version")
        self.assertEqual(result.stdout.splitlines()[0], "congestion-import " + version)
        with open(os.path.join(ROOT, "docs", "importer.md")) as page:
            documented = re.findall(r"^\| (\d+) \|", page.read(), re.MULTILINE)
        listed = re.findall(r"^  (\d+) ", self.run_import("--help").stdout.partition("exit statuses:")[2], re.MULTILINE)
        self.assertEqual(listed, documented)

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
        empty = self.write("empty.v", "module empty(input a); endmodule\n")
        ice40_netlist = self.write("ice40.json", '{"modules": {"t": {"attributes": {"top": "1"}, "ports": {}, '
                                   '"cells": {"c": {"type": "SB_LUT4", "connections": {}}}}}}')
        not_generic = os.path.join(self.work, "not-generic")
        os.makedirs(not_generic, exist_ok=True)
        self.write(os.path.join("not-generic", "meta.txt"), "design x\narch ice40\n")
        no_path = dict(os.environ, PATH=self.work)
        generic = ["--arch", "generic"]
        cases = [
            ([EXAMPLE, "--device", "hx1k", "--out", "-"], None, 2,
             ["--out names -, which is standard output: give the folder to write the design into."]),
            ([EXAMPLE, "--device", "hx1k", "--out", EXAMPLE], None, 2, ["--out names %s, which is a file" % EXAMPLE]),
            ([EXAMPLE, *generic, "--device", "hx1k"], None, 2, ["--device does not apply to --arch generic."]),
            ([EXAMPLE, "--device", "hx1k", "--grid", "8x8"], None, 2, ["--grid does not apply to --arch ice40."]),
            ([EXAMPLE, *generic, "--grid", "8x2"], None, 2, ["--grid 8x2 is outside 3..1000 tiles per side."]),
            ([EXAMPLE, *generic, "--tracks", "1:4,1:2"], None, 2,
             ["--tracks 1:4,1:2: the wire length 1 is given twice."]),
            ([EXAMPLE, *generic, "--define", "2X=1"], None, 2, ["--define '2X=1' is not NAME=VALUE"]),
            (["--reroute", not_generic, "--max-route-iterations", "3"], None, 2,
             ["--reroute needs --tracks: the channel to route the placement on."]),
            (["--reroute", not_generic, "--tracks", "1:4"], None, 1,
             ["--reroute %s: the folder is no import of --arch generic." % not_generic]),
            ([empty, "--top", "empty", *generic], None, 1,
             ["the design synthesizes to no cells: nothing in its top module empty drives an output."]),
            ([ice40_netlist, *generic], None, 1, ["the netlist has cells of type SB_LUT4, which the generic "
                                                  "architecture does not have"]),
            ([too_big, "--top", "big", *generic, "--grid", "8x8"], None, 3,
             ["the design does not fit the device of 8x8 tiles: it needs "]),
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
                if "--out" not in arguments:
                    arguments = arguments + ["--out", out]
                result = self.run_import(*arguments, environment=environment)
                self.assertEqual(result.returncode, status)
                self.assertTrue(result.stderr.startswith("congestion-import: " + fragments[0]), result.stderr)
                for fragment in fragments[1:]:
                    self.assertIn(fragment, result.stderr)
                self.assertEqual(result.stderr.count("\n"), 1, result.stderr)


if __name__ == "__main__":
    if not all(shutil.which(program) for program in FLOW) or not os.path.exists(CHIPDB):
        print("the open flows (yosys, nextpnr-ice40, nextpnr-generic, fpga-icestorm-chipdb) are not installed: "
              "skipped")
        sys.exit(SKIPPED)
    IMPORT_TEST.tool, IMPORT_TEST.estimate = sys.argv[1], sys.argv[2]
    sys.path.insert(0, os.path.dirname(os.path.realpath(IMPORT_TEST.tool)))
    unittest.main(argv=sys.argv[:1])
