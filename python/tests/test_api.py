"""textmend's Python API against the programs built from the same library."""

import inspect
import io
import json
import os
import subprocess
import sys
import threading

import pytest

import textmend
from conftest import TARGETS, random_mixed

LENGTHS = [0, 1, 2, 3, 7, 31, 32, 33, 64, 100, 255, 1000, 4096, 20000, 300000]


@pytest.mark.parametrize("target", TARGETS)
def test_convert_matches_the_program(target, rng, program_convert):
    for length in LENGTHS:
        data = random_mixed(rng, length)
        expected = program_convert(data, target)
        assert textmend.convert(data, target) == expected, length
        assert textmend.convert(bytearray(data), target) == expected
        assert textmend.convert(memoryview(data), target) == expected


def test_convert_takes_any_bytes_like_object(rng):
    data = random_mixed(rng, 500)
    expected = textmend.convert(data[::3], "utf-8")
    assert textmend.convert(memoryview(data)[::3], "utf-8") == expected  # strided
    assert textmend.convert(memoryview(data).cast("B", (25, 20))[::3], "utf-8") == \
        textmend.convert(b"".join(data[i * 20:i * 20 + 20] for i in range(0, 25, 3)), "utf-8")


DAMAGED = "Grüße aus Köln – l’été à Noël\n".encode("utf-8").decode("latin-1").encode("utf-8")


@pytest.mark.parametrize("target", TARGETS)
def test_convert_undoes_double_encoding_only_when_asked(target, rng):
    original = "Grüße aus Köln – l’été à Noël\n".encode("utf-8")
    assert textmend.convert(DAMAGED, target, undo_double=True) == textmend.convert(original, target)
    assert textmend.convert(DAMAGED, target) == textmend.convert(DAMAGED, target, undo_double=False)
    assert textmend.convert(DAMAGED, target) != textmend.convert(original, target)
    # A line that also holds a character of its own is left alone; large
    # inputs (converted without the lock) and writable ones give the same.
    legitimate = "«ÉTÉ» Ã©\n".encode("utf-8")
    assert textmend.convert(legitimate, target, undo_double=True) == \
        textmend.convert(legitimate, target)
    mixed = b"".join(random_mixed(rng, 50) + b"\n" + DAMAGED for _ in range(3000))
    expected = b"".join(textmend.convert(line + b"\n", target, undo_double=True)
                        for line in mixed.split(b"\n")[:-1])
    assert textmend.convert(mixed, target, undo_double=True) == expected
    assert textmend.convert(bytearray(mixed), target, undo_double=True) == expected


def test_undo_double_result_as_long_as_the_input_is_still_converted():
    # In UTF-8 the undone line is 2 bytes shorter, the Latin-1 line 2 longer.
    data = "café\n".encode("utf-8").decode("latin-1").encode("utf-8") + b"\xe9\xe9\n"
    result = textmend.convert(data, "utf-8", undo_double=True)
    assert result == "café\néé\n".encode("utf-8")
    clean = "café\n".encode("utf-8")
    assert textmend.convert(clean, "utf-8", undo_double=True) is clean


def test_undo_double_must_be_a_bool():
    with pytest.raises(TypeError, match="undo_double"):
        textmend.convert(b"x", "utf-8", undo_double=1)
    with pytest.raises(TypeError):
        textmend.convert(b"x", "utf-8", True)  # keyword only


@pytest.mark.parametrize("target", TARGETS)
def test_stream_in_random_pieces_equals_the_whole(target, rng):
    converter = textmend.StreamConverter(target)
    for _ in range(60):
        data = random_mixed(rng, rng.randrange(3000))
        out = bytearray()
        at = 0
        while at < len(data):
            size = rng.choice([1, 2, 3, rng.randrange(1, 300)])
            out += converter.feed(data[at:at + size])
            at += size
        out += converter.finish()
        converter.reset()
        assert bytes(out) == textmend.convert(data, target)


def test_feed_after_finish_is_refused_until_reset():
    converter = textmend.StreamConverter("utf-8")
    assert converter.feed(b"caf\xe9 \xc3") + converter.finish() == b"caf\xc3\xa9 \xc3\x83"
    with pytest.raises(ValueError, match="after finish"):
        converter.feed(b"more")
    assert converter.finish() == b""
    converter.reset()
    assert converter.feed(b"\xc3") == b""  # held back: it may start a sequence
    converter.reset()  # drops it
    assert converter.feed(b"\xa9\n") + converter.finish() == b"\xc2\xa9\n"


