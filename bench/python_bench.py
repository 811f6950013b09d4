#!/usr/bin/python3
"""Times the Python package: the cost of a call on a short input and of
convert_many; textmend.convert against a repair in pure Python (bytes.decode
with a per-byte fallback); textmend.dask.convert_files on one large file,
with Dask's threads and on a local cluster of worker processes, against the
textmend program, with Dask's own cost per task; and convert_files on many
small files against textmend-tree.

    cmake --workflow --preset python
    PYTHONPATH=build/python /usr/bin/python3 bench/python_bench.py [--only PART] [--runs N]
        [--dask-size-mb N...] [--files N]

The inputs are the shipped sample examples/mixed.txt (German, French and
Spanish in UTF-8, Latin-1 and Windows-1252) repeated to the size asked for.
Prints Markdown tables of medians.
"""

import argparse
import codecs
import os
import statistics
import subprocess
import sys
import tempfile
import time

import textmend
from textmend.dask import convert_files

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def per_byte_fallback(error):
    """A byte that is not part of valid UTF-8, read as Windows-1252 where it
    has a character there and as Latin-1 elsewhere: what textmend -u does."""
    byte = error.object[error.start:error.start + 1]
    try:
        return byte.decode("cp1252"), error.start + 1
    except UnicodeDecodeError:
        return byte.decode("latin-1"), error.start + 1


codecs.register_error("per-byte-fallback", per_byte_fallback)


def python_repair(data):
    return data.decode("utf-8", "per-byte-fallback").encode("utf-8")


