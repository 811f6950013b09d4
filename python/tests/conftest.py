"""What the Python tests share: the programs built beside the package (the
reference they are compared with) and random mixed text."""

import os
import random
import subprocess

import pytest

import textmend

# target name -> the program's option for it
TARGETS = {"latin1": [], "windows-1252": ["-w"], "utf-8": ["-u"]}


def _program(variable, name):
    path = os.environ.get(variable)
    if path is None:  # a build directory: <build>/textmend/ and <build>/bin/
        package_parent = os.path.dirname(os.path.dirname(textmend.__file__))
        path = os.path.join(package_parent, "bin", name)
    if not os.access(path, os.X_OK):
        pytest.skip(f"{name} not found at {path}; set {variable}")
    return path


@pytest.fixture(scope="session")
def textmend_binary():
    return _program("TEXTMEND_BINARY", "textmend")


@pytest.fixture(scope="session")
def report_binary():
    return _program("TEXTMEND_REPORT_BINARY", "textmend-report")


@pytest.fixture
def program_convert(textmend_binary, tmp_path):
    """The textmend program's output for data."""
    count = 0

    def run(data, target):
        nonlocal count
        count += 1
        source, output = tmp_path / f"in{count}", tmp_path / f"out{count}"
        source.write_bytes(data)
        subprocess.run([textmend_binary, *TARGETS[target], source, output], check=True)
        return output.read_bytes()

    return run


# Pieces of text that are hard to repair: UTF-8 and Latin-1 side by side,
# Windows-1252 bytes, sequences cut short, overlong and over-long forms.
_PIECES = [
    b"Gr\xc3\xbc\xc3\x9fe ", b"caf\xe9 ", b"na\xefve ", b"\xe2\x82\xac", b"\x80\x9f\x81",
    b"\xc3", b"\xa9", b"\xe2\x82", b"\xc0\x80", b"\xf0\x9f\x98\x80", b"\xf8\x88\x80\x80\x80",
    b"\xed\xa0\x80", b"\xfe\xff", b"\n", b"\r\n", b"plain ascii text ", b"\x00\x7f",
]


def random_mixed(rng, length):
    out = bytearray()
    while len(out) < length:
        if rng.random() < 0.2:
            out += bytes(rng.randrange(256) for _ in range(rng.randrange(1, 6)))
        else:
            out += rng.choice(_PIECES)
    return bytes(out[:length])


@pytest.fixture
def rng():
    return random.Random(1234)
