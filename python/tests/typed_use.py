"""A small program typed throughout, for mypy --strict against the installed
package: it must find the package's types (py.typed, _textmend.pyi) and
agree with them."""

import io
import sys
from pathlib import Path
from typing import List

import textmend
import textmend.dask


def repaired_column(values: List[bytes]) -> List[bytes]:
    return textmend.convert_many(values, "UTF-8")


def main() -> int:
    text: bytes = textmend.convert(b"caf\xe9", "utf8")
    column = repaired_column([text, b"na\xefve"])
    stream = textmend.StreamConverter("cp1252")
    piece: bytes = stream.feed(memoryview(b"caf\xc3")) + stream.finish()
    stream.reset()
    name: str = stream.target
    found = textmend.report(text, "latin-1", max_examples=3)
    changed: int = found["changed"]
    clean: bool = found["clean"]
    first_kind = found["examples"][0]["kind"] if found["examples"] else "changed"
    textmend.convert_file(Path("a.txt"), "b.txt", "windows-1252")
    textmend.convert_file("a.txt", b"a.txt", "utf-8", undo_double=True)
    stats = textmend.convert_stream(io.BytesIO(piece), sys.stdout.buffer, "utf-8")
    total: int = stats["bytes_in"] + stats["bytes_out"]
    outputs: List[str] = textmend.dask.convert_files(["a.txt"], Path("out"), "utf-8",
                                                     blocksize="16MiB", progress=True)
    version: str = textmend.__version__
    print(column, name, changed, clean, first_kind, total, outputs, version)
    return 0