# Every name Python's codecs resolve to one of the three encodings, and the
# names used before; results always give the canonical name.
@pytest.mark.parametrize("alias, name", [
    ("latin1", "latin1"), ("latin-1", "latin1"), ("Latin_1", "latin1"), ("iso-8859-1", "latin1"),
    ("ISO8859-1", "latin1"), ("iso_8859_1", "latin1"), ("L1", "latin1"), ("cp819", "latin1"),
    ("windows-1252", "windows-1252"), ("Windows-1252", "windows-1252"), ("cp1252", "windows-1252"),
    ("CP1252", "windows-1252"),
    ("utf-8", "utf-8"), ("utf8", "utf-8"), ("UTF-8", "utf-8"), ("U8", "utf-8"), ("utf_8", "utf-8"),
    ("UTF-8 ", "utf-8"),
])
def test_target_names_and_aliases(alias, name, rng):
    data = random_mixed(rng, 2000)
    assert textmend.convert(data, alias) == textmend.convert(data, name)
    assert textmend.convert(data, target=alias) == textmend.convert(data, name)
    assert textmend.convert_many([data], alias) == [textmend.convert(data, name)]
    assert textmend.StreamConverter(alias).target == name
    assert textmend.StreamConverter(target=alias).target == name
    assert textmend.report(data, alias)["target"] == name


def test_a_str_subclass_names_a_target_too(rng):
    class Name(str):
        pass

    data = random_mixed(rng, 100)
    assert textmend.convert(data, Name("UTF-8")) == textmend.convert(data, "utf-8")


def test_defaults_are_latin1(rng):
    data = random_mixed(rng, 2000)
    assert textmend.convert(data) == textmend.convert(data, "latin1")
    assert textmend.StreamConverter().target == "latin1"
    assert textmend.report(data)["target"] == "latin1"


@pytest.mark.parametrize("target", TARGETS)
@pytest.mark.parametrize("max_examples", [0, 3, None])
def test_report_matches_the_report_program(target, max_examples, rng, report_binary, tmp_path):
    for length in [0, 5, 300, 5000, -1]:
        # -1: mixed lines and lines encoded twice
        data = (random_mixed(rng, length) if length >= 0 else
                b"".join(random_mixed(rng, 40) + b"\n" + DAMAGED for _ in range(30)))
        source = tmp_path / "in"
        source.write_bytes(data)
        options = [] if max_examples is None else ["--max-examples", str(max_examples)]
        line = subprocess.run([report_binary, "--json", *TARGETS[target], *options, source],
                              capture_output=True, check=False).stdout
        expected = json.loads(line)
        del expected["file"]
        keywords = {} if max_examples is None else {"max_examples": max_examples}
        assert textmend.report(data, target, **keywords) == expected


