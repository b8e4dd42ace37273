"""Every input the engine would stop the process on raises ValueError first, and the process goes on."""
import numpy as np
import pytest

import congestion as cg

NX, NY = 6, 4
NEW = cg.ALGORITHM == "new"


def netlist(pins, boxes=None):
    """One net per list of (x, y) pins, the driver first."""
    starts = np.cumsum([0] + [len(p) for p in pins])
    xy = np.array([pin for p in pins for pin in p])
    return cg.Netlist(starts, xy[:, 0], xy[:, 1], boxes=boxes)


def fresh():
    est = cg.Estimator(NX, NY)
    est.set_supply(np.ones((5, NX, NY), dtype=np.float32))
    return est


def smoothed_supply():
    est = fresh()
    est.smooth_supply(3, 3)
    return est


def smoothed_demand():
    est = smoothed_supply()
    est.update_demand(netlist([[(0, 0), (5, 3)]]), cg.PATH_PROBABILITY)
    est.smooth_wire_demand(3, 3)
    return est


def congested():
    est = smoothed_demand()
    est.update_congestion()
    return est


GOOD = netlist([[(0, 0), (2, 1)]])
CASES = {
    # construction and settings
    "nx zero": (lambda: cg.Estimator(0, NY), "nx 0 is outside"),
    "no chunks": (lambda: setattr(fresh(), "num_chunks", 0), "num_chunks 0"),
    # supply
    "supply shape": (lambda: fresh().set_supply(np.ones((5, NX, NY + 1), np.float32)), r"shape \(5, 6, 4\)"),
    "supply dtype": (lambda: fresh().set_supply(np.ones((5, NX, NY), np.int32)), "floating-point"),
    "x past the grid": (lambda: fresh().supply_at(NX, 0, 0), "x 6 is outside 0..5"),
    "type 5": (lambda: fresh().demand_at(0, 0, 5), "type 5 is not a resource type"),
    # demand
    "net model 3": (lambda: fresh().update_demand(GOOD, 3), "model 3"),
    "pin outside": (lambda: fresh().update_demand(netlist([[(0, 0), (NX, 1)]]), cg.PATH_PROBABILITY),
                    r"pin 1 of net 0 at \(6, 1\)"),
    "box outside": (lambda: smoothed_supply().update_demand(
        netlist([[(0, 0), (1, 1)]], boxes=[[0, 1, 0, NY]]), cg.BOUNDING_BOX), "leaves the 6 x 4 grid"),
    "net index": (lambda: fresh().update_demand(GOOD, cg.PATH_PROBABILITY, nets=[1]), "nets holds 1"),
    "lab input from a netlist": (lambda: fresh().update_demand(GOOD, cg.LAB_INPUT_MODEL), "not a Netlist"),
    # the Netlist's arrays
    "net without driver": (lambda: cg.Netlist([0, 2, 2], [0, 1], [0, 0]), "net 1 has no pins"),
    # smoothing and calling order
    "negative window": (lambda: fresh().smooth_supply(-1, 3), "parallel_dim -1"),
    "congestion before smooth_supply": (lambda: fresh().update_congestion(), "smoothed demand" if NEW else
                                        "smooth_wire_demand"),
    "unknown policy": (lambda: smoothed_demand().update_congestion("ratio"), "'ratio' is not"),
    "smoothed demand before smoothing": (lambda: smoothed_supply().smooth_demand, "smoothed demand"),
    "negative peak window": (lambda: fresh().peak_utilization(-1, 0), "dim -1"),
    # window queries
    "window before congestion": (lambda: smoothed_demand().congestion_in_window(0, 0, 1, 0, 1), "update_congestion"),
    "lab input window": (lambda: congested().congestion_in_window(cg.LAB_INPUT, 0, 1, 0, 1), "wire type"),
    "skip_cols twice": (lambda: fresh().dump("/dev/null", [1, 1]), "twice"),
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
