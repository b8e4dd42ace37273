"""Shared fixtures: the bundled design and an estimate of it ready for update_congestion."""
import pathlib

import pytest

import congestion as cg
from design_inputs import design_netlist, design_supply, estimated_nets

DESIGN_DIR = pathlib.Path(__file__).resolve().parents[2] / "data" / "picorv32_ex"


@pytest.fixture(scope="session")
def design():
    return cg.load_design(DESIGN_DIR)


@pytest.fixture
def smoothed(design):
    """An estimate of the design smoothed and ready for update_congestion."""
    est = cg.Estimator(design.nx, design.ny)
    est.set_supply(design_supply(design))
    est.smooth_supply(3, 1)
    est.update_demand(design_netlist(design), cg.PATH_PROBABILITY, nets=estimated_nets(design))
    est.smooth_wire_demand(3, 1)
    return est
