#!/usr/bin/env python3
"""textmend reading a pipe: throughput on a large input, and how soon a line
written into the pipe comes out.

    bench/pipe_bench.py BUILD_DIR CORPUS_DIR [--against BIN] [--rounds N]
                        [--only CORPUS]

Throughput: every round runs `cat IN | textmend FLAGS /dev/stdin /dev/stdout |
cat > /dev/null` in the three targets, the same through `cat` in place of
textmend (the floor), and with --against another textmend binary (a previous
version, say), one after the other, then back in the other order; the table
gives the medians of the rounds' ratios (paired, round by round).

Latency: a line at a time is written into textmend's input pipe and read
from its output pipe; the table gives the median and the highest time from
the write to the read of each line.
"""

import argparse
import os
import select
import statistics
import subprocess
import sys
import time

TARGETS = [("default", []), ("-w", ["-w"]), ("-u", ["-u"])]
CORPORA = ["mixed-prose", "utf8-prose", "ascii", "random-bytes"]
LATENCY_LINES = 200


def run_pipeline(command):
    """Wall time of one shell pipeline."""
    start = time.perf_counter()
    code = subprocess.run(["bash", "-o", "pipefail", "-c", command]).returncode
    seconds = time.perf_counter() - start
    if code != 0:
        sys.exit(f"pipe_bench: {command} failed with status {code}")
    return seconds


def paired_rounds(commands, rounds):
    """commands: name -> pipeline. Times per name, round by round (each
    round the mean of a run forth and a run back)."""
    names = list(commands)
    times = {name: [] for name in names}
    for name in names:
        run_pipeline(commands[name])  # warm the page cache and the binaries
    for r in range(rounds):
        order = names[r % len(names):] + names[:r % len(names)]
        first = {name: run_pipeline(commands[name]) for name in order}
        for name in reversed(order):
            times[name].append((first[name] + run_pipeline(commands[name])) / 2)
    return times


def ratio(times, name, base):
    return statistics.median(a / b for a, b in zip(times[name], times[base]))


def throughput(textmend, against, corpus_dir, corpora, rounds):
    print("Through pipes (`cat IN | textmend FLAGS /dev/stdin /dev/stdout | cat > /dev/null`): "
          "wall time as a ratio to the same through `cat`" +
          (" / to the --against binary" if against else "") +
          f"; median of {rounds} paired rounds\n")
    print("| corpus | default | `-w` | `-u` | `cat` MB/s |")
    print("|---|---|---|---|---|")
    for corpus in corpora:
        path = os.path.join(corpus_dir, corpus + ".txt")
        size = os.path.getsize(path)
        commands = {"cat": f"cat {path} | cat | cat > /dev/null"}
        for target, flags in TARGETS:
            args = " ".join(flags)
            commands[target] = f"cat {path} | {textmend} {args} /dev/stdin /dev/stdout | cat > /dev/null"
            if against:
                commands["against " + target] = (
                    f"cat {path} | {against} {args} /dev/stdin /dev/stdout | cat > /dev/null")
        times = paired_rounds(commands, rounds)
        cells = []
        for target, _ in TARGETS:
            cell = f"{ratio(times, target, 'cat'):.2f}"
            if against:
                cell += f" / {ratio(times, target, 'against ' + target):.3f}"
            cells.append(cell)
        speed = size / statistics.median(times["cat"]) / 1e6
        print(f"| {corpus} | {' | '.join(cells)} | {speed:.0f} |")


def read_line(fd, deadline):
    data = b""
    while not data.endswith(b"\n"):
        if not select.select([fd], [], [], max(0.0, deadline - time.perf_counter()))[0]:
            sys.exit("pipe_bench: a line did not come out within 5 s")
        chunk = os.read(fd, 4096)
        if not chunk:
            sys.exit("pipe_bench: the output ended early")
        data += chunk
    return data


def latency(textmend):
    print(f"\nA line at a time into textmend's input pipe ({LATENCY_LINES} lines, each "
          "written after the one before came out): time until it comes out of the output "
          "pipe\n")
    print("| target | median | highest |")
    print("|---|---|---|")
    line = "Zeile mit K\xe4se und caf\xc3\xa9\n".encode("latin-1")
    for target, flags in TARGETS:
        child = subprocess.Popen([textmend] + flags + ["/dev/stdin", "/dev/stdout"],
                                 stdin=subprocess.PIPE, stdout=subprocess.PIPE, bufsize=0)
        waits = []
        for _ in range(LATENCY_LINES):
            start = time.perf_counter()
            child.stdin.write(line)
            read_line(child.stdout.fileno(), start + 5)
            waits.append(time.perf_counter() - start)
        child.stdin.close()
        child.stdout.read()
        if child.wait() != 0:
            sys.exit(f"pipe_bench: textmend {target} failed")
        print(f"| {target} | {statistics.median(waits) * 1e3:.2f} ms | "
              f"{max(waits) * 1e3:.2f} ms |")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build_dir")
    parser.add_argument("corpus_dir")
    parser.add_argument("--against")
    parser.add_argument("--rounds", type=int, default=9)
    parser.add_argument("--only", help="one corpus (its file CORPUS.txt)")
    args = parser.parse_args()
    textmend = os.path.join(args.build_dir, "textmend")
    corpora = [args.only] if args.only else CORPORA
    throughput(textmend, args.against, args.corpus_dir, corpora, args.rounds)
    latency(textmend)


if __name__ == "__main__":
    main()
