// textmend.StreamConverter: the library's stream converter as a Python type.
// A mutex keeps two threads from feeding one converter at once while the
// interpreter lock is let go for a large piece.
#include <mutex>
#include <new>

#include "arguments.hpp"
#include "calls.hpp"
#include "functions.hpp"
#include "textmend/textmend.hpp"

namespace textmend::python {

namespace {

struct StreamState {
    explicit StreamState(Target target) : converter(target) {}
    textmend::StreamConverter converter;
    std::mutex mutex;
    bool finished = false;  // changed with the interpreter lock held
};

struct StreamObject {
    PyObject_HEAD StreamState* state;
};

StreamState& state_of(PyObject* self) {
    return *reinterpret_cast<StreamObject*>(self)->state;
}

// Takes the converter's mutex; while another thread converts with it, waits
// without the interpreter lock, which that thread needs to finish.
class ConverterLock {
public:
    explicit ConverterLock(std::mutex& mutex) : mutex_(mutex) {
        if (mutex_.try_lock()) return;
        const WithoutGil unlocked;
        mutex_.lock();
    }
    ~ConverterLock() { mutex_.unlock(); }
    ConverterLock(const ConverterLock&) = delete;
    ConverterLock& operator=(const ConverterLock&) = delete;

private:
    std::mutex& mutex_;
};

constexpr const char* INIT_NAMES[] = {"target"};
constexpr Parameters INIT{"StreamConverter", INIT_NAMES, 1, 0, 1};

constexpr const char* FEED_NAMES[] = {"data"};
constexpr Parameters FEED{"feed", FEED_NAMES, 1, 1, 1};

constexpr Parameters NO_ARGUMENTS{"finish", nullptr, 0, 0, 0};

PyObject* stream_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    // The arguments laid out as vectorcall gives them, to be matched as
    // every other function's are.
    const Py_ssize_t nargs = PyTuple_GET_SIZE(args);
    const Py_ssize_t keywords = kwargs == nullptr ? 0 : PyDict_GET_SIZE(kwargs);
    if (nargs + keywords > 2) {
        PyErr_Format(PyExc_TypeError, "StreamConverter() takes at most 1 argument (%zd given)",
                     nargs + keywords);
        return nullptr;
    }
    PyObject* given[2] = {};
    for (Py_ssize_t i = 0; i < nargs; ++i)
        given[i] = PyTuple_GET_ITEM(args, i);
    PyObject* kwnames = keywords > 0 ? PyTuple_New(keywords) : nullptr;
    if (keywords > 0 && kwnames == nullptr) return nullptr;
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    Py_ssize_t position = 0;
    for (Py_ssize_t k = 0; keywords > 0 && PyDict_Next(kwargs, &position, &key, &value); ++k) {
        Py_INCREF(key);
        PyTuple_SET_ITEM(kwnames, k, key);
        given[nargs + k] = value;
    }
    PyObject* values[1];
    Target target{};
    const bool matched = match_arguments(INIT, given, nargs, kwnames, values) &&
                         target_from(values[0], INIT.function, &target);
    Py_XDECREF(kwnames);
    if (!matched) return nullptr;
    PyObject* self = type->tp_alloc(type, 0);
    if (self == nullptr) return nullptr;
    reinterpret_cast<StreamObject*>(self)->state = new (std::nothrow) StreamState(target);
    if (reinterpret_cast<StreamObject*>(self)->state == nullptr) {
        Py_DECREF(self);
        return PyErr_NoMemory();
    }
    return self;
}

void stream_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    delete reinterpret_cast<StreamObject*>(self)->state;
    type->tp_free(self);
    Py_DECREF(type);
}

