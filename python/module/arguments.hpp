// Arguments as the extension's functions receive them (the vectorcall
// convention): matched with the parameters by position and keyword, checked,
// and refused with the TypeError or ValueError Python itself would word,
// naming the function and the argument.
#pragma once

#include <cstddef>

#include "python.hpp"
#include "textmend/target.hpp"

namespace textmend::python {

// A function's parameters: their names in order, how many lead ones are
// required, and how many may be given by position (the rest are
// keyword-only).
struct Parameters {
    const char* function;
    const char* const* names;
    Py_ssize_t count;
    Py_ssize_t required;
    Py_ssize_t positional;
};

// Fills values[0 .. parameters.count) with the arguments given (borrowed) or
// nullptr for those left out. False with TypeError set when an argument is
// missing, given twice, unknown or one too many.
[[nodiscard]] bool match_arguments(const Parameters& parameters, PyObject* const* args,
                                   Py_ssize_t nargs, PyObject* kwnames, PyObject** values);

// Sets "function() argument 'name' must be expected, not 'type'"; returns
// nullptr, for the caller to return.
PyObject* wrong_type(const char* function, const char* argument, const char* expected,
                     PyObject* given);

// The target that name names: one of TARGET_NAMES, or any name that
// Python's codecs resolve to Latin-1, Windows-1252 or UTF-8 ("UTF-8",
// "iso-8859-1", "L1", "cp1252", ...). nullptr (left out) is Latin-1. The
// names found are kept, so a name costs one dictionary lookup after its
// first use. False with TypeError or ValueError set.
[[nodiscard]] bool target_from(PyObject* name, const char* function, Target* target);

// The target's name as a str (a new reference), as results name it.
[[nodiscard]] PyObject* target_name_object(Target target);

// The bytes of a bytes-like object (bytes, bytearray, memoryview, array, ...)
// held for as long as this lives. A bytes object is read directly; others
// through the buffer protocol, which keeps a bytearray from being resized
// meanwhile; a strided view is copied in order.
class InputBytes {
public:
    enum class Opened { yes, not_bytes_like, failed };

    InputBytes() = default;
    ~InputBytes() { close(); }
    InputBytes(const InputBytes&) = delete;
    InputBytes& operator=(const InputBytes&) = delete;

    // not_bytes_like sets no error (the caller words it); failed leaves the
    // error that the object's buffer raised.
    [[nodiscard]] Opened open(PyObject* object);
    // The same, with "function() argument 'argument' must be a bytes-like
    // object" for not_bytes_like. False with an error set.
    [[nodiscard]] bool open(PyObject* object, const char* function, const char* argument);
    void close();

    [[nodiscard]] const void* data() const { return data_; }
    [[nodiscard]] std::size_t size() const { return size_; }

private:
    const void* data_ = nullptr;
    std::size_t size_ = 0;
    bool viewed_ = false;
    Py_buffer view_{};
    PyObject* copy_ = nullptr;
};

// The expected type of a bytes-like argument, as messages name it.
inline constexpr const char* BYTES_LIKE = "a bytes-like object (bytes, bytearray, memoryview)";

}  // namespace textmend::python
