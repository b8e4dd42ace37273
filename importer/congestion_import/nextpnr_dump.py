# Runs inside nextpnr and writes the placed (or routed) design as JSON for the importer.
"""nextpnr-ice40 runs this file with the design in `ctx`: as --post-route
script of the normal flow, or as --run script that packs and places only.
The generic flow (generic_nextpnr.py) imports it and calls dump(). A dump
holds what the importer needs and nothing else: per net its driver and load
pin wires with the cell and port of each, and after routing every wire bound to the net with the location
and source wire of the switch (pip) that drives it; cell counts and bel use.
The environment names the output file (CONGESTION_IMPORT_DUMP, `{stage}`
replaced by placed or routed) and, for --run, asks for packing and
placement (CONGESTION_IMPORT_PLACE_ONLY=1)."""

import json
import os
import time


def get_pin_wire(ctx, cell, port):
    """The wire of a cell port's bel pin; None for a port that is no pin of
    the bel (nextpnr then leaves it unconnected)."""
    try:
        return ctx.getBelPinWire(cell.bel, port)
    except Exception:
        return None


def dump(ctx, stage, extra=None):
    """Writes the dump of `stage` (placed or routed), with the entries of
    `extra` added."""
    started = time.time()
    routed = stage == "routed"
    nets = []
    for name, net in ctx.nets:
        driver = net.driver
        # "cells" holds [cell, port] of the driver, then of each user, as listed.
        record = {"name": name, "driver": None, "users": [], "cells": []}
        if driver.cell is not None and driver.cell.bel:
            wire = get_pin_wire(ctx, driver.cell, driver.port)
            if wire:
                record["driver"] = [str(driver.cell.type), wire]
                record["cells"].append([str(driver.cell.name), str(driver.port)])
        for user in net.users:
            if user.cell is not None and user.cell.bel:
                wire = get_pin_wire(ctx, user.cell, user.port)
                if wire:
                    record["users"].append(wire)
                    record["cells"].append([str(user.cell.name), str(user.port)])
        if routed:
            wires = []
            for wire, pip_map in net.wires:
                pip = pip_map.pip
                if pip:
                    location = ctx.getPipLocation(pip)
                    wires.append([wire, location.x, location.y, ctx.getPipSrcWire(pip)])
                else:
                    wires.append([wire, None, None, None])
            record["wires"] = wires
        nets.append(record)

    cells = {}
    for _, cell in ctx.cells:
        cells[str(cell.type)] = cells.get(str(cell.type), 0) + 1
    bels = {}
    for bel in ctx.getBels():
        use = bels.setdefault(str(ctx.getBelType(bel)), [0, 0])
        use[1] += 1
        if ctx.getBoundBelCell(bel):
            use[0] += 1
    result = {"chip": ctx.getChipName(), "stage": stage, "nets": nets, "cells": cells, "bels": bels}
    result.update(extra or {})
    result["export_s"] = time.time() - started
    path = os.environ["CONGESTION_IMPORT_DUMP"].replace("{stage}", stage)
    with open(path + ".tmp", "w") as out:
        json.dump(result, out)
    os.replace(path + ".tmp", path)


def main(ctx):
    if os.environ.get("CONGESTION_IMPORT_PLACE_ONLY") == "1":
        ctx.pack()
        ctx.place()
        dump(ctx, "placed")
    else:
        dump(ctx, "routed")


if "ctx" in globals():
    main(ctx)  # noqa: F821 (nextpnr's context)
