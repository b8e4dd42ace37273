#!/usr/bin/env python3
# Tests of congestion-import; they need yosys, nextpnr-ice40 and nextpnr-generic and exit 77 (skipped) without them.
"""Usage: test_import.py IMPORT_TOOL ESTIMATE_TOOL"""

import json
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

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.join(HERE, "..", "..")
# Small designs, one per kind of netlist (each file says what it holds), and a BLIF circuit.
CORPUS = os.path.join(HERE, "corpus")
CORPUS_DESIGNS = ("counter", "constants", "flip_flops", "clocks", "memory", "multiply", "unused", "wide_io")
CIRCUIT = os.path.join(CORPUS, "circuit.blif")
# The project's example: many medium and long connections, so span wires in both directions.
EXAMPLE = os.path.join(ROOT, "examples", "lfsr_mesh", "lfsr_mesh.v")
# The other example, sized by its parameter TAPS: 16 taps fill no 16 x 16 generic device, 2 fill it by half.
FIR = os.path.join(ROOT, "examples", "fir_mac", "fir_mac.v")
SMALL_FIR = ["--top", "fir_mac", "--define", "TAPS=2", "--arch", "generic", "--grid", "16x16"]

# More flip-flops than an hx1k has logic cells.
TOO_BIG_DESIGN = """
module big(input clk, input d, output o);
    reg [1499:0] r;
    always @(posedge clk) r <= {r[1498:0], d ^ r[1499]};
    assign o = r[1499];
endmodule
"""


