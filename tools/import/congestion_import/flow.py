# Runs yosys and nextpnr-ice40 for the importer and turns their failures into one sentence each.
import os
import re
import shutil
import subprocess
import time

# Device -> (nextpnr option, chip database file, default package).
DEVICES = {
    "lp1k": ("--lp1k", "chipdb-1k.txt", "cm121"),
    "hx1k": ("--hx1k", "chipdb-1k.txt", "tq144"),
    "lp8k": ("--lp8k", "chipdb-8k.txt", "cm81"),
    "hx8k": ("--hx8k", "chipdb-8k.txt", "ct256"),
    "up5k": ("--up5k", "chipdb-5k.txt", "sg48"),
}

DSP_DEVICES = ("up5k",)

CHIPDB_DIR = "/usr/share/fpga-icestorm/chipdb"

# nextpnr's messages when the design needs more of something than the device has.
_DOES_NOT_FIT = re.compile(r"does not fit|Design uses|Unable to find (?:a )?(?:legal )?placement|"
                           r"failed to place|too many|no BEL", re.IGNORECASE)


class IMPORT_ERROR(Exception):
    """A failure the user can act on; str() is one sentence."""


def find_program(name, package):
    path = shutil.which(name)
    if path is None:
        raise IMPORT_ERROR("%s is not installed: install the Debian package %s "
                           "(apt-get install --no-install-recommends %s)." % (name, package, package))
    return path


def get_chipdb_path(device):
    path = os.path.join(os.environ.get("CONGESTION_IMPORT_CHIPDB_DIR", CHIPDB_DIR), DEVICES[device][1])
    if not os.path.isfile(path):
        raise IMPORT_ERROR("the iCE40 chip database %s is missing: install the Debian package "
                           "fpga-icestorm-chipdb." % path)
    return path


def get_packages(chipdb_path):
    """The packages the chip database lists pins of, but those of the 4k
    variant of the 8k die (NAME:4k); reads only the head of the file."""
    packages = []
    with open(chipdb_path) as text:
        for line in text:
            if line.startswith(".pins ") and ":" not in line:
                packages.append(line.split()[1])
            elif line.startswith(".net "):
                break
    return packages


def get_version(program):
    result = subprocess.run([program, "--version"], capture_output=True, text=True)
    lines = (result.stdout + result.stderr).strip().splitlines()
    return lines[0].strip() if lines else "unknown"


def _first_error(log_path):
    try:
        with open(log_path, errors="replace") as log:
            for line in log:
                # "ERROR: text" (nextpnr) or "file:line: ERROR: text" (yosys).
                where, marker, what = line.partition("ERROR:")
                if marker:
                    return (where.strip() + " " + what.strip()).strip().rstrip(".")
    except OSError:
        pass
    return None


def synthesize(yosys, sources, top, device, out_dir, json_path):
    """Runs synth_ice40 on the Verilog sources, with the DSP blocks of the
    devices that have them; returns (yosys script, seconds)."""
    log_path = os.path.join(out_dir, "yosys.log")
    options = (" -top " + top if top else "") + (" -dsp" if device in DSP_DEVICES else "")
    script = 'synth_ice40%s -json "%s"; stat' % (options, json_path)
    started = time.time()
    result = subprocess.run([yosys, "-q", "-l", log_path, "-p", script] + sources,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    if result.returncode != 0:
        error = _first_error(log_path)
        raise IMPORT_ERROR("synthesis failed%s: see the yosys log %s." %
                           (" (" + error + ")" if error else "", log_path))
    return "read_verilog %s; synth_ice40%s -json synth.json; stat" % (
        " ".join(os.path.basename(s) for s in sources), options), time.time() - started


def place_and_route(nextpnr, arguments, log_path, environment, device):
    """Runs nextpnr-ice40; returns the seconds it took."""
    started = time.time()
    result = subprocess.run([nextpnr, "-q", "-l", log_path] + arguments, env=environment,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    if result.returncode != 0:
        error = _first_error(log_path) or "exit status %d" % result.returncode
        if _DOES_NOT_FIT.search(error):
            raise IMPORT_ERROR("the design does not fit the device %s (%s): see the nextpnr log %s." %
                               (device, error, log_path))
        raise IMPORT_ERROR("nextpnr-ice40 failed (%s): see the nextpnr log %s." % (error, log_path))
    return time.time() - started


def read_log_times(log_path):
    """Placement and routing times nextpnr reports in its log, in seconds."""
    patterns = {
        "time_place_heap_s": r"HeAP Placer Time: ([\d.]+)s",
        "time_place_refine_s": r"(?:SA placement|Placer refine) time ([\d.]+)s",
        "time_route_s": r"Router1 time ([\d.]+)s",
    }
    times = {}
    try:
        with open(log_path, errors="replace") as log:
            text = log.read()
    except OSError:
        return times
    for key, pattern in patterns.items():
        found = re.findall(pattern, text)
        if found:
            times[key] = sum(float(value) for value in found)
    return times
