#!/usr/bin/env python3
"""Finds the router's minimum channel width W_min of an imported generic design.

Usage: scripts/min_channel_width.py FOLDER [--csv FILE] [--iterations N]
           [--guess-from-estimate | --guess W] [--around N] [--keep-min DIR]
           [--replay CSV] [--tools DIR]

FOLDER is a design folder written by `congestion-import --arch generic`. Its
placement stays fixed; `congestion-import --reroute` routes it again on
channels of W tracks per direction, and W_min is the fewest tracks with which
router2 reaches zero overuse within --iterations iterations (a count, so the
answer does not depend on the machine).

The channel of W tracks keeps the design's mix of wire lengths: wire class i
of the design's channel (c_i of its T tracks) gets floor(W * c_i / T) tracks,
and the tracks still missing to W go one each to the classes with the largest
remainders (ties to the shorter wire); a class left with 0 tracks is dropped.

The search assumes that a channel routes when a narrower one does. Blind, it
routes the design's own W first and doubles W until a channel routes, then
bisects between the widest channel known not to route (0 tracks at first)
and the narrowest known to route. With --guess-from-estimate it starts at the
estimate's predicted minimum (`predicted_min_tracks` of congestion-estimate's
JSON) and steps away from it by 1, 2, 4, ... tracks until the answer is
bracketed, then bisects; with --guess W it starts at W the same way (e.g. the
W_min of the placement this one was refined from). --around N then routes every channel from W_min - N to W_min + N
not tried yet (search "around"). Each channel tried is one CSV row (design, folder,
grid, LUTs, slices used/available, tracks, W, outcome, iterations, final overuse,
seconds, search, iteration bound, run or replayed);
the last line printed is `W_min N`.

--replay CSV takes the outcome of a channel from an earlier row of the same
folder and bound instead of routing it again (routing is deterministic), and
marks the row "replayed"; the search and its counts stay those of a real run.
"""
import argparse
import csv
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time

CSV_FIELDS = ("design", "folder", "grid", "luts", "slices", "tracks", "w", "outcome", "iterations", "overuse", "seconds",
              "search", "bound", "source")
ROUTED = "routed"
NOT_ROUTED = "not routed"
DEFAULT_ITERATIONS = 100
HERE = os.path.dirname(os.path.abspath(__file__))


class SEARCH_ERROR(Exception):
    pass


def parse_tracks(text):
    """[(length, count)] of 'LEN:COUNT,...', by increasing length."""
    classes = []
    for item in text.split(","):
        length, _, count = item.partition(":")
        classes.append((int(length), int(count)))
    return sorted(classes)


def format_tracks(classes):
    return ",".join("%d:%d" % (length, count) for length, count in classes if count > 0)


