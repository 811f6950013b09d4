#!/usr/bin/env python3
"""textmend-report against `wc -l` and against converting, on a file of 16 MiB
and on 1,000 files of 16 KiB given in one call.

    bench/report_bench.py BUILD_DIR CORPUS_DIR [--out DIR] [--rounds N]

CORPUS_DIR holds the corpora textmend_make_corpus writes (bench/run.sh makes
them); each is cut to its first 16 MiB, and mixed-prose and utf8-prose into
1,000 files of 16 KiB, in a folder of their own under --out (default
/dev/shm). Every round runs `wc -l`, `textmend-report --json` and the text
report in the three targets, and for the single file `textmend` converting
it, one after the other, then back in the other order; the tables give the
median of the rounds' ratios (paired, round by round) and the report's
highest peak memory (by GNU time). Exits non-zero when a command fails.
"""

import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

SMALL_FILES = 1000
SMALL_SIZE = 16 * 1024
LARGE_SIZE = 16 * 1024 * 1024
TARGETS = [("default", []), ("-w", ["-w"]), ("-u", ["-u"])]


def run(argv, ok=(0,)):
    """Wall time of one command."""
    start = time.perf_counter()
    code = subprocess.run(argv, stdout=subprocess.DEVNULL).returncode
    seconds = time.perf_counter() - start
    if code not in ok:
        sys.exit(f"report_bench: {' '.join(argv[:3])} ... failed with status {code}")
    return seconds


def peak_memory(argv):
    """Peak memory (MiB) of one command, by GNU time: the child's own
    figure, not that of the Python process it was forked from."""
    result = subprocess.run(["/usr/bin/time", "-f", "%M"] + argv, stdout=subprocess.DEVNULL,
                            stderr=subprocess.PIPE, text=True)
    return int(result.stderr.strip().splitlines()[-1]) / 1024


def paired_rounds(commands, rounds):
    """commands: name -> (argv, accepted statuses). Times per name, round by
    round (each round the mean of a run forth and a run back)."""
    names = list(commands)
    times = {name: [] for name in names}
    for name in names:
        run(*commands[name])  # warm the page cache and the binaries
    for r in range(rounds):
        order = names[r % len(names):] + names[:r % len(names)]
        first = {name: run(*commands[name]) for name in order}
        for name in reversed(order):
            times[name].append((first[name] + run(*commands[name])) / 2)
    return times


def report_memory(commands):
    return max(peak_memory(commands[name][0]) for name in commands
               if name.startswith(("json", "text")))


def ratio(times, name, base):
    return statistics.median(a / b for a, b in zip(times[name], times[base]))


def cut(source, path, start, size):
    with open(source, "rb") as f:
        f.seek(start)
        data = f.read(size)
    if len(data) != size:
        sys.exit(f"report_bench: {source} is shorter than {start + size} bytes")
    with open(path, "wb") as f:
        f.write(data)


def report_commands(report, inputs):
    commands = {"wc -l": (["wc", "-l"] + inputs, (0,))}
    for target, flags in TARGETS:
        commands[f"json {target}"] = ([report] + flags + ["--json"] + inputs, (0, 1))
        commands[f"text {target}"] = ([report] + flags + inputs, (0, 1))
    return commands


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build_dir")
    parser.add_argument("corpus_dir")
    parser.add_argument("--out", default="/dev/shm")
    parser.add_argument("--rounds", type=int, default=9)
    args = parser.parse_args()
    report = os.path.join(args.build_dir, "textmend-report")
    textmend = os.path.join(args.build_dir, "textmend")
    work = tempfile.mkdtemp(prefix="textmend-report-bench.", dir=args.out)
    try:
        print("textmend-report on a file of 16 MiB: wall time as a ratio to `wc -l`, "
              f"`--json` / text, and `--json` to converting the file; median of {args.rounds} "
              "paired rounds\n")
        print("| corpus | default | `-w` | `-u` | to converting (default, `-w`, `-u`) "
              "| peak memory |")
        print("|---|---|---|---|---|---|")
        for corpus in ["mixed-prose", "utf8-prose", "latin1-prose", "ascii", "dense-utf8",
                       "random-bytes"]:
            large = os.path.join(work, corpus + ".txt")
            cut(os.path.join(args.corpus_dir, corpus + ".txt"), large, 0, LARGE_SIZE)
            commands = report_commands(report, [large])
            for target, flags in TARGETS:
                commands[f"convert {target}"] = (
                    [textmend] + flags + [large, os.path.join(work, "out")], (0,))
            times = paired_rounds(commands, args.rounds)
            cells = [f"{ratio(times, f'json {t}', 'wc -l'):.2f} / "
                     f"{ratio(times, f'text {t}', 'wc -l'):.2f}" for t, _ in TARGETS]
            to_convert = ", ".join(f"{ratio(times, f'json {t}', f'convert {t}'):.2f}"
                                   for t, _ in TARGETS)
            memory = report_memory(commands)
            print(f"| {corpus} | {' | '.join(cells)} | {to_convert} | {memory:.1f} MiB |")
            os.remove(large)

        print(f"\ntextmend-report on {SMALL_FILES:,} files of 16 KiB in one call: wall time as "
              "a ratio to `wc -l` on the same files, `--json` / text; median of "
              f"{args.rounds} paired rounds\n")
        print("| corpus | default | `-w` | `-u` | peak memory |")
        print("|---|---|---|---|---|")
        for corpus in ["mixed-prose", "utf8-prose"]:
            folder = os.path.join(work, corpus)
            os.mkdir(folder)
            source = os.path.join(args.corpus_dir, corpus + ".txt")
            inputs = []
            for i in range(SMALL_FILES):
                path = os.path.join(folder, f"{i:04}.txt")
                cut(source, path, i * SMALL_SIZE, SMALL_SIZE)
                inputs.append(path)
            commands = report_commands(report, inputs)
            times = paired_rounds(commands, args.rounds)
            cells = [f"{ratio(times, f'json {t}', 'wc -l'):.2f} / "
                     f"{ratio(times, f'text {t}', 'wc -l'):.2f}" for t, _ in TARGETS]
            memory = report_memory(commands)
            print(f"| {corpus} | {' | '.join(cells)} | {memory:.1f} MiB |")
            shutil.rmtree(folder)
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
