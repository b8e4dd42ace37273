# The generic import: synthesis to LUTs and flip-flops, placement and bounded routing in nextpnr-generic, the folder.
import hashlib
import json
import math
import os
import shutil
import time

from . import blif, flow, folder, generic_arch, generic_design
from .netlist import NETLIST, get_several_drivers_error

HERE = os.path.dirname(os.path.abspath(__file__))
ARCH_SCRIPT = os.path.join(HERE, "generic_arch.py")
FLOW_SCRIPT = os.path.join(HERE, "generic_nextpnr.py")

DEFAULT_SLICES = 4
DEFAULT_LUT = 4
DEFAULT_TRACKS = "1:12,4:8"
DEFAULT_MAX_ROUTE_ITERATIONS = 100
# The default grid: square, its logic tiles filled to this share by the design's slices.
DEFAULT_UTILISATION = 0.5
# I/O cells per I/O tile without --io-per-tile: this many, or the fewest that hold the design's
# I/O on the grid, so that the logic alone sizes the default grid.
MIN_IOBS = 2
MIN_GRID, MAX_GRID = 3, 1000
MAX_SLICES, MIN_LUT, MAX_LUT = 64, 2, 8
MAX_IOBS = 64
MAX_TRACKS = 1000

# Generic synthesis ending in a K-input LUT mapping; the flip-flops legalised to the one type
# the architecture has (positive edge, no enable, set or reset: those become LUT logic, an
# asynchronous reset a synchronous one first; latches are left for the netlist's check to
# refuse), then mapped to the cells nextpnr packs, without the source locations that would
# name the installed map file. Every command is a %-format of the options.
_NOT_LATCHES = "t:$_DLATCH* t:$_SR_* %%u %%n"
_TO_CELLS = ("techmap -map {share}/generic_map.v", "setattr -unset src t:LUT t:DFF", "opt_clean", "stat",
             "write_json {json}")
SYNTHESIS = ("read_verilog -lib {share}/generic_cells.v", "synth -flatten%(top)s -run :fine%(extra)s",
             "opt -fast -full", "memory_map", "opt -full", "techmap", "opt -fast", "async2sync " + _NOT_LATCHES,
             "dfflegalize -cell $_DFF_P_ 01 " + _NOT_LATCHES, "abc -lut %(lut)d", "opt -fast") + _TO_CELLS
# A BLIF circuit with its own LUT mapping kept: each of its LUTs one LUT cell; its flip-flops
# legalised as above, and only the logic that legalising adds mapped to LUTs.
KEPT_MAPPING = ("read_verilog -lib {share}/generic_cells.v", "hierarchy -check%(top)s", "flatten",
                "simplemap t:$lut %%n", "dfflegalize -cell $_DFF_P_ 01 " + _NOT_LATCHES, "abc -lut %(lut)d",
                "opt_clean") + _TO_CELLS


def _usage_error(sentence):
    return flow.IMPORT_ERROR(sentence, flow.EXIT_USAGE)


def parse_grid(text):
    width, x, height = text.partition("x")
    if not x or not width.isdigit() or not height.isdigit():
        raise _usage_error("--grid '%s' is not WIDTHxHEIGHT in tiles, e.g. 40x40." % text)
    width, height = int(width), int(height)
    if not (MIN_GRID <= width <= MAX_GRID and MIN_GRID <= height <= MAX_GRID):
        raise _usage_error("--grid %s is outside %d..%d tiles per side." % (text, MIN_GRID, MAX_GRID))
    return width, height


class SETTINGS:
    """The device options of a generic import, checked: `grid` (None for
    the default), `slices`, `lut`, `tracks`, `iobs` (None for the
    default)."""

    def __init__(self, arguments, rerouting):
        for option, value, low, high in (("--slices", arguments.slices, 1, MAX_SLICES),
                                          ("--lut", arguments.lut, MIN_LUT, MAX_LUT),
                                          ("--io-per-tile", arguments.io_per_tile, 1, MAX_IOBS)):
            if value is not None and not low <= value <= high:
                raise _usage_error("%s %d is outside %d..%d." % (option, value, low, high))
        if arguments.max_route_iterations < 1:
            raise _usage_error("--max-route-iterations %d is not a positive number." %
                               arguments.max_route_iterations)
        if rerouting and arguments.tracks is None:
            raise _usage_error("--reroute needs --tracks: the channel to route the placement on.")
        try:
            self.tracks = generic_arch.parse_tracks(arguments.tracks or DEFAULT_TRACKS)
        except ValueError as error:
            raise _usage_error("--tracks %s: %s." % (arguments.tracks, error))
        if sum(count for _, count in self.tracks) > MAX_TRACKS:
            raise _usage_error("--tracks %s gives more than %d tracks per direction." %
                               (arguments.tracks, MAX_TRACKS))
        self.grid = parse_grid(arguments.grid) if arguments.grid else None
        self.slices = arguments.slices or DEFAULT_SLICES
        self.lut = arguments.lut or DEFAULT_LUT
        self.iobs = arguments.io_per_tile


