#!/usr/bin/env python3
"""Two builds of textmend_engine_bench, cell by cell.

    bench/compare_engine.py [--rounds N] [--cpu K] [--cells FILE] BASE NEW

Runs every cell (benchmark) of BASE and NEW in a process of its own, the two
builds next to each other in every round, pinned to processor K (default 1):
unpinned, a process that the system moved between processors ran a third
slower for its whole life, in about a third of the runs, whichever build it
was. Prints each cell's median GB/s for both and their ratio NEW / BASE,
then how many ratios lie within 0.97-1.03 and their geometric mean.
"""
import argparse
import json
import math
import re
import statistics
import subprocess


def cells_of(binary):
    listed = subprocess.run([binary, "--benchmark_list_tests=true"], capture_output=True,
                            text=True, check=True).stdout
    return [line for line in listed.split("\n") if line.strip()]


def speed(binary, cell, cpu):
    """One run of one cell, in GB/s (None when it printed no result)."""
    pattern = "^" + re.sub(r"([()\[\].*+?^$|{}])", r"\\\1", cell) + "$"
    out = subprocess.run(["taskset", "-c", str(cpu), binary, f"--benchmark_filter={pattern}",
                          "--benchmark_min_time=0.05", "--benchmark_format=json"],
                         capture_output=True, text=True).stdout
    try:
        return json.loads(out)["benchmarks"][0]["bytes_per_second"] / 1e9
    except (ValueError, KeyError, IndexError):
        return None


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--rounds", type=int, default=9)
    parser.add_argument("--cpu", type=int, default=1)
    parser.add_argument("--cells", help="a file naming the cells to run, one per line")
    parser.add_argument("base")
    parser.add_argument("new")
    args = parser.parse_args()
    cells = (open(args.cells).read().split("\n") if args.cells else cells_of(args.base))
    cells = [cell for cell in cells if cell.strip()]
    runs = {cell: {"base": [], "new": []} for cell in cells}
    for _ in range(args.rounds):
        for cell in cells:
            for which in ("base", "new"):
                got = speed(getattr(args, which), cell, args.cpu)
                if got is not None:
                    runs[cell][which].append(got)
    ratios = []
    print(f"| cell | {args.new} | {args.base} | ratio |\n|---|---|---|---|")
    for cell in cells:
        if not runs[cell]["base"] or not runs[cell]["new"]:
            print(f"| {cell} | no result | | |")
            continue
        base = statistics.median(runs[cell]["base"])
        new = statistics.median(runs[cell]["new"])
        ratios.append(new / base)
        print(f"| {cell} | {new:.2f} | {base:.2f} | {new / base:.3f} |")
    inside = sum(0.97 <= r <= 1.03 for r in ratios)
    mean = math.exp(sum(map(math.log, ratios)) / len(ratios))
    print(f"\n{inside} of {len(ratios)} cells within 0.97-1.03; range {min(ratios):.3f}-"
          f"{max(ratios):.3f}; geometric mean {mean:.3f}")


if __name__ == "__main__":
    main()
