"""Every input the engine would stop the process on, garbage and stale tables raise ValueError first; Ctrl-C."""
import json
import os
import signal
import subprocess
import sys

import numpy as np
import pytest

import congestion as cg
from conftest import DESIGN_DIR

NX, NY = 6, 4
NEW = cg.ALGORITHM == "new"


def netlist(pins=((0, 0), (3, 2)), boxes=None, **arrays):
    """One net of the listed (x, y) pins, the driver first."""
    xy = np.array(pins)
    return cg.Netlist([0, len(pins)], xy[:, 0], xy[:, 1], boxes=boxes, **arrays)


def fresh():
    est = cg.Estimator(NX, NY)
    supply = np.ones((5, NX, NY), np.float32)
    supply[:, NX - 1, :] = 0.0  # the last column is left for a later set_supply
    est.set_supply(supply)
    return est


def smoothed_supply():
    est = fresh()
    est.smooth_supply(3, 1)
    return est


def smoothed_demand():
    est = smoothed_supply()
    est.update_demand(netlist(), cg.PATH_PROBABILITY)
    est.smooth_wire_demand(3, 1)
    return est


def congested():
    est = smoothed_demand()
    est.update_congestion()
    return est


def set_last_column(est):
    supply = np.zeros((5, NX, NY), np.float32)
    supply[:, NX - 1, :] = 1.0
    est.set_supply(supply)
    return est


def with_supply_entry(value):
    supply = np.zeros((5, NX, NY), np.float32)
    supply[2, 1, 3] = value
    return cg.Estimator(NX, NY).set_supply(supply)


