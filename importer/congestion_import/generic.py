# The generic import: synthesis to LUTs and flip-flops, placement and bounded routing in nextpnr-generic, the folder.
import hashlib
import json
import math
import os
import shutil
import time

from . import flow, folder, generic_arch, generic_design
from .netlist import NETLIST

HERE = os.path.dirname(os.path.abspath(__file__))
ARCH_SCRIPT = os.path.join(HERE, "generic_arch.py")
FLOW_SCRIPT = os.path.join(HERE, "generic_nextpnr.py")

DEFAULT_SLICES = 4
DEFAULT_LUT = 4
DEFAULT_TRACKS = "1:12,4:8"
DEFAULT_MAX_ROUTE_ITERATIONS = 100
# The default grid: square, its logic tiles filled to this share by the design's slices.
DEFAULT_UTILISATION = 0.5
MIN_GRID, MAX_GRID = 3, 1000
MAX_SLICES, MIN_LUT, MAX_LUT = 64, 2, 8
MAX_TRACKS = 1000

# Generic synthesis ending in a K-input LUT mapping; the flip-flops legalised to the one type
# the architecture has (positive edge, no enable, set or reset: those become LUT logic, an
# asynchronous reset a synchronous one first), then mapped to the cells nextpnr packs, without
# the source locations that would name the installed map file.
SYNTHESIS = ("read_verilog -lib {share}/generic_cells.v", "synth -flatten%(top)s -run :fine%(extra)s",
             "opt -fast -full", "memory_map", "opt -full", "techmap", "opt -fast", "async2sync",
             "dfflegalize -cell $_DFF_P_ 01", "abc -lut %(lut)d", "opt -fast",
             "techmap -map {share}/generic_map.v", "setattr -unset src t:LUT t:DFF", "opt_clean", "stat",
             "write_json {json}")


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


def check_arguments(arguments, rerouting):
    """The wire classes, checked with the other generic options."""
    if arguments.slices is not None and not 1 <= arguments.slices <= MAX_SLICES:
        raise _usage_error("--slices %d is outside 1..%d." % (arguments.slices, MAX_SLICES))
    if arguments.lut is not None and not MIN_LUT <= arguments.lut <= MAX_LUT:
        raise _usage_error("--lut %d is outside %d..%d." % (arguments.lut, MIN_LUT, MAX_LUT))
    if arguments.max_route_iterations < 1:
        raise _usage_error("--max-route-iterations %d is not a positive number." % arguments.max_route_iterations)
    if rerouting and arguments.tracks is None:
        raise _usage_error("--reroute needs --tracks: the channel to route the placement on.")
    try:
        tracks = generic_arch.parse_tracks(arguments.tracks or DEFAULT_TRACKS)
    except ValueError as error:
        raise _usage_error("--tracks %s: %s." % (arguments.tracks, error))
    if sum(count for _, count in tracks) > MAX_TRACKS:
        raise _usage_error("--tracks %s gives more than %d tracks per direction." % (arguments.tracks, MAX_TRACKS))
    return tracks


def get_default_grid(slices, ios, per_tile):
    """The smallest square grid whose logic tiles the slices fill to
    DEFAULT_UTILISATION and whose I/O tiles hold the I/O."""
    side = max(MIN_GRID, math.isqrt(math.ceil(slices / (per_tile * DEFAULT_UTILISATION)) - 1) + 1 + 2)
    while 2 * (2 * side - 4) * generic_arch.IOBS_PER_TILE < ios:
        side += 1
    return side, side


def get_sha256(path):
    with open(path, "rb") as script:
        return hashlib.sha256(script.read()).hexdigest()


def synthesize(arguments, yosys, sources, out, work):
    netlist = os.path.join(out, "synth.json")
    parameters = flow.get_parameter_defines(yosys, sources, arguments.top, arguments.defines, work,
                                            os.path.join(out, "yosys.log"))
    values = {"top": " -top " + arguments.top if arguments.top else "",
              "extra": "".join(" " + argument for argument in arguments.yosys_args),
              "lut": arguments.lut or DEFAULT_LUT}
    commands = [command % values if "%" in command else command for command in SYNTHESIS]
    script, seconds = flow.synthesize(yosys, sources, out, netlist, commands, arguments.defines, parameters)
    return netlist, [("yosys_script", script), ("time_synth_s", "%.1f" % seconds)]


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
            ("iobs_per_tile", generic_arch.IOBS_PER_TILE), ("globals", generic_arch.GLOBALS),
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


