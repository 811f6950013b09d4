#!/usr/bin/python3
"""Times the Python package: the cost of a call on a short input and of
convert_many, textmend.convert against a repair in pure Python (bytes.decode
with a per-byte fallback), and textmend.dask.convert_files on a
local cluster of 1 and 2 worker processes against the textmend program.

    cmake --workflow --preset python
    PYTHONPATH=build/python /usr/bin/python3 bench/python_bench.py [--size-mb N] [--runs N]

The input is the shipped sample examples/mixed.txt (German, French and
Spanish in UTF-8, Latin-1 and Windows-1252) repeated to the size asked for.
Prints Markdown tables: median time of the runs, lowest and highest in
brackets, and MB/s.
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


def bench_dask(size, runs, out_dir, blocksize):
    from distributed import Client, LocalCluster

    with tempfile.TemporaryDirectory(dir=out_dir) as work:
        source = os.path.join(work, "big.txt")
        with open(source, "wb") as f:
            f.write(sample(size))
        size = os.path.getsize(source)
        os.mkdir(os.path.join(work, "out"))
        program = os.environ.get("TEXTMEND_BINARY",
                                 os.path.join(os.path.dirname(os.path.dirname(textmend.__file__)),
                                              "bin", "textmend"))
        expected = os.path.join(work, "expected.txt")
        print(f"One file of {size / 2**20:.0f} MiB, blocks of {blocksize / 2**20:.0f} MiB, "
              f"to UTF-8, output in {out_dir}, {os.cpu_count()} cores:\n")
        print("| what | time | speed |\n|---|---|---|")
        times = timed(runs, lambda: subprocess.run([program, "-u", source, expected], check=True))
        print(row("the `textmend -u` program", times, size))
        for workers in (1, 2):
            with LocalCluster(n_workers=workers, threads_per_worker=1, processes=True,
                              dashboard_address=None) as cluster, Client(cluster):
                times = timed(runs, lambda: convert_files([source], os.path.join(work, "out"),
                                                          "utf-8", blocksize))
            with open(os.path.join(work, "out", "big.txt"), "rb") as a, open(expected, "rb") as b:
                if a.read() != b.read():
                    sys.exit("convert_files wrote another file than the program")
            print(row(f"`convert_files`, {workers} worker process{'es' if workers > 1 else ''}",
                      times, size))
        times = timed(runs, lambda: convert_files([source], os.path.join(work, "out"), "utf-8",
                                                  blocksize))
        print(row("`convert_files`, no client (Dask's threads)", times, size))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--size-mb", type=int, default=64, help="input size (default 64)")
    parser.add_argument("--dask-size-mb", type=int, default=256,
                        help="size of the file for convert_files (default 256)")
    parser.add_argument("--blocksize-mb", type=int, default=32, help="default 32")
    parser.add_argument("--runs", type=int, default=5, help="runs of each (default 5)")
    parser.add_argument("--out-dir", default="/dev/shm" if os.path.isdir("/dev/shm") else None)
    parser.add_argument("--small-only", action="store_true",
                        help="only the small inputs (convert per call, convert_many)")
    args = parser.parse_args()
    bench_small(max(args.runs, 9))
    if args.small_only:
        return
    bench_in_memory(args.size_mb * 2**20, args.runs)
    bench_dask(args.dask_size_mb * 2**20, args.runs, args.out_dir, args.blocksize_mb * 2**20)


if __name__ == "__main__":
    main()
