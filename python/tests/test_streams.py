"""textmend.convert_stream: file objects of every kind against convert()."""

import io
import os
import select
import subprocess
import sys
import time

import pytest

import textmend
from conftest import TARGETS, random_mixed


class ReadOnly:
    """A source with nothing but read(): bytes of random lengths at a time."""

    def __init__(self, data, rng):
        self.data, self.at, self.rng = data, 0, rng

    def read(self, size=-1):
        count = min(size, self.rng.randrange(1, 5000))
        piece = self.data[self.at:self.at + count]
        self.at += len(piece)
        return piece


class Collector:
    """A destination whose write() returns nothing and keeps what it is given."""

    def __init__(self):
        self.pieces = []

    def write(self, data):
        self.pieces.append(data)


class ShortWrites(io.RawIOBase):
    """A raw destination that takes at most 7 bytes a call."""

    def __init__(self):
        self.data = bytearray()

    def writable(self):
        return True

    def write(self, data):
        taken = bytes(data[:7])
        self.data += taken
        return len(taken)


# Sizes around the megabyte that is read at a time.
SIZES = [0, 1, 100, 70000, (1 << 20) + 3]


@pytest.mark.parametrize("target", TARGETS)
def test_file_objects_of_every_kind_give_convert(target, rng, tmp_path):
    for size in SIZES:
        data = (random_mixed(rng, 65536) * (size // 65536 + 1))[:size]
        expected = textmend.convert(data, target)
        out = io.BytesIO()
        stats = textmend.convert_stream(io.BytesIO(data), out, target)
        assert out.getvalue() == expected, size
        assert stats == {"bytes_in": len(data), "bytes_out": len(expected)}

        collected = Collector()
        textmend.convert_stream(ReadOnly(data, rng), collected, target)
        assert b"".join(collected.pieces) == expected

        short = ShortWrites()
        textmend.convert_stream(io.BytesIO(data), short, target)
        assert bytes(short.data) == expected

        path = tmp_path / "in"
        path.write_bytes(data)
        with open(path, "rb") as buffered, open(tmp_path / "out", "wb") as written:
            textmend.convert_stream(buffered, written, target)
        assert (tmp_path / "out").read_bytes() == expected
        with open(path, "rb", buffering=0) as raw, open(tmp_path / "out", "wb", buffering=0) as w:
            textmend.convert_stream(raw, w, target)
        assert (tmp_path / "out").read_bytes() == expected


DAMAGED = "Grüße aus Köln – l’été à Noël\n".encode("utf-8").decode("latin-1").encode("utf-8")


@pytest.mark.parametrize("target", TARGETS)
def test_undoing_through_file_objects_gives_convert(target, rng):
    # Damaged and random lines, one longer than a megabyte read (with a real
    # é at its end, which keeps it from being undone), and a damaged last
    # line without a newline.
    lines = b"".join(random_mixed(rng, 300) + b"\n" + DAMAGED for _ in range(300))
    long_line = DAMAGED[:-1] + b"x" * (1 << 20) + " é\n".encode("utf-8")
    data = lines + long_line + lines + DAMAGED[:-1]
    expected = textmend.convert(data, target, undo_double=True)
    assert expected != textmend.convert(data, target)
    out = io.BytesIO()
    stats = textmend.convert_stream(io.BytesIO(data), out, target, undo_double=True)
    assert out.getvalue() == expected
    assert stats == {"bytes_in": len(data), "bytes_out": len(expected)}
    collected = Collector()
    textmend.convert_stream(ReadOnly(data, rng), collected, target, undo_double=True)
    assert b"".join(collected.pieces) == expected
    with pytest.raises(TypeError, match="undo_double"):
        textmend.convert_stream(io.BytesIO(data), out, target, undo_double=None)


def test_what_the_objects_raise_is_passed_on():
    class Failing(io.BytesIO):
        def write(self, data):
            raise OSError(28, "No space left on device")

    with pytest.raises(OSError, match="No space left"):
        textmend.convert_stream(io.BytesIO(b"caf\xe9\n"), Failing())


# A child that converts its standard input to its standard output.
_FILTER = "import sys, textmend; textmend.convert_stream(sys.stdin.buffer, sys.stdout.buffer, 'utf-8')"


def _read_within(fd, seconds):
    ready, _, _ = select.select([fd], [], [], seconds)
    return os.read(fd, 4096) if ready else b""


def test_a_pipe_gets_each_line_as_it_comes():
    child = subprocess.Popen([sys.executable, "-c", _FILTER], stdin=subprocess.PIPE,
                             stdout=subprocess.PIPE)
    try:
        lines = [b"line1 K\xe4se\n", b"line2 caf\xc3\xa9\n", b"line3\n"]
        for line in lines:
            child.stdin.write(line)
            child.stdin.flush()
            # The line comes out converted while the pipe is still open. A
            # generous wait: a loaded machine must not fail it.
            got = b""
            deadline = time.monotonic() + 5
            expected = textmend.convert(line, "utf-8")
            while len(got) < len(expected) and time.monotonic() < deadline:
                got += _read_within(child.stdout.fileno(), 0.2)
            assert got == expected
        child.stdin.close()
        assert child.stdout.read() == b""
        assert child.wait(timeout=10) == 0
    finally:
        child.kill()
        child.wait()
