#!/usr/bin/env python3
"""textmend-tree against what people would run instead, on generated trees.

    bench/tree_bench.py BUILD_DIR [--dir DIR] [--files N] [--rounds N] [--memory N]

- A clean tree of FILES files (textmend_make_tree: 1 KiB to 32 KiB, a few of
  1 to 4 MiB, 2 % binary): `textmend-tree -u -q T` against
  `find T -type f -exec cat {} + > /dev/null`, which only reads the files.
- The same tree with a tenth of the files in Latin-1: `textmend-tree -u -q T`
  against `find T -type f -print0 | xargs -0 -P$(nproc) -I{} textmend -u {} {}`
  (a process per file), the tree made afresh before every run.
- With --memory N: the peak memory of `textmend-tree -n -q` over a tree of
  N folders of 1000 one-line files.

Each round runs the commands in one order and the next round in the other;
the tables give the median of the rounds. DIR (default /dev/shm) holds the
trees: give a folder on a disk to see what flushing every repaired file
costs there.
"""

import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time


def run(command, shell=False):
    """Wall time and peak memory (MiB) of one command."""
    start = time.perf_counter()
    child = subprocess.Popen(command, shell=shell, stdout=subprocess.DEVNULL,
                             executable="/bin/bash" if shell else None)
    _, status, usage = os.wait4(child.pid, 0)
    seconds = time.perf_counter() - start
    code = os.waitstatus_to_exitcode(status)
    if code != 0:
        sys.exit(f"tree_bench: {command} failed with status {code}")
    return seconds, usage.ru_maxrss / 1024


def make_tree(maker, path, files, repair_percent, tiny=False):
    os.mkdir(path)
    args = [maker, path, str(files), str(repair_percent)] + (["tiny"] if tiny else [])
    subprocess.run(args, check=True)


def tree_size(path):
    total = count = 0
    for folder, _, names in os.walk(path):
        for name in names:
            total += os.lstat(os.path.join(folder, name)).st_size
            count += 1
    return count, total


def median_table(title, rows):
    print(f"\n{title}\n")
    print("| command | median s | lowest–highest | ratio to the first |")
    print("|---|---|---|---|")
    first = statistics.median(rows[0][1])
    for label, times in rows:
        m = statistics.median(times)
        print(f"| {label} | {m:.3f} | {min(times):.3f}–{max(times):.3f} | {m / first:.2f} |")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("build")
    parser.add_argument("--dir", default="/dev/shm" if os.access("/dev/shm", os.W_OK) else None)
    parser.add_argument("--files", type=int, default=20000)
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--memory", type=int, default=0, metavar="FOLDERS")
    o = parser.parse_args()
    tree = os.path.join(o.build, "textmend-tree")
    textmend = os.path.join(o.build, "textmend")
    maker = os.path.join(o.build, "bench", "textmend_make_tree")
    work = tempfile.mkdtemp(prefix="textmend-tree-bench.", dir=o.dir)
    try:
        clean, original, repair = (os.path.join(work, n) for n in ("clean", "original", "repair"))
        make_tree(maker, clean, o.files, 0)
        make_tree(maker, original, o.files, 10)
        count, size = tree_size(clean)
        print(f"Trees of {count} files, {size / 2**20:.0f} MiB, in {o.dir or tempfile.gettempdir()}; "
              f"{o.rounds} rounds; {os.cpu_count()} processors")

        def fresh_repair_tree():
            shutil.rmtree(repair, ignore_errors=True)
            shutil.copytree(original, repair, symlinks=True)

        clean_commands = [
            ("`find T -type f -exec cat {} + > /dev/null`",
             f"find {clean} -type f -exec cat {{}} + > /dev/null", True),
            ("`textmend-tree -u -q T`", [tree, "-u", "-q", clean], False),
        ]
        repair_commands = [
            ("`find T -type f -print0 \\| xargs -0 -P$(nproc) -I{} textmend -u {} {}`",
             f"find {repair} -type f -print0 | xargs -0 -P$(nproc) -I{{}} {textmend} -u {{}} {{}}",
             True),
            ("`textmend-tree -u -q T`", [tree, "-u", "-q", repair], False),
        ]
        clean_times = {label: [] for label, _, _ in clean_commands}
        repair_times = {label: [] for label, _, _ in repair_commands}
        peak = 0.0
        for round_number in range(o.rounds):
            order = 1 if round_number % 2 else -1
            for label, command, shell in clean_commands[::order]:
                seconds, rss = run(command, shell)
                clean_times[label].append(seconds)
            for label, command, shell in repair_commands[::order]:
                fresh_repair_tree()
                seconds, rss = run(command, shell)
                repair_times[label].append(seconds)
                if not shell:
                    peak = max(peak, rss)
        median_table("A clean tree (nothing to repair): the time to read it, and to inspect it",
                     list(clean_times.items()))
        median_table("A tenth of the files to repair: a process per file, and one walk",
                     list(repair_times.items()))
        print(f"\nPeak memory of textmend-tree repairing: {peak:.1f} MiB")
        if o.memory > 0:
            shutil.rmtree(clean)
            shutil.rmtree(original)
            shutil.rmtree(repair, ignore_errors=True)
            many = os.path.join(work, "many")
            make_tree(maker, many, o.memory * 1000, 0, tiny=True)
            seconds, rss = run([tree, "-n", "-q", "-u", many])
            print(f"\n{o.memory} folders of 1000 one-line files: textmend-tree -n took "
                  f"{seconds:.1f} s, peak memory {rss:.1f} MiB")
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
