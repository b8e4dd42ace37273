"""docs/python.md's congestion-driven loop, run as written: it prints what the page says (under the
default smoothing), lowers its figure, and leaves a placement the device takes."""
import collections
import contextlib
import io
import os
import pathlib
import re

import numpy as np

import congestion as cg

TOP = pathlib.Path(__file__).resolve().parents[2]
HEADING = "## A congestion-driven loop of your own"


def get_example():
    page = (TOP / "docs" / "python.md").read_text()
    section = page[page.index(HEADING):]
    code = re.search(r"```python\n(.*?)```", section, re.S).group(1)
    after_code = section[section.index("```\n", section.index("```python")):]
    quoted = [" ".join(text.split()) for text in re.findall(r"`(figure [^`]*)`", after_code)]
    return code, quoted


def test_the_loop_lowers_its_figure_and_keeps_the_placement_legal():
    code, quoted = get_example()
    names = {"__name__": "__example__"}
    printed = io.StringIO()
    here = os.getcwd()
    os.chdir(TOP)
    try:
        with contextlib.redirect_stdout(printed):
            exec(compile(code, "docs/python.md", "exec"), names)
    finally:
        os.chdir(here)
    lines = printed.getvalue().splitlines()
    if cg.ALGORITHM == "new":  # the page quotes what it prints under the default smoothing
        assert lines == quoted
    before, after = (float(re.match(r"figure ([\d.]+)", line).group(1)) for line in lines)
    assert after < before and names["kept"] > 0

    # Every slice on a logic tile that holds at most `slices` of them and one clock; the I/O cells where
    # placement.txt has them.
    bels = [line.split()[1].split("/") for line in open(TOP / "data" / "fir_mac_g20" / "placement.txt")]
    x, y, movable, clock = names["cell_x"], names["cell_y"], names["movable"], names["clock"]
    d = names["d"]
    slices = collections.Counter()
    clocks = collections.defaultdict(set)
    for cell, bel in enumerate(bels):
        if not movable[cell]:
            assert (x[cell], y[cell]) == (int(bel[0][1:]), int(bel[1][1:]))
            continue
        assert 0 < x[cell] < d.nx - 1 and 0 < y[cell] < d.ny - 1
        slices[(x[cell], y[cell])] += 1
        if clock[cell] >= 0:
            clocks[(x[cell], y[cell])].add(clock[cell])
    assert max(slices.values()) <= int(names["meta"]["slices"])
    assert all(len(nets) == 1 for nets in clocks.values())
    assert np.count_nonzero(movable) == sum(slices.values())