def get_default_grid(slices, clock_tiles, ios, slices_per_tile, iobs):
    """The smallest square grid whose logic tiles the slices fill to
    DEFAULT_UTILISATION, that has `clock_tiles` logic tiles and whose I/O
    tiles hold the I/O at `iobs` I/O cells per tile (None: as many as
    needed, up to MAX_IOBS)."""
    tiles = max(math.ceil(slices / (slices_per_tile * DEFAULT_UTILISATION)), clock_tiles)
    side = max(MIN_GRID, math.isqrt(max(0, tiles - 1)) + 1 + 2)
    while generic_arch.get_io_tiles(side, side) * (iobs or MAX_IOBS) < ios:
        side += 1
    return side, side


def get_default_iobs(ios, width, height):
    """The I/O cells per I/O tile without --io-per-tile: MIN_IOBS, or the
    fewest that hold `ios` I/O on the grid."""
    return max(MIN_IOBS, -(-ios // generic_arch.get_io_tiles(width, height)))


def get_sha256(path):
    with open(path, "rb") as script:
        return hashlib.sha256(script.read()).hexdigest()


def synthesize(arguments, settings, yosys, sources, kind, out, work):
    """Synthesizes the Verilog sources, or the BLIF circuit (its LUTs kept
    unless --resynthesize), into out/synth.json; returns (its path, meta
    entries, times)."""
    netlist = os.path.join(out, "synth.json")
    meta = []
    if kind == "blif":
        clocked = os.path.join(work, os.path.basename(sources[0]))
        try:
            clock = blif.add_latch_clock(sources[0], clocked)
        except ValueError as error:
            raise flow.IMPORT_ERROR("%s (%s)." % (error, sources[0]))
        if clock:
            sources = [clocked]
        meta.append(("blif_latch_clock", clock or "-"))
    parameters = flow.get_parameter_defines(yosys, sources, arguments.top, arguments.defines, work,
                                            os.path.join(out, "yosys.log"))
    kept = kind == "blif" and not arguments.resynthesize
    values = {"top": " -top " + arguments.top if arguments.top else "" if not kept else " -auto-top",
              "extra": "".join(" " + argument for argument in arguments.yosys_args), "lut": settings.lut}
    commands = [command % values for command in (KEPT_MAPPING if kept else SYNTHESIS)]
    script, seconds = flow.synthesize(yosys, sources, out, netlist, commands, arguments.defines, parameters)
    conflicting = flow.get_conflicting_net(os.path.join(out, "yosys.log"))
    if conflicting:
        raise flow.IMPORT_ERROR(get_several_drivers_error(conflicting) + ".")
    meta = [("lut_mapping", "kept" if kept else "synthesized"), ("yosys_script", script)] + meta
    return netlist, meta, [("time_synth_s", "%.1f" % seconds)]


def _place_and_route(arguments, arch, netlist, placement, mode, seed, progress, work):
    """Runs the generic flow in nextpnr; returns (the run, its dump,
    whether it was routed)."""
    nextpnr = flow.find_program("nextpnr-generic", "nextpnr-generic")
    dump_path = os.path.join(work, "dump-{stage}.json")
    environment = dict(os.environ, CONGESTION_IMPORT_DUMP=dump_path, CONGESTION_IMPORT_MODE=mode,
                       CONGESTION_IMPORT_PLACEMENT=placement, **arch.get_environment())
    environment["PYTHONPATH"] = os.pathsep.join(filter(None, [os.path.dirname(HERE),
                                                              os.environ.get("PYTHONPATH")]))
    log_path = os.path.join(arguments.out, "nextpnr.log")
    nextpnr_arguments = ["--json", netlist, "--seed", str(seed), "--router", "router2", "--run", FLOW_SCRIPT]
    run = flow.NEXTPNR_RUN(nextpnr, nextpnr_arguments + arguments.nextpnr_args, log_path, environment, progress,
                           arguments.max_route_iterations)
    flow.check_nextpnr(run, log_path, "nextpnr-generic", "of %dx%d tiles" % (arch.nx, arch.ny))
    routed = mode != "place" and not run.stopped and not run.unroutable
    with open(dump_path.replace("{stage}", "routed" if routed else "placed")) as dump_file:
        return run, json.load(dump_file), routed


def _export(arguments, arch, run, dump, routed, progress, meta_in):
    """Writes the design files and meta.txt; returns (data, exit status)."""
    progress.start("export")
    started = time.time()
    out = arguments.out
    data = generic_design.GENERIC_DESIGN_DATA(arch, dump)
    generic_design.write_tiles(arch, os.path.join(out, "tiles.txt"))
    data.write_nets(os.path.join(out, "nets.txt"))
    data.write_netnames(os.path.join(out, "netnames.txt"))
    data.write_pins(os.path.join(out, "pins.txt"), os.path.join(out, "placement.txt"))
    if routed:
        data.write_routed(os.path.join(out, "routed.txt"))
    overuse = 0 if routed else -1 if run.overuse is None else run.overuse
    if routed or arguments.no_route:
        result = "routed" if routed else "not-attempted"
    elif run.unroutable:
        result = "unroutable"
        data.not_routed = "nextpnr found no path at all for an arc (%s)" % run.unroutable
    else:
        result = "iteration-bound"
        data.not_routed = ("routing still left an overuse of %d after %d router iterations "
                           "(--max-route-iterations)" % (overuse, run.iterations))
    meta = [("design", os.path.basename(os.path.abspath(out))), ("arch", "generic"),
            ("grid", "%d %d" % (arch.nx, arch.ny)), ("slices", arch.slices), ("lut", arch.lut),
            ("tracks", generic_arch.format_tracks(arch.tracks)), ("tracks_per_direction", arch.get_track_count()),
            ("iobs_per_tile", arch.iobs), ("globals", generic_arch.GLOBALS),
            ("arch_script_sha256", get_sha256(ARCH_SCRIPT)), ("pips", dump["pips"]),
            ("stage", "routed" if routed else "placed"), ("routed", "yes" if routed else "no"),
            ("route_result", result), ("route_iterations", run.iterations), ("route_overuse", overuse),
            ("max_route_iterations", arguments.max_route_iterations),
            ("nets", len(data.nets)), ("pins", data.get_num_pins()),
            ("nets_skipped_no_driver", data.skipped_no_driver)]
    meta += sorted(data.diagnostics.items())
    if routed:
        meta += [("routed_x_total", sum(net.routed_x for net in data.nets)),
                 ("routed_y_total", sum(net.routed_y for net in data.nets))]
    meta.append(("cells", sum(dump["cells"].values())))
    meta += [("cells." + kind, count) for kind, count in sorted(dump["cells"].items())]
    meta += [("util." + kind, "%d %d" % tuple(use)) for kind, use in sorted(dump["bels"].items())]
    meta += meta_in["run"]
    meta += [("nextpnr_extra_args", " ".join(arguments.nextpnr_args) or "-")]
    times = [(key, "%.1f" % dump[key]) for key in ("time_arch_s", "time_place_s", "time_route_s") if key in dump]
    meta += meta_in["times"] + times
    meta += [("time_export_s", "%.1f" % (time.time() - started + dump["export_s"])),
             ("time_nextpnr_total_s", "%.1f" % run.seconds)]
    meta += meta_in["tools"]
    folder.write_meta(os.path.join(out, "meta.txt"), meta)
    progress.finish()
    return data, flow.EXIT_WRITTEN if routed or arguments.no_route else flow.EXIT_NOT_ROUTED


def _get_tools(yosys_version, nextpnr, version):
    return [("yosys_version", yosys_version), ("nextpnr_version", flow.get_version(nextpnr).replace(" ", "_")),
            ("importer_version", version)]


def run(arguments, settings, kind, sources, progress, work, version):
    """Imports the design (`kind` json, blif or verilog) onto a generic
    device; returns (data, exit status)."""
    nextpnr = flow.find_program("nextpnr-generic", "nextpnr-generic")
    out = arguments.out
    netlist_path = os.path.join(out, "synth.json")
    if kind == "json":
        shutil.copyfile(sources[0], netlist_path)
        synth_meta, times = [("lut_mapping", "given"), ("yosys_script", "-")], []
        yosys_version = "-"
    else:
        yosys = flow.find_program("yosys", "yosys")
        progress.start("synthesis")
        netlist_path, synth_meta, times = synthesize(arguments, settings, yosys, sources, kind, out, work)
        yosys_version = flow.get_version(yosys).replace(" ", "_")
    netlist = NETLIST(netlist_path, arguments.top, kind != "json")
    try:
        netlist.check_generic(settings.lut, kind != "json", kind == "blif" and not arguments.resynthesize)
    except ValueError as error:
        raise flow.IMPORT_ERROR("%s (%s)." % (error, sources[0]) if kind == "json" else "%s." % error)
    slices, clock_tiles = netlist.get_generic_slices(), netlist.get_clock_tiles(settings.slices)
    ios = netlist.get_io_count()
    width, height = settings.grid or get_default_grid(slices, clock_tiles, ios, settings.slices, settings.iobs)
    iobs = settings.iobs or min(MAX_IOBS, get_default_iobs(ios, width, height))
    arch = generic_arch.ARCH(width, height, settings.slices, settings.lut, settings.tracks, iobs)
    tiles = (width - 2) * (height - 2)
    if slices > tiles * settings.slices or ios > arch.get_io_count():
        raise flow.IMPORT_ERROR("the design does not fit the device of %dx%d tiles: it needs %d slices and %d I/O, "
                                "the device has %d and %d." % (width, height, slices, ios, tiles * settings.slices,
                                                               arch.get_io_count()), flow.EXIT_DOES_NOT_FIT)
    if clock_tiles > tiles:
        raise flow.IMPORT_ERROR("the design does not fit the device of %dx%d tiles: its flip-flops need %d logic "
                                "tiles, as a tile holds flip-flops of one clock, the device has %d." %
                                (width, height, clock_tiles, tiles), flow.EXIT_DOES_NOT_FIT)
    run_meta = [("top", arguments.top or "-"), ("seed", arguments.seed)] + synth_meta + [("rerouted_from", "-")]
    mode = "place" if arguments.no_route else "route"
    nextpnr_run, dump, routed = _place_and_route(arguments, arch, netlist_path, os.path.join(out, "placement.txt"),
                                                 mode, arguments.seed, progress, work)
    return _export(arguments, arch, nextpnr_run, dump, routed, progress,
                   {"run": run_meta, "times": times, "tools": _get_tools(yosys_version, nextpnr, version)})


class REROUTE_SOURCE:
    """The generic import that --reroute routes again, checked: `folder`,
    `meta`, `arch` (on the channel --tracks gives), `seed`, `inputs` (its
    netlist and placement)."""

    def __init__(self, folder_path, tracks):
        self.folder = folder_path
        try:
            self.meta = folder.read_meta(os.path.join(folder_path, "meta.txt"))
        except OSError:
            raise flow.IMPORT_ERROR("--reroute %s: the folder has no meta.txt of an import." % folder_path)
        if self.meta.get("arch") != "generic":
            raise flow.IMPORT_ERROR("--reroute %s: the folder is no import of --arch generic." % folder_path)
        self.inputs = [os.path.join(folder_path, name) for name in ("synth.json", "placement.txt")]
        missing = [path for path in self.inputs if not os.path.isfile(path)]
        if missing:
            raise flow.IMPORT_ERROR("--reroute %s: the folder lacks %s." % (folder_path,
                                                                          os.path.basename(missing[0])))
        try:
            width, height = (int(value) for value in self.meta["grid"].split())
            self.arch = generic_arch.ARCH(width, height, int(self.meta["slices"]), int(self.meta["lut"]), tracks,
                                          int(self.meta["iobs_per_tile"]))
            self.seed = int(self.meta["seed"])
        except (KeyError, ValueError):
            raise flow.IMPORT_ERROR("--reroute %s: its meta.txt lacks the grid, slices, lut, iobs_per_tile or "
                                    "seed." % folder_path)


def reroute(arguments, source, progress, work, version):
    """Routes the placement of the generic import `source` (a
    REROUTE_SOURCE) on its channel; returns (data, exit status)."""
    nextpnr = flow.find_program("nextpnr-generic", "nextpnr-generic")
    out = arguments.out
    netlist_path, placement = (os.path.join(out, os.path.basename(path)) for path in source.inputs)
    for path, copy in zip(source.inputs, (netlist_path, placement)):
        shutil.copyfile(path, copy)
    meta = source.meta
    run_meta = [("top", meta.get("top", "-")), ("seed", source.seed)]
    run_meta += [(key, meta[key]) for key in ("lut_mapping", "yosys_script", "blif_latch_clock") if key in meta]
    run_meta.append(("rerouted_from", meta.get("design", "-")))
    nextpnr_run, dump, routed = _place_and_route(arguments, source.arch, netlist_path, placement, "reroute",
                                                 source.seed, progress, work)
    return _export(arguments, source.arch, nextpnr_run, dump, routed, progress,
                   {"run": run_meta, "times": [], "tools": _get_tools(meta.get("yosys_version", "-"), nextpnr,
                                                                      version)})