CASES = {
    # construction, settings and the design reader
    "nx zero": (lambda: cg.Estimator(0, NY), "nx 0 is outside"),
    "no chunks": (lambda: setattr(fresh(), "num_chunks", 0), "num_chunks 0"),
    "reader fault": (lambda: cg.load_design(DESIGN_DIR / "absent"), r"absent: is not a design folder"),
    # supply
    "supply shape": (lambda: fresh().set_supply(np.ones((5, NX, NY + 1), np.float32)), r"shape \(5, 6, 4\)"),
    "supply dtype": (lambda: fresh().set_supply(np.ones((5, NX, NY), np.int32)), "floating-point"),
    "negative supply": (lambda: with_supply_entry(-1.0),
                        r"VERTICAL_UP supply of tile \(1, 3\) is -1.0+: a supply must be finite and not negative"),
    "NaN supply": (lambda: with_supply_entry(np.nan), "must be finite"),
    "x past the grid": (lambda: fresh().supply_at(NX, 0, 0), "x 6 is outside 0..5"),
    "type 5": (lambda: fresh().demand_at(0, 0, 5), "type 5 is not a resource type"),
    # the Netlist's arrays
    "net without driver": (lambda: cg.Netlist([0, 2, 2], [0, 1], [0, 0]), "net 1 has no pins"),
    "NaN pin weight": (lambda: netlist(pin_weight=[0.0, np.nan]), "pin_weight holds nan at flat index 1"),
    "infinite wire length": (lambda: netlist(wirelength=[[3.0, -np.inf]]), "wirelength holds -inf"),
    "load weight -1": (lambda: netlist(pin_weight=[-5.0, -1.0]),
                       r"pin_weight holds -1.0+ for pin 1 of net 0 \(flat index 1\): a load's share is its weight \+ 1"),
    # demand
    "net model 3": (lambda: fresh().update_demand(netlist(), 3), "model 3"),
    "pin outside": (lambda: fresh().update_demand(netlist([(0, 0), (NX, 1)]), cg.PATH_PROBABILITY),
                    r"pin 1 of net 0 at \(6, 1\)"),
    "box outside": (lambda: smoothed_supply().update_demand(netlist(boxes=[[0, 3, 0, NY]]), cg.BOUNDING_BOX),
                    "leaves the 6 x 4 grid"),
    "box without its pin": (lambda: netlist(boxes=[[0, 3, 0, 1]]),
                            r"the box of net 0, x 0..3, y 0..1, does not hold its pin 1 at \(3, 2\)"),
    "net index": (lambda: fresh().update_demand(netlist(), cg.PATH_PROBABILITY, nets=[1]), "nets holds 1"),
    "net listed twice": (lambda: fresh().update_demand(netlist(), cg.PATH_PROBABILITY, nets=[0, 0]),
                         "nets holds net 0 twice, at 0 and 1: each net is listed once"),
    "lab input from a netlist": (lambda: fresh().update_demand(netlist(), cg.LAB_INPUT_MODEL), "not a Netlist"),
    "negative lab input": (lambda: fresh().update_demand(np.eye(NX, NY, k=2, dtype=np.int32) * -3, cg.LAB_INPUT),
                           r"holds -3 at tile \(0, 2\): a count of load pins cannot be negative"),
    "box model on stale supply": (lambda: set_last_column(smoothed_supply()).update_demand(netlist(), cg.BOUNDING_BOX),
                                  "BOUNDING_BOX_MODEL needs the smoothed supply: call smooth_supply again"),
    # smoothing, windows and calling order
    "negative window": (lambda: fresh().smooth_supply(-1, 3), "parallel_dim -1"),
    "window of 0 tiles": (lambda: smoothed_supply().smooth_wire_demand(0, 1), "parallel_dim 0 is outside 1..255"),
    "window of 256 tiles": (lambda: smoothed_supply().peak_utilization(256, 0), "dim 256 is outside 1..255"),
    "congestion before smooth_supply": (lambda: fresh().update_congestion(), "smoothed demand" if NEW else
                                        "smooth_wire_demand"),
    "congestion on stale supply": (lambda: set_last_column(congested()).update_congestion(),
                                   "update_congestion needs the smoothed supply: call smooth_supply again"),
    "unknown policy": (lambda: smoothed_demand().update_congestion("ratio"), "'ratio' is not"),
    "smoothed demand before smoothing": (lambda: smoothed_supply().smooth_demand, "smoothed demand"),
    # window queries and dumps
    "window before congestion": (lambda: smoothed_demand().congestion_in_window(0, 0, 1, 0, 1), "update_congestion"),
    "window after clear_demand": (lambda: (lambda est: est.clear_demand() or est.congestion_in_window(0, 0, 1, 0, 1))(
        congested()), "congestion_in_window needs the window sums of the current congestion"),
    "lab input window": (lambda: congested().congestion_in_window(cg.LAB_INPUT, 0, 1, 0, 1), "wire type"),
    "skip_cols twice": (lambda: fresh().dump("/dev/null", [1, 1]), "twice"),
    "NaN threshold": (lambda: congested().avg_chip_utilization(np.nan), "threshold nan is not a finite number"),
    # routability
    "routability before smoothing": (lambda: fresh().routability(netlist()), "routability needs"),
    "routability of 0 tracks": (lambda: smoothed_supply().routability(netlist(), 0), "tracks 0 is outside"),
    "routability of a box outside": (lambda: smoothed_supply().routability(netlist(boxes=[[0, 3, 0, NY]])),
                                     "leaves the 6 x 4 grid"),
    "routability of a share alone": (lambda: smoothed_supply().routability(netlist(), starting_share=0.7),
                                     "starting_share and tile_inputs describe the device together"),
    "routability of inputs alone": (lambda: smoothed_supply().routability(netlist(), tile_inputs=17),
                                    "give both or neither"),
    "routability of a share above 1": (lambda: smoothed_supply().routability(netlist(), starting_share=1.5,
                                                                             tile_inputs=17),
                                       r"starting_share 1.50* is outside \(0, 1\]"),
    "routability of a NaN share": (lambda: smoothed_supply().routability(netlist(), starting_share=np.nan,
                                                                         tile_inputs=17), "starting_share nan"),
    "routability of 0 inputs": (lambda: smoothed_supply().routability(netlist(), starting_share=0.7, tile_inputs=0),
                                "tile_inputs 0 is outside"),
    "box demand of a negative extent": (lambda: smoothed_supply().box_demand(netlist(), extent=-1.0),
                                        "extent -1.0+ is not a finite number of at least 0"),
    "figure of NaN demand": (lambda: cg.routability_figure(np.full((1, NX, NY), np.nan, np.float32),
                                                            np.ones((1, NX, NY), np.float32), 3, 0.9),
                             "demand holds nan: demand must be finite"),
    "figure of negative supply": (lambda: cg.routability_figure(np.ones((1, NX, NY)), np.full((1, NX, NY), -1.0), 3, 0.9),
                                  "supply must be finite and not negative"),
    "figure of unequal maps": (lambda: cg.routability_figure(np.ones((2, NX, NY)), np.ones((1, NX, NY)), 3, 0.9),
                               r"supply must have shape \(2, 6, 4\)"),
    "figure of an even window": (lambda: cg.routability_figure(np.ones((1, NX, NY)), np.ones((1, NX, NY)), 4, 0.9),
                                 "window 4 is even"),
    "figure of too few vertical flags": (lambda: cg.routability_figure(np.ones((2, NX, NY)), np.ones((2, NX, NY)), 1,
                                                                        0.9, vertical=[True]),
                                         "vertical has 1 flags for 2 maps"),
    "figure of quantile 0": (lambda: cg.routability_figure(np.ones((1, NX, NY)), np.ones((1, NX, NY)), 3, 0.0),
                             r"quantile 0.0+ is outside \(0, 1\]"),
}
if NEW:
    # The new algorithm counts supplied tiles in smooth_supply's table; the
    # original one needs no table, and the binding lets it run.
    CASES["wire smoothing before smooth_supply"] = (lambda: fresh().smooth_wire_demand(3, 3), "smooth_supply")
    CASES["type smoothing before smooth_supply"] = (lambda: fresh().smooth_type_demand(3, 3, 4), "smooth_supply")
