"""Blocks converted into memory and written as soon as their place is known.

With Dask's threads the tasks of textmend.dask share one process. A task of
the first round then converts its block into memory instead of only
measuring it, and reports it to the file's _Placement. Once every block
before it has reported its size, the block's place in the output is known
and whichever task learnt it writes the block there: the block is read and
converted once instead of twice. Blocks wait in memory up to a bound for
the whole process; past it a block is only measured, as on a cluster, and
written by the second round.
"""

import os
import threading

from . import _textmend

# Memory that blocks waiting for their place may take, in all: an eighth of
# the machine's. Tasks run roughly in order, so little of it is used at once.
_HOLD_BYTES = (os.sysconf("SC_PAGE_SIZE") * os.sysconf("SC_PHYS_PAGES")) // 8

_budget_lock = threading.Lock()
_held_bytes = 0

# Blocks written already, kept while a run is under way so that the next
# block is converted into memory whose pages are faulted in (fresh memory
# costs about as much as the conversion). A few: tasks run in order.
_SPARE_MAX = 4
_spare = []

# The placements of the runs under way, by the job's hidden name.
_placements = {}

_UNREPORTED = object()


def reserve(size):
    """True when size more bytes may be held; they are then counted."""
    global _held_bytes
    with _budget_lock:
        if _held_bytes + size > _HOLD_BYTES:
            return False
        _held_bytes += size
        return True


def release(size):
    global _held_bytes
    with _budget_lock:
        _held_bytes -= size


def take_spare():
    """A block written already, to convert into again; None when none is."""
    with _budget_lock:
        return _spare.pop() if _spare else None


def _give_back(memory):
    with _budget_lock:
        if _placements and len(_spare) < _SPARE_MAX:
            _spare.append(memory)


class _Placement:
    """The blocks of one large file as the first round reports them."""

    def __init__(self, blocks, temporary):
        self.lock = threading.Lock()
        self.temporary = temporary
        self.reports = [_UNREPORTED] * blocks
        self.held = {}  # block number: (block in memory, bytes counted)
        self.written = set()
        self.placed = 0  # every block before this one has reported
        self.offset = 0  # where the output of block `placed` begins
        self.closed = False

    def report(self, k, block, held=None):
        """Block k is (start, end, size) or None (it belongs to the block
        before it); held: (its conversion in memory, bytes counted) or None.
        Writes every held block whose place this report makes known."""
        with self.lock:
            if self.closed:
                _drop([] if held is None else [held])
                return
            self.reports[k] = block
            if held is not None:
                self.held[k] = held
            ready = []
            while self.placed < len(self.reports):
                reported = self.reports[self.placed]
                if reported is _UNREPORTED:
                    break
                if reported is not None:
                    if self.placed in self.held:
                        ready.append((self.placed, self.held.pop(self.placed), self.offset))
                    self.offset += reported[2]
                self.placed += 1
        self._write(ready)

    def _write(self, ready):
        if not ready:
            return
        try:
            # Never created here: once a failed run has removed it, it stays removed.
            fd = os.open(self.temporary, os.O_WRONLY | os.O_CLOEXEC)
            try:
                while ready:
                    k, (memory, counted), offset = ready[0]
                    _textmend._write_held(memory, fd, offset)
                    release(counted)
                    _give_back(memory)
                    ready.pop(0)
                    with self.lock:
                        self.written.add(k)
            finally:
                os.close(fd)
        finally:
            _drop([held for _, held, _ in ready])

    def close(self):
        """Lets every block still held go; later reports write nothing."""
        with self.lock:
            self.closed = True
            held, self.held = list(self.held.values()), {}
        _drop(held)


def _drop(held):
    for _, counted in held:
        release(counted)


def open_placement(name, blocks, temporary):
    placement = _Placement(blocks, temporary)
    _placements[name] = placement
    return placement


def close_placement(name):
    placement = _placements.pop(name, None)
    if placement is not None:
        placement.close()
    with _budget_lock:
        if not _placements:
            _spare.clear()  # no run under way: the memory goes back


def placement(name):
    """The placement of a run under way; None once it has ended."""
    return _placements.get(name)
