"""Repairs text in which UTF-8 and Latin-1/Windows-1252 are mixed.

Every byte at or above 0x80 is judged by itself: a valid UTF-8 sequence is
decoded, any other byte is read as Latin-1 (or Windows-1252), and everything
is written in one target encoding: ``"latin1"`` (the default),
``"windows-1252"`` or ``"utf-8"``, or any other name Python's codecs give
one of them (``"iso-8859-1"``, ``"L1"``, ``"cp1252"``, ``"UTF-8"``, ``"utf8"``,
...). The results are byte for byte those of the ``textmend`` program.

    >>> import textmend
    >>> textmend.convert(b"caf\\xc3\\xa9 and caf\\xe9", "utf-8")
    b'caf\\xc3\\xa9 and caf\\xc3\\xa9'
    >>> textmend.convert_many([b"caf\\xe9", b"na\\xc3\\xafve"], "UTF-8")
    [b'caf\\xc3\\xa9', b'na\\xc3\\xafve']

convert, convert_many, StreamConverter, report, convert_file and
convert_stream release the global interpreter lock while they convert large
inputs, so threads convert in parallel.

Because a byte below 0x80 never belongs to a sequence, an input cut just
after any such byte (a newline, say) converts piece by piece to exactly the
conversion of the whole; textmend.dask uses that to spread one large file
over a cluster.
"""

from ._textmend import (
    StreamConverter,
    __version__,
    convert,
    convert_file,
    convert_many,
    convert_stream,
    report,
)

__all__ = [
    "convert",
    "convert_many",
    "StreamConverter",
    "report",
    "convert_file",
    "convert_stream",
    "__version__",
]
