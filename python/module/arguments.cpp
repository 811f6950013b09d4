#include "arguments.hpp"

#include <cstring>

namespace textmend::python {

bool match_arguments(const Parameters& parameters, PyObject* const* args, Py_ssize_t nargs,
                     PyObject* kwnames, PyObject** values) {
    for (Py_ssize_t i = 0; i < parameters.count; ++i)
        values[i] = nullptr;
    if (nargs > parameters.positional) {
        PyErr_Format(PyExc_TypeError, "%s() takes at most %zd positional argument%s (%zd given)",
                     parameters.function, parameters.positional,
                     parameters.positional == 1 ? "" : "s", nargs);
        return false;
    }
    for (Py_ssize_t i = 0; i < nargs; ++i)
        values[i] = args[i];
    const Py_ssize_t keywords = kwnames == nullptr ? 0 : PyTuple_GET_SIZE(kwnames);
    for (Py_ssize_t k = 0; k < keywords; ++k) {
        PyObject* keyword = PyTuple_GET_ITEM(kwnames, k);
        Py_ssize_t index = 0;
        while (index < parameters.count &&
               PyUnicode_CompareWithASCIIString(keyword, parameters.names[index]) != 0)
            ++index;
        if (index == parameters.count) {
            PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'",
                         parameters.function, keyword);
            return false;
        }
        if (values[index] != nullptr) {
            PyErr_Format(PyExc_TypeError, "%s() got multiple values for argument '%s'",
                         parameters.function, parameters.names[index]);
            return false;
        }
        values[index] = args[nargs + k];
    }
    for (Py_ssize_t i = 0; i < parameters.required; ++i) {
        if (values[i] == nullptr) {
            PyErr_Format(PyExc_TypeError, "%s() missing required argument '%s' (pos %zd)",
                         parameters.function, parameters.names[i], i + 1);
            return false;
        }
    }
    return true;
}

PyObject* wrong_type(const char* function, const char* argument, const char* expected,
                     PyObject* given) {
    PyErr_Format(PyExc_TypeError, "%s() argument '%s' must be %s, not '%s'", function, argument,
                 expected, Py_TYPE(given)->tp_name);
    return nullptr;
}

namespace {

// The names Python's codecs give the three encodings (CodecInfo.name).
struct CodecTarget {
    const char* codec;
    Target target;
};

constexpr CodecTarget CODEC_TARGETS[] = {
    {"iso8859-1", Target::latin1},
    {"cp1252", Target::windows1252},
    {"utf-8", Target::utf8},
};

// Names already looked up (exact str -> int). Bounded: a program that
// passes ever new spellings must not make it grow without end.
PyObject* known_names = nullptr;
constexpr Py_ssize_t KNOWN_NAMES_MAX = 256;

enum class Lookup { found, unknown, failed };

Lookup target_by_codec(PyObject* name, Target* target) {
    static PyObject* codecs_lookup = nullptr;
    if (codecs_lookup == nullptr) {
        PyObject* codecs = PyImport_ImportModule("codecs");
        if (codecs == nullptr) return Lookup::failed;
        codecs_lookup = PyObject_GetAttrString(codecs, "lookup");
        Py_DECREF(codecs);
        if (codecs_lookup == nullptr) return Lookup::failed;
    }
    PyObject* info = PyObject_CallOneArg(codecs_lookup, name);
    if (info == nullptr) {
        if (!PyErr_ExceptionMatches(PyExc_LookupError)) return Lookup::failed;
        PyErr_Clear();
        return Lookup::unknown;
    }
    PyObject* codec = PyObject_GetAttrString(info, "name");
    Py_DECREF(info);
    if (codec == nullptr) return Lookup::failed;
    const char* text = PyUnicode_Check(codec) ? PyUnicode_AsUTF8(codec) : nullptr;
    Lookup result = Lookup::unknown;
    if (text == nullptr && PyErr_Occurred() != nullptr) result = Lookup::failed;
    for (const CodecTarget& entry : CODEC_TARGETS) {
        if (text != nullptr && std::strcmp(entry.codec, text) == 0) {
            *target = entry.target;
            result = Lookup::found;
        }
    }
    Py_DECREF(codec);
    return result;
}

Lookup look_up_target(PyObject* name, Target* target) {
    const char* text = PyUnicode_AsUTF8(name);
    if (text == nullptr) {  // a lone surrogate: no codec is named so
        PyErr_Clear();
        return Lookup::unknown;
    }
    if (parse_target(text, *target)) return Lookup::found;
    return target_by_codec(name, target);
}

void remember(PyObject* name, Target target) {
    if (!PyUnicode_CheckExact(name) || PyDict_GET_SIZE(known_names) >= KNOWN_NAMES_MAX) return;
    PyObject* value = PyLong_FromLong(static_cast<long>(target));
    if (value == nullptr || PyDict_SetItem(known_names, name, value) != 0) PyErr_Clear();
    Py_XDECREF(value);
}

}  // namespace

