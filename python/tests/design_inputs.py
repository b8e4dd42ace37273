"""The estimator tool's inputs built from a design, as front_end/design_netlist.cpp builds them."""
import numpy as np

import congestion as cg

GLOBAL_OR_CONSTANT = 1 | 2


def design_supply(d, full=False):
    """The tool's supply: a directional design's own per direction, else the wires of an axis
    (half or all) in each of its directions; Lab Input lab_in."""
    if d.form == "directional":
        return np.stack([d.left, d.right, d.up, d.down, d.lab_in]).astype(np.float32)
    share = np.float32(1.0 if full else 0.5)
    horizontal = (d.h4 + d.h12).astype(np.float32) * share
    vertical = (d.v4 + d.v12).astype(np.float32) * share
    return np.stack([horizontal, horizontal, vertical, vertical, d.lab_in.astype(np.float32)])


def estimated_nets(d):
    """The nets the tool estimates: neither global nor constant, two pins or more."""
    return np.flatnonzero(((d.flags & GLOBAL_OR_CONSTANT) == 0) & (np.diff(d.net_start) >= 2))


def design_netlist(d, oracle=False):
    """All nets; a net's weight on each of its pins; HPWL or routed lengths."""
    npins = np.diff(d.net_start)
    wirelength = np.stack([d.routed_x, d.routed_y], axis=1).astype(np.float32) if oracle else None
    return cg.Netlist(d.net_start, d.pin_x, d.pin_y, np.repeat(d.weight, npins).astype(np.float32),
                      d.boxes, wirelength)


def load_pin_counts(d, nets):
    """Lab Input demand: load pins (not drivers) of the listed nets per tile."""
    npins = np.diff(d.net_start)
    is_load = np.ones(len(d.pin_x), dtype=bool)
    is_load[d.net_start[:-1]] = False
    pins = is_load & np.isin(np.repeat(np.arange(d.num_nets), npins), nets)
    counts = np.zeros((d.nx, d.ny), dtype=np.int32)
    np.add.at(counts, (d.pin_x[pins], d.pin_y[pins]), 1)
    return counts
