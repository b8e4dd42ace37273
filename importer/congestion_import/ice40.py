# The iCE40 import: synth_ice40, nextpnr-ice40, and the design folder from its dump and icestorm's chip database.
import json
import os
import time

from . import chipdb, design, flow, folder
from .netlist import NETLIST

DUMP_SCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "nextpnr_dump.py")


class SETTINGS:
    """The iCE40 options, checked: `device`, its nextpnr `option`, `package`,
    `chipdb_path`."""

    def __init__(self, arguments):
        if arguments.device is None:
            raise flow.IMPORT_ERROR("--device is needed with --arch ice40: the devices are %s." %
                                    ", ".join(flow.DEVICES), flow.EXIT_USAGE)
        if arguments.device not in flow.DEVICES:
            raise flow.IMPORT_ERROR("unknown device '%s': the devices are %s." %
                                    (arguments.device, ", ".join(flow.DEVICES)), flow.EXIT_USAGE)
        if arguments.pcf and not os.path.isfile(arguments.pcf):
            raise flow.IMPORT_ERROR("the pin constraints file %s does not exist." % arguments.pcf)
        self.device = arguments.device
        self.option, _, default_package = flow.DEVICES[arguments.device]
        self.package = arguments.package or default_package
        self.chipdb_path = flow.get_chipdb_path(arguments.device)
        packages = flow.get_packages(self.chipdb_path)
        if self.package not in packages:
            raise flow.IMPORT_ERROR("unknown package '%s' for %s: the packages are %s." %
                                    (self.package, arguments.device, ", ".join(packages)), flow.EXIT_USAGE)


def get_fmax(report_path):
    try:
        with open(report_path) as report:
            clocks = json.load(report).get("fmax", {})
        return min(clock["achieved"] for clock in clocks.values())
    except (OSError, ValueError, KeyError, TypeError):
        return None


def synthesize(arguments, yosys, sources, out, work):
    """synth_ice40 on the Verilog sources into out/synth.json; returns
    (netlist path, meta entries)."""
    netlist = os.path.join(out, "synth.json")
    parameters = flow.get_parameter_defines(yosys, sources, arguments.top, arguments.defines, work,
                                            os.path.join(out, "yosys.log"))
    dsp = arguments.device in flow.DSP_DEVICES and not arguments.no_dsp
    options = (" -top " + arguments.top if arguments.top else "") + (" -dsp" if dsp else "")
    options += "".join(" " + argument for argument in arguments.yosys_args)
    script, seconds = flow.synthesize(yosys, sources, out, netlist, ["synth_ice40%s -json {json}" % options, "stat"],
                                      arguments.defines, parameters)
    return netlist, [("yosys_script", script), ("time_synth_s", "%.1f" % seconds)]


def run(arguments, settings, from_json, sources, progress, work):
    """Imports the design on the device of `settings` (a SETTINGS); returns
    (DESIGN_DATA, exit status)."""
    option, package, chipdb_path = settings.option, settings.package, settings.chipdb_path
    nextpnr = flow.find_program("nextpnr-ice40", "nextpnr-ice40")
    yosys = None if from_json else flow.find_program("yosys", "yosys")

    out = arguments.out
    meta = [("design", os.path.basename(os.path.abspath(out)))]
    tools = [("nextpnr_version", flow.get_version(nextpnr).replace(" ", "_"))]
    run_meta = []
    if from_json:
        netlist = sources[0]
        run_meta.append(("yosys_script", "-"))
    else:
        progress.start("synthesis")
        netlist, synth_meta = synthesize(arguments, yosys, sources, out, work)
        tools.insert(0, ("yosys_version", flow.get_version(yosys).replace(" ", "_")))
        run_meta += synth_meta
    NETLIST(netlist, arguments.top, not from_json)

    dump_path = os.path.join(work, "dump-{stage}.json")
    environment = dict(os.environ, CONGESTION_IMPORT_DUMP=dump_path)
    report = os.path.join(out, "report.json")
    nextpnr_arguments = [option, "--package", package, "--json", netlist, "--seed", str(arguments.seed)]
    extra = (["--pcf", arguments.pcf] if arguments.pcf else []) + arguments.nextpnr_args
    if arguments.no_route:
        environment["CONGESTION_IMPORT_PLACE_ONLY"] = "1"
        nextpnr_arguments += extra + ["--run", DUMP_SCRIPT]
    else:
        nextpnr_arguments += extra + ["--report", report, "--post-route", DUMP_SCRIPT]
    stage = "placed" if arguments.no_route else "routed"
    log_path = os.path.join(out, "nextpnr.log")
    progress.start("placement")
    nextpnr_run = flow.NEXTPNR_RUN(nextpnr, nextpnr_arguments, log_path, environment, progress)
    flow.check_nextpnr(nextpnr_run, log_path, "nextpnr-ice40", arguments.device)
    with open(dump_path.replace("{stage}", stage)) as dump_file:
        dump = json.load(dump_file)

    progress.start("export")
    started = time.time()
    chip = chipdb.CHIPDB(chipdb_path)
    chipdb_seconds = time.time() - started
    data = design.DESIGN_DATA(chip, dump)
    chipdb.write_tiles(chip, os.path.join(out, "tiles.txt"))
    data.write_nets(os.path.join(out, "nets.txt"))
    data.write_netnames(os.path.join(out, "netnames.txt"))
    if data.routed:
        data.write_routed(os.path.join(out, "routed.txt"))

    meta += [("chip", dump["chip"]), ("grid", "%d %d" % (chip.nx, chip.ny)), ("stage", stage),
             ("nets", len(data.nets)), ("pins", data.get_num_pins()),
             ("nets_skipped_no_driver", data.skipped_no_driver)]
    meta += sorted(data.diagnostics.items())
    if data.routed:
        meta += [("routed_x_total", sum(net.routed_x for net in data.nets)),
                 ("routed_y_total", sum(net.routed_y for net in data.nets))]
    meta.append(("cells", sum(dump["cells"].values())))
    meta += [("cells." + kind, count) for kind, count in sorted(dump["cells"].items())]
    meta += [("export_chipdb_s", "%.2f" % chipdb_seconds),
             ("export_arch_s", "%.2f" % dump["export_s"]),
             ("export_total_s", "%.2f" % (time.time() - started + dump["export_s"]))]
    meta += [("top", arguments.top or "-"), ("device", arguments.device), ("package", package),
             ("seed", arguments.seed)] + run_meta
    meta += [("nextpnr_extra_args", " ".join(extra) if extra else "-"),
             ("time_nextpnr_total_s", "%.1f" % nextpnr_run.seconds)]
    meta += [("util." + kind, "%d %d" % tuple(use)) for kind, use in sorted(dump["bels"].items())]
    meta += [(key, "%.2f" % value) for key, value in sorted(flow.read_log_times(log_path).items())]
    fmax = get_fmax(report) if data.routed else None
    if fmax is not None:
        meta.append(("fmax_mhz", "%.2f" % fmax))
    folder.write_meta(os.path.join(out, "meta.txt"), meta + tools)
    progress.finish()
    return data, flow.EXIT_WRITTEN
