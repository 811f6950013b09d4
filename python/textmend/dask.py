"""Converting many files, or one huge file, on a Dask cluster.

    >>> from textmend.dask import convert_files
    >>> convert_files(["a.txt", "b.txt"], "out", target="utf-8")
    ['out/a.txt', 'out/b.txt']

A file larger than ``blocksize`` is cut into blocks of about that size. A
block ends just after the first newline past its nominal end (or, where the
next block holds no newline, just after its first byte below 0x80): a byte
below 0x80 is never part of a sequence and every byte after it is judged
afresh, so the converted blocks joined are exactly the conversion of the
whole file. Where a cut falls is a function of the file's bytes alone, so
the tasks agree on it without talking to each other.

Such a file takes two rounds of tasks. First each block is measured: where
it starts and ends, and the exact size of its conversion. Then a hidden
temporary file of the whole output's size is made next to the output, each
block's task converts the block straight into its place in it, and the file
is flushed and renamed over the output: every output byte is written once,
a reader never sees half an output, and nothing but names, offsets and sizes
goes through the scheduler. Smaller files are converted whole, many to a
task, each into a temporary file of its own renamed into place.

A task that Dask runs again (its worker died) does no harm: measuring reads
only, a block is written to the same place again, and a whole file is
written under a name of its own. What a failed run leaves is removed when it
ends. The inputs and the output directory must be reachable under the same
names from every worker and from the caller (a shared file system on a real
cluster).

From the command line::

    python3 -m textmend.dask [-w|-u] [--scheduler ADDRESS] [--timeout SECONDS]
                             [--blocksize SIZE] [--no-progress] OUTPUT_DIR FILE...

It shows Dask's progress bar on standard error when that is a terminal.
"""

import argparse
import contextlib
import errno
import os
import re
import stat
import sys
import uuid
from typing import List, NamedTuple, Sequence, Union

import dask
import dask.threaded
from dask.utils import parse_bytes

from . import _held, _textmend, convert

__all__ = ["convert_files", "FileChangedError", "DEFAULT_BLOCKSIZE", "main"]

DEFAULT_BLOCKSIZE = 64 * 2**20

# Where a cut falls is looked for this many bytes at a time.
_CHUNK = 2**16
_BELOW_0X80 = re.compile(rb"[\x00-\x7f]")


class FileChangedError(RuntimeError):
    """An input changed while it was being converted."""


_Path = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]


def convert_files(paths: Sequence[_Path], output_dir: _Path, target: str = "latin1",
                  blocksize: Union[int, str] = DEFAULT_BLOCKSIZE,
                  progress: bool = False, *, undo_double: bool = False) -> List[str]:
    """Converts each file of paths into output_dir under its base name.

    paths: the input files (str, bytes or os.PathLike each), regular files
    of distinct base names. output_dir: an existing directory. target: as
    for textmend.convert ('latin1', 'windows-1252', 'utf-8' or another name
    Python's codecs give them). blocksize: bytes per task, an int or a size
    such as "16MiB". progress: show Dask's progress bar (the distributed
    progress bar with a client, dask.diagnostics.ProgressBar without) on
    standard output. undo_double: also undo text encoded twice, as
    textmend.convert does; blocks are then cut only after a newline.

    Returns the output paths in the order of paths. Uses the current
    dask.distributed client when there is one, else Dask's default
    scheduler. Raises ValueError for a wrong target, block size, two inputs
    of one base name or an output that would replace its own input,
    TypeError for arguments of the wrong type, OSError when a file cannot be
    read or written, FileChangedError when an input changes meanwhile.
    """
    if isinstance(paths, (str, bytes, os.PathLike)):
        raise TypeError("paths must be a list of paths, not a single path")
    convert(b"", target, undo_double=undo_double)  # the same errors as everywhere else
    blocksize = _checked_blocksize(blocksize)
    output_dir = _path_text(output_dir)
    if not os.path.isdir(output_dir):
        raise NotADirectoryError(errno.ENOTDIR, os.strerror(errno.ENOTDIR), output_dir)

    run = uuid.uuid4().hex
    jobs = [_Job(_path_text(path), output_dir, f"{run}-{i}") for i, path in enumerate(paths)]
    _check_names(jobs)
    if not jobs:
        return []
    try:
        _convert_jobs(jobs, _Conversion(target, undo_double), blocksize, progress)
    finally:
        _remove_leftovers(jobs)
    return [job.output for job in jobs]


