#!/usr/bin/env python3
"""Writes a synthetic placed design that congestion-estimate reads, for
timing the tool's phases on large devices.

Usage: scripts/synthetic_design.py OUT_DIR [SIDE] [NETS] [SEED]

The device is SIDE x SIDE tiles (default 1000): an I/O ring, empty corners
and logic tiles inside, with the wire and input counts of the shared iCE40
designs. NETS nets (default 200 000) of 2 to 5 pins lie within 4 tiles of
their driver. Without routed.txt the tool skips the accuracy figures.
"""
import argparse
import os
import random


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0],
                                     usage=__doc__.split("\n\n")[1][len("Usage: "):])
    parser.add_argument("out", metavar="OUT_DIR")
    parser.add_argument("side", metavar="SIDE", type=int, nargs="?", default=1000)
    parser.add_argument("num_nets", metavar="NETS", type=int, nargs="?", default=200000)
    parser.add_argument("seed", metavar="SEED", type=int, nargs="?", default=5)
    args = parser.parse_args()
    out, side, num_nets = args.out, args.side, args.num_nets
    rng = random.Random(args.seed)
    if side < 3 or num_nets < 0:
        parser.error("SIDE must be at least 3 and NETS not negative")
    os.makedirs(out, exist_ok=True)
    with open(os.path.join(out, "tiles.txt"), "w") as tiles:
        tiles.write(f"tiles {side} {side}\n# x y kind h4 h12 v4 v12 lab_in\n")
        for y in range(side):
            for x in range(side):
                edge_x = x in (0, side - 1)
                edge_y = y in (0, side - 1)
                if edge_x and edge_y:
                    tiles.write(f"{x} {y} empty 0 0 0 0 0\n")
                elif edge_x or edge_y:
                    tiles.write(f"{x} {y} io 20 0 48 24 10\n")
                else:
                    tiles.write(f"{x} {y} logic 60 26 60 26 35\n")
    inner = side - 2

    def near(value):
        return min(inner, max(1, value + rng.randint(-4, 4)))

    with open(os.path.join(out, "nets.txt"), "w") as nets:
        nets.write(f"nets {num_nets} {side} {side}\n")
        nets.write("# id npins flags weight xl xr yb yt routed_x routed_y n_wires  x0 y0 x1 y1 ...\n")
        for net in range(num_nets):
            x0, y0 = rng.randint(1, inner), rng.randint(1, inner)
            pins = [(x0, y0)] + [(near(x0), near(y0)) for _ in range(rng.randint(1, 4))]
            xs = [x for x, _ in pins]
            ys = [y for _, y in pins]
            coordinates = " ".join(f"{x} {y}" for x, y in pins)
            nets.write(f"{net} {len(pins)} 0 0 {min(xs)} {max(xs)} {min(ys)} {max(ys)} 0 0 0 {coordinates}\n")


if __name__ == "__main__":
    main()
