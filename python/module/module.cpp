// The compiled part of the Python package textmend: the library's
// conversion, stream converter and inspection of bytes, the program's file
// conversion (in place included), and file objects. python/textmend/
// __init__.py re-exports it; _textmend.pyi beside it gives the types.
//
// Written against Python's C API directly: a call on a short input costs
// little more than the call itself, and wrong arguments are refused with
// the messages Python uses, naming the argument. Each docstring starts with
// the signature that inspect.signature() reads.
#include "calls.hpp"
#include "functions.hpp"
#include "python.hpp"
#include "textmend/textmend.hpp"

namespace {

using namespace textmend::python;

constexpr int FAST = METH_FASTCALL | METH_KEYWORDS;

PyMethodDef FUNCTIONS[] = {
    {"convert", as_method(convert), FAST,
     "convert($module, data, target='latin1', *, undo_double=False)\n--\n\n"
     "Repairs data in which UTF-8 and Latin-1 or Windows-1252 are mixed.\n\n"
     "data: bytes, bytearray, memoryview or another bytes-like object.\n"
     "target: 'latin1' (the default), 'windows-1252' or 'utf-8', or another\n"
     "name Python's codecs give one of them ('iso-8859-1', 'cp1252', 'utf8').\n"
     "undo_double: also undo text encoded twice ('cafÃ©' for 'café') in the\n"
     "lines where nothing else reads otherwise (see the library's\n"
     "undo_double_encoding); off by default.\n\n"
     "Returns the converted bytes: byte for byte what the textmend program\n"
     "writes (an input that needs nothing may come back as the same object).\n"
     "Raises TypeError for data that is not bytes-like, a target that is not\n"
     "a str or an undo_double that is not a bool, ValueError for an unknown\n"
     "target. Inputs over 64 KiB are converted without the global\n"
     "interpreter lock."},
    {"convert_many", as_method(convert_many), FAST,
     "convert_many($module, items, target='latin1')\n--\n\n"
     "convert() of every item, at a fraction of the cost of a call each.\n\n"
     "items: an iterable of bytes-like objects (a column of short values).\n"
     "target: as for convert().\n\n"
     "Returns a list of bytes in the order of items. Raises TypeError naming\n"
     "the index of an item that is not bytes-like, ValueError for an unknown\n"
     "target."},
    {"report", as_method(report), FAST,
     "report($module, data, target='latin1', *, max_examples=10)\n--\n\n"
     "What converting data would do, without converting it.\n\n"
     "data: a bytes-like object. target: as for convert().\n"
     "max_examples: how many places to describe (an int, 0 or more).\n\n"
     "Returns a dict with the fields of one line of textmend-report --json\n"
     "but 'file': target, bytes_in, bytes_out, changed, kept, double (runs of\n"
     "text encoded twice, counted once and not also as changed or kept), clean\n"
     "and examples (dicts of offset, line, column, kind and bytes in hex; a\n"
     "run's kind is 'double', with 'becomes': what undoing it writes).\n"
     "Raises TypeError or ValueError for wrong arguments."},
    {"convert_file", as_method(convert_file), FAST,
     "convert_file($module, src, dst, target='latin1', *, undo_double=False)\n--\n\n"
     "Converts the file src into dst with the textmend program's file handling.\n\n"
     "src, dst: file names (str, bytes or os.PathLike). When both name the same\n"
     "file it is converted in place: a temporary file, flushed and renamed over\n"
     "the original with its owner, mode, ACLs and attributes; a file that needs\n"
     "nothing is left as it is. target, undo_double: as for convert().\n\n"
     "Returns None. Raises OSError (FileNotFoundError, PermissionError, ...)\n"
     "naming the file on failure, leaving no output behind; TypeError or\n"
     "ValueError for wrong arguments."},
    {"convert_stream", as_method(convert_stream), FAST,
     "convert_stream($module, src, dst, target='latin1', *, undo_double=False)\n--\n\n"
     "Converts a binary file object into another, in constant memory.\n\n"
     "src: anything with readinto() or read() returning bytes (open(p, 'rb'),\n"
     "sys.stdin.buffer, io.BytesIO, a socket's makefile('rb')).\n"
     "dst: anything with write() (and flush(), called when src had no more\n"
     "for now, so a pipe's lines come out as they go in). target,\n"
     "undo_double: as for convert(); when undoing, each line is held until\n"
     "it is complete. Neither object is closed.\n\n"
     "Returns {'bytes_in': n, 'bytes_out': m}. Raises what src and dst raise,\n"
     "BlockingIOError for non-blocking objects that have nothing, TypeError\n"
     "or ValueError for wrong arguments."},
    {"_convert_range", as_method(convert_range), FAST,
     "_convert_range($module, src_fd, start, end, dst_fd, target, dst_offset=None, *,\n"
     "               undo_double=False)\n--\n\n"
     "For textmend.dask: converts bytes [start, end) of one open file onto the\n"
     "end of another, or from dst_offset on; returns (bytes read, bytes written).\n"
     "undo_double: undo text encoded twice; the range must hold whole lines."},
    {"_measure_range", as_method(measure_range), FAST,
     "_measure_range($module, src_fd, start, end, target, *, undo_double=False)\n--\n\n"
     "For textmend.dask: reads bytes [start, end) of an open file; returns\n"
     "(bytes read, bytes their conversion takes). undo_double: as for\n"
     "_convert_range()."},
    {"_convert_range_held", as_method(convert_range_held), FAST,
     "_convert_range_held($module, src_fd, start, end, target, *, undo_double=False,\n"
     "                    reuse=None)\n--\n\n"
     "For textmend.dask: converts bytes [start, end) of an open file into memory\n"
     "(reuse: a block written already, whose memory to use again); returns (bytes\n"
     "read, bytes converted, the block for _write_held()). undo_double: as for\n"
     "_convert_range()."},
    {"_write_held", as_method(write_held), FAST,
     "_write_held($module, block, dst_fd, dst_offset)\n--\n\n"
     "For textmend.dask: writes a block from _convert_range_held() into an open\n"
     "file from dst_offset on, once."},
    {"_convert_whole_files", as_method(convert_whole_files), FAST,
     "_convert_whole_files($module, files, target, *, undo_double=False)\n--\n\n"
     "For textmend.dask: converts each file of files, a list of (input, its size,\n"
     "its st_mtime_ns, prefix of the temporary name, output), under a name of its\n"
     "own that is flushed and renamed over the output. None when all were\n"
     "converted, else (index, 'changed' | 'input' | 'temporary' | 'rename', errno)\n"
     "for the file that failed, which leaves nothing; the files after it are left."},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef MODULE = {
    PyModuleDef_HEAD_INIT,
    "_textmend",
    "The compiled part of textmend: see the package textmend.",
    -1,
    FUNCTIONS,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

// The thread that runs signal handlers: threading.main_thread().
bool remember_main_thread() {
    PyObject* threading = PyImport_ImportModule("threading");
    PyObject* main =
        threading == nullptr ? nullptr : PyObject_CallMethod(threading, "main_thread", nullptr);
    PyObject* ident = main == nullptr ? nullptr : PyObject_GetAttrString(main, "ident");
    const unsigned long value = ident == nullptr ? 0 : PyLong_AsUnsignedLong(ident);
    Py_XDECREF(ident);
    Py_XDECREF(main);
    Py_XDECREF(threading);
    if (PyErr_Occurred() != nullptr) return false;
    textmend::python::remember_main_thread(value);
    return true;
}

}  // namespace

PyMODINIT_FUNC PyInit__textmend() {
    PyObject* module = PyModule_Create(&MODULE);
    if (module == nullptr) return nullptr;
    PyObject* stream_type = make_stream_converter_type();
    if (!remember_main_thread() || stream_type == nullptr ||
        PyModule_AddObjectRef(module, "StreamConverter", stream_type) != 0 ||
        PyModule_AddStringConstant(module, "__version__", textmend::version()) != 0) {
        Py_XDECREF(stream_type);
        Py_DECREF(module);
        return nullptr;
    }
    Py_DECREF(stream_type);
    return module;
}
