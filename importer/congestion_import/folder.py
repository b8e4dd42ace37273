# The output folder of an import: checked, cleared of an earlier import's files, and meta.txt written.
import os
import shutil

from .flow import EXIT_USAGE, IMPORT_ERROR, TRACEBACK_FILE

# Every file an import may write: an import removes those of an earlier one first, so that the
# folder holds only what this import writes (files of other names stay).
IMPORT_FILES = ("tiles.txt", "nets.txt", "netnames.txt", "routed.txt", "meta.txt", "report.json", "synth.json",
                "placement.txt", "pins.txt", "yosys.log", "nextpnr.log",
                TRACEBACK_FILE)


def check_out(out):
    """Refuses an --out that names no folder."""
    if out == "-" or os.path.exists(out) and not os.path.isdir(out):
        raise IMPORT_ERROR("--out names %s, which is %s: give the folder to write the design into." %
                           (out, "standard output" if out == "-" else "a file"), EXIT_USAGE)


def prepare(out, inputs, work):
    """Creates the folder `out` (check_out passed) or clears an earlier
    import from it. Inputs that lie in it are copied to `work` first; returns
    the inputs to read."""
    os.makedirs(out, exist_ok=True)
    moved = []
    for path in inputs:
        if os.path.realpath(os.path.dirname(path)) == os.path.realpath(out) and \
                os.path.basename(path) in IMPORT_FILES:
            copy = os.path.join(work, "input-" + os.path.basename(path))
            shutil.copyfile(path, copy)
            path = copy
        moved.append(path)
    for name in IMPORT_FILES:
        path = os.path.join(out, name)
        if os.path.isfile(path):
            os.remove(path)
    return moved


def write_meta(path, entries):
    with open(path, "w") as out:
        for key, value in entries:
            out.write("%s %s\n" % (key, value))


def read_meta(path):
    """{key: value} of a meta.txt."""
    entries = {}
    with open(path) as text:
        for line in text:
            key, _, value = line.rstrip("\n").partition(" ")
            entries[key] = value
    return entries
