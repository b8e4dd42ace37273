"""A whole estimate from Python equals the estimator tool's run bit for bit."""
import json
import os
import re
import subprocess
import sys

import numpy as np
import pytest

import congestion as cg
from conftest import DESIGN_DIR
from design_inputs import design_netlist, design_supply, estimated_nets, load_pin_counts

# Each setting as the tool's options and as the Python calls they stand for.
SETTINGS = {
    "defaults": dict(model="path", window=(3, 1), uniform=False, policy="ratio", supply="half",
                     wirelength="hpwl", peak_window=1, chunks=16),
    "bbox-even-windows": dict(model="bbox", window=(4, 2), uniform=True, policy="overflow", supply="full",
                              wirelength="oracle", peak_window=4, chunks=5),
}
MODELS = {"path": cg.PATH_PROBABILITY_MODEL, "bbox": cg.BOUNDING_BOX_MODEL}
POLICIES = {"ratio": "utilization", "overflow": "overflow"}
TOP = DESIGN_DIR.parents[1]


def run_tool(tmp_path, s, design_dir=DESIGN_DIR):
    """The tool's JSON report; its --grids maps are in tmp_path/grids; a directional design takes no --supply."""
    tool = os.environ.get("CONGESTION_ESTIMATE_TOOL")
    if not tool:
        pytest.skip("CONGESTION_ESTIMATE_TOOL is not set (ctest sets it when the tool is built)")
    report = tmp_path / "report.json"
    supply = ["--supply", s["supply"]] if cg.load_design(design_dir).form == "undirected" else []
    subprocess.run([tool, str(design_dir), "--json", str(report), "--grids", str(tmp_path / "grids"),
                    "--model", s["model"],
                    "--window", "%d,%d" % s["window"], "--uniform", "yes" if s["uniform"] else "no",
                    "--policy", s["policy"], "--wirelength", s["wirelength"],
                    "--peak-window", str(s["peak_window"]), "--chunks", str(s["chunks"])] + supply,
                   check=True, stdout=subprocess.DEVNULL)
    return json.loads(report.read_text())


def run_python(d, s):
    """The tool's road through the estimator (tools/estimate.cpp), from Python."""
    nets = estimated_nets(d)
    est = cg.Estimator(d.nx, d.ny)
    est.num_chunks = s["chunks"]
    est.set_supply(design_supply(d, full=s["supply"] == "full"))
    est.smooth_supply(*s["window"])
    est.update_demand(design_netlist(d, oracle=s["wirelength"] == "oracle"), MODELS[s["model"]], nets=nets)
    est.update_demand(load_pin_counts(d, nets), cg.LAB_INPUT_MODEL)
    est.smooth_wire_demand(*s["window"], uniform=s["uniform"])
    est.smooth_type_demand(1, 1, cg.LAB_INPUT)
    est.update_congestion(POLICIES[s["policy"]])
    return est


@pytest.mark.parametrize("name", sorted(SETTINGS))
def test_estimate_equals_the_tools_figures_and_grids(tmp_path, design, name):
    """The report's figures are the estimator's; load_grids reads every file of the index as numpy.load does, and
    the maps are the estimator's arrays (the C++ test checks every map of the default estimate bit for bit)."""
    s = SETTINGS[name]
    report = run_tool(tmp_path, s)
    est = run_python(design, s)
    assert report["algorithm"] == cg.ALGORITHM
    # Equal cookies: every grid, table and flag of the two estimators is equal bit for bit.
    assert "%016x" % est.cookie == report["cookie"]
    assert report["nets"]["estimated"] == len(estimated_nets(design))
    for t, figures in enumerate(report["resources"]):
        peak, tile = est.peak_utilization(s["peak_window"], t)
        assert float(est.total_demand(t)) == figures["total_demand"], figures["type"]
        assert float(peak) == figures["peak_utilization"], figures["type"]
        assert list(tile) == figures["peak_tile"], figures["type"]
        assert float(est.total_overflow(t)) == figures["total_overflow"], figures["type"]
    assert float(est.avg_chip_utilization(0.0)) == report["avg_chip_utilization"]["above_0"]
    assert float(est.avg_chip_utilization(1.0)) == report["avg_chip_utilization"]["above_1"]

    verdict = est.routability(design_netlist(design), design.tracks, nets=estimated_nets(design))
    assert verdict == {key: report["routability"][key] for key in verdict}

    grids = cg.load_grids(tmp_path / "grids")
    index = json.loads((tmp_path / "grids" / "grids.json").read_text())
    assert list(grids) == [entry["name"] for entry in index["grids"]]
    for entry in index["grids"]:
        assert np.array_equal(grids[entry["name"]], np.load(tmp_path / "grids" / entry["file"]), equal_nan=True)
    for t in cg.ResourceType.__members__.values():
        for quantity, array in [("smooth_demand", est.smooth_demand), ("overflow", est.overflow)]:
            assert np.array_equal(grids[quantity + "_" + t.name.lower()], array[t]), quantity


