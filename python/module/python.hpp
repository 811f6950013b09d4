// Python's C API, included the same way by every file of the extension.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace textmend::python {

// A function of the METH_FASTCALL | METH_KEYWORDS kind as PyMethodDef stores
// it: through void (*)(), the documented way to store a function of another
// signature there, which Python casts back by the flags.
template <typename Function>
PyCFunction as_method(Function function) {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function));
}

}  // namespace textmend::python
