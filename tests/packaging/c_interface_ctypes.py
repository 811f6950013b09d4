#!/usr/bin/env python3
"""The shared library's C interface through ctypes, as any FFI sees it.

    c_interface_ctypes.py LIBRARY

Loads LIBRARY (libtextmend.so.MAJOR), converts whole buffers (asking for the
size first), a stream in pieces with too little room first, and inspects;
checks every result against what it must be. Exits non-zero on a mismatch.
"""

import ctypes
import sys

OK, WRONG_ARGUMENT, BUFFER_TOO_SMALL = 0, 1, 2
LATIN1, WINDOWS1252, UTF8 = 1, 2, 3


class Inspection(ctypes.Structure):
    _fields_ = [("bytes_in", ctypes.c_uint64), ("bytes_out", ctypes.c_uint64),
                ("changed", ctypes.c_uint64), ("kept", ctypes.c_uint64)]


def load(path):
    lib = ctypes.CDLL(path)
    size_p = ctypes.POINTER(ctypes.c_size_t)
    lib.textmend_version.restype = ctypes.c_char_p
    lib.textmend_status_text.restype = ctypes.c_char_p
    lib.textmend_max_converted_size.restype = ctypes.c_size_t
    lib.textmend_max_converted_size.argtypes = [ctypes.c_size_t, ctypes.c_int]
    lib.textmend_safe_cut.restype = ctypes.c_size_t
    lib.textmend_safe_cut.argtypes = [ctypes.c_char_p, ctypes.c_size_t]
    lib.textmend_convert.argtypes = [ctypes.c_char_p, ctypes.c_size_t, ctypes.c_int,
                                     ctypes.c_void_p, ctypes.c_size_t, size_p]
    lib.textmend_stream_new.argtypes = [ctypes.c_int, ctypes.POINTER(ctypes.c_void_p)]
    lib.textmend_stream_feed.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_size_t,
                                         ctypes.c_void_p, ctypes.c_size_t, size_p]
    lib.textmend_stream_finish.argtypes = [ctypes.c_void_p, ctypes.c_void_p, ctypes.c_size_t,
                                           size_p]
    lib.textmend_stream_free.argtypes = [ctypes.c_void_p]
    lib.textmend_inspect.argtypes = [ctypes.c_char_p, ctypes.c_size_t, ctypes.c_int,
                                     ctypes.POINTER(Inspection)]
    return lib


def expect(what, got, wanted):
    if got != wanted:
        sys.exit(f"c_interface_ctypes: {what}: {got!r}, expected {wanted!r}")


def convert(lib, data, target):
    needed = ctypes.c_size_t()
    status = lib.textmend_convert(data, len(data), target, None, 0, ctypes.byref(needed))
    expect("asking for the size", status, BUFFER_TOO_SMALL if data else OK)
    out = ctypes.create_string_buffer(needed.value)
    written = ctypes.c_size_t()
    expect("converting", lib.textmend_convert(data, len(data), target, out, needed.value,
                                              ctypes.byref(written)), OK)
    return out.raw[:written.value]


def convert_in_pieces(lib, pieces, target):
    stream = ctypes.c_void_p()
    expect("a new stream", lib.textmend_stream_new(target, ctypes.byref(stream)), OK)
    result = b""
    size = ctypes.c_size_t()
    for piece in pieces:
        out = ctypes.create_string_buffer(1)
        status = lib.textmend_stream_feed(stream, piece, len(piece), out, 1, ctypes.byref(size))
        if status == BUFFER_TOO_SMALL:
            out = ctypes.create_string_buffer(size.value)
            status = lib.textmend_stream_feed(stream, piece, len(piece), out, size.value,
                                              ctypes.byref(size))
        expect("feeding", status, OK)
        result += out.raw[:size.value]
    out = ctypes.create_string_buffer(64)
    expect("finishing", lib.textmend_stream_finish(stream, out, 64, ctypes.byref(size)), OK)
    lib.textmend_stream_free(stream)
    return result + out.raw[:size.value]


def main():
    lib = load(sys.argv[1])
    expect("version", lib.textmend_version().count(b"."), 2)
    expect("status text", lib.textmend_status_text(BUFFER_TOO_SMALL), b"buffer too small")
    expect("bound", lib.textmend_max_converted_size(100, 9), 0)
    expect("cut", lib.textmend_safe_cut(b"a\nb\xe2\x82", 5), 3)
    mixed = "caf\xe9 caf\u00e9 \u20ac".encode("utf-8").replace(b"caf\xc3\xa9 ", b"caf\xe9 ", 1)
    expect("to UTF-8", convert(lib, mixed, UTF8), "café café €".encode("utf-8"))
    expect("to Latin-1", convert(lib, mixed, LATIN1), b"caf\xe9 caf\xe9 \xe2\x82\xac")
    expect("to Windows-1252", convert(lib, mixed, WINDOWS1252), b"caf\xe9 caf\xe9 \x80")
    expect("nothing", convert(lib, b"", UTF8), b"")
    pieces = [mixed[i:i + 3] for i in range(0, len(mixed), 3)]
    expect("in pieces", convert_in_pieces(lib, pieces, UTF8), convert(lib, mixed, UTF8))
    found = Inspection()
    expect("inspecting", lib.textmend_inspect(mixed, len(mixed), LATIN1, ctypes.byref(found)), OK)
    expect("inspection", (found.bytes_in, found.changed, found.kept), (len(mixed), 1, 1))
    expect("a wrong call", lib.textmend_inspect(mixed, len(mixed), LATIN1, None), WRONG_ARGUMENT)
    print("C interface through ctypes: ok")


if __name__ == "__main__":
    main()