def directional_copy(folder):
    """The bundled design in the directional form, each direction with a supply of its own
    (right h4 + h12, left h4, up v4 + v12, down v12) and the routed usage by direction."""
    folder.mkdir()
    tiles = (DESIGN_DIR / "tiles.txt").read_text().splitlines()
    lines = [tiles[0] + " directional", "# x y kind right left up down lab_in"]
    for line in tiles[2:]:
        x, y, kind, h4, h12, v4, v12, lab_in = line.split()
        h4, h12, v4, v12 = int(h4), int(h12), int(v4), int(v12)
        lines.append(f"{x} {y} {kind} {h4 + h12} {h4} {v4 + v12} {v12} {lab_in}")
    (folder / "tiles.txt").write_text("\n".join(lines) + "\n")
    routed = (DESIGN_DIR / "routed.txt").read_text().splitlines()
    lines = [routed[0] + " directional", "# x y right left up down lab_in"]
    for line in routed[2:]:
        x, y, _, h_left, h_right, _, _, v_up, v_down, _, h4, _, _, v12, _, lab_in, _ = line.split()
        # Usage stays within the supply of its direction.
        left, down = min(int(h_left), int(h4)), min(int(v_down), int(v12))
        lines.append(f"{x} {y} {h_right} {left} {v_up} {down} {lab_in}")
    (folder / "routed.txt").write_text("\n".join(lines) + "\n")
    (folder / "nets.txt").write_text((DESIGN_DIR / "nets.txt").read_text())
    return folder


def test_directional_design_loads_by_direction_and_estimates_as_the_tool_does(tmp_path, design):
    """The directional copy loads by direction and estimates as the tool does; docs/python.md's directional
    example stacks its supply as the tool sets it (left and right differ here; on the generic device they are
    equal)."""
    d = cg.load_design(directional_copy(tmp_path / "directional"))
    assert d.form == "directional" and design.form == "undirected"
    assert not hasattr(d, "h4")
    assert np.array_equal(d.right, design.h4 + design.h12) and np.array_equal(d.left, design.h4)
    assert np.array_equal(d.up, design.v4 + design.v12) and np.array_equal(d.down, design.v12)
    assert sorted(d.routed) == ["down", "lab_in", "left", "right", "up"]
    assert np.array_equal(d.routed["right"], design.routed["h_right"])
    report = run_tool(tmp_path, SETTINGS["defaults"], tmp_path / "directional")
    assert report["settings"]["supply"] == "directional"
    est = run_python(d, SETTINGS["defaults"])
    assert "%016x" % est.cookie == report["cookie"]
    example = re.findall(r"```python\n(.*?)```", (TOP / "docs" / "python.md").read_text(), re.S)[1]
    assert '"data/fir_mac_g20"' in example
    names = {"np": np, "cg": cg}
    exec(example.replace('"data/fir_mac_g20"', repr(str(tmp_path / "directional"))), names)
    assert not np.array_equal(d.left, d.right) and np.array_equal(names["supply"], design_supply(d))
    assert [int(t) for t in (cg.HORIZONTAL_LEFT, cg.HORIZONTAL_RIGHT, cg.VERTICAL_UP, cg.VERTICAL_DOWN,
                             cg.LAB_INPUT)] == [0, 1, 2, 3, 4]
    # The directional channel's track count: its largest supply of one direction.
    assert d.tracks == report["routability"]["tracks"] == max(int(d.right.max()), int(d.up.max()))
    nets = estimated_nets(d)
    verdict = est.routability(design_netlist(d), d.tracks, nets=nets)
    assert verdict == {key: report["routability"][key] for key in verdict}
    rule = cg.ROUTABILITY_RULE
    assert verdict["rule"] == rule
    # The box demand's tile-by-tile values and the figure's windows are checked in C++; the maps as the module
    # gives them make the verdict's figure. The extent adds the same factor / area of each net to both axes over
    # its box.
    boxes = est.box_demand(design_netlist(d), nets=nets)
    added = boxes - est.box_demand(design_netlist(d), nets=nets, extent=0.0)
    assert added.min() > -1e-12 and added.sum() > 0 and np.allclose(added[0], added[1], rtol=1e-12, atol=1e-12)
    supply = est.supply[:4]
    axes = np.stack([supply[0] + supply[1], supply[2] + supply[3]])
    assert cg.routability_figure(boxes, axes, rule["along"], rule["quantile"], across=rule["across"],
                                 vertical=[False, True], mean_above=rule["mean_above"]) == \
        pytest.approx(verdict["figure"], rel=1e-6)
    # The folder does not describe its device: the default generic device's figures, as the tool takes them.
    assert d.starting_share is None and d.tile_inputs is None and rule["device_assumed"]