def run(arguments, from_json, sources, progress, work, version):
    """Imports the design onto a generic device; returns (data, exit
    status)."""
    tracks = check_arguments(arguments, False)
    grid = parse_grid(arguments.grid) if arguments.grid else None
    slices_per_tile = arguments.slices or DEFAULT_SLICES
    lut = arguments.lut or DEFAULT_LUT
    nextpnr = flow.find_program("nextpnr-generic", "nextpnr-generic")
    out = arguments.out
    run_meta, times = [], []
    netlist_path = os.path.join(out, "synth.json")
    if from_json:
        shutil.copyfile(sources[0], netlist_path)
        run_meta.append(("yosys_script", "-"))
        yosys_version = "-"
    else:
        yosys = flow.find_program("yosys", "yosys")
        progress.start("synthesis")
        netlist_path, synth_meta = synthesize(arguments, yosys, sources, out, work)
        run_meta.append(synth_meta[0])
        times.append(synth_meta[1])
        yosys_version = flow.get_version(yosys).replace(" ", "_")
    netlist = NETLIST(netlist_path, arguments.top, not from_json)
    try:
        slices = netlist.get_generic_slices(lut)
    except ValueError as error:
        raise flow.IMPORT_ERROR("%s (%s)." % (error, sources[0]) if from_json else "%s." % error)
    ios = netlist.get_io_count()
    width, height = grid or get_default_grid(slices, ios, slices_per_tile)
    arch = generic_arch.ARCH(width, height, slices_per_tile, lut, tracks)
    available = (width - 2) * (height - 2) * slices_per_tile
    if slices > available or ios > arch.get_io_count():
        raise flow.IMPORT_ERROR("the design does not fit the device of %dx%d tiles: it needs %d slices and %d I/O, "
                                "the device has %d and %d." % (width, height, slices, ios, available,
                                                               arch.get_io_count()), flow.EXIT_DOES_NOT_FIT)
    run_meta = [("top", arguments.top or "-"), ("seed", arguments.seed)] + run_meta + [("rerouted_from", "-")]
    mode = "place" if arguments.no_route else "route"
    nextpnr_run, dump, routed = _place_and_route(arguments, arch, netlist_path, os.path.join(out, "placement.txt"),
                                                 mode, arguments.seed, progress, work)
    return _export(arguments, arch, nextpnr_run, dump, routed, progress,
                   {"run": run_meta, "times": times, "tools": _get_tools(yosys_version, nextpnr, version)})


def reroute(arguments, source, progress, work, version):
    """Routes the placement of the generic import in folder `source` on the
    channel --tracks gives; returns (data, exit status)."""
    tracks = check_arguments(arguments, True)
    meta_path = os.path.join(source, "meta.txt")
    try:
        meta = folder.read_meta(meta_path)
    except OSError:
        raise flow.IMPORT_ERROR("--reroute %s: the folder has no meta.txt of an import." % source)
    if meta.get("arch") != "generic":
        raise flow.IMPORT_ERROR("--reroute %s: the folder is no import of --arch generic." % source)
    inputs = [os.path.join(source, name) for name in ("synth.json", "placement.txt")]
    missing = [path for path in inputs if not os.path.isfile(path)]
    if missing:
        raise flow.IMPORT_ERROR("--reroute %s: the folder lacks %s." % (source, os.path.basename(missing[0])))
    try:
        width, height = (int(value) for value in meta["grid"].split())
        arch = generic_arch.ARCH(width, height, int(meta["slices"]), int(meta["lut"]), tracks)
        seed = int(meta["seed"])
    except (KeyError, ValueError):
        raise flow.IMPORT_ERROR("--reroute %s: its meta.txt lacks the grid, slices, lut or seed." % source)
    nextpnr = flow.find_program("nextpnr-generic", "nextpnr-generic")
    out = arguments.out
    netlist_path, placement = (os.path.join(out, os.path.basename(path)) for path in inputs)
    for path, copy in zip(inputs, (netlist_path, placement)):
        shutil.copyfile(path, copy)
    run_meta = [("top", meta.get("top", "-")), ("seed", seed), ("yosys_script", meta.get("yosys_script", "-")),
                ("rerouted_from", meta.get("design", "-"))]
    nextpnr_run, dump, routed = _place_and_route(arguments, arch, netlist_path, placement, "reroute", seed,
                                                 progress, work)
    return _export(arguments, arch, nextpnr_run, dump, routed, progress,
                   {"run": run_meta, "times": [], "tools": _get_tools(meta.get("yosys_version", "-"), nextpnr,
                                                                      version)})
