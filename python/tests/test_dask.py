"""textmend.dask: files cut into blocks, converted by Dask, against the program."""

import errno
import os
import pty
import subprocess
import sys
import time

import pytest

import textmend.dask
from conftest import TARGETS, random_mixed
from textmend.dask import convert_files

BLOCK = 4096


def awkward_file(rng):
    """Random lines, then stretches where a cut cannot follow a newline: a
    block of text with no newline, and blocks of nothing but high bytes (a
    block that holds no cut at all belongs to the block before it)."""
    lines = random_mixed(rng, 5 * BLOCK)
    no_newline = random_mixed(rng, 3 * BLOCK).replace(b"\n", b" ")
    high_only = b"\xc3\xa9\xe9\xe2\x82\xac\x80" * (3 * BLOCK // 7)
    return lines + no_newline + high_only + lines[:BLOCK] + high_only + b"\xc3"


@pytest.fixture(scope="module")
def cluster():
    distributed = pytest.importorskip("distributed")
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  dashboard_address=None) as local:
        yield local


@pytest.fixture
def client(cluster):
    """The current client for the test: the one convert_files must use."""
    from distributed import Client

    with Client(cluster) as current:
        yield current


def inputs(tmp_path, files):
    (tmp_path / "in").mkdir()
    (tmp_path / "out").mkdir()
    paths = []
    for name, data in files.items():
        path = tmp_path / "in" / name
        path.write_bytes(data)
        paths.append(str(path))
    return paths