def _remove_leftovers(jobs):
    """What a failed run left, or the files of tasks whose worker died: the
    names next to the outputs that begin with a job's hidden name. Each
    folder is listed once, however many files it holds."""
    prefixes = {}
    for job in jobs:
        folder, name = os.path.split(job.scratch)
        prefixes.setdefault(folder, set()).add(name + ".")
    for folder, names in prefixes.items():
        for entry in os.listdir(folder):
            cut = entry.find(".", entry.rfind(".textmend-") + 1)
            if cut > 0 and entry[:cut + 1] in names:
                _remove_quietly(os.path.join(folder, entry))


# Small files are converted whole, this many bytes of them to a task at most
# (and no more than a block), so that a task costs the scheduler little
# beside its work.
_BATCH_BYTES = 8 * 2**20


class _Conversion(NamedTuple):
    """What the tasks do to every byte: the target, and whether to undo."""
    target: str
    undo_double: bool


class _Job:
    """One input file and what becomes of it."""

    def __init__(self, path, output_dir, run):
        self.given = path  # for messages: the name as the caller gave it
        self.input = os.path.abspath(path)  # the workers' working directories may differ
        self.name = os.path.basename(self.input)
        self.output = os.path.join(output_dir, self.name)
        info = os.stat(path)
        if stat.S_ISDIR(info.st_mode):
            raise IsADirectoryError(errno.EISDIR, os.strerror(errno.EISDIR), path)
        if not stat.S_ISREG(info.st_mode):
            raise ValueError(f"{path}: not a regular file; blocks can only be read from one")
        self.identity = (info.st_size, info.st_mtime_ns)
        self.size = info.st_size
        try:
            output = os.stat(self.output)
        except FileNotFoundError:
            output = None
        if output is not None and (output.st_dev, output.st_ino) == (info.st_dev, info.st_ino):
            raise ValueError(f"{path}: the output would replace the input; "
                             "use textmend.convert_file to convert in place")
        # Hidden names next to the output, unique to this run (run: the
        # run's own mark, with the job's place among the inputs).
        folder = os.path.abspath(output_dir)
        self.scratch = os.path.join(folder, f".{self.name}.textmend-{run}")
        self.final = os.path.join(folder, self.name)
        self.temporary = f"{self.scratch}.tmp"

    def blocks(self, blocksize):
        return max(1, -(-self.size // blocksize))

    def measure_tasks(self, conversion, blocksize, graph, hold):
        """Makes the temporary output, empty, and adds to graph a task to
        measure each block (hold: to convert it into memory and have it
        written once its place is known, see _held); returns their keys."""
        os.close(os.open(self.temporary, os.O_WRONLY | os.O_CREAT | os.O_EXCL | os.O_CLOEXEC,
                         0o666))
        blocks = self.blocks(blocksize)
        # Numbers of equal width: Dask runs tasks of equal standing in the
        # order of their names, and blocks held wait for the ones before them.
        keys = [f"textmend-measure-{self.scratch}-{k:09}" for k in range(blocks)]
        if hold:
            _held.open_placement(self.scratch, blocks, self.temporary)
        for k, key in enumerate(keys):
            graph[key] = ((_hold_block, self.scratch) if hold else (_measure_block,)) + (
                self.input, list(self.identity), list(conversion), blocksize, k)
        return keys

    def write_tasks(self, conversion, measured, graph):
        """Gives the temporary output the size the blocks measured take, and
        adds to graph a task for each block not written yet that converts it
        into its place there; returns their keys and the output's size."""
        placed = _place_blocks(measured)
        size = sum(block[2] for block in placed if block is not None)
        fd = os.open(self.temporary, os.O_WRONLY | os.O_CLOEXEC)
        try:
            os.ftruncate(fd, size)
        finally:
            os.close(fd)
        placement = _held.placement(self.scratch)
        written = set() if placement is None else placement.written
        keys = []
        for k, block in enumerate(placed):
            if block is not None and k not in written:
                keys.append(f"textmend-write-{self.scratch}-{k:09}")
                graph[keys[-1]] = (_write_block, self.input, list(self.identity),
                                   list(conversion), list(block), self.temporary)
        return keys, size

    def finish(self, size):
        """The temporary output, complete (size bytes), flushed and renamed
        over the output."""
        info = os.stat(self.input)
        if (info.st_size, info.st_mtime_ns) != self.identity:
            raise FileChangedError(f"{self.given}: file changed while being converted")
        fd = os.open(self.temporary, os.O_WRONLY | os.O_CLOEXEC)
        try:
            if os.fstat(fd).st_size != size:
                raise FileChangedError(f"{self.given}: file changed while being converted")
            os.fsync(fd)
        finally:
            os.close(fd)
        os.replace(self.temporary, self.final)


def _convert_jobs(jobs, conversion, blocksize, progress):
    """Two rounds of tasks: the blocks of the large files measured (and the
    small files converted), then each block written into its place. No task
    takes another's result, so a worker's death loses no data another task
    waits for. The graphs are built by hand: through dask.delayed, tasks
    that share a dependency of many blocks take time that grows with the
    square of the blocks to set up."""
    large = [job for job in jobs if job.size > blocksize]
    small = [job for job in jobs if job.size <= blocksize]
    try:
        _convert_in_rounds(large, small, conversion, blocksize, progress)
    finally:
        for job in large:
            _held.close_placement(job.scratch)


def _convert_in_rounds(large, small, conversion, blocksize, progress):
    graph = {}
    hold = _shares_process()
    measures = [job.measure_tasks(conversion, blocksize, graph, hold) for job in large]
    batches = []
    for batch in _batches(small, min(blocksize, _BATCH_BYTES)):
        key = f"textmend-whole-{batch[0].scratch}"
        graph[key] = (_convert_small_files,
                      [[job.input, list(job.identity), job.temporary, job.final] for job in batch],
                      list(conversion))
        batches.append(key)
    measured = _compute(graph, [key for keys in measures for key in keys] + batches, progress)
    graph, writes, sizes = {}, [], []
    at = 0
    for job, keys in zip(large, measures):
        job_writes, size = job.write_tasks(conversion, measured[at:at + len(keys)], graph)
        writes += job_writes
        sizes.append(size)
        at += len(keys)
    if writes:
        _compute(graph, writes, progress)
    for job, size in zip(large, sizes):
        job.finish(size)


def _batches(jobs, batch_bytes):
    """jobs in order, in runs of at most batch_bytes (or one job)."""
    batch, size = [], 0
    for job in jobs:
        if batch and size + job.size > batch_bytes:
            yield batch
            batch, size = [], 0
        batch.append(job)
        size += job.size
    if batch:
        yield batch


def _path_text(path):
    if not isinstance(path, (str, bytes, os.PathLike)):
        raise TypeError(f"expected a path, not {type(path).__name__}")
    return os.fsdecode(os.fspath(path))


def _checked_blocksize(blocksize):
    if isinstance(blocksize, str):
        blocksize = parse_bytes(blocksize)
    if isinstance(blocksize, bool) or not isinstance(blocksize, int):
        raise TypeError(f"blocksize must be an int, not {type(blocksize).__name__}")
    if blocksize <= 0:
        raise ValueError("blocksize must be positive")
    return blocksize


def _check_names(jobs):
    seen = {}
    for job in jobs:
        if job.name in seen:
            raise ValueError(f"{seen[job.name]} and {job.given} would both be written to "
                             f"{job.output}")
        seen[job.name] = job.given


def _current_client():
    try:
        from distributed import default_client
    except ImportError:
        return None
    try:
        return default_client()
    except ValueError:  # no client
        return None


def _local_get():
    return dask.base.get_scheduler() or dask.threaded.get


def _shares_process():
    """Whether the tasks run in this process (Dask's threads, or one
    thread): then blocks may be held in memory for one another."""
    return _current_client() is None and _local_get() in (dask.threaded.get, dask.get)


def _compute(graph, keys, progress):
    """The results of the tasks named keys in graph, in their order."""
    client = _current_client()
    if client is None:
        get = _local_get()
        if not progress:
            return get(graph, keys)
        from dask.diagnostics import ProgressBar

        with ProgressBar():
            return get(graph, keys)
    futures = client.get(graph, keys, sync=False)
    try:
        if progress:
            from distributed import progress as show_progress

            show_progress(futures)
        return client.gather(futures)
    except BaseException:
        # Nothing may still write once the caller's clean-up has begun.
        client.cancel(futures)
        raise


# The tasks. They run on the workers and see nothing but their arguments.
# Dask runs a task again when its worker is lost, and the lost worker may
# have left a file half-written: so a whole file is written under a name of
# its own and renamed only when complete, and a block is written to the same
# place every time.

def _convert_small_files(files, conversion):
    """Converts each file of files whole, under a name of its own that is
    flushed and renamed over its output, without the interpreter lock;
    raises for the first that fails, which leaves nothing."""
    target, undo_double = conversion
    failed = _textmend._convert_whole_files(
        [(src, size, mtime_ns, temporary, output)
         for src, (size, mtime_ns), temporary, output in files],
        target, undo_double=undo_double)
    if failed is None:
        return
    index, what, error = failed
    src, _, temporary, output = files[index]
    if what == "changed":
        raise FileChangedError(f"{src}: file changed while being converted")
    if what == "rename":
        raise OSError(error, os.strerror(error), temporary, None, output)
    raise OSError(error, os.strerror(error), src if what == "input" else temporary)


def _measure_block(src, identity, conversion, blocksize, k):
    """(start, end, size of its conversion) of block k; None when block k has
    no cut of its own and so belongs to the block before it."""
    target, undo_double = conversion
    with open(src, "rb", buffering=0) as source:
        _check_unchanged(source, identity, src)
        bounds = _block_bounds(source, identity, blocksize, k, src, undo_double)
        if bounds is None:
            return None
        start, end = bounds
        read, converted = _textmend._measure_range(source.fileno(), start, end, target,
                                                   undo_double=undo_double)
    if read != end - start:
        raise FileChangedError(f"{src}: file changed while being converted")
    return start, end, converted


def _hold_block(name, src, identity, conversion, blocksize, k):
    """What _measure_block returns; the block converted into memory and
    reported to the placement of the run (name), which writes it when its
    place is known; only measured when that would hold too much."""
    target, undo_double = conversion
    placement = _held.placement(name)
    if placement is None:  # a task left running by a run that failed: nothing to do
        return None
    with open(src, "rb", buffering=0) as source:
        _check_unchanged(source, identity, src)
        bounds = _block_bounds(source, identity, blocksize, k, src, undo_double)
        if bounds is None:
            placement.report(k, None)
            return None
        start, end = bounds
        counted = 3 * (end - start)  # the most a conversion takes, till it is known
        memory = None
        if _held.reserve(counted):
            try:
                read, converted, memory = _textmend._convert_range_held(
                    source.fileno(), start, end, target, undo_double=undo_double,
                    reuse=_held.take_spare())
            except BaseException as error:
                _held.release(counted)
                if not isinstance(error, OSError) or error.errno != errno.ENOMEM:
                    raise
            else:
                _held.release(counted - converted)
                counted = converted
        if memory is None:  # memory short: measured, and written in the second round
            read, converted = _textmend._measure_range(source.fileno(), start, end, target,
                                                       undo_double=undo_double)
    if read != end - start:
        if memory is not None:
            _held.release(counted)
        raise FileChangedError(f"{src}: file changed while being converted")
    block = (start, end, converted)
    placement.report(k, block, None if memory is None else (memory, counted))
    return block


def _block_bounds(source, identity, blocksize, k, src, undo_double):
    """(start, end) of block k, None when it has no cut of its own."""
    size = identity[0]
    start = 0 if k == 0 else _cut(source, k, blocksize, size, src, undo_double)
    if start is None:
        return None
    for later in range(k + 1, -(-size // blocksize)):
        cut = _cut(source, later, blocksize, size, src, undo_double)
        if cut is not None:
            return start, cut
    return start, size


def _place_blocks(measured):
    """(start, end, size, offset in the output) of each block measured; None
    for a block that belongs to the one before it."""
    placed = []
    offset = 0
    for block in measured:
        placed.append(None if block is None else (*block, offset))
        offset += 0 if block is None else block[2]
    return placed


def _write_block(src, identity, conversion, block, temporary):
    """Converts a placed block into temporary."""
    target, undo_double = conversion
    start, end, size, offset = block
    with open(src, "rb", buffering=0) as source:
        _check_unchanged(source, identity, src)
        # Never created here: once a failed run has removed it, it stays removed.
        fd = os.open(temporary, os.O_WRONLY | os.O_CLOEXEC)
        try:
            read, written = _textmend._convert_range(source.fileno(), start, end, fd, target,
                                                     offset, undo_double=undo_double)
        finally:
            os.close(fd)
    if (read, written) != (end - start, size):
        raise FileChangedError(f"{src}: file changed while being converted")


def _cut(source, k, blocksize, size, name, newline_only=False):
    """Where block k starts: just after the first newline at or past its
    nominal start k * blocksize, within one block; failing that, just after
    the first byte below 0x80 there (unless newline_only: undoing decides a
    line at a time); None when there is neither."""
    position = k * blocksize
    end = min(position + blocksize, size)
    first_below_0x80 = None
    source.seek(position)
    while position < end:
        chunk = _read_exactly(source, min(_CHUNK, end - position), name)
        newline = chunk.find(b"\n")
        if newline >= 0:
            return position + newline + 1
        if first_below_0x80 is None and not newline_only:
            found = _BELOW_0X80.search(chunk)
            if found:
                first_below_0x80 = position + found.start() + 1
        position += len(chunk)
    return first_below_0x80


def _read_exactly(source, count, name):
    data = source.read(count)
    if len(data) != count:
        raise FileChangedError(f"{name}: file changed while being converted")
    return data


def _check_unchanged(source, identity, name):
    info = os.fstat(source.fileno())
    if [info.st_size, info.st_mtime_ns] != list(identity):
        raise FileChangedError(f"{name}: file changed while being converted")


def _remove_quietly(path):
    try:
        os.remove(path)
    except FileNotFoundError:
        pass


# The command line.

def _message(error):
    """'file: reason', as the other programs say it."""
    if isinstance(error, OSError) and error.strerror:
        if error.filename is not None:
            return f"{os.fsdecode(error.filename)}: {error.strerror}"
        return error.strerror
    return str(error)


def _seconds(text):
    try:
        value = float(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"not a number of seconds: '{text}'") from None
    if not value > 0:
        raise argparse.ArgumentTypeError("must be positive")
    return value


def main(argv: Union[Sequence[str], None] = None) -> int:
    """The command line (python3 -m textmend.dask); returns the exit status."""
    parser = argparse.ArgumentParser(
        prog="python3 -m textmend.dask",
        description="Repairs files of mixed UTF-8 and Latin-1/Windows-1252 on a Dask cluster, "
                    "each into OUTPUT_DIR under its own name.")
    targets = parser.add_mutually_exclusive_group()
    targets.add_argument("-w", dest="target", action="store_const", const="windows-1252",
                         help="write Windows-1252 instead of Latin-1")
    targets.add_argument("-u", dest="target", action="store_const", const="utf-8",
                         help="write UTF-8 instead of Latin-1")
    parser.add_argument("--scheduler", metavar="ADDRESS",
                        help="the address of a dask.distributed scheduler "
                             "(default: Dask's local threads)")
    parser.add_argument("--timeout", metavar="SECONDS", type=_seconds, default=10.0,
                        help="how long to try to reach the scheduler (default: 10)")
    parser.add_argument("--blocksize", metavar="SIZE", default=str(DEFAULT_BLOCKSIZE),
                        help="bytes per task, such as 16MiB (default: 64MiB)")
    parser.add_argument("--undo-double", action="store_true",
                        help="also undo text encoded twice (UTF-8 saved again as if it were "
                             "Latin-1), in lines that read no other way")
    parser.add_argument("--no-progress", action="store_true",
                        help="no progress bar (shown by default when standard error is a "
                             "terminal)")
    parser.add_argument("output_dir", metavar="OUTPUT_DIR")
    parser.add_argument("files", metavar="FILE", nargs="+")
    args = parser.parse_args(argv)
    try:
        blocksize = parse_bytes(args.blocksize)
    except (ValueError, TypeError):
        parser.error(f"argument --blocksize: not a size: '{args.blocksize}'")
    if blocksize <= 0:
        parser.error("argument --blocksize: must be positive")
    progress = not args.no_progress and sys.stderr.isatty()

    def run():
        # Dask draws its bars on standard output; this program's go to
        # standard error, which is where a terminal user looks for them.
        with contextlib.redirect_stdout(sys.stderr):
            convert_files(args.files, args.output_dir, args.target or "latin1", blocksize,
                          progress=progress, undo_double=args.undo_double)

    try:
        if args.scheduler is None:
            run()
        else:
            from distributed import Client

            with Client(args.scheduler, timeout=args.timeout):
                run()
    except (OSError, ValueError, RuntimeError) as error:
        print(f"textmend.dask: {_message(error)}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    # Run through the imported module, so that the tasks a cluster receives
    # name textmend.dask rather than this script.
    from textmend.dask import main as _imported_main

    sys.exit(_imported_main())
