#!/usr/bin/env python3
# The refined folder in the open flow: congestion-place on the bundled 20 x 20 design, then nextpnr routes it.
"""Usage: test_place_flow.py PLACE_TOOL IMPORT_TOOL

Refines data/fir_mac_g20 with congestion-place, and routes the refined
folder with `congestion-import --reroute` on the design's own channel: it
must route, nextpnr must hold every cell on the bel placement.txt names
(its own record, --write, read by check_generic), and the pins it exports
must be those the pass wrote. Needs nextpnr-generic; exits 77 (skipped)
without it."""

import os
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "import"))
import check_generic  # noqa: E402
import check_import  # noqa: E402

SKIPPED = 77
ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
BUNDLED = os.path.join(ROOT, "data", "fir_mac_g20")


class PLACE_FLOW_TEST(unittest.TestCase):
    place = importer = None

    def test_the_refined_folder_routes_with_the_pins_the_pass_wrote(self):
        work = tempfile.mkdtemp(prefix="test-place-flow-")
        try:
            refined = os.path.join(work, "refined")
            done = subprocess.run([self.place, BUNDLED, "--out", refined, "--quiet"], capture_output=True, text=True)
            self.assertEqual(done.returncode, 0, done.stderr)
            self.assertNotEqual(check_import.get_placed_nets(refined), check_import.get_placed_nets(BUNDLED))
            routed = os.path.join(work, "routed")
            written = os.path.join(work, "routed.json")
            done = subprocess.run([sys.executable, self.importer, "--reroute", refined, "--tracks",
                                   check_import.read_meta(BUNDLED)["tracks"], "--out", routed, "--quiet",
                                   "--nextpnr-arg=--write=" + written], capture_output=True, text=True)
            self.assertEqual(done.returncode, 0, done.stderr)
            meta = check_import.read_meta(routed)
            self.assertEqual((meta["routed"], meta["rerouted_from"]), ("yes", "refined"))
            self.assertEqual(check_generic.check_folder(routed, written), [])
            self.assertEqual(check_import.get_placed_nets(routed), check_import.get_placed_nets(refined))
            self.assertEqual(check_import.get_differing(refined, routed, ("placement.txt", "pins.txt")), [])
        finally:
            shutil.rmtree(work)


def main():
    if shutil.which("nextpnr-generic") is None:
        print("nextpnr-generic is not installed: skipped (scripts/install-deps.sh --flow installs it)")
        return SKIPPED
    PLACE_FLOW_TEST.place, PLACE_FLOW_TEST.importer = sys.argv[1:3]
    result = unittest.main(argv=sys.argv[:1], exit=False).result
    return 0 if result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
