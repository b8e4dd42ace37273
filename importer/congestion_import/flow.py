# Runs yosys and nextpnr for the importer and turns their failures into one sentence each.
import os
import re
import shutil
import signal
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

# The importer's exit statuses, listed once: --help and docs/importer.md show this table.
EXIT_WRITTEN = 0
EXIT_FAILED = 1
EXIT_USAGE = 2
EXIT_DOES_NOT_FIT = 3
EXIT_NOT_ROUTED = 4
EXIT_INTERRUPTED = 130
EXIT_STATUSES = (
    (EXIT_WRITTEN, "the design folder was written (routed, or placed only with --no-route)"),
    (EXIT_FAILED, "nothing usable was written: an input, a tool or the output folder failed (one sentence "
                  "on standard error says which)"),
    (EXIT_USAGE, "the command line is not understood"),
    (EXIT_DOES_NOT_FIT, "the design does not fit the device"),
    (EXIT_NOT_ROUTED, "routing did not reach zero overuse within --max-route-iterations, or found no path for a "
                      "connection: the folder holds the placed design, meta.txt says routed no and why"),
    (EXIT_INTERRUPTED, "interrupted (Ctrl-C or SIGTERM)"),
)

# nextpnr's messages when the design needs more of something than the device has.
_DOES_NOT_FIT = re.compile(r"does not fit|Design uses|Unable to find (?:a )?(?:legal )?placement|"
                           r"failed to place|too many|no BEL", re.IGNORECASE)

# router2's line after each iteration, and the lines that start the steps of nextpnr (the
# generic flow announces its own).
_ROUTER_ITERATION = re.compile(r"iter=(\d+) wires=\d+ overused=(\d+) overuse=(\d+)")
_STEP_MARKERS = (
    ("congestion-import-step ", None),
    ("Info: Packing constants", "placement"),
    ("Info: Routing..", "routing"),
    ("Info: Running router2", "routing"),
)

# How long nextpnr may take to end after being asked to stop.
_STOP_SECONDS = 10

# The first line of a Python traceback, which nextpnr's scripts print on standard error.
_TRACEBACK = "Traceback (most recent call last):"
# Beside nextpnr's log, the Python traceback of a script that failed inside nextpnr.
TRACEBACK_FILE = "nextpnr-traceback.txt"

# router2's error for an arc that no path of the device connects.
_NO_ROUTE = "ERROR: Failed to route arc"

_IDENTIFIER = re.compile(r"[A-Za-z_][A-Za-z0-9_$]*$")

# yosys's warning for a net of several drivers: "multiple conflicting drivers for MODULE.\NET:".
_CONFLICTING_DRIVERS = re.compile(r"Warning: multiple conflicting drivers for [^.]+\.\\?(.*?):?\s*$")


class IMPORT_ERROR(Exception):
    """A failure the user can act on; str() is one sentence, `status` the
    exit status."""

    def __init__(self, sentence, status=EXIT_FAILED):
        super().__init__(sentence)
        self.status = status


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


def parse_define(text):
    """(name, value) of a --define NAME=VALUE."""
    name, equals, value = text.partition("=")
    if not equals or not _IDENTIFIER.match(name) or not value or re.search(r"[\s\"';\\]", value):
        raise IMPORT_ERROR("--define '%s' is not NAME=VALUE with a Verilog name and a value without spaces, "
                           "quotes or semicolons." % text, EXIT_USAGE)
    return name, value


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


def _run_yosys(yosys, arguments, log_path):
    result = subprocess.run([yosys, "-q", "-l", log_path] + arguments, stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL)
    if result.returncode != 0:
        error = _first_error(log_path)
        raise IMPORT_ERROR("synthesis failed%s: see the yosys log %s." % (" (" + error + ")" if error else "",
                                                                           log_path))


def _get_define_options(defines):
    return [option for name, value in defines for option in ("-D", "%s=%s" % (name, value))]


def get_conflicting_net(log_path):
    """The first net that yosys's log says has conflicting drivers (which
    synthesis then resolves silently), None when there is none."""
    with open(log_path, errors="replace") as log:
        for line in log:
            found = _CONFLICTING_DRIVERS.match(line)
            if found:
                return found.group(1)
    return None


def get_top_parameters(yosys, sources, top, defines, work_dir, log_path):
    """The names of the parameters of the module `top` (yosys lists a module
    read with defines as $abstract\\NAME). `work_dir` must not hold spaces."""
    listing = os.path.join(work_dir, "parameters.txt")
    _run_yosys(yosys, _get_define_options(defines) + ["-p", "tee -q -o %s chparam -list" % listing] + sources,
               log_path)
    parameters, module = {}, None
    with open(listing) as text:
        for line in text:
            if not line.startswith(" "):
                module = line.strip().rstrip(":").replace("$abstract\\", "")
            elif line.strip():
                parameters.setdefault(module, []).append(line.strip())
    return parameters.get(top, [])


def get_parameter_defines(yosys, sources, top, defines, work_dir, log_path):
    """The defines [(name, value)] that also name a parameter of the module
    `top`, as synthesize's `parameters` [(name, value, top)]: --define sets
    both the macro and the parameter. None without a top."""
    if not defines or not top:
        return []
    names = get_top_parameters(yosys, sources, top, defines, work_dir, log_path)
    return [(name, value, top) for name, value in defines if name in names]


