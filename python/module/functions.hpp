// The functions and the type the module _textmend holds (module.cpp lists
// them with their documentation).
#pragma once

#include "python.hpp"

namespace textmend::python {

// In memory (bytes_functions.cpp).
PyObject* convert(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* convert_many(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                       PyObject* kwnames);
PyObject* report(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

// Files and file objects (file_functions.cpp).
PyObject* convert_file(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                       PyObject* kwnames);
PyObject* convert_stream(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                         PyObject* kwnames);

// Ranges of open files, for textmend.dask (range_functions.cpp).
PyObject* convert_range(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                        PyObject* kwnames);
PyObject* measure_range(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                        PyObject* kwnames);
PyObject* convert_range_held(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                             PyObject* kwnames);
PyObject* write_held(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* convert_whole_files(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                              PyObject* kwnames);

// The type StreamConverter (stream_converter.cpp); nullptr with an error set.
PyObject* make_stream_converter_type();

}  // namespace textmend::python
