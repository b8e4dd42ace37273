"""Array round trips, Python congestion policies, the dumps and the verdict without wire supply."""
import numpy as np
import pytest

import congestion as cg
from design_inputs import design_netlist

SEED = 7


def test_supply_and_demand_round_trip():
    # Random supply with zeros (left unset) and a float64 copy of it.
    rng = np.random.default_rng(SEED)
    supply = rng.integers(0, 4, size=(5, 7, 3)).astype(np.float64) / 2
    est = cg.Estimator(7, 3)
    cookie = est.cookie
    est.set_supply(supply)
    assert est.cookie != cookie
    assert est.congestion.dtype == np.float32 and est.congestion.shape == (5, 7, 3)
    assert np.array_equal(est.supply, supply.astype(np.float32))
    assert est.supply_at(6, 2, cg.VERTICAL_DOWN) == supply[3, 6, 2]
    assert est.max_supply(cg.LAB_INPUT) == supply[4].max()
    assert est.avg_supply(cg.HORIZONTAL_LEFT) == np.float32(supply[0].sum() / 21)

    lab_input = rng.integers(0, 9, size=(7, 3))
    est.update_demand(lab_input, cg.LAB_INPUT_MODEL)
    assert np.array_equal(est.demand[4], lab_input.astype(np.float32))
    assert est.demand_at(3, 1, 4) == lab_input[3, 1]
    with np.errstate(divide="ignore", invalid="ignore"):
        expected = np.where(supply[4] > 0, lab_input / supply[4].astype(np.float32), 0).astype(np.float32)
    assert np.array_equal(est.utilization[4], expected)
    est.clear_demand(cg.LAB_INPUT)
    assert not est.demand.any()
    est.update_demand(lab_input, cg.LAB_INPUT)  # the resource type names its model too
    assert est.total_demand(cg.LAB_INPUT) == lab_input.sum()


def test_python_policy_errors_propagate_and_leave_the_estimator_usable(smoothed):
    with pytest.raises(ZeroDivisionError):
        smoothed.update_congestion(lambda d, s, t: d / 0.0)
    calls = []
    smoothed.update_congestion(lambda d, s, t: calls.append(t) or (d / s if s > 0 else 0.0))
    demand, supply = smoothed.smooth_demand[:4], smoothed.smoothed_supply[:4]
    utilization = np.divide(demand, supply, out=np.zeros_like(demand), where=supply > 0)
    assert np.array_equal(smoothed.congestion[:4], utilization)
    assert sorted(set(calls)) == sorted(cg.WIRE_TYPES) and len(calls) == 4 * smoothed.nx * smoothed.ny
    with pytest.raises(TypeError, match="must return a number"):
        smoothed.update_congestion(lambda d, s, t: "high")
    # A policy that calls back into its estimator is refused, not deadlocked.
    with pytest.raises(RuntimeError, match="another operation"):
        smoothed.update_congestion(lambda d, s, t: smoothed.total_demand(t))


def test_dumps_write_what_the_estimator_sees(tmp_path, smoothed, design):
    smoothed.dump_netlist(tmp_path / "nets.txt", design_netlist(design), nets=[2])
    assert (tmp_path / "nets.txt").read_text() == "1\n2 3 11 25 0.0000 11 26 0.0000 11 26 0.0000 \n"
    smoothed.dump(tmp_path / "grids.txt", skip_cols=[0, 33])
    header = "\t".join(["TOTAL UTILIZATION VALUES for H and V\n\n"] + [str(i) for i in range(32)])
    assert (tmp_path / "grids.txt").read_text().startswith(header + "\n0\t")
    with pytest.raises(OSError):
        smoothed.dump(tmp_path / "missing" / "grids.txt")


def test_nets_that_need_wires_do_not_route_without_wire_supply():
    est = cg.Estimator(6, 4)
    supply = np.zeros((5, 6, 4), np.float32)
    supply[cg.LAB_INPUT] = 1.0
    est.set_supply(supply)
    est.smooth_supply(3, 1)
    long_net = cg.Netlist([0, 2], [0, 3], [0, 2])
    verdict = est.routability(long_net, tracks=4)
    assert verdict["verdict"] == "does not route"
    assert verdict["min_supply_scale"] is None and verdict["figure"] is None
    assert verdict["margin"] == -1.0
    assert verdict["predicted_min_tracks"] is None and verdict["tracks"] == 4
    # A net on one tile needs no wire: it routes, on one track.
    idle = est.routability(cg.Netlist([0, 2], [1, 1], [2, 2]), tracks=4)
    assert (idle["verdict"], idle["figure"], idle["margin"], idle["predicted_min_tracks"]) == ("routes", 0.0, None, 1)
    boxes = est.box_demand(long_net)
    assert cg.routability_figure(boxes, np.zeros_like(boxes), 9, 0.95) == float("inf")
    assert cg.routability_figure(np.zeros_like(boxes), np.zeros_like(boxes), 9, 0.95) == 0.0