bool target_from(PyObject* name, const char* function, Target* target) {
    if (name == nullptr) {
        *target = Target::latin1;
        return true;
    }
    if (!PyUnicode_Check(name)) {
        wrong_type(function, "target", "a str such as 'utf-8'", name);
        return false;
    }
    if (known_names == nullptr && (known_names = PyDict_New()) == nullptr) return false;
    if (PyUnicode_CheckExact(name)) {
        PyObject* known = PyDict_GetItemWithError(known_names, name);
        if (known != nullptr) {
            *target = static_cast<Target>(PyLong_AsLong(known));
            return true;
        }
        if (PyErr_Occurred() != nullptr) return false;
    }
    switch (look_up_target(name, target)) {
        case Lookup::found:
            remember(name, *target);
            return true;
        case Lookup::failed:
            return false;
        case Lookup::unknown:
            break;
    }
    PyErr_Format(PyExc_ValueError,
                 "%s() argument 'target': unknown target %R; use 'latin1', 'windows-1252' or "
                 "'utf-8', or another name Python's codecs give them ('iso-8859-1', 'cp1252', "
                 "'utf8', ...)",
                 function, name);
    return false;
}

PyObject* target_name_object(Target target) {
    return PyUnicode_FromString(target_name(target));
}

InputBytes::Opened InputBytes::open(PyObject* object) {
    close();
    if (PyBytes_CheckExact(object)) {
        data_ = PyBytes_AS_STRING(object);
        size_ = static_cast<std::size_t>(PyBytes_GET_SIZE(object));
        return Opened::yes;
    }
    if (PyUnicode_Check(object) || !PyObject_CheckBuffer(object)) return Opened::not_bytes_like;
    if (PyObject_GetBuffer(object, &view_, PyBUF_C_CONTIGUOUS) != 0) {
        // A strided view (memoryview(b)[::2], say): its bytes, copied in order.
        PyErr_Clear();
        copy_ = PyBytes_FromObject(object);
        if (copy_ == nullptr) return Opened::failed;
        data_ = PyBytes_AS_STRING(copy_);
        size_ = static_cast<std::size_t>(PyBytes_GET_SIZE(copy_));
        return Opened::yes;
    }
    viewed_ = true;
    data_ = view_.buf;
    size_ = static_cast<std::size_t>(view_.len);
    return Opened::yes;
}

bool InputBytes::open(PyObject* object, const char* function, const char* argument) {
    switch (open(object)) {
        case Opened::yes:
            return true;
        case Opened::not_bytes_like:
            wrong_type(function, argument, BYTES_LIKE, object);
            return false;
        case Opened::failed:
            break;
    }
    return false;
}

void InputBytes::close() {
    if (viewed_) PyBuffer_Release(&view_);
    viewed_ = false;
    Py_CLEAR(copy_);
    data_ = nullptr;
    size_ = 0;
}

}  // namespace textmend::python