PyObject* stream_feed(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* values[1];
    if (!match_arguments(FEED, args, nargs, kwnames, values)) return nullptr;
    StreamState& state = state_of(self);
    if (state.finished) {
        PyErr_SetString(PyExc_ValueError,
                        "feed() after finish(): call reset() to convert a new input");
        return nullptr;
    }
    InputBytes input;
    if (!input.open(values[0], FEED.function, "data")) return nullptr;
    const ConverterLock lock(state.mutex);
    return written_bytes(
        max_converted_size(input.size(), state.converter.target), [&](std::uint8_t* out) {
            return textmend::stream_feed(state.converter, input.data(), input.size(), out);
        });
}

PyObject* stream_finish(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                        PyObject* kwnames) {
    PyObject* values[1];
    if (!match_arguments(NO_ARGUMENTS, args, nargs, kwnames, values)) return nullptr;
    StreamState& state = state_of(self);
    state.finished = true;
    const ConverterLock lock(state.mutex);
    return written_bytes(max_converted_size(0, state.converter.target), [&](std::uint8_t* out) {
        return textmend::stream_finish(state.converter, out);
    });
}

PyObject* stream_reset(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    constexpr Parameters RESET{"reset", nullptr, 0, 0, 0};
    PyObject* values[1];
    if (!match_arguments(RESET, args, nargs, kwnames, values)) return nullptr;
    StreamState& state = state_of(self);
    const ConverterLock lock(state.mutex);
    state.converter = textmend::StreamConverter(state.converter.target);
    state.finished = false;
    Py_RETURN_NONE;
}

PyObject* stream_target(PyObject* self, void*) {
    return target_name_object(state_of(self).converter.target);
}

PyMethodDef STREAM_METHODS[] = {
    {"feed", as_method(stream_feed), METH_FASTCALL | METH_KEYWORDS,
     "feed($self, data)\n--\n\n"
     "Converts what can be decided of the next piece of the input.\n\n"
     "data: bytes, bytearray, memoryview or another bytes-like object.\n"
     "Returns the converted bytes. Only a sequence at the end that the next\n"
     "piece may still complete is held back (at most five bytes, three for\n"
     "utf-8); a piece that ends in ASCII or a whole sequence is converted\n"
     "whole. Raises TypeError for data that is not bytes-like,\n"
     "ValueError after finish() (until reset())."},
    {"finish", as_method(stream_finish), METH_FASTCALL | METH_KEYWORDS,
     "finish($self)\n--\n\n"
     "Converts what was held back: the input has ended. Returns the bytes\n"
     "still to be written; feed() after it raises ValueError until reset()."},
    {"reset", as_method(stream_reset), METH_FASTCALL | METH_KEYWORDS,
     "reset($self)\n--\n\n"
     "Drops what is held back and starts on a new input with the same target."},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef STREAM_PROPERTIES[] = {
    {"target", stream_target, nullptr, "The target's name: 'latin1', 'windows-1252' or 'utf-8'.",
     nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot STREAM_SLOTS[] = {
    {Py_tp_new, reinterpret_cast<void*>(stream_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(stream_dealloc)},
    {Py_tp_methods, STREAM_METHODS},
    {Py_tp_getset, STREAM_PROPERTIES},
    {Py_tp_doc,
     const_cast<char*>("StreamConverter(target='latin1')\n--\n\n"
                       "Converts an input that arrives in pieces of any size: the joined results\n"
                       "of feed() and finish() are exactly convert() of the whole input.\n\n"
                       "target: 'latin1' (the default), 'windows-1252' or 'utf-8', or another\n"
                       "name Python's codecs give one of them ('iso-8859-1', 'cp1252', 'utf8').\n"
                       "Raises TypeError for a target that is not a str, ValueError for an\n"
                       "unknown one. One converter may be fed from several threads; each\n"
                       "piece is converted whole before the next.")},
    {0, nullptr},
};

PyType_Spec STREAM_SPEC = {
    "textmend.StreamConverter", sizeof(StreamObject), 0, Py_TPFLAGS_DEFAULT, STREAM_SLOTS,
};

}  // namespace

PyObject* make_stream_converter_type() {
    return PyType_FromSpec(&STREAM_SPEC);
}

}  // namespace textmend::python