def scale_tracks(classes, width):
    """The design's wire classes scaled to `width` tracks per direction, by
    largest remainders (module docstring)."""
    total = sum(count for _, count in classes)
    shares = [(width * count // total, width * count % total) for _, count in classes]
    counts = [whole for whole, _ in shares]
    order = sorted(range(len(classes)), key=lambda i: (-shares[i][1], classes[i][0]))
    for i in order[:width - sum(counts)]:
        counts[i] += 1
    return [(length, count) for (length, _), count in zip(classes, counts)]


def read_meta(folder):
    meta = {}
    with open(os.path.join(folder, "meta.txt")) as lines:
        for line in lines:
            key, _, value = line.rstrip("\n").partition(" ")
            meta[key] = value
    return meta


class DESIGN_INFO:
    def __init__(self, folder):
        self.folder = os.path.abspath(folder)
        meta = read_meta(folder)
        self.luts = 0
        try:
            with open(os.path.join(folder, "yosys.log")) as log:
                for line in log:
                    words = line.split()
                    if len(words) == 2 and words[0] == "LUT" and words[1].isdigit():
                        self.luts = int(words[1])
        except OSError:
            pass
        try:
            self.classes = parse_tracks(meta["tracks"])
            self.design = meta.get("top", os.path.basename(self.folder))
            self.grid = meta["grid"].replace(" ", "x")
            self.slices = meta["util.GENERIC_SLICE"].replace(" ", "/")
        except (KeyError, ValueError) as error:
            raise SEARCH_ERROR("%s/meta.txt is not that of a generic design (%s)" % (folder, error))
        self.width = sum(count for _, count in self.classes)


class ROUTER:
    """Routes the design's placement on channels of W tracks, once per W."""

    def __init__(self, info, arguments, work):
        self.info = info
        self.arguments = arguments
        self.work = work
        self.tools = arguments.tools
        self.results = {}
        self.replay = {}
        if arguments.replay and os.path.exists(arguments.replay):
            with open(arguments.replay) as rows:
                for row in csv.DictReader(rows):
                    if row["folder"] == os.path.basename(info.folder) and int(row["bound"]) == arguments.iterations:
                        self.replay.setdefault(int(row["w"]), row)

    def get_folder(self, width):
        return os.path.join(self.work, "w%d" % width)

    def route(self, width, search):
        if width in self.results:
            return self.results[width]["outcome"] == ROUTED
        tracks = format_tracks(scale_tracks(self.info.classes, width))
        row = {"design": self.info.design, "folder": os.path.basename(self.info.folder), "grid": self.info.grid,
               "luts": self.info.luts, "slices": self.info.slices, "tracks": tracks, "w": width, "search": search,
               "bound": self.arguments.iterations}
        if width in self.replay:
            earlier = self.replay[width]
            row.update(outcome=earlier["outcome"], iterations=earlier["iterations"], overuse=earlier["overuse"],
                       seconds=earlier["seconds"], source="replayed")
        else:
            row.update(self.run_importer(width, tracks), source="run")
        self.results[width] = row
        print("W %3d  %-10s iterations %5s  overuse %6s  %7.1f s  (%s)" %
              (width, row["outcome"], row["iterations"], row["overuse"], float(row["seconds"]), tracks), flush=True)
        return row["outcome"] == ROUTED

    def run_importer(self, width, tracks):
        out = self.get_folder(width)
        command = [os.path.join(self.tools, "congestion-import"), "--reroute", self.info.folder, "--tracks", tracks,
                   "--out", out, "--max-route-iterations", str(self.arguments.iterations), "--quiet"]
        started = time.time()
        done = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        seconds = time.time() - started
        try:
            meta = read_meta(out)
        except OSError:
            raise SEARCH_ERROR("congestion-import failed at W %d (status %d): %s" %
                               (width, done.returncode, done.stderr.strip()))
        routed = meta.get("routed") == "yes"
        if routed != (done.returncode == 0):
            raise SEARCH_ERROR("congestion-import at W %d exited with %d but wrote routed %s" %
                               (width, done.returncode, meta.get("routed")))
        return {"outcome": ROUTED if routed else NOT_ROUTED, "iterations": meta.get("route_iterations", ""),
                "overuse": meta.get("route_overuse", ""), "seconds": "%.1f" % seconds}


def bisect(router, low, high, search):
    """W_min between `low` (does not route) and `high` (routes)."""
    while high - low > 1:
        middle = (low + high) // 2
        if router.route(middle, search):
            high = middle
        else:
            low = middle
    return high


def search_blind(router, own_width):
    width = own_width
    low = 0
    while not router.route(width, "blind"):
        low = width
        width *= 2
    return bisect(router, low, width, "blind")


def search_from_guess(router, guess, first_step=1):
    step = first_step
    if router.route(guess, "guess"):
        high = guess
        while True:
            low = max(0, high - step)
            if low == 0 or not router.route(low, "guess"):
                return bisect(router, low, high, "guess")
            high = low
            step *= 2
    low = guess
    while True:
        high = low + step
        if router.route(high, "guess"):
            return bisect(router, low, high, "guess")
        low = high
        step *= 2


def get_predicted_tracks(tools, folder):
    done = subprocess.run([os.path.join(tools, "congestion-estimate"), folder, "--json", "-", "--no-timings"],
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    if done.returncode != 0:
        raise SEARCH_ERROR("congestion-estimate failed on %s: %s" % (folder, done.stderr.strip()))
    predicted = json.loads(done.stdout)["routability"]["predicted_min_tracks"]
    if predicted is None:
        raise SEARCH_ERROR("%s has no track count to predict" % folder)
    return predicted


def write_rows(path, rows):
    new = not os.path.exists(path) or os.path.getsize(path) == 0
    with open(path, "a", newline="") as out:
        writer = csv.DictWriter(out, fieldnames=CSV_FIELDS, lineterminator="\n")
        if new:
            writer.writeheader()
        for row in rows:
            writer.writerow(row)


def parse_arguments(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("folder", help="a design folder imported with congestion-import --arch generic")
    parser.add_argument("--csv", help="append a row per channel tried to this CSV file")
    parser.add_argument("--iterations", type=int, default=DEFAULT_ITERATIONS,
                        help="router2 iterations within which a channel must reach zero overuse (default %d)" %
                        DEFAULT_ITERATIONS)
    parser.add_argument("--guess-from-estimate", action="store_true",
                        help="start at the estimate's predicted minimum channel instead of the design's own")
    parser.add_argument("--guess", type=int, metavar="W",
                        help="start at W tracks, the same way as from the estimate's prediction")
    parser.add_argument("--around", type=int, default=0, metavar="N",
                        help="then route the channels W_min - N .. W_min + N not tried yet")
    parser.add_argument("--keep-min", metavar="DIR", help="keep the design folder routed at W_min as DIR")
    parser.add_argument("--replay", metavar="CSV", help="take outcomes of channels from earlier rows of this CSV")
    parser.add_argument("--tools", default=os.path.join(HERE, "..", "build", "tools"),
                        help="folder of congestion-import and congestion-estimate (default build/tools)")
    arguments = parser.parse_args(argv)
    if arguments.iterations < 1:
        parser.error("--iterations must be at least 1")
    if arguments.guess is not None and (arguments.guess < 1 or arguments.guess_from_estimate):
        parser.error("--guess needs a track count of at least 1, and not --guess-from-estimate beside it")
    return arguments


def check_tools(tools, names):
    """Refuses a --tools folder without the programs the search runs."""
    for name in names:
        if not os.access(os.path.join(tools, name), os.X_OK):
            raise SEARCH_ERROR("%s has no %s: build the tools with `make build`, or name the folder that holds "
                               "them with --tools" % (os.path.normpath(tools), name))


def main(argv):
    arguments = parse_arguments(argv)
    try:
        check_tools(arguments.tools, ["congestion-import"] +
                    (["congestion-estimate"] if arguments.guess_from_estimate else []))
        info = DESIGN_INFO(arguments.folder)
        with tempfile.TemporaryDirectory(prefix="min-channel-") as work:
            router = ROUTER(info, arguments, work)
            if arguments.guess_from_estimate:
                guess = get_predicted_tracks(arguments.tools, info.folder)
                print("predicted W_min %d" % guess, flush=True)
                w_min = search_from_guess(router, guess)
            elif arguments.guess is not None:
                w_min = search_from_guess(router, arguments.guess)
            else:
                w_min = search_blind(router, info.width)
            for width in range(max(1, w_min - arguments.around), w_min + arguments.around + 1):
                router.route(width, "around")
            if arguments.keep_min:
                if not os.path.isdir(router.get_folder(w_min)):
                    router.run_importer(w_min, format_tracks(scale_tracks(info.classes, w_min)))
                shutil.rmtree(arguments.keep_min, ignore_errors=True)
                shutil.copytree(router.get_folder(w_min), arguments.keep_min)
        rows = [router.results[w] for w in sorted(router.results)]
        if arguments.csv:
            write_rows(arguments.csv, rows)
        runs = sum(1 for row in rows if row["source"] == "run")
        routed = sum(1 for row in rows if row["outcome"] == ROUTED)
        print("%d channels tried: %d routed, %d did not; %d run now, %d replayed; %.1f s of routing" %
              (len(rows), routed, len(rows) - routed, runs, len(rows) - runs,
               sum(float(row["seconds"]) for row in rows)))
    except SEARCH_ERROR as error:
        print("min_channel_width.py: %s" % error, file=sys.stderr)
        return 1
    print("W_min %d" % w_min)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
