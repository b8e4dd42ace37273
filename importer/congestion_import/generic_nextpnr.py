# Runs inside nextpnr-generic (--run): builds the device, places or binds a saved placement, routes, dumps.
"""The importer runs nextpnr-generic with this script and the package's
folder on PYTHONPATH. The environment gives the device (generic_arch), the
dump path (nextpnr_dump), the placement file CONGESTION_IMPORT_PLACEMENT
and CONGESTION_IMPORT_MODE:
  place    build, pack, place; write the placement and the placed dump;
  route    the same, then route and write the routed dump;
  reroute  build, pack, bind every cell to the bel the placement file names
           (locked), write the placed dump, route and write the routed dump.
Lines "congestion-import-step NAME" on standard error mark the steps."""

import os
import sys
import time

from congestion_import import generic_arch, nextpnr_dump


def announce(step):
    print("congestion-import-step " + step, file=sys.stderr, flush=True)


def write_placement(ctx, path):
    """One line per cell, `cell bel`, by cell name."""
    lines = sorted("%s %s\n" % (name, cell.bel) for name, cell in ctx.cells)
    with open(path + ".tmp", "w") as out:
        out.writelines(lines)
    os.replace(path + ".tmp", path)


def bind_placement(ctx, path):
    from nextpnrpy_generic import STRENGTH_LOCKED  # only there inside nextpnr

    cells = {name: cell for name, cell in ctx.cells}
    with open(path) as text:
        for line in text:
            name, _, bel = line.rstrip("\n").rpartition(" ")
            ctx.bindBel(bel, cells.pop(name), STRENGTH_LOCKED)
    if cells:
        raise RuntimeError("the placement does not place the cell %s" % sorted(cells)[0])


def main(ctx):
    mode = os.environ["CONGESTION_IMPORT_MODE"]
    placement = os.environ["CONGESTION_IMPORT_PLACEMENT"]
    times = {}
    announce("architecture")
    started = time.time()
    pips = generic_arch.build(ctx, generic_arch.ARCH.from_environment())
    times["time_arch_s"] = time.time() - started
    announce("placement")
    started = time.time()
    ctx.pack()
    if mode == "reroute":
        bind_placement(ctx, placement)
    else:
        ctx.place()
        write_placement(ctx, placement)
    times["time_place_s"] = time.time() - started
    nextpnr_dump.dump(ctx, "placed", dict(times, pips=pips))
    if mode == "place":
        return
    announce("routing")
    started = time.time()
    ctx.route()
    times["time_route_s"] = time.time() - started
    nextpnr_dump.dump(ctx, "routed", dict(times, pips=pips))


main(ctx)  # noqa: F821 (nextpnr's context)