def generic_copy(folder, slices, lut, tracks):
    """data/fir_mac_g20 as if imported on another architecture of 20 tracks a direction: meta.txt's
    slices, lut and tracks, and each logic tile's lab_in of slices x lut + 1."""
    source = TOP / "data" / "fir_mac_g20"
    folder.mkdir()
    for name in ("nets.txt", "routed.txt"):
        (folder / name).write_text((source / name).read_text())
    tiles = (source / "tiles.txt").read_text().splitlines()
    for i, line in enumerate(tiles[2:], 2):
        fields = line.split()
        if fields[2] == "logic":
            tiles[i] = " ".join(fields[:7] + [str(slices * lut + 1)])
    (folder / "tiles.txt").write_text("\n".join(tiles) + "\n")
    meta = {"arch": "generic", "slices": slices, "lut": lut, "tracks": tracks}
    (folder / "meta.txt").write_text("".join("%s %s\n" % item for item in meta.items()))
    return folder


@pytest.mark.parametrize("slices, lut, tracks", [(4, 4, "1:12,4:8"), (8, 4, "1:4,2:8,6:8"), (4, 6, "1:6,2:6,6:8")])
def test_the_verdict_on_a_generic_device_is_the_tools(tmp_path, slices, lut, tracks):
    """load_design gives the device that meta.txt describes (its figures and threshold are checked in C++): the
    verdict on it, its rule's figures included, is the tool's."""
    folder = generic_copy(tmp_path / "generic", slices, lut, tracks)
    d = cg.load_design(folder)
    report = run_tool(tmp_path, SETTINGS["defaults"], folder)
    est = run_python(d, SETTINGS["defaults"])
    netlist, nets = design_netlist(d), estimated_nets(d)
    verdict = est.routability(netlist, d.tracks, nets=nets, starting_share=d.starting_share,
                              tile_inputs=d.tile_inputs)
    assert verdict == {key: report["routability"][key] for key in verdict}
    rule = verdict["rule"]
    assert not rule["device_assumed"]
    # Without the device's figures the default device's threshold stands in, and says so.
    assumed = est.routability(netlist, d.tracks, nets=nets)
    assert assumed["figure"] == verdict["figure"] and assumed["rule"] == cg.ROUTABILITY_RULE
    assert assumed["min_supply_scale"] == verdict["figure"] / cg.ROUTABILITY_RULE["threshold"]


def test_the_docs_example_is_the_tools_estimate(tmp_path):
    """docs/python.md's example, run as written, makes the tool's estimate: equal cookies."""
    report = run_tool(tmp_path, SETTINGS["defaults"])
    example = re.search(r"```python\n(.*?)```", (TOP / "docs" / "python.md").read_text(), re.S).group(1)
    printed = subprocess.run([sys.executable, "-c", example], cwd=TOP, capture_output=True, text=True, check=True)
    assert "estimator cookie: " + report["cookie"] + "\n" in printed.stdout