@pytest.mark.parametrize("target", TARGETS)
def test_blocks_on_a_local_cluster_match_the_program(target, client, rng, tmp_path,
                                                     program_convert):
    files = {"awkward.txt": awkward_file(rng), "small.txt": random_mixed(rng, 100),
             "empty.txt": b"", "exactly_one_block.txt": random_mixed(rng, BLOCK)}
    paths = inputs(tmp_path, files)
    from distributed import get_task_stream

    with get_task_stream(client) as stream:
        outputs = convert_files(paths, tmp_path / "out", target, blocksize=BLOCK)
    assert outputs == [os.path.join(tmp_path / "out", name) for name in files]
    # The large file: a task to measure each block, then one to write each
    # block that has a cut of its own into its place. The small files:
    # converted whole, as many to a task as fit in a block (100 + 0 bytes,
    # then 4096).
    kinds = {}
    for task in stream.data:
        kind = task["key"].split("-")[1]
        kinds[kind] = kinds.get(kind, 0) + 1
        assert (kind == "whole") != (".awkward.txt.textmend-" in task["key"])
    blocks = -(-len(files["awkward.txt"]) // BLOCK)
    assert kinds["measure"] == blocks and 1 < kinds["write"] < blocks
    assert kinds["whole"] == 2
    for name, data in files.items():
        assert (tmp_path / "out" / name).read_bytes() == program_convert(data, target), name
    assert sorted(os.listdir(tmp_path / "out")) == sorted(files)  # no part files left


def test_without_a_client_dask_default_scheduler_does_it(rng, tmp_path, program_convert):
    from distributed import default_client

    with pytest.raises(ValueError):
        default_client()  # the module's cluster is not the current client here
    files = {f"f{i}.txt": random_mixed(rng, rng.randrange(20000)) for i in range(5)}
    paths = inputs(tmp_path, files)
    convert_files(paths, str(tmp_path / "out"), "windows-1252", blocksize=1000)
    for name, data in files.items():
        assert (tmp_path / "out" / name).read_bytes() == program_convert(data, "windows-1252")


@pytest.mark.parametrize("blocksize", [1, 2, 3, 17, 1000, "1KiB", 10**9])
def test_any_block_size_gives_the_same_file(blocksize, rng, tmp_path):
    data = awkward_file(rng)[:3 * BLOCK]
    paths = inputs(tmp_path, {"f.txt": data})
    convert_files(paths, tmp_path / "out", "utf-8", blocksize=blocksize)
    assert (tmp_path / "out" / "f.txt").read_bytes() == textmend.convert(data, "utf-8")


DAMAGED = "Grüße aus Köln – l’été à Noël\n".encode("utf-8").decode("latin-1").encode("utf-8")


def damaged_file(rng):
    """Damaged lines between random ones; a line longer than a block that
    starts with runs and ends with a real é, which keeps it from being
    undone (a cut within it would undo its start); a last line damaged only
    in part."""
    lines = b"".join(random_mixed(rng, 200) + b"\n" + DAMAGED for _ in range(40))
    long_line = DAMAGED[:-1] + b"x" * (2 * BLOCK) + " é\n".encode("utf-8")
    return lines + long_line + lines[:BLOCK] + DAMAGED[:20] + " é".encode("utf-8")


@pytest.mark.parametrize("target", TARGETS)
@pytest.mark.parametrize("blocksize", [1000, BLOCK, 10**9])
def test_undoing_double_encoding_gives_what_convert_gives(target, blocksize, rng, tmp_path):
    files = {"big.txt": damaged_file(rng), "small.txt": DAMAGED * 3}
    paths = inputs(tmp_path, files)
    convert_files(paths, tmp_path / "out", target, blocksize=blocksize, undo_double=True)
    for name, data in files.items():
        expected = textmend.convert(data, target, undo_double=True)
        assert expected != textmend.convert(data, target)
        assert (tmp_path / "out" / name).read_bytes() == expected, name


def test_undo_double_must_be_a_bool(tmp_path):
    paths = inputs(tmp_path, {"a.txt": b"a\n"})
    with pytest.raises(TypeError, match="undo_double"):
        convert_files(paths, tmp_path / "out", undo_double=1)
    assert os.listdir(tmp_path / "out") == []


def test_undoing_on_the_command_line(rng, tmp_path):
    data = damaged_file(rng)
    paths = inputs(tmp_path, {"a.txt": data})
    done = run_command_line("-u", "--undo-double", "--blocksize", "4KiB", tmp_path / "out", *paths)
    assert (done.returncode, done.stdout, done.stderr) == (0, b"", b"")
    assert (tmp_path / "out" / "a.txt").read_bytes() == \
        textmend.convert(data, "utf-8", undo_double=True)


def test_replaces_an_existing_output(tmp_path):
    paths = inputs(tmp_path, {"f.txt": b"caf\xc3\xa9\n"})
    (tmp_path / "out" / "f.txt").write_bytes(b"old contents")
    convert_files(paths, tmp_path / "out")
    assert (tmp_path / "out" / "f.txt").read_bytes() == b"caf\xe9\n"


def test_no_paths_no_work(tmp_path):
    assert convert_files([], tmp_path) == []


@pytest.mark.parametrize("arguments, error", [
    (lambda d: ("in/a.txt", d / "out"), TypeError),                     # one path, not a list
    (lambda d: (["in/a.txt"], d / "out", "latin-9"), ValueError),
    (lambda d: (["in/a.txt"], d / "out", "latin1", 0), ValueError),
    (lambda d: (["in/a.txt"], d / "out", "latin1", 2.5), TypeError),
    (lambda d: (["in/a.txt"], d / "out", "latin1", "lots"), ValueError),
    (lambda d: (["in/a.txt", "in/sub/a.txt"], d / "out"), ValueError),  # one output name
    (lambda d: (["in/a.txt"], d / "in"), ValueError),                   # over its own input
    (lambda d: (["in/missing.txt"], d / "out"), FileNotFoundError),
    (lambda d: (["in/sub"], d / "out"), IsADirectoryError),
    (lambda d: (["in/a.txt"], d / "out" / "missing"), NotADirectoryError),
    (lambda d: ([None], d / "out"), TypeError),
])
def test_bad_arguments(arguments, error, tmp_path, monkeypatch):
    inputs(tmp_path, {"a.txt": b"a\n"})
    (tmp_path / "in" / "sub").mkdir()
    (tmp_path / "in" / "sub" / "a.txt").write_bytes(b"b\n")
    monkeypatch.chdir(tmp_path)
    with pytest.raises(error):
        convert_files(*arguments(tmp_path))
    assert os.listdir(tmp_path / "out") == []


@pytest.mark.parametrize("size", [10 * BLOCK, 100])  # several blocks, one
@pytest.mark.parametrize("name", ["f.txt", "odd.textmend-1.txt"])
def test_a_failed_task_leaves_no_part_files(size, name, rng, tmp_path):
    paths = inputs(tmp_path, {name: random_mixed(rng, size), "other.txt": b"caf\xe9\n"})
    (tmp_path / "out" / name).mkdir()  # the final rename fails
    (tmp_path / "out" / ".keep.textmend-1.tmp").write_bytes(b"")  # not this run's
    with pytest.raises(OSError):
        convert_files(paths, tmp_path / "out", blocksize=BLOCK)
    left = set(os.listdir(tmp_path / "out"))  # other.txt is there if its task ran
    assert left - {"other.txt"} == {name, ".keep.textmend-1.tmp"}


def _holds_data(path):
    """Whether some of the (sparse) file at path was written: blocks are."""
    try:
        return os.stat(path).st_blocks > 0
    except FileNotFoundError:
        return False


def test_a_worker_killed_mid_run_costs_nothing(tmp_path, program_convert):
    """A worker dies (SIGKILL) while blocks are being written: Dask runs its
    tasks again elsewhere, they must find nothing in their way, the output
    must be the program's, and nothing the dead worker wrote may stay."""
    distributed = pytest.importorskip("distributed")
    import signal
    import threading
    import time

    line = b"Gr\xc3\xbc\xc3\x9fe aus K\xf6ln, caf\xe9 \x93quoted\x94 \xe2\x82\xac\n"
    data = line * (96 * 2**20 // len(line))
    paths = inputs(tmp_path, {"f.txt": data})
    out = tmp_path / "out"
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  dashboard_address=None) as cluster, \
            distributed.Client(cluster) as client:
        victims = [nanny.process.process.pid for nanny in cluster.workers.values()]
        killed = threading.Event()

        def kill_a_worker_mid_block():
            deadline = time.monotonic() + 60
            while time.monotonic() < deadline:
                if any(name.startswith(".f.txt.textmend-") and _holds_data(out / name)
                       for name in os.listdir(out)):
                    os.kill(victims[0], signal.SIGKILL)
                    killed.set()
                    return
                time.sleep(0.001)

        killer = threading.Thread(target=kill_a_worker_mid_block)
        killer.start()
        convert_files(paths, out, "utf-8", blocksize="4MiB")
        killer.join()
        assert killed.is_set(), "no block was seen being written"
        ran = client.run_on_scheduler(lambda dask_scheduler: [
            entry[0] for entry in dask_scheduler.transition_log if entry[2] == "processing"])
    blocks = [key for key in ran if "-join" not in str(key)]
    assert len(blocks) > len(set(blocks)), "no task ran again"
    assert (out / "f.txt").read_bytes() == program_convert(data, "utf-8")
    assert os.listdir(out) == ["f.txt"]  # no part file, no file of the dead worker


@pytest.mark.parametrize("target", TARGETS)
def test_ranges_measured_and_converted_in_place(target, rng, tmp_path):
    from textmend import _textmend

    data = random_mixed(rng, 3 * 2**20 + 5)
    (tmp_path / "in").write_bytes(data)
    expected = textmend.convert(data[100:], target)
    with open(tmp_path / "in", "rb") as source:
        # Past the end: the caller sees that the file ended first.
        assert _textmend._measure_range(source.fileno(), 100, len(data) + 50, target) == \
            (len(data) - 100, len(expected))
        with open(tmp_path / "out", "wb") as out:
            assert _textmend._convert_range(source.fileno(), 100, len(data) + 50, out.fileno(),
                                            target) == (len(data) - 100, len(expected))
        assert (tmp_path / "out").read_bytes() == expected
        # Into its place: the bytes around it stay as they are.
        (tmp_path / "out").write_bytes(b"<" * 7 + b" " * len(expected) + b">" * 5)
        with open(tmp_path / "out", "r+b") as out:
            _textmend._convert_range(source.fileno(), 100, len(data), out.fileno(), target, 7)
        assert (tmp_path / "out").read_bytes() == b"<" * 7 + expected + b">" * 5


_MIB = 2**20


# A range is sized a MiB at a time, each piece up to its last byte below 0x80
# and the rest read again: a sequence across the first piece's end, pieces
# that end in a long run of high bytes, and more than a MiB with no byte
# below 0x80 at all (sized by the inspector from there on).
@pytest.mark.parametrize("layout", [
    b"a" * (_MIB - 1) + b"\xc3\xa9" + b"b" * 100 + b"\xe2\x82\xac",
    b"a" * (_MIB - 3) + b"\xe2\x82\xac\xf0\x9f\x98\x80" * 9 + b"\x93\x94z" * 10,
    b"a" * 1000 + b"\xc3\xa9\xe9\x80" * (_MIB // 2) + b" tail \xe9",
    bytes(range(0x80, 0x100)) * (3 * _MIB // 128) + b"end\n",
], ids=["sequence-across-pieces", "high-run-at-piece-end", "mib-of-high-bytes", "random-high"])
@pytest.mark.parametrize("target", TARGETS)
def test_measured_size_is_the_conversions_wherever_pieces_end(layout, target, tmp_path):
    from textmend import _textmend

    (tmp_path / "in").write_bytes(layout)
    with open(tmp_path / "in", "rb") as source:
        for start in [0, 1]:
            assert _textmend._measure_range(source.fileno(), start, len(layout), target) == \
                (len(layout) - start, len(textmend.convert(layout[start:], target)))


def test_range_conversion_reports_failed_writes(tmp_path):
    from textmend import _textmend

    (tmp_path / "in").write_bytes(b"caf\xe9\n" * 10)
    with open(tmp_path / "in", "rb") as source, open(tmp_path / "in", "rb") as read_only:
        for offset in [None, 0]:
            with pytest.raises(OSError) as raised:
                _textmend._convert_range(source.fileno(), 0, 10, read_only.fileno(), "utf-8",
                                         offset)
            assert raised.value.errno == errno.EBADF


def test_an_input_changed_before_its_tasks_ran_is_an_error(rng, tmp_path, monkeypatch):
    paths = inputs(tmp_path, {"f.txt": random_mixed(rng, 3 * BLOCK)})
    real_compute = textmend.dask._compute

    def change_then_compute(graph, keys, progress):
        with open(paths[0], "ab") as f:
            f.write(b"more")
        return real_compute(graph, keys, progress)

    monkeypatch.setattr(textmend.dask, "_compute", change_then_compute)
    with pytest.raises(textmend.dask.FileChangedError):
        convert_files(paths, tmp_path / "out", blocksize=BLOCK)
    assert os.listdir(tmp_path / "out") == []


@pytest.mark.parametrize("hold_bytes", [2**40, 0], ids=["held", "measured"])
def test_an_input_changed_between_measuring_and_writing_is_an_error(hold_bytes, rng, tmp_path,
                                                                     monkeypatch):
    """Measured only, the blocks are read again in the second round; held,
    they were written in the first, and the final check finds the change."""
    monkeypatch.setattr(textmend._held, "_HOLD_BYTES", hold_bytes)
    paths = inputs(tmp_path, {"f.txt": random_mixed(rng, 3 * BLOCK)})
    real_place_blocks = textmend.dask._place_blocks
    placed = []

    def change_then_place(measured):  # every block measured, none written yet
        with open(paths[0], "r+b") as f:
            f.write(b"\xe9")
        placed.append(measured)
        return real_place_blocks(measured)

    monkeypatch.setattr(textmend.dask, "_place_blocks", change_then_place)
    with pytest.raises(textmend.dask.FileChangedError, match="f.txt: file changed"):
        convert_files(paths, tmp_path / "out", blocksize=BLOCK)  # Dask's threads: here
    assert len(placed) == 1
    assert os.listdir(tmp_path / "out") == []


@pytest.mark.parametrize("hold_bytes", [2**40, 0], ids=["held", "measured"])
def test_each_output_byte_is_written_once(hold_bytes, rng, tmp_path, monkeypatch,
                                          program_convert):
    """Blocks are written into their place in the one temporary output,
    which is renamed once; nothing else is written next to it. Held in
    memory (Dask's threads), a block is converted once; measured only (on a
    cluster, or with no memory to spare), it is converted in the second
    round."""
    monkeypatch.setattr(textmend._held, "_HOLD_BYTES", hold_bytes)
    data = awkward_file(rng)
    paths = inputs(tmp_path, {"f.txt": data})
    out = tmp_path / "out"
    written = []
    renamed = []
    held_sizes = {}
    ways = []

    class CountingModule:
        def __getattr__(self, name):
            return getattr(textmend._textmend, name)

        def _convert_range(self, *arguments, **keywords):
            done = textmend._textmend._convert_range(*arguments, **keywords)
            written.append(done[1])
            ways.append("converted again")
            return done

        def _convert_range_held(self, *arguments, **keywords):
            done = textmend._textmend._convert_range_held(*arguments, **keywords)
            held_sizes[id(done[2])] = done[1]
            return done

        def _write_held(self, block, *arguments):
            textmend._textmend._write_held(block, *arguments)
            written.append(held_sizes.pop(id(block)))
            ways.append("held")

    real_replace = os.replace

    def replace(source, target):
        renamed.append((os.path.basename(source), sorted(os.listdir(out))))
        real_replace(source, target)

    counting = CountingModule()
    monkeypatch.setattr(textmend.dask, "_textmend", counting)
    monkeypatch.setattr(textmend._held, "_textmend", counting)
    monkeypatch.setattr(textmend.dask.os, "replace", replace)
    convert_files(paths, out, "utf-8", blocksize=BLOCK)  # Dask's threads: tasks run here
    expected = program_convert(data, "utf-8")
    assert (out / "f.txt").read_bytes() == expected
    assert sum(written) == len(expected) and len(written) > 1
    assert held_sizes == {}  # every block held was written
    assert set(ways) == {"held" if hold_bytes else "converted again"}
    [(temporary, present)] = renamed
    assert present == [temporary] and temporary.startswith(".f.txt.textmend-")
    assert textmend._held._held_bytes == 0


def _environment():
    """This process's, with the package that is being tested found first."""
    package_parent = os.path.dirname(os.path.dirname(textmend.__file__))
    return dict(os.environ, PYTHONPATH=package_parent)


def run_command_line(*arguments, cwd=None):
    environment = _environment()
    return subprocess.run([sys.executable, "-m", "textmend.dask", *map(str, arguments)],
                          capture_output=True, check=False, env=environment, cwd=cwd)


@pytest.mark.parametrize("option, target", [([], "latin1"), (["-w"], "windows-1252"),
                                            (["-u"], "utf-8")])
def test_command_line(option, target, rng, tmp_path, program_convert):
    files = {"a.txt": awkward_file(rng), "b.txt": random_mixed(rng, 999)}
    paths = inputs(tmp_path, files)
    done = run_command_line(*option, "--blocksize", "4KiB", tmp_path / "out", *paths)
    assert (done.returncode, done.stdout, done.stderr) == (0, b"", b"")
    for name, data in files.items():
        assert (tmp_path / "out" / name).read_bytes() == program_convert(data, target)


def test_command_line_with_a_scheduler_address(cluster, rng, tmp_path, program_convert):
    files = {"a.txt": awkward_file(rng)}
    paths = inputs(tmp_path, files)
    address = cluster.scheduler_address
    done = run_command_line("-u", "--scheduler", address, "--blocksize", "4096",
                            tmp_path / "out", *paths)
    assert done.returncode == 0, done.stderr
    assert (tmp_path / "out" / "a.txt").read_bytes() == program_convert(files["a.txt"], "utf-8")


@pytest.mark.parametrize("arguments, status, message", [
    (["--blocksize", "lots", "out", "in/a.txt"], 2, b"argument --blocksize: not a size"),
    (["--blocksize", "0", "out", "in/a.txt"], 2, b"argument --blocksize: must be positive"),
    (["-w", "-u", "out", "in/a.txt"], 2, b"not allowed with argument"),
    (["out"], 2, b"the following arguments are required: FILE"),
    (["--timeout", "0", "out", "in/a.txt"], 2, b"argument --timeout: must be positive"),
    (["--timeout", "soon", "out", "in/a.txt"], 2, b"argument --timeout: not a number"),
    (["out", "in/missing.txt"], 1, b"textmend.dask: in/missing.txt: No such file or directory\n"),
    (["missing", "in/a.txt"], 1, b"textmend.dask: missing: Not a directory\n"),
])
def test_command_line_errors(arguments, status, message, tmp_path):
    inputs(tmp_path, {"a.txt": b"a\n"})
    done = run_command_line(*arguments, cwd=tmp_path)
    assert done.returncode == status
    assert message in done.stderr
    assert os.listdir(tmp_path / "out") == []


def test_an_unreachable_scheduler_fails_within_the_timeout(tmp_path):
    inputs(tmp_path, {"a.txt": b"caf\xe9\n"})
    started = time.monotonic()
    # Nothing listens on the discard port: every attempt to connect fails.
    done = run_command_line("--scheduler", "tcp://127.0.0.1:9", "--timeout", "0.5", "out",
                            "in/a.txt", cwd=tmp_path)
    assert time.monotonic() - started < 15  # Dask's own default waits 30 s
    assert done.returncode == 1
    assert done.stderr.startswith(b"textmend.dask: ") and b"127.0.0.1:9" in done.stderr
    assert os.listdir(tmp_path / "out") == []


PROGRESS = b"100% Completed"


def test_progress_bars_of_the_function(rng, tmp_path, capsys, client):
    paths = inputs(tmp_path, {"a.txt": random_mixed(rng, 3 * BLOCK)})
    convert_files(paths, tmp_path / "out", "utf-8", blocksize=BLOCK, progress=True)
    assert PROGRESS.decode() in capsys.readouterr().out  # distributed's, with a client
    convert_files(paths, tmp_path / "out", "utf-8", blocksize=BLOCK)
    assert capsys.readouterr().out == ""


def test_progress_bar_without_a_client(rng, tmp_path, capsys):
    paths = inputs(tmp_path, {"a.txt": random_mixed(rng, 3 * BLOCK)})
    convert_files(paths, tmp_path / "out", "utf-8", blocksize=BLOCK, progress=True)
    assert PROGRESS.decode() in capsys.readouterr().out  # dask.diagnostics.ProgressBar


def _on_a_terminal(arguments, cwd):
    """The command line with its standard error on a pseudo-terminal: its
    status and what the terminal showed."""
    controller, terminal = pty.openpty()
    try:
        child = subprocess.Popen([sys.executable, "-m", "textmend.dask", *arguments],
                                 stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                 stderr=terminal, cwd=cwd, env=_environment())
        os.close(terminal)
        shown = b""
        while True:
            try:
                piece = os.read(controller, 4096)
            except OSError:  # EIO: the terminal's last user is gone
                break
            if not piece:
                break
            shown += piece
        return child.wait(timeout=60), shown
    finally:
        os.close(controller)


def test_the_command_line_shows_progress_on_a_terminal(rng, tmp_path):
    inputs(tmp_path, {"a.txt": random_mixed(rng, 3 * BLOCK)})
    status, shown = _on_a_terminal(["-u", "--blocksize", "4KiB", "out", "in/a.txt"], tmp_path)
    assert status == 0 and PROGRESS in shown, shown
    status, shown = _on_a_terminal(["-u", "--no-progress", "out", "in/a.txt"], tmp_path)
    assert (status, shown) == (0, b"")
    done = run_command_line("-u", "out", "in/a.txt", cwd=tmp_path)  # not a terminal
    assert (done.returncode, done.stdout, done.stderr) == (0, b"", b"")


@pytest.mark.parametrize("target", TARGETS)
def test_blocks_held_while_memory_lasts_give_the_same_file(target, rng, tmp_path, monkeypatch,
                                                           program_convert):
    """With room for about one block at a time, some blocks are held and
    written in the first round, the rest measured and written in the second."""
    monkeypatch.setattr(textmend._held, "_HOLD_BYTES", 4 * BLOCK)
    data = awkward_file(rng)
    paths = inputs(tmp_path, {"f.txt": data})
    convert_files(paths, tmp_path / "out", target, blocksize=BLOCK)
    assert (tmp_path / "out" / "f.txt").read_bytes() == program_convert(data, target)
    assert textmend._held._held_bytes == 0


def _held_block(path, data, target="utf-8"):
    path.write_bytes(data)
    with open(path, "rb") as f:
        read, size, block = textmend._textmend._convert_range_held(f.fileno(), 0, len(data),
                                                                   target)
    assert (read, size) == (len(data), len(textmend.convert(data, target)))
    assert textmend._held.reserve(size)
    return size, (block, size)


def test_a_placement_writes_a_block_once_every_block_before_it_is_known(tmp_path):
    out = tmp_path / "out.tmp"
    out.write_bytes(b"")
    placement = textmend._held._Placement(3, str(out))
    size1, held1 = _held_block(tmp_path / "1", b"caf\xe9\n")
    size2, held2 = _held_block(tmp_path / "2", b"na\xefve\n")
    placement.report(2, (20, 30, size2), held2)
    placement.report(1, (10, 20, size1), held1)
    assert out.read_bytes() == b"" and placement.written == set()  # block 0 unknown
    placement.report(0, (0, 10, 4))  # measured only: the second round writes it
    assert out.read_bytes() == b"\0" * 4 + "café\nnaïve\n".encode()
    assert placement.written == {1, 2} and textmend._held._held_bytes == 0
    fd = os.open(out, os.O_WRONLY)
    try:
        with pytest.raises(ValueError, match="written already"):
            textmend._textmend._write_held(held1[0], fd, 0)
    finally:
        os.close(fd)


def test_a_closed_placement_lets_its_blocks_go_unwritten(tmp_path):
    out = tmp_path / "out.tmp"
    out.write_bytes(b"")
    placement = textmend._held._Placement(3, str(out))
    size, held = _held_block(tmp_path / "1", b"caf\xe9\n")
    placement.report(1, (10, 20, size), held)
    placement.close()  # the run failed
    assert textmend._held._held_bytes == 0
    late_size, late = _held_block(tmp_path / "2", b"na\xefve\n")
    placement.report(0, (0, 10, late_size), late)  # a task still running then
    assert textmend._held._held_bytes == 0
    assert out.read_bytes() == b"" and placement.written == set()


def test_a_written_block_converts_the_next_range_in_its_memory(tmp_path):
    small, large = b"caf\xe9\n", b"na\xefve \xe2\x82\xac\n" * 5000
    size, (block, _) = _held_block(tmp_path / "small", small)
    textmend._held.release(size)
    out = tmp_path / "out"
    out.write_bytes(b"")
    fd = os.open(out, os.O_WRONLY)
    try:
        textmend._textmend._write_held(block, fd, 0)
        for data, at in [(large, size), (small, size + len(textmend.convert(large, "utf-8")))]:
            (tmp_path / "in").write_bytes(data)
            with open(tmp_path / "in", "rb") as f:
                read, converted, again = textmend._textmend._convert_range_held(
                    f.fileno(), 0, len(data), "utf-8", reuse=block)
            assert again is block and (read, converted) == (len(data), len(
                textmend.convert(data, "utf-8")))
            textmend._textmend._write_held(block, fd, at)
    finally:
        os.close(fd)
    assert out.read_bytes() == b"".join(textmend.convert(d, "utf-8") for d in (small, large, small))


@pytest.mark.parametrize("spoil, failure", [
    (lambda d: (d / "in" / "b.txt").write_bytes(b"longer now\n"), ("changed", 0)),
    (lambda d: (d / "in" / "b.txt").unlink(), ("input", errno.ENOENT)),
    (lambda d: (d / "out" / "b.txt").mkdir(), ("rename", errno.EISDIR)),
    (lambda d: (d / "out" / "gone").mkdir() or (d / "out" / "gone").rmdir(),
     ("temporary", errno.ENOENT)),
])
def test_whole_files_stop_at_the_first_that_fails_and_leave_nothing_of_it(spoil, failure,
                                                                           tmp_path):
    """Files before the failing one are converted, the failing one and those
    after it are not, and no temporary file is left."""
    inputs(tmp_path, {"a.txt": b"caf\xe9\n", "b.txt": b"na\xefve\n", "c.txt": b"\xe9t\xe9\n"})
    files = []
    for name in ("a.txt", "b.txt", "c.txt"):
        src = tmp_path / "in" / name
        info = os.stat(src)
        folder = "gone" if failure[0] == "temporary" and name == "b.txt" else ""
        files.append((str(src), info.st_size, info.st_mtime_ns,
                      str(tmp_path / "out" / folder / f".{name}.textmend-1.tmp"),
                      str(tmp_path / "out" / name)))
    spoil(tmp_path)
    index, what, error = textmend._textmend._convert_whole_files(files, "utf-8")
    assert (index, (what, error)) == (1, failure)
    left = sorted(os.listdir(tmp_path / "out"))
    assert left == ["a.txt"] + (["b.txt"] if failure[0] == "rename" else [])
    assert (tmp_path / "out" / "a.txt").read_bytes() == "café\n".encode()


def _append_more(path):
    with open(path, "ab") as f:
        f.write(b"more")


@pytest.mark.parametrize("spoil, error", [
    (_append_more, textmend.dask.FileChangedError),
    (os.remove, FileNotFoundError),
])
def test_a_small_input_spoilt_before_its_task_ran_is_an_error(spoil, error, tmp_path,
                                                             monkeypatch):
    paths = inputs(tmp_path, {"f.txt": b"caf\xe9\n"})
    real_compute = textmend.dask._compute

    def spoil_then_compute(graph, keys, progress):
        spoil(paths[0])
        return real_compute(graph, keys, progress)

    monkeypatch.setattr(textmend.dask, "_compute", spoil_then_compute)
    with pytest.raises(error) as raised:
        convert_files(paths, tmp_path / "out")
    assert str(paths[0]) in str(raised.value)
    assert os.listdir(tmp_path / "out") == []


def test_blocks_are_measured_when_memory_cannot_be_had(rng, tmp_path, monkeypatch,
                                                       program_convert):
    """A mapping refused (a system that does not overcommit) is no failure:
    the block is measured and written in the second round."""
    def refused(*arguments, **keywords):
        raise OSError(errno.ENOMEM, os.strerror(errno.ENOMEM))

    monkeypatch.setattr(textmend._textmend, "_convert_range_held", refused)
    data = awkward_file(rng)
    paths = inputs(tmp_path, {"f.txt": data})
    convert_files(paths, tmp_path / "out", "utf-8", blocksize=BLOCK)
    assert (tmp_path / "out" / "f.txt").read_bytes() == program_convert(data, "utf-8")
    assert textmend._held._held_bytes == 0