# Wrong calls: the error, and words its message must hold (the function and
# the argument, as Python's own messages name them).
@pytest.mark.parametrize("call, error, words", [
    (lambda: textmend.convert("text"), TypeError, ["convert()", "'data'", "bytes-like", "'str'"]),
    (lambda: textmend.convert(12), TypeError, ["'data'", "'int'"]),
    (lambda: textmend.convert(None), TypeError, ["'data'", "'NoneType'"]),
    (lambda: textmend.convert(), TypeError, ["convert()", "missing", "'data'"]),
    (lambda: textmend.convert(b"", "utf-8", 3), TypeError, ["convert()", "at most 2"]),
    (lambda: textmend.convert(b"", targt="utf-8"), TypeError, ["unexpected", "'targt'"]),
    (lambda: textmend.convert(b"", "utf-8", target="utf-8"), TypeError,
     ["multiple values", "'target'"]),
    (lambda: textmend.convert(b"", "latin-9"), ValueError, ["'target'", "'latin-9'", "'utf-8'"]),
    (lambda: textmend.convert(b"", "utf-8-sig"), ValueError, ["'utf-8-sig'"]),
    (lambda: textmend.convert(b"", "ascii"), ValueError, ["'ascii'"]),
    (lambda: textmend.convert(b"", ""), ValueError, ["unknown target"]),
    (lambda: textmend.convert(b"", "utf-\udcff"), ValueError, ["unknown target"]),
    (lambda: textmend.convert(b"", b"utf-8"), TypeError, ["'target'", "str", "'bytes'"]),
    (lambda: textmend.convert(b"", None), TypeError, ["'target'", "'NoneType'"]),
    (lambda: textmend.convert_many("text"), TypeError, ["convert_many()", "'items'"]),
    (lambda: textmend.convert_many(b"text"), TypeError, ["'items'"]),
    (lambda: textmend.convert_many(5), TypeError, ["'items'", "'int'"]),
    (lambda: textmend.convert_many([b"a", b"b", "c"]), TypeError, ["item 2", "'str'"]),
    (lambda: textmend.convert_many([b"a"], "latin-9"), ValueError, ["'latin-9'"]),
    (lambda: textmend.StreamConverter("ascii"), ValueError, ["'ascii'"]),
    (lambda: textmend.StreamConverter(1), TypeError, ["'target'", "'int'"]),
    (lambda: textmend.StreamConverter(targt="utf-8"), TypeError, ["'targt'"]),
    (lambda: textmend.StreamConverter().feed("text"), TypeError, ["feed()", "'data'"]),
    (lambda: textmend.StreamConverter().feed(), TypeError, ["feed()", "'data'"]),
    (lambda: textmend.StreamConverter().finish(1), TypeError, ["finish()"]),
    (lambda: textmend.report("text"), TypeError, ["report()", "'data'"]),
    (lambda: textmend.report(b"", "utf-16"), ValueError, ["'utf-16'"]),
    (lambda: textmend.report(b"", max_examples=-1), ValueError, ["'max_examples'"]),
    (lambda: textmend.report(b"", max_examples="3"), TypeError, ["'max_examples'", "'str'"]),
    (lambda: textmend.report(b"", "latin1", 3), TypeError, ["report()", "positional"]),
    (lambda: textmend.convert_file("a", "b", "latin2"), ValueError, ["'latin2'"]),
    (lambda: textmend.convert_file(1.5, "b"), TypeError, ["convert_file()", "'src'", "'float'"]),
    (lambda: textmend.convert_file("a", None), TypeError, ["'dst'", "'NoneType'"]),
    (lambda: textmend.convert_stream(b"data", io.BytesIO()), TypeError,
     ["convert_stream()", "'src'"]),
    (lambda: textmend.convert_stream(io.BytesIO(), "out.txt"), TypeError, ["'dst'", "'str'"]),
    (lambda: textmend.convert_stream(io.StringIO("text"), io.BytesIO()), TypeError,
     ["'src'", "'str'"]),
])
def test_wrong_arguments(call, error, words):
    with pytest.raises(error) as raised:
        call()
    for word in words:
        assert word in str(raised.value)


def test_signatures_name_every_parameter():
    def signature(function):
        return str(inspect.signature(function))

    assert signature(textmend.convert) == "(data, target='latin1', *, undo_double=False)"
    assert signature(textmend.convert_many) == "(items, target='latin1')"
    assert signature(textmend.report) == "(data, target='latin1', *, max_examples=10)"
    assert signature(textmend.convert_file) == "(src, dst, target='latin1', *, undo_double=False)"
    assert signature(textmend.convert_stream) == "(src, dst, target='latin1', *, undo_double=False)"
    assert signature(textmend.StreamConverter) == "(target='latin1')"
    assert signature(textmend.StreamConverter.feed) == "(self, /, data)"
    for function in [textmend.convert, textmend.convert_many, textmend.report,
                     textmend.convert_file, textmend.convert_stream, textmend.StreamConverter]:
        assert "Raises" in function.__doc__ and "--" not in function.__doc__.splitlines()[0]


@pytest.mark.parametrize("target", TARGETS)
def test_convert_many_is_convert_of_each(target, rng):
    items = [random_mixed(rng, rng.randrange(0, 200)) for _ in range(300)]
    items += [random_mixed(rng, 10000), b"", b"plain"]
    expected = [textmend.convert(item, target) for item in items]
    assert textmend.convert_many(items, target) == expected
    assert textmend.convert_many(iter(items), target) == expected  # any iterable
    assert textmend.convert_many((bytearray(i) for i in items), target) == expected
    assert textmend.convert_many(map(memoryview, items), target=target) == expected
    assert textmend.convert_many([], target) == []
    assert all(type(result) is bytes for result in textmend.convert_many(items, target))


def test_convert_many_passes_on_what_the_iterable_raises():
    def failing():
        yield b"caf\xe9"
        raise KeyError("from the iterable")

    with pytest.raises(KeyError, match="from the iterable"):
        textmend.convert_many(failing())


def test_a_piece_that_ends_in_ascii_is_not_held_back():
    for target in TARGETS:
        converter = textmend.StreamConverter(target)
        assert converter.feed(b"hello world\n") == b"hello world\n"
        assert converter.feed(b"K\xc3\xa4se\n") == textmend.convert(b"K\xc3\xa4se\n", target)
        assert converter.feed(b"caf\xc3") == b"caf"  # the C3 may begin a sequence
        assert converter.feed(b"\xa9.") + converter.finish() == textmend.convert(b"\xc3\xa9.",
                                                                                 target)


