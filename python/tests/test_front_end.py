"""Garbage the front end refuses, stale tables it will not answer from, and Ctrl-C during update_demand."""
import os
import signal
import threading

import numpy as np
import pytest

import congestion as cg

NX, NY = 6, 4


def supplied(value=1.0):
    est = cg.Estimator(NX, NY)
    supply = np.full((5, NX, NY), value, np.float32)
    supply[:, NX - 1, :] = 0.0  # the last column is left for a later set_supply
    est.set_supply(supply)
    est.smooth_supply(3, 1)
    return est


def net(**arrays):
    return cg.Netlist([0, 2], [0, 3], [0, 2], **arrays)


def congested():
    est = supplied()
    est.update_demand(net(), cg.PATH_PROBABILITY)
    est.smooth_wire_demand(3, 1)
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
    return supply


REFUSED = {
    "negative supply": (lambda: cg.Estimator(NX, NY).set_supply(with_supply_entry(-1.0)),
                        r"VERTICAL_UP supply of tile \(1, 3\) is -1.0+: a supply must be finite and not negative"),
    "NaN supply": (lambda: cg.Estimator(NX, NY).set_supply(with_supply_entry(np.nan)), "must be finite"),
    "infinite supply": (lambda: cg.Estimator(NX, NY).set_supply(with_supply_entry(np.inf)), "must be finite"),
    "NaN pin weight": (lambda: net(pin_weight=[0.0, np.nan]), "pin_weight holds nan at flat index 1"),
    "infinite wire length": (lambda: net(wirelength=[[3.0, -np.inf]]), "wirelength holds -inf"),
    "box model on stale supply": (lambda: set_last_column(supplied()).update_demand(net(), cg.BOUNDING_BOX),
                                  "BOUNDING_BOX_MODEL needs the smoothed supply: call smooth_supply again"),
    "congestion on stale supply": (lambda: set_last_column(congested()).update_congestion(),
                                   "update_congestion needs the smoothed supply: call smooth_supply again"),
    "window after clear_demand": (lambda: (lambda est: est.clear_demand() or est.congestion_in_window(0, 0, 1, 0, 1))(
        congested()), "congestion_in_window needs the window sums of the current congestion"),
    "window of 0 tiles": (lambda: supplied().smooth_wire_demand(0, 1), "parallel_dim 0 is outside 1..255"),
    "window of 256 tiles": (lambda: supplied().peak_utilization(256, 0), "dim 256 is outside 1..255"),
}


@pytest.mark.parametrize("case", sorted(REFUSED))
def test_front_end_refuses(case):
    call, message = REFUSED[case]
    with pytest.raises(ValueError, match=message):
        call()


def long_netlist(nx, ny, num_nets):
    """Two-pin nets across the whole grid: seconds of work for update_demand."""
    rng = np.random.default_rng(7)
    return cg.Netlist(np.arange(0, 2 * num_nets + 1, 2), rng.integers(0, nx, 2 * num_nets),
                      rng.integers(0, ny, 2 * num_nets))


@pytest.mark.parametrize("model", [cg.PATH_PROBABILITY, cg.BOUNDING_BOX])
def test_ctrl_c_stops_update_demand_and_leaves_demand_as_it_was(model):
    side = 256
    est = cg.Estimator(side, side)
    est.set_supply(np.ones((5, side, side), np.float32))
    est.smooth_supply(3, 1)
    est.update_demand(long_netlist(side, side, 100), model)
    demand, cookie = est.demand, est.cookie

    timer = threading.Timer(0.2, os.kill, (os.getpid(), signal.SIGINT))
    with pytest.raises(KeyboardInterrupt):
        timer.start()
        est.update_demand(long_netlist(side, side, 100000), model)
        timer.join()  # a call that ended first meets the signal here and fails below
    assert est.cookie == cookie
    assert np.array_equal(est.demand, demand)