def sample(size):
    with open(os.path.join(ROOT, "examples", "mixed.txt"), "rb") as f:
        text = f.read()
    data = text * (size // len(text) + 1)
    return data[:data.rfind(b"\n", 0, size) + 1]


def timed(runs, work):
    times = []
    for _ in range(runs):
        start = time.perf_counter()
        work()
        times.append(time.perf_counter() - start)
    return times


def row(name, times, size):
    median = statistics.median(times)
    return (f"| {name} | {median:.3f} s ({min(times):.3f}–{max(times):.3f}) "
            f"| {size / median / 1e6:.0f} MB/s |")


def bench_in_memory(size, runs):
    data = sample(size)
    same = textmend.convert(data, "utf-8") == python_repair(data)
    print(f"In memory, {len(data) / 2**20:.0f} MiB of examples/mixed.txt repeated, to UTF-8 "
          f"(outputs identical: {'yes' if same else 'NO'}):\n")
    print("| what | time | speed |\n|---|---|---|")
    python = timed(runs, lambda: python_repair(data))
    native = timed(runs, lambda: textmend.convert(data, "utf-8"))
    print(row("pure Python: `decode('utf-8', per-byte fallback).encode('utf-8')`", python,
              len(data)))
    print(row("`textmend.convert(data, 'utf-8')`", native, len(data)))
    print(f"\ntextmend.convert: {statistics.median(python) / statistics.median(native):.0f} "
          "times as fast\n")


def per_call_ns(work, calls, rounds):
    """Median over rounds of the time per call of a timeit loop, in ns."""
    import timeit

    return statistics.median(timeit.repeat(work, number=calls, repeat=rounds)) / calls * 1e9


def short_values(count, length):
    """count values of length bytes cut from examples/mixed.txt, almost all
    with high bytes: the values of a column of names or places."""
    text = sample(4 * count * length)
    return [text[i * length:(i + 1) * length] for i in range(count)]


def mostly_ascii_values(count, length):
    """count values of length bytes, one in twenty with a Latin-1 accent."""
    plain = b"Smith, John; 42 Baker Street, London NW1 6XE; x"
    accented = b"M\xfcller, J\xfcrgen; Stra\xdfe 4, K\xf6ln; caf\xe9 "
    return [((accented if i % 20 == 0 else plain) * 2)[:length] for i in range(count)]


def paired_per_item(rounds, items, target):
    """Medians over rounds, in ns per item, of a Python loop over convert and
    of convert_many on the same items, the two run by turns."""
    loop, many = [], []
    for _ in range(rounds):
        start = time.perf_counter()
        result = [textmend.convert(item, target) for item in items]
        loop.append(time.perf_counter() - start)
        del result
        start = time.perf_counter()
        result = textmend.convert_many(items, target)
        many.append(time.perf_counter() - start)
        del result
    return (statistics.median(loop) / len(items) * 1e9,
            statistics.median(many) / len(items) * 1e9)


def bench_small(rounds):
    value = short_values(1, 53)[0]
    print(f"Small inputs, medians of {rounds} rounds:\n")
    print("| what | per call or item | ratio |\n|---|---|---|")
    decode = per_call_ns(lambda: value.decode("utf-8", "surrogateescape"), 200000, rounds)
    print(f"| `bytes.decode('utf-8', 'surrogateescape')`, 53 bytes | {decode:.0f} ns | 1 |")
    for target in ("latin1", "utf-8"):
        convert = per_call_ns(lambda: textmend.convert(value, target), 200000, rounds)
        print(f"| `textmend.convert(value, '{target}')`, the same 53 bytes | {convert:.0f} ns "
              f"| {convert / decode:.2f} |")
    for name, items in (("mixed values", short_values(100000, 50)),
                        ("mostly ASCII values", mostly_ascii_values(100000, 50))):
        for target in ("latin1", "utf-8"):
            loop, many = paired_per_item(rounds, items, target)
            print(f"| 100,000 {name} of 50 bytes to {target}: a loop over `convert` / "
                  f"`convert_many` | {loop:.0f} / {many:.0f} ns | {loop / many:.1f} times "
                  "as fast |")
    print()


def program_path(name):
    """A program built beside the package (build/python/bin), or TEXTMEND_BINARY's folder."""
    folder = os.path.dirname(os.environ.get("TEXTMEND_BINARY", "")) or os.path.join(
        os.path.dirname(os.path.dirname(textmend.__file__)), "bin")
    return os.path.join(folder, name)


def paired(runs, first, second):
    """Medians of first and second run by turns, and the median of their
    ratios round by round."""
    a, b, ratios = [], [], []
    for _ in range(runs):
        a.append(timed(1, first)[0])
        b.append(timed(1, second)[0])
        ratios.append(b[-1] / a[-1])
    return statistics.median(a), statistics.median(b), statistics.median(ratios)


TARGETS = {"latin1": [], "windows-1252": ["-w"], "utf-8": ["-u"]}


def bench_dask(size, runs, out_dir, blocksize, workers):
    """One large file, every target: convert_files against the program."""
    from distributed import Client, LocalCluster, get_task_stream

    with tempfile.TemporaryDirectory(dir=out_dir) as work:
        source = os.path.join(work, "big.txt")
        with open(source, "wb") as f:
            f.write(sample(size))
        size = os.path.getsize(source)
        out = os.path.join(work, "out")
        os.mkdir(out)
        program = program_path("textmend")
        expected = os.path.join(work, "expected.txt")
        print(f"One file of {size / 2**20:.0f} MiB of examples/mixed.txt, blocks of "
              f"{blocksize / 2**20:.0f} MiB, output in {out_dir}, {os.cpu_count()} cores; "
              f"medians of {runs} rounds, each paired with the program:\n")
        print("| target | `textmend` | threads | ratio | {w} processes | ratio |\n"
              "|---|---|---|---|---|---|".format(w=workers))
        costs = []
        with LocalCluster(n_workers=workers, threads_per_worker=1, processes=True,
                          dashboard_address=None) as cluster:
            for target, option in TARGETS.items():
                def run_program():
                    subprocess.run([program, *option, source, expected], check=True)

                def run_threads():
                    convert_files([source], out, target, blocksize)

                native, threads, threads_ratio = paired(runs, run_program, run_threads)
                check_same(os.path.join(out, "big.txt"), expected)
                with Client(cluster) as client:
                    def run_cluster():
                        convert_files([source], out, target, blocksize)

                    _, processes, processes_ratio = paired(runs, run_program, run_cluster)
                    check_same(os.path.join(out, "big.txt"), expected)
                    with get_task_stream(client) as stream:
                        wall = timed(1, run_cluster)[0]
                    costs.append((target, wall, stream.data))
                print(f"| {target} | {native:.3f} s | {threads:.3f} s | {threads_ratio:.2f} "
                      f"| {processes:.3f} s | {processes_ratio:.2f} |")
        print(f"\nDask's own cost on the {workers}-process cluster (one more run each):\n")
        print("| target | tasks | time in tasks | wall | wall - tasks' time / workers "
              "| result bytes to the scheduler |\n|---|---|---|---|---|---|")
        for target, wall, tasks in costs:
            busy = sum(stop - start for task in tasks for start, stop in
                       [(part["start"], part["stop"]) for part in task["startstops"]
                        if part["action"] == "compute"])
            moved = sum(task.get("nbytes", 0) or 0 for task in tasks)
            print(f"| {target} | {len(tasks)} | {busy:.3f} s | {wall:.3f} s | "
                  f"{wall - busy / workers:.3f} s | {moved} |")
        print()


def check_same(path, expected):
    with open(path, "rb") as a, open(expected, "rb") as b:
        if a.read() != b.read():
            sys.exit(f"convert_files wrote another file than the program: {path}")


def bench_many_files(count, file_size, runs, out_dir):
    """count small files, to UTF-8: convert_files (Dask's threads) against
    textmend-tree on a copy of them."""
    import shutil

    with tempfile.TemporaryDirectory(dir=out_dir) as work:
        text = sample(4 * file_size)
        originals = os.path.join(work, "in")
        os.mkdir(originals)
        paths = []
        for i in range(count):
            path = os.path.join(originals, f"f{i:05}.txt")
            start = (i * 4099) % (len(text) - file_size)
            with open(path, "wb") as f:
                f.write(text[start:start + file_size])
            paths.append(path)
        out = os.path.join(work, "out")
        os.mkdir(out)
        tree = os.path.join(work, "tree")
        tree_program = program_path("textmend-tree")

        def run_tree():
            subprocess.run([tree_program, "-u", "-q", tree], check=True)

        def fresh_tree():
            shutil.rmtree(tree, ignore_errors=True)
            shutil.copytree(originals, tree)

        times_tree, times_dask, ratios = [], [], []
        for _ in range(runs):
            fresh_tree()
            times_tree.append(timed(1, run_tree)[0])
            times_dask.append(timed(1, lambda: convert_files(paths, out, "utf-8"))[0])
            ratios.append(times_dask[-1] / times_tree[-1])
        print(f"{count:,} files of {file_size // 1024} KiB to UTF-8, in {out_dir}; medians of "
              f"{runs} rounds:\n")
        print("| `textmend-tree -u` (in place, on a copy) | `convert_files` (Dask's threads) "
              "| ratio |\n|---|---|---|")
        print(f"| {statistics.median(times_tree):.3f} s | {statistics.median(times_dask):.3f} s "
              f"| {statistics.median(ratios):.2f} |\n")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--size-mb", type=int, default=64, help="input size (default 64)")
    parser.add_argument("--dask-size-mb", type=int, nargs="+", default=[256],
                        help="sizes of the file for convert_files (default 256)")
    parser.add_argument("--blocksize-mb", type=int, default=32, help="default 32")
    parser.add_argument("--workers", type=int, default=2, help="processes of the cluster")
    parser.add_argument("--files", type=int, default=10000, help="small files (default 10000)")
    parser.add_argument("--runs", type=int, default=5, help="rounds of each (default 5)")
    parser.add_argument("--out-dir", default="/dev/shm" if os.path.isdir("/dev/shm") else None)
    parser.add_argument("--only", choices=["small", "memory", "dask", "files"],
                        help="one part alone")
    args = parser.parse_args()
    if args.only in (None, "small"):
        bench_small(max(args.runs, 9))
    if args.only in (None, "memory"):
        bench_in_memory(args.size_mb * 2**20, args.runs)
    if args.only in (None, "dask"):
        for size in args.dask_size_mb:
            bench_dask(size * 2**20, args.runs, args.out_dir, args.blocksize_mb * 2**20,
                       args.workers)
    if args.only in (None, "files"):
        bench_many_files(args.files, 16 * 1024, args.runs, args.out_dir)


if __name__ == "__main__":
    main()