# How a piece ends, and how many of its last bytes may still be completed by
# the next piece: the default target and windows-1252 take 5- and 6-byte
# forms, utf-8 sequences of up to four bytes.
@pytest.mark.parametrize("piece, held_single_byte, held_utf8", [
    (b"hello world\n", 0, 0),
    (b"caf\xc3\xa9", 0, 0),
    (b"caf\xc3", 1, 1),
    (b"\xf0\x9f\x98", 3, 3),
    (b"\xfc\x84\x80\x80\x80", 5, 0),
    (b"\xe4\xe4", 1, 1),
    (b"\x80\x80", 0, 0),
])
def test_stream_converter_holds_back_only_an_unfinished_sequence(piece, held_single_byte,
                                                                 held_utf8):
    for target in TARGETS:
        held = held_utf8 if target == "utf-8" else held_single_byte
        converter = textmend.StreamConverter(target)
        fed = converter.feed(piece)
        assert fed == textmend.convert(piece[:len(piece) - held], target)
        assert fed + converter.finish() == textmend.convert(piece, target)


@pytest.mark.parametrize("target", TARGETS)
def test_convert_file_into_another_file(target, rng, tmp_path, program_convert):
    data = random_mixed(rng, 100000)
    source = tmp_path / "source.txt"
    source.write_bytes(data)
    textmend.convert_file(source, str(tmp_path / "out.txt"), target)
    assert (tmp_path / "out.txt").read_bytes() == program_convert(data, target)
    assert source.read_bytes() == data


def test_convert_file_in_place_keeps_the_mode(rng, tmp_path, program_convert):
    data = random_mixed(rng, 50000)
    (tmp_path / "dir").mkdir()
    path = tmp_path / "dir" / "file.txt"
    path.write_bytes(data)
    os.chmod(path, 0o640)
    textmend.convert_file(os.fsencode(path), path, "utf-8")  # bytes and PathLike names
    assert path.read_bytes() == program_convert(data, "utf-8")
    assert os.stat(path).st_mode & 0o7777 == 0o640
    assert os.listdir(tmp_path / "dir") == ["file.txt"]  # no temporary file left


def test_convert_file_leaves_a_file_that_needs_nothing_alone(tmp_path):
    path = tmp_path / "clean.txt"
    path.write_bytes(b"nothing to repair\n")
    before = os.stat(path)
    textmend.convert_file(path, path)
    after = os.stat(path)
    assert (after.st_ino, after.st_mtime_ns) == (before.st_ino, before.st_mtime_ns)


@pytest.mark.parametrize("target", TARGETS)
def test_convert_file_undoes_double_encoding_when_asked(target, rng, tmp_path):
    # Lines of every kind, one as long undone as the next is converted.
    same_size = "café\n".encode("utf-8").decode("latin-1").encode("utf-8") + b"\xe9\xe9\n"
    data = b"".join(random_mixed(rng, 40) + b"\n" + DAMAGED for _ in range(5000)) + same_size
    expected = textmend.convert(data, target, undo_double=True)
    source = tmp_path / "in.txt"
    source.write_bytes(data)
    textmend.convert_file(source, tmp_path / "out.txt", target, undo_double=True)
    assert (tmp_path / "out.txt").read_bytes() == expected
    textmend.convert_file(source, source, target, undo_double=True)
    assert source.read_bytes() == expected
    with pytest.raises(TypeError, match="undo_double"):
        textmend.convert_file(source, source, target, undo_double="yes")


def test_convert_file_undoing_leaves_a_file_that_needs_nothing_alone(tmp_path):
    path = tmp_path / "clean.txt"
    path.write_bytes("«ÉTÉ» and café\n".encode("utf-8"))
    before = os.stat(path)
    textmend.convert_file(path, path, "utf-8", undo_double=True)
    after = os.stat(path)
    assert (after.st_ino, after.st_mtime_ns) == (before.st_ino, before.st_mtime_ns)


def test_convert_file_failures_name_the_file(tmp_path):
    missing = tmp_path / "missing.txt"
    with pytest.raises(FileNotFoundError) as raised:
        textmend.convert_file(missing, tmp_path / "out.txt")
    assert raised.value.filename == missing
    assert not (tmp_path / "out.txt").exists()

    source = tmp_path / "in.txt"
    source.write_bytes(b"caf\xe9\n")
    nowhere = tmp_path / "no" / "such" / "dir.txt"
    with pytest.raises(FileNotFoundError) as raised:
        textmend.convert_file(source, nowhere)
    assert raised.value.filename == nowhere
    assert str(nowhere) in str(raised.value)

    with pytest.raises(IsADirectoryError) as raised:
        textmend.convert_file(tmp_path, tmp_path / "out.txt")
    assert raised.value.filename == tmp_path
    assert not (tmp_path / "out.txt").exists()


