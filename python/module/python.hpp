// Python's C API, included the same way by every file of the extension.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>
