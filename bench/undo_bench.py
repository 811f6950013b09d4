#!/usr/bin/env python3
"""What undoing text encoded twice costs: textmend-tree with and without --undo-double.

    bench/undo_bench.py BUILD_DIR WORK [--out DIR] [--rounds N]

WORK holds the corpora of textmend_make_corpus; mixed-prose.txt is used as it
is, and again with every eighth line that is UTF-8 holding a character above
ASCII encoded twice (read as Latin-1, written as UTF-8 again), which the
option undoes. For every target, each round converts a fresh copy of the
file in place with `textmend-tree -q FILE`, with `textmend-tree -q
--undo-double FILE` and with `textmend FILE FILE`, in one order and the next
round in the other; copying is not timed. The table gives the medians and
the ratios of undoing to the other two.
"""

import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

TARGETS = [("default", []), ("`-w`", ["-w"]), ("`-u`", ["-u"])]


def encoded_twice(line):
    """line read as Latin-1 and written as UTF-8, when it is UTF-8 above ASCII."""
    try:
        text = line.decode("utf-8")
    except UnicodeDecodeError:
        return line
    if text.isascii():
        return line
    return line.decode("latin-1").encode("utf-8")


def make_damaged(source, path):
    """Writes the damaged copy; returns the share of its lines that changed."""
    lines = changed = 0
    with open(source, "rb") as src, open(path, "wb") as dst:
        for number, line in enumerate(src):
            damaged = encoded_twice(line) if number % 8 == 0 else line
            dst.write(damaged)
            lines += 1
            changed += damaged != line
    return changed / max(lines, 1)


def timed(command):
    start = time.perf_counter()
    status = subprocess.run(command, stdout=subprocess.DEVNULL).returncode
    seconds = time.perf_counter() - start
    if status != 0:
        sys.exit(f"undo_bench: {' '.join(command)} failed with status {status}")
    return seconds


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("build")
    parser.add_argument("work")
    parser.add_argument("--out", default="/dev/shm" if os.access("/dev/shm", os.W_OK) else None)
    parser.add_argument("--rounds", type=int, default=9)
    o = parser.parse_args()
    tree = os.path.join(o.build, "textmend-tree")
    textmend = os.path.join(o.build, "textmend")
    scratch = tempfile.mkdtemp(prefix="textmend-undo-bench.", dir=o.out)
    try:
        mixed = os.path.join(o.work, "mixed-prose.txt")
        damaged = os.path.join(scratch, "damaged.txt")
        share = make_damaged(mixed, damaged)
        copy = os.path.join(scratch, "f")
        print(f"{os.path.getsize(mixed) / 2**20:.0f} MiB files, copies in {o.out}; {o.rounds} rounds; "
              "medians in seconds")
        print()
        print("| corpus | target | `textmend-tree` | `--undo-double` | `textmend FILE FILE` "
              "| undo / tree | undo / textmend |")
        print("|---|---|---|---|---|---|---|")
        corpora = (("mixed-prose", mixed), (f"mixed-prose, {share:.1%} of lines damaged", damaged))
        for corpus_name, corpus in corpora:
            for target_name, option in TARGETS:
                commands = [
                    ("tree", [tree, "-q", "-j1", *option, copy]),
                    ("undo", [tree, "-q", "-j1", "--undo-double", *option, copy]),
                    ("textmend", [textmend, *option, copy, copy]),
                ]
                times = {name: [] for name, _ in commands}
                for round_number in range(o.rounds):
                    order = 1 if round_number % 2 else -1
                    for name, command in commands[::order]:
                        shutil.copyfile(corpus, copy)
                        times[name].append(timed(command))
                m = {name: statistics.median(t) for name, t in times.items()}
                print(f"| {corpus_name} | {target_name} | {m['tree']:.3f} | {m['undo']:.3f} | "
                      f"{m['textmend']:.3f} | {m['undo'] / m['tree']:.2f} | "
                      f"{m['undo'] / m['textmend']:.2f} |")
    finally:
        shutil.rmtree(scratch, ignore_errors=True)


if __name__ == "__main__":
    main()