# A child that converts, sends itself SIGINT 20 ms into the call and says
# whether the call ended by KeyboardInterrupt.
_INTERRUPTED_CALL = """
import os, signal, sys, threading, time, textmend
how, source, output = sys.argv[1:4]
def feed_forever(fifo):
    with open(fifo, "wb") as f:
        while True:
            f.write(b"caf\\xe9 " * 100000)
            f.flush()
            time.sleep(0.05)
if how == "fifo":
    threading.Thread(target=feed_forever, args=(source,), daemon=True).start()
data = open(source, "rb").read() if how == "bytes" else None
threading.Timer(0.02, os.kill, (os.getpid(), signal.SIGINT)).start()
try:
    if how == "bytes":
        textmend.convert(data, "utf-8")
    else:
        textmend.convert_file(source, output, "utf-8")
except KeyboardInterrupt:
    print("interrupted")
else:
    print("finished")
"""


def _scratch_dir(tmp_path):
    """A folder in memory where there is one: large inputs are written fast."""
    if os.path.isdir("/dev/shm") and os.access("/dev/shm", os.W_OK):
        import tempfile
        return tempfile.mkdtemp(dir="/dev/shm")
    return str(tmp_path)


@pytest.mark.parametrize("how", ["fifo", "in place", "bytes"])
def test_a_long_call_is_interrupted_by_ctrl_c(how, tmp_path):
    import shutil
    folder = _scratch_dir(tmp_path)
    try:
        source = os.path.join(folder, "source")
        output = os.path.join(folder, "output")
        if how == "fifo":
            os.mkfifo(source)
        else:  # some 600 MB of Latin-1 text: far longer to convert than 20 ms
            with open(source, "wb") as f:
                for _ in range(60):
                    f.write(b"caf\xe9 na\xefve " * 700000)
        before = os.stat(source)
        target = source if how == "in place" else output
        done = subprocess.run([sys.executable, "-c", _INTERRUPTED_CALL, how, source, target],
                              capture_output=True, timeout=120)
        assert done.stdout.decode().strip() == "interrupted", done.stderr.decode()
        assert not os.path.exists(output)  # the incomplete output is removed
        assert sorted(os.listdir(folder)) == ["source"]  # and no temporary file is left
        after = os.stat(source)
        assert after.st_ino == before.st_ino
        if how != "fifo":  # the original stays untouched
            assert (after.st_size, after.st_mtime_ns) == (before.st_size, before.st_mtime_ns)
    finally:
        if folder != str(tmp_path):
            shutil.rmtree(folder)


def test_threads_convert_at_once(rng):
    inputs = [random_mixed(rng, 400000) for _ in range(6)]
    expected = [textmend.convert(data, "utf-8") for data in inputs]
    results = [None] * len(inputs)
    shared = textmend.StreamConverter("utf-8")
    shared_out = []

    def work(i):
        results[i] = textmend.convert(inputs[i], "utf-8")
        shared_out.append(shared.feed(b"x" * 1000))  # one converter, several threads

    threads = [threading.Thread(target=work, args=(i,)) for i in range(len(inputs))]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert results == expected
    assert b"".join(shared_out) + shared.finish() == b"x" * 1000 * len(inputs)


def test_cmake_install_gives_an_importable_package(tmp_path):
    build = os.environ.get("TEXTMEND_BUILD_DIR")
    if build is None:
        pytest.skip("TEXTMEND_BUILD_DIR not set: run through ctest")
    staging = tmp_path / "staging"
    subprocess.run(["cmake", "--install", build, "--component", "python"], check=True,
                   env=dict(os.environ, DESTDIR=str(staging)), capture_output=True)
    [package] = list(staging.rglob("textmend/__init__.py"))
    script = ("import textmend, textmend.dask; "
              "print(textmend.__file__); print(textmend.convert(b'caf\\xc3\\xa9', 'latin1'))")
    done = subprocess.run([sys.executable, "-c", script], capture_output=True, check=True,
                          env=dict(os.environ, PYTHONPATH=str(package.parent.parent)),
                          cwd=tmp_path)  # "" on sys.path: no textmend/ of the working directory
    assert done.stdout.decode().splitlines() == [str(package), "b'caf\\xe9'"]