# Designs the generic architecture cannot build: a latch, an inout port, a net of two drivers, and a
# module whose contents are not given.
LATCH = "module latch(input g, input d, output reg q); always @* if (g) q = d; endmodule\n"
BIDIRECTIONAL = "module bidir(input e, input d, inout p, output y); assign p = e ? d : 1'bz; assign y = p; endmodule\n"
BUS = """
module bus(input e1, input e2, input a, input b, output y);
    wire shared;
    assign shared = e1 ? a & b : 1'bz;
    assign shared = e2 ? a | b : 1'bz;
    assign y = ~shared;
endmodule
"""
BLACKBOX = """
module outer(input a, output y); inner i(.d(a), .q(y)); endmodule
(* blackbox *) module inner(input d, output q); endmodule
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

    def run_import_ok(self, *arguments):
        result = self.run_import(*arguments)
        self.assertEqual(result.returncode, 0, result.stderr)

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
        self.run_import_ok(FIR, *SMALL_FIR, "--out", again)
        self.assertEqual(check_import.get_differing(out, again, ("tiles.txt", "nets.txt", "netnames.txt", "routed.txt",
                                                                 "placement.txt", "pins.txt", "synth.json")), [])
        timeless = [{k: v for k, v in check_import.read_meta(folder).items()
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
            meta = check_import.read_meta(narrow)
            self.assertEqual((meta["routed"], meta["route_result"], meta["route_iterations"], meta["tracks"]),
                             ("no", outcome, iterations, tracks))
            self.assertEqual(int(meta["route_overuse"]) > 0, outcome == "iteration-bound")
            self.assertFalse(os.path.exists(os.path.join(narrow, "routed.txt")))
        # A wider one routes the same placement: the same pins, and the counts match nextpnr's routing.
        wide = os.path.join(self.work, "generic-wide")
        wide_json = os.path.join(self.work, "generic-wide.json")
        self.run_import_ok("--reroute", out, "--tracks", "1:10,2:10,4:8", "--out", wide,
                           "--nextpnr-arg=--write=" + wide_json)
        self.assertEqual(check_generic.check_folder(wide, wide_json), [])
        for folder in (wide, narrow):
            self.assertEqual(check_import.get_placed_nets(folder), check_import.get_placed_nets(out))
            self.assertEqual(check_import.get_differing(out, folder, ["pins.txt"]), [])

    def import_checked(self, name, source, *arguments):
        """Imports onto a generic device and checks the folder against
        nextpnr's record; returns (folder, meta.txt, the netlist)."""
        from congestion_import.netlist import NETLIST
        out = os.path.join(self.work, name)
        routed_json = out + ".json"
        self.run_import_ok(source, "--arch", "generic", *arguments, "--out", out,
                           "--nextpnr-arg=--write=" + routed_json)
        self.assertEqual(check_generic.check_folder(out, routed_json, self.estimate, correlate=False), [])
        return out, check_import.read_meta(out), NETLIST(os.path.join(out, "synth.json"), None, True)

    def test_every_kind_of_small_design_and_other_architectures_import_with_every_cell_placed_and_routed(self):
        # (design, options, values of meta.txt): every corpus design on its default device; wide_io's 16
        # slices fill 8 logic tiles to half: 3 x 3 of them, a 5 x 5 grid, whose 12 I/O tiles hold the 80 I/O
        # at 7 each; the 7 clocks of clocks need 7 logic tiles: a grid of exactly 7 holds them; multiply on
        # other architectures.
        cases = [(name, [], {}) for name in CORPUS_DESIGNS if name != "wide_io"] + [
            ("wide_io", [], {"grid": "5 5", "iobs_per_tile": "7"}), ("clocks", ["--grid", "9x3"], {"grid": "9 3"}),
            ("multiply", ["--slices", "8"], {"slices": "8"}), ("multiply", ["--lut", "6"], {"lut": "6"}),
            ("multiply", ["--tracks", "1:4,2:8,6:8"], {"tracks": "1:4,2:8,6:8"})]
        for index, (name, options, expected) in enumerate(cases):
            with self.subTest(design=name, options=options):
                _, meta, netlist = self.import_checked("corpus-%d-%s" % (index, name),
                                                       os.path.join(CORPUS, name + ".v"), "--top", name, *options)
                # The slices the importer counts (which size the default grid) are those nextpnr packs.
                self.assertEqual(netlist.get_generic_slices(), int(meta["cells.GENERIC_SLICE"]))
                self.assertEqual(meta["lut_mapping"], "synthesized")
                self.assertEqual({key: meta[key] for key in expected}, expected)
                if "--lut" in options:
                    self.assertGreater(max(int(cell["parameters"]["K"], 2) for cell in netlist.cells.values()), 4)

    def test_default_grid_is_sized_by_the_logic_unless_the_io_cells_per_tile_are_given(self):
        from congestion_import import generic
        cases = [
            # 1000 slices fill 500 tiles of 4 slices to half: 23 x 23 logic tiles and the I/O ring;
            # of 8 slices, 250 tiles: 16 x 16.
            ((1000, 1, 10, 4, None), (25, 25)),
            ((1000, 1, 10, 8, None), (18, 18)),
            # 16 slices: 3 x 3 logic tiles, whatever the 80 I/O, unless 2 per I/O tile are asked
            # for: 4 (side - 2) I/O tiles hold 80 from a side of 12.
            ((16, 1, 80, 4, None), (5, 5)),
            ((16, 1, 80, 4, 2), (12, 12)),
            # 7 clocks need 7 logic tiles, more than 8 slices fill: 3 x 3 of them.
            ((8, 7, 14, 4, None), (5, 5)),
            # 1000 I/O and no logic: 4 (side - 2) I/O tiles of at most 64 I/O cells hold them from 6.
            ((0, 0, 1000, 4, None), (6, 6)),
            # One logic tile, the smallest grid.
            ((2, 1, 8, 4, None), (3, 3)),
        ]
        for arguments, grid in cases:
            with self.subTest(arguments=arguments):
                self.assertEqual(generic.get_default_grid(*arguments), grid)
        self.assertEqual([generic.get_default_iobs(ios, 5, 5) for ios in (0, 24, 25, 80)], [2, 2, 3, 7])

    def test_device_options_are_accepted_up_to_their_bounds(self):
        from congestion_import import flow, generic
        accepted = {"grid": "3x1000", "slices": 64, "lut": 8, "io_per_tile": 64, "tracks": "1:1000"}
        beyond = {"grid": ["2x5", "5x2", "1001x5", "5x1001"], "slices": [0, 65], "lut": [1, 9],
                  "io_per_tile": [0, 65], "tracks": ["1:1001", "1:500,2:501"]}
        unset = {key: None for key in accepted}

        def arguments(**values):
            return type("ARGUMENTS", (), dict(unset, max_route_iterations=1, **values))
        settings = generic.SETTINGS(arguments(**accepted), False)
        self.assertEqual((settings.grid, settings.slices, settings.lut, settings.iobs, settings.tracks),
                         ((3, 1000), 64, 8, 64, [(1, 1000)]))
        for key, values in beyond.items():
            for value in values:
                with self.subTest(option=key, value=value), self.assertRaises(flow.IMPORT_ERROR):
                    generic.SETTINGS(arguments(**{key: value}), False)

    def test_blif_keeps_the_circuits_luts_unless_resynthesized(self):
        _, meta, netlist = self.import_checked("blif", CIRCUIT)
        self.assertEqual((meta["lut_mapping"], meta["blif_latch_clock"]), ("kept", "latch_clock"))
        luts = {netlist.get_bit_name(cell["connections"]["Q"][0]): cell for cell in netlist.cells.values()
                if cell["type"] == "LUT"}
        # Each .names but the constants and the buffer stays one LUT, the inverter one of two inputs (the
        # second unconnected); the falling-edge latch adds the inverter of its clock.
        self.assertEqual(sorted(name for name in luts if not name.startswith("$")), ["k", "n", "w", "y"])
        self.assertEqual(len(luts), 5)
        self.assertEqual(luts["n"]["connections"]["I"][1], "x")
        b = netlist.ports["b"]["bits"][0]
        self.assertIn(b, luts["y"]["connections"]["I"])  # the input that y's cover ignores stays
        clocks = sorted(netlist.get_bit_name(cell["connections"]["CLK"][0]) for cell in netlist.cells.values()
                        if cell["type"] == "DFF")
        self.assertEqual(clocks[1:], ["clk", "latch_clock"])

        # The added clock takes a name the circuit does not use.
        from congestion_import import blif
        taken = self.write("taken.blif", ".model t\n.inputs latch_clock d\n.outputs q\n.latch d q 0\n.end\n")
        clocked = os.path.join(self.work, "taken-clocked.blif")
        self.assertEqual(blif.add_latch_clock(taken, clocked), "latch_clock_")
        with open(clocked) as text:
            self.assertIn(".latch d q re latch_clock_ 0\n", text.read())

        _, meta, netlist = self.import_checked("blif-resynthesized", CIRCUIT, "--resynthesize")
        self.assertEqual(meta["lut_mapping"], "synthesized")
        b = netlist.ports["b"]["bits"][0]
        self.assertFalse(any(b in cell["connections"].get("I", []) for cell in netlist.cells.values()))

    def test_min_channel_width_search_and_its_summary(self):
        script = os.path.join(ROOT, "scripts", "min_channel_width.py")
        missing = os.path.join(self.work, "no-tools")
        result = subprocess.run([sys.executable, script, self.work, "--tools", missing], capture_output=True,
                                text=True)
        self.assertEqual((result.returncode, result.stderr),
                         (1, "min_channel_width.py: %s has no congestion-import: build the tools with `make build`, "
                             "or name the folder that holds them with --tools\n" % missing))
        placed = os.path.join(self.work, "channel")
        self.run_import_ok(os.path.join(CORPUS, "counter.v"), "--top", "counter", "--arch", "generic", "--out", placed)
        result = subprocess.run([sys.executable, script, placed, "--tools", os.path.dirname(self.tool)],
                                capture_output=True, text=True)
        self.assertEqual(result.returncode, 0, result.stderr)
        lines = result.stdout.splitlines()
        outcomes = {int(words[1]): words[2] == "routed" for words in map(str.split, lines[:-2])}
        w_min = min(width for width, routed in outcomes.items() if routed)
        self.assertFalse(outcomes[w_min - 1])
        self.assertTrue(all(routed == (width >= w_min) for width, routed in outcomes.items()))
        routed = sum(outcomes.values())
        self.assertEqual(lines[-2].rpartition(";")[0], "%d channels tried: %d routed, %d did not; %d run now, "
                         "0 replayed" % (len(outcomes), routed, len(outcomes) - routed, len(outcomes)))
        self.assertEqual(lines[-1], "W_min %d" % w_min)

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
        self.run_import_ok(EXAMPLE, "--top", "lfsr_mesh", "--device", "hx1k", "--out", routed)
        self.assertEqual(check_import.check_folder(routed, "hx1k", self.estimate), [])
        placed = os.path.join(self.work, "placed")
        self.run_import_ok(os.path.join(routed, "synth.json"), "--device", "hx1k", "--out", placed, "--no-route")
        self.assertFalse(os.path.exists(os.path.join(placed, "routed.txt")))
        self.assertEqual(check_import.check_folder(placed, "hx1k", self.estimate), [])
        # The same seed places the same: the placed-only nets are the routed design's but for what
        # only routing knows (flag 4 and the routed columns).
        self.assertEqual(check_import.get_placed_nets(routed), check_import.get_placed_nets(placed))

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

    def test_refuses_with_one_sentence_and_a_refused_command_line_writes_nothing(self):
        out = os.path.join(self.work, "refused")
        broken = self.write("broken.v", "module broken(input a, output b); assign b = ; endmodule\n")
        too_big = self.write("big.v", TOO_BIG_DESIGN)
        empty = self.write("empty.v", "module empty(input a); endmodule\n")
        ice40_netlist = self.write("ice40.json", '{"modules": {"t": {"attributes": {"top": "1"}, "ports": {}, '
                                   '"cells": {"c": {"type": "SB_LUT4", "connections": {}}}}}}')
        one_input_lut = self.write("lut1.json", json.dumps({"modules": {"t": {
            "attributes": {"top": "1"}, "ports": {"a": {"direction": "input", "bits": [2]},
                                                  "y": {"direction": "output", "bits": [3]}},
            "cells": {"c": {"type": "LUT", "parameters": {"K": "1", "INIT": "01"},
                            "port_directions": {"I": "input", "Q": "output"},
                            "connections": {"I": [2], "Q": [3]}}},
            "netnames": {"a": {"bits": [2]}, "y": {"bits": [3]}}}}}))
        lut = {"type": "LUT", "parameters": {"K": "10", "INIT": "0110"},
               "port_directions": {"I": "input", "Q": "output"}, "connections": {"I": [2, 3], "Q": [4]}}
        two_drivers = self.write("drivers.json", json.dumps({"modules": {"t": {
            "attributes": {"top": "1"}, "ports": {"a": {"direction": "input", "bits": [2]},
                                                  "b": {"direction": "input", "bits": [3]},
                                                  "y": {"direction": "output", "bits": [4]}},
            "cells": {"c": lut, "d": lut}, "netnames": {"y": {"bits": [4]}}}}}))
        not_generic = os.path.join(self.work, "not-generic")
        os.makedirs(not_generic, exist_ok=True)
        self.write(os.path.join("not-generic", "meta.txt"), "design x\narch ice40\n")
        sub_model_latch = self.write("sub.blif", ".model top\n.inputs a\n.outputs y\n.subckt sub i=a o=y\n.end\n"
                                     ".model sub\n.inputs i\n.outputs o\n.latch i o 0\n.end\n")
        no_path = dict(os.environ, PATH=self.work)
        generic = ["--arch", "generic"]
        # (arguments, environment, exit status, the sentence's start and other parts, whether the
        # folder is written: only once the command line and the inputs' kinds are accepted).
        cases = [
            ([EXAMPLE, "--device", "hx1k", "--out", "-"], None, 2,
             ["--out names -, which is standard output: give the folder to write the design into."], False),
            ([EXAMPLE, "--device", "hx1k", "--out", EXAMPLE], None, 2, ["--out names %s, which is a file" % EXAMPLE],
             False),
            ([EXAMPLE, *generic, "--device", "hx1k"], None, 2, ["--device does not apply to --arch generic."], False),
            ([EXAMPLE, "--device", "hx1k", "--grid", "8x8"], None, 2, ["--grid does not apply to --arch ice40."],
             False),
            ([EXAMPLE, *generic, "--grid", "8"], None, 2, ["--grid '8' is not WIDTHxHEIGHT in tiles, e.g. 40x40."],
             False),
            ([EXAMPLE, *generic, "--grid", "8x2"], None, 2, ["--grid 8x2 is outside 3..1000 tiles per side."], False),
            ([EXAMPLE, *generic, "--tracks", "1:4,1:2"], None, 2,
             ["--tracks 1:4,1:2: the wire length 1 is given twice."], False),
            ([EXAMPLE, *generic, "--io-per-tile", "0"], None, 2, ["--io-per-tile 0 is outside 1..64."], False),
            ([EXAMPLE, *generic, "--define", "2X=1"], None, 2, ["--define '2X=1' is not NAME=VALUE"], False),
            (["--reroute", not_generic, "--max-route-iterations", "3"], None, 2,
             ["--reroute needs --tracks: the channel to route the placement on."], False),
            (["--reroute", not_generic, "--tracks", "1:4"], None, 1,
             ["--reroute %s: the folder is no import of --arch generic." % not_generic], False),
            ([CIRCUIT, EXAMPLE, *generic], None, 2,
             ["give one yosys JSON netlist, one BLIF circuit, or Verilog sources, not several of these."], False),
            ([CIRCUIT, CIRCUIT, *generic], None, 2,
             ["give one yosys JSON netlist, one BLIF circuit, or Verilog sources, not several of these."], False),
            ([CIRCUIT, "--device", "hx1k"], None, 2,
             ["a BLIF circuit imports onto --arch generic only: its LUT mapping is for a device of generic LUTs."],
             False),
            ([CIRCUIT, *generic, "--define", "X=1"], None, 2, ["--define does not apply to a BLIF circuit."], False),
            ([CIRCUIT, *generic, "--yosys-arg=-abc9"], None, 2,
             ["--yosys-arg does not apply to a BLIF circuit, which is not synthesized without --resynthesize."],
             False),
            ([EXAMPLE, *generic, "--resynthesize"], None, 2, ["--resynthesize applies to a BLIF circuit only."],
             False),
            ([EXAMPLE, "--device", "hx2k"], None, 2,
             ["unknown device 'hx2k': the devices are lp1k, hx1k, lp8k, hx8k, up5k."], False),
            ([EXAMPLE, "--device", "hx1k", "--package", "qn99"], None, 2,
             ["unknown package 'qn99' for hx1k: the packages are "], False),
            ([EXAMPLE, "--device", "hx1k"], no_path, 1,
             ["nextpnr-ice40 is not installed: install the Debian package nextpnr-ice40"], False),
            ([empty, "--top", "empty", *generic], None, 1,
             ["the design synthesizes to no cells: nothing in its top module empty drives an output."], True),
            ([ice40_netlist, *generic], None, 1, ["the netlist has cells of type SB_LUT4, which the generic "
                                                  "architecture does not have"], True),
            ([one_input_lut, *generic], None, 1,
             ["the netlist's LUT driving y has one input, which nextpnr-generic's packer leaves unconnected: give "
              "its sources instead (%s)." % one_input_lut], True),
            ([self.write("latch.v", LATCH), *generic], None, 1,
             ["the design has a latch, cell ", " of type $_DLATCH_P_ driving q, which the generic architecture "
              "cannot build: its flip-flops take a clock edge."], True),
            ([self.write("bidir.v", BIDIRECTIONAL), *generic], None, 1,
             ["the top module has the inout port p, which the generic architecture does not have: its I/O cells are "
              "inputs or outputs."], True),
            ([self.write("bus.v", BUS), *generic], None, 1,
             ["the net shared has more than one driver (a tristate bus, or outputs wired together), which the "
              "generic architecture cannot build: its nets have one driver each."], True),
            ([two_drivers, *generic], None, 1,
             ["the net y has more than one driver (a tristate bus, or outputs wired together), which the generic "
              "architecture cannot build: its nets have one driver each (%s)." % two_drivers], True),
            ([self.write("blackbox.v", BLACKBOX), "--top", "outer", *generic], None, 1,
             ["the design instantiates the module inner (cell i) without its contents: the generic flow places "
              "only the logic it synthesizes."], True),
            ([CIRCUIT, *generic, "--lut", "3"], None, 1,
             ["the circuit's LUT driving w has 4 inputs, more than --lut 3: import it with --lut 4 or more, or with "
              "--resynthesize."], True),
            ([sub_model_latch, *generic], None, 1,
             ["the latch o of no clock is in the model sub, not in the top model top: only the top model's latches "
              "can be given a clock (%s)." % sub_model_latch], True),
            ([too_big, "--top", "big", *generic, "--grid", "8x8"], None, 3,
             ["the design does not fit the device of 8x8 tiles: it needs "], True),
            ([os.path.join(CORPUS, "clocks.v"), *generic, "--grid", "4x4"], None, 3,
             ["the design does not fit the device of 4x4 tiles: its flip-flops need 7 logic tiles, as a tile holds "
              "flip-flops of one clock, the device has 4."], True),
            ([broken, "--device", "hx1k"], None, 1,
             ["synthesis failed (", "): see the yosys log %s." % os.path.join(out, "yosys.log")], True),
            ([too_big, "--top", "big", "--device", "hx1k"], None, 3,
             ["the design does not fit the device hx1k (", "no BELs remaining"], True),
        ]
        for arguments, environment, status, fragments, writes in cases:
            with self.subTest(message=fragments[0]):
                shutil.rmtree(out, ignore_errors=True)
                if "--out" not in arguments:
                    arguments = arguments + ["--out", out]
                result = self.run_import(*arguments, environment=environment)
                self.assertEqual(result.returncode, status)
                self.assertTrue(result.stderr.startswith("congestion-import: " + fragments[0]), result.stderr)
                for fragment in fragments[1:]:
                    self.assertIn(fragment, result.stderr)
                self.assertEqual(result.stderr.count("\n"), 1, result.stderr)
                self.assertEqual(os.path.exists(out), writes)

    def test_the_bundled_generic_folders_device_is_built_again_and_a_failed_script_leaves_a_traceback(self):
        # --reroute of data/fir_mac_g20 binds its placement to the device built again from its
        # meta.txt: the same architecture must give the same switches.
        bundled = check_import.read_meta(os.path.join(ROOT, "data", "fir_mac_g20"))
        placed = os.path.join(self.work, "same-device")
        self.run_import_ok(os.path.join(CORPUS, "counter.v"), "--top", "counter", "--arch", "generic",
                           "--grid", bundled["grid"].replace(" ", "x"), "--tracks", bundled["tracks"], "--no-route",
                           "--out", placed)
        meta = check_import.read_meta(placed)
        keys = ("slices", "lut", "iobs_per_tile", "globals", "pips")
        self.assertEqual([meta[key] for key in keys], [bundled[key] for key in keys])

        # A placement that leaves a cell out fails inside nextpnr's script: its traceback is kept beside the log.
        with open(os.path.join(placed, "placement.txt")) as text:
            lines = text.read().splitlines()
        self.write(os.path.join("same-device", "placement.txt"), "\n".join(lines[1:]) + "\n")
        out = os.path.join(self.work, "traceback")
        result = self.run_import("--reroute", placed, "--tracks", bundled["tracks"], "--out", out)
        traceback = os.path.join(out, "nextpnr-traceback.txt")
        self.assertEqual(result.returncode, 1)
        self.assertEqual(result.stderr, "congestion-import: nextpnr-generic failed (RuntimeError: the placement does "
                         "not place the cell %s): see the nextpnr log %s and the Python traceback %s.\n" %
                         (lines[0].rpartition(" ")[0], os.path.join(out, "nextpnr.log"), traceback))
        with open(traceback) as text:
            kept = text.read().splitlines()
        self.assertEqual((kept[0], kept[-1].split(":")[0]), ("Traceback (most recent call last):", "RuntimeError"))
        self.assertTrue(any("bind_placement" in line for line in kept), kept)


if __name__ == "__main__":
    if not all(shutil.which(program) for program in FLOW) or not os.path.exists(CHIPDB):
        print("the open flows (yosys, nextpnr-ice40, nextpnr-generic, fpga-icestorm-chipdb) are not installed: "
              "skipped")
        sys.exit(SKIPPED)
    IMPORT_TEST.tool, IMPORT_TEST.estimate = sys.argv[1], sys.argv[2]
    sys.path.insert(0, os.path.dirname(os.path.realpath(IMPORT_TEST.tool)))
    unittest.main(argv=sys.argv[:1])
