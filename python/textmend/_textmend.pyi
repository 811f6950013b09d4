# The types of the compiled module; the docstrings are in module.cpp.
from typing import Iterable, Literal, Protocol, TypedDict, Union

from typing_extensions import NotRequired

from _typeshed import ReadableBuffer, StrOrBytesPath, SupportsRead, SupportsWrite

__version__: str

# A name Python's codecs give Latin-1, Windows-1252 or UTF-8; results use the
# first three.
TargetName = Literal["latin1", "windows-1252", "utf-8"]

class _ReadsInto(Protocol):
    def readinto(self, buffer: memoryview, /) -> Union[int, None]: ...

class Example(TypedDict):
    offset: int
    line: int
    column: int
    kind: Literal["changed", "kept", "double"]
    bytes: str
    becomes: NotRequired[str]  # a run ("double"): what undoing it writes

class Report(TypedDict):
    target: TargetName
    bytes_in: int
    bytes_out: int
    changed: int
    kept: int
    double: int
    clean: bool
    examples: list[Example]

class StreamStats(TypedDict):
    bytes_in: int
    bytes_out: int

def convert(data: ReadableBuffer, target: str = "latin1", *, undo_double: bool = False) -> bytes: ...
def convert_many(items: Iterable[ReadableBuffer], target: str = "latin1") -> list[bytes]: ...
def report(data: ReadableBuffer, target: str = "latin1", *, max_examples: int = 10) -> Report: ...
def convert_file(
    src: StrOrBytesPath, dst: StrOrBytesPath, target: str = "latin1", *, undo_double: bool = False
) -> None: ...
def convert_stream(
    src: Union[_ReadsInto, SupportsRead[bytes]],
    dst: SupportsWrite[bytes],
    target: str = "latin1",
    *,
    undo_double: bool = False,
) -> StreamStats: ...
def _convert_range(
    src_fd: int,
    start: int,
    end: int,
    dst_fd: int,
    target: str,
    dst_offset: Union[int, None] = None,
    *,
    undo_double: bool = False,
) -> tuple[int, int]: ...
def _measure_range(
    src_fd: int, start: int, end: int, target: str, *, undo_double: bool = False
) -> tuple[int, int]: ...
def _convert_range_held(
    src_fd: int,
    start: int,
    end: int,
    target: str,
    *,
    undo_double: bool = False,
    reuse: Union[object, None] = None,
) -> tuple[int, int, object]: ...
def _write_held(block: object, dst_fd: int, dst_offset: int) -> None: ...
def _convert_whole_files(
    files: list[tuple[StrOrBytesPath, int, int, StrOrBytesPath, StrOrBytesPath]],
    target: str,
    *,
    undo_double: bool = False,
) -> Union[tuple[int, str, int], None]: ...

class StreamConverter:
    def __init__(self, target: str = "latin1") -> None: ...
    def feed(self, data: ReadableBuffer) -> bytes: ...
    def finish(self) -> bytes: ...
    def reset(self) -> None: ...
    @property
    def target(self) -> TargetName: ...