def synthesize(yosys, sources, out_dir, json_path, commands, defines=(), parameters=()):
    """Runs yosys on the sources with the defines, then sets the top-level
    parameters [(name, value, top)] and runs `commands` (a list of yosys
    commands, where "{json}" stands for the netlist written and "{share}/"
    for the folder of this package). Returns (the script as meta.txt
    records it, seconds)."""
    log_path = os.path.join(out_dir, "yosys.log")
    prefix = ["chparam -set %s %s %s" % parameter for parameter in parameters]
    share = os.path.dirname(os.path.abspath(__file__)) + os.sep
    script = "; ".join(prefix + [command.replace("{json}", '"%s"' % json_path).replace("{share}/", share)
                                 for command in commands])
    started = time.time()
    _run_yosys(yosys, _get_define_options(defines) + ["-p", script] + sources, log_path)
    reads = " ".join(["-D%s=%s" % define for define in defines] + [os.path.basename(s) for s in sources])
    frontend = "read_blif " if sources[0].endswith(".blif") else "read_verilog "
    recorded = "; ".join([frontend + reads] + prefix +
                         [command.replace("{json}", "synth.json").replace("{share}/", "") for command in commands])
    return recorded, time.time() - started


class NEXTPNR_RUN:
    """A run of nextpnr whose output is read as it comes: steps reported to
    `progress`, router2's iterations counted and, past `max_iterations`,
    nextpnr stopped. Afterwards: `status` (exit status of nextpnr, None when
    stopped), `iterations` and `overuse` of the last router2 iteration seen
    (0 and None before routing), `stopped` (True when the bound stopped it),
    `unroutable` (router2's error when it found no route at all for an arc,
    else None), `errors` (the last lines that were no nextpnr Info lines),
    `traceback` (the lines of the last Python traceback nextpnr printed,
    which its log does not hold)."""

    def __init__(self, nextpnr, arguments, log_path, environment, progress, max_iterations=None):
        self.iterations, self.overuse, self.stopped, self.unroutable, self.errors = 0, None, False, None, []
        self.traceback, self._in_traceback = [], False
        started = time.time()
        process = subprocess.Popen([nextpnr, "-l", log_path] + arguments, env=environment, text=True,
                                   errors="replace", stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        try:
            for line in process.stdout:
                self._read(line, progress)
                if max_iterations is not None and self.iterations >= max_iterations and self.overuse:
                    self.stopped = True
                    process.send_signal(signal.SIGTERM)
                    break
        finally:
            if process.poll() is None and not self.stopped:
                process.kill()
            process.stdout.close()
            try:
                self.status = process.wait(timeout=_STOP_SECONDS)
            except subprocess.TimeoutExpired:
                process.kill()
                self.status = process.wait()
        if self.stopped:
            self.status = None
        self.seconds = time.time() - started

    def _read(self, line, progress):
        if line.startswith(_TRACEBACK):
            self.traceback, self._in_traceback = [], True
        if self._in_traceback:
            self.traceback.append(line.rstrip("\n"))
            # A traceback ends with the exception's line, the first that is not indented.
            self._in_traceback = line.startswith((" ", _TRACEBACK))
        for marker, step in _STEP_MARKERS:
            if line.startswith(marker):
                progress.start(step or line[len(marker):].strip())
                return
        found = _ROUTER_ITERATION.search(line)
        if found:
            self.iterations = int(found.group(1))
            self.overuse = int(found.group(3))
            progress.update("iteration %d, overuse %d" % (self.iterations, self.overuse))
        elif not line.startswith(("Info:", "Warning:")) and line.strip():
            self.errors = (self.errors + [line.strip()])[-5:]
            if line.startswith(_NO_ROUTE):
                self.unroutable = line[len("ERROR: "):].strip().rstrip(".")

    def get_error(self, log_path):
        """One clause saying why nextpnr failed: its first error, else the
        exception of the Python script it ran."""
        error = _first_error(log_path)
        if error and not error.startswith("Error occurred while executing Python script"):
            return error
        python_errors = [line for line in self.errors if re.match(r"\w*(Error|Exception)\b", line)]
        return python_errors[-1] if python_errors else error or "exit status %d" % self.status


def check_nextpnr(run, log_path, program, fits_what):
    """Turns a failed nextpnr run into one sentence; a run stopped by the
    iteration bound, or that found no route for an arc, is left to the
    caller."""
    if run.status == 0 or run.stopped or run.unroutable:
        return
    error = run.get_error(log_path)
    if _DOES_NOT_FIT.search(error):
        raise IMPORT_ERROR("the design does not fit the device %s (%s): see the nextpnr log %s." %
                           (fits_what, error, log_path), EXIT_DOES_NOT_FIT)
    where = "the nextpnr log %s" % log_path
    if run.traceback:
        traceback_path = os.path.join(os.path.dirname(log_path), TRACEBACK_FILE)
        with open(traceback_path, "w") as out:
            out.writelines(line + "\n" for line in run.traceback)
        where += " and the Python traceback %s" % traceback_path
    raise IMPORT_ERROR("%s failed (%s): see %s." % (program, error, where))


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
