"""Converting many files, or one huge file, on a Dask cluster.

    >>> from textmend.dask import convert_files
    >>> convert_files(["a.txt", "b.txt"], "out", target="utf-8")
    ['out/a.txt', 'out/b.txt']

Each file is cut into blocks of about ``blocksize`` bytes and every block is
one task. A block ends just after the first newline past its nominal end
(or, where the next block holds no newline, just after its first byte below
0x80): a byte below 0x80 is never part of a sequence and every byte after it
is judged afresh, so the converted blocks joined are exactly the conversion
of the whole file. Where a cut falls is a function of the file's bytes alone,
so the tasks agree on it without talking to each other.

Blocks are written next to their output as hidden part files, then joined
into a temporary file that is renamed over the output: a reader never sees
half an output. Every task writes under a name of its own and renames it
into place only when it is complete, so a task that Dask runs again (its
worker died) finds nothing in its way; what a dead worker left is removed
when the run ends. The inputs and the output directory must be reachable under
the same names from every worker (a shared file system on a real cluster).

From the command line::

    python3 -m textmend.dask [-w|-u] [--scheduler ADDRESS] [--timeout SECONDS]
                             [--blocksize SIZE] [--no-progress] OUTPUT_DIR FILE...

It shows Dask's progress bar on standard error when that is a terminal.
"""

import argparse
import contextlib
import errno
import glob
import os
import re
import shutil
import stat
import sys
import uuid
from typing import List, Sequence, Union

import dask
from dask.utils import parse_bytes

from . import _textmend, convert

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
                  progress: bool = False) -> List[str]:
    """Converts each file of paths into output_dir under its base name.

    paths: the input files (str, bytes or os.PathLike each), regular files
    of distinct base names. output_dir: an existing directory. target: as
    for textmend.convert ('latin1', 'windows-1252', 'utf-8' or another name
    Python's codecs give them). blocksize: bytes per task, an int or a size
    such as "16MiB". progress: show Dask's progress bar (the distributed
    progress bar with a client, dask.diagnostics.ProgressBar without) on
    standard output.

    Returns the output paths in the order of paths. Uses the current
    dask.distributed client when there is one, else Dask's default
    scheduler. Raises ValueError for a wrong target, block size, two inputs
    of one base name or an output that would replace its own input,
    TypeError for arguments of the wrong type, OSError when a file cannot be
    read or written, FileChangedError when an input changes meanwhile.
    """
    if isinstance(paths, (str, bytes, os.PathLike)):
        raise TypeError("paths must be a list of paths, not a single path")
    convert(b"", target)  # the same ValueError or TypeError as everywhere else
    blocksize = _checked_blocksize(blocksize)
    output_dir = _path_text(output_dir)
    if not os.path.isdir(output_dir):
        raise NotADirectoryError(errno.ENOTDIR, os.strerror(errno.ENOTDIR), output_dir)

    jobs = [_Job(_path_text(path), output_dir) for path in paths]
    _check_names(jobs)
    tasks = [job.task(target, blocksize) for job in jobs]
    if not tasks:
        return []
    try:
        _compute(tasks, progress)
    finally:
        # Parts of a failed run, or files of tasks whose worker died.
        for job in jobs:
            job.remove_leftovers()
    return [job.output for job in jobs]