else:
    CASES["type smoothing does not make demand readable"] = (
        lambda: smoothed_supply().smooth_type_demand(3, 3, 0) or smoothed_supply().smooth_demand, "smoothed demand")


@pytest.mark.parametrize("case", sorted(CASES))
def test_input_error_raises_value_error(case):
    call, message = CASES[case]
    with pytest.raises(ValueError, match=message):
        call()


@pytest.mark.parametrize("array, cut, message", [
    (np.zeros((2, 3), np.float64), 0, r"g.npy: it holds '<f8' values, not little-endian float32\.$"),
    (np.asfortranarray(np.zeros((2, 3), np.float32)), 0, "in Fortran order"),
    (np.zeros((3, 2), np.float32), 0, r"its shape is not \(2, 3\) as grids.json says"),
    (np.zeros((2, 3), np.float32), 4, "holds 20 bytes of values, not 24"),
])
def test_load_grids_refuses_a_map_it_cannot_read(tmp_path, array, cut, message):
    np.save(tmp_path / "g.npy", array)
    data = (tmp_path / "g.npy").read_bytes()
    (tmp_path / "g.npy").write_bytes(data[:len(data) - cut])
    (tmp_path / "grids.json").write_text(json.dumps({"nx": 2, "ny": 3, "grids": [{"name": "g", "file": "g.npy"}]}))
    with pytest.raises(ValueError, match=message):
        cg.load_grids(tmp_path)


def test_importing_without_numpy_says_so():
    """Without NumPy the import fails with a sentence, not the first call."""
    hide_numpy = "import sys; sys.modules['numpy'] = None; import congestion"
    result = subprocess.run([sys.executable, "-c", hide_numpy], capture_output=True, text=True)
    assert result.returncode != 0
    assert "ImportError: the module congestion needs NumPy (Debian's python3-numpy)" in result.stderr


def test_every_public_class_function_and_member_says_what_it_does():
    """A docstring beyond the signature that pybind11 writes itself."""
    def described(name, obj):
        doc = obj.__doc__ or ""
        return any(line.strip() and not line.lstrip().startswith(name + "(") for line in doc.splitlines())
    undocumented = []
    for name, obj in vars(cg).items():
        if name.startswith("_") or not callable(obj):
            continue
        if not described(name, obj):
            undocumented.append(name)
        # Classes' members; an enum's own name and value are pybind11's.
        members = vars(obj) if isinstance(obj, type) and "__members__" not in vars(obj) else {}
        for member, value in members.items():
            if not member.startswith("_") and (callable(value) or isinstance(value, property)):
                if not described(member, value):
                    undocumented.append(name + "." + member)
    assert undocumented == []


def test_refused_supply_writes_nothing():
    est = cg.Estimator(NX, NY)
    first = np.zeros((5, NX, NY), np.float32)
    first[0, 2, 3] = 4.0
    est.set_supply(first)
    second = np.full((5, NX, NY), 2.0, np.float32)
    with pytest.raises(ValueError, match=r"HORIZONTAL_LEFT supply of tile \(2, 3\) is already 4"):
        est.set_supply(second)
    assert np.array_equal(est.supply, first)
    second[0, 2, 3] = 0.0  # zero entries are left unset
    est.set_supply(second)
    assert est.supply_at(2, 3, cg.HORIZONTAL_LEFT) == 4.0


@pytest.mark.parametrize("model", [cg.PATH_PROBABILITY, cg.BOUNDING_BOX])
def test_ctrl_c_stops_update_demand_and_leaves_demand_as_it_was(model):
    side, rng = 256, np.random.default_rng(7)
    est = cg.Estimator(side, side)
    est.set_supply(np.ones((5, side, side), np.float32))
    est.smooth_supply(3, 1)

    def four_pin_nets(count):  # 200000: about 4 s of CPU time for update_demand
        return cg.Netlist(np.arange(0, 4 * count + 1, 4), rng.integers(0, side, 4 * count),
                          rng.integers(0, side, 4 * count))
    est.update_demand(four_pin_nets(100), model)
    demand, cookie, nets = est.demand, est.cookie, four_pin_nets(200000)

    # The process's CPU-time clock raises Ctrl-C after 0.05 s of work: during the call, however
    # busy the machine, as it counts only this process's own work.
    previous = signal.signal(signal.SIGPROF, lambda *_: os.kill(os.getpid(), signal.SIGINT))
    try:
        with pytest.raises(KeyboardInterrupt):
            signal.setitimer(signal.ITIMER_PROF, 0.05)
            est.update_demand(nets, model)
    finally:
        signal.setitimer(signal.ITIMER_PROF, 0)
        signal.signal(signal.SIGPROF, previous)
    assert est.cookie == cookie
    assert np.array_equal(est.demand, demand)