class _Job:
    """One input file and what becomes of it."""

    def __init__(self, path, output_dir):
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
        if os.path.exists(self.output) and os.path.samefile(self.input, self.output):
            raise ValueError(f"{path}: the output would replace the input; "
                             "use textmend.convert_file to convert in place")
        # Hidden names next to the output, unique to this run.
        self.scratch = os.path.join(os.path.abspath(output_dir),
                                    f".{self.name}.textmend-{uuid.uuid4().hex}")

    def task(self, target, blocksize):
        size = self.identity[0]
        final = os.path.join(os.path.dirname(self.scratch), self.name)
        blocks = max(1, -(-size // blocksize))
        if blocks == 1:
            return dask.delayed(_convert_whole, pure=False)(
                self.input, self.identity, target, f"{self.scratch}.tmp", final,
                dask_key_name=f"textmend-{self.scratch}")
        parts = [
            dask.delayed(_convert_block, pure=False)(
                self.input, self.identity, target, blocksize, k, f"{self.scratch}.{k}",
                dask_key_name=f"textmend-{self.scratch}-{k}")
            for k in range(blocks)
        ]
        return dask.delayed(_join_parts, pure=False)(
            parts, f"{self.scratch}.tmp", final, dask_key_name=f"textmend-{self.scratch}-join")

    def remove_leftovers(self):
        for path in glob.glob(glob.escape(self.scratch) + ".*"):
            _remove_quietly(path)


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


def _compute(tasks, progress):
    client = _current_client()
    if client is None:
        if not progress:
            dask.compute(*tasks)
            return
        from dask.diagnostics import ProgressBar

        with ProgressBar():
            dask.compute(*tasks)
        return
    futures = client.compute(tasks)
    try:
        if progress:
            from distributed import progress as show_progress

            show_progress(futures)
        client.gather(futures)
    except BaseException:
        # Nothing may still write once the caller's clean-up has begun.
        client.cancel(futures)
        raise


# The tasks. They run on the workers and see nothing but their arguments.
# Dask runs a task again when its worker is lost, and the lost worker may
# have left a file half-written: so each run of a task writes a file of its
# own name and renames it to the name the other tasks expect only when it is
# complete.

def _attempt_name(path):
    """A name for one run of a task to write what becomes path."""
    return f"{path}.{uuid.uuid4().hex[:12]}.tmp"


def _convert_whole(src, identity, target, temporary, output):
    temporary = _attempt_name(temporary)
    with open(src, "rb", buffering=0) as source:
        _check_unchanged(source, identity, src)
        try:
            with open(temporary, "xb", buffering=0) as out:
                _convert_range(source, 0, identity[0], target, out, src)
                _flush(out)
            os.replace(temporary, output)
        except BaseException:
            _remove_quietly(temporary)
            raise
    return output


def _convert_block(src, identity, target, blocksize, k, part):
    """Converts block k into the file part; None when block k has no cut of
    its own and so belongs to the block before it."""
    size = identity[0]
    with open(src, "rb", buffering=0) as source:
        _check_unchanged(source, identity, src)
        start = 0 if k == 0 else _cut(source, k, blocksize, size, src)
        if start is None:
            return None
        end = size
        for later in range(k + 1, -(-size // blocksize)):
            cut = _cut(source, later, blocksize, size, src)
            if cut is not None:
                end = cut
                break
        attempt = _attempt_name(part)
        try:
            with open(attempt, "xb", buffering=0) as out:
                _convert_range(source, start, end, target, out, src)
            os.replace(attempt, part)
        except BaseException:
            _remove_quietly(attempt)
            raise
    return part


def _join_parts(parts, temporary, output):
    parts = [part for part in parts if part is not None]
    # Parts are removed only once the output holding them is in place: when
    # one is gone, an earlier run of this task finished the join and its
    # worker died before it could say so.
    if any(not os.path.exists(part) for part in parts) and os.path.exists(output):
        for part in parts:
            _remove_quietly(part)
        return output
    temporary = _attempt_name(temporary)
    try:
        with open(temporary, "xb", buffering=0) as out:
            for part in parts:
                _append(out, part)
            _flush(out)
        os.replace(temporary, output)
    except BaseException:
        _remove_quietly(temporary)
        raise
    finally:
        for part in parts:
            _remove_quietly(part)
    return output


def _cut(source, k, blocksize, size, name):
    """Where block k starts: just after the first newline at or past its
    nominal start k * blocksize, within one block; failing that, just after
    the first byte below 0x80 there; None when there is neither."""
    position = k * blocksize
    end = min(position + blocksize, size)
    first_below_0x80 = None
    source.seek(position)
    while position < end:
        chunk = _read_exactly(source, min(_CHUNK, end - position), name)
        newline = chunk.find(b"\n")
        if newline >= 0:
            return position + newline + 1
        if first_below_0x80 is None:
            found = _BELOW_0X80.search(chunk)
            if found:
                first_below_0x80 = position + found.start() + 1
        position += len(chunk)
    return first_below_0x80


def _convert_range(source, start, end, target, out, name):
    # In the compiled module, through fixed buffers: Dask's workers make the
    # allocator hand large blocks back at once, which would make every
    # Python bytes object of a megabyte a fresh set of page faults.
    if _textmend._convert_range(source.fileno(), start, end, out.fileno(), target) != end - start:
        raise FileChangedError(f"{name}: file changed while being converted")


def _append(out, part):
    """Copies the file part onto the end of out, in the kernel where it can."""
    with open(part, "rb", buffering=0) as piece:
        size = os.fstat(piece.fileno()).st_size
        if not hasattr(os, "copy_file_range"):
            shutil.copyfileobj(piece, out, _CHUNK)
            return
        copied = 0
        while copied < size:
            count = os.copy_file_range(piece.fileno(), out.fileno(), size - copied)
            if count == 0:
                raise FileChangedError(f"{part}: part file changed while being joined")
            copied += count


def _read_exactly(source, count, name):
    data = source.read(count)
    if len(data) != count:
        raise FileChangedError(f"{name}: file changed while being converted")
    return data


def _check_unchanged(source, identity, name):
    info = os.fstat(source.fileno())
    if (info.st_size, info.st_mtime_ns) != identity:
        raise FileChangedError(f"{name}: file changed while being converted")


def _flush(out):
    os.fsync(out.fileno())


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
                          progress=progress)

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
