// convert, convert_many and report: bytes in memory.
//
// A call on a small input is made with the interpreter lock held and a
// result buffer on the stack: for inputs of a few dozen bytes the cost of a
// call is the call itself, so it does as little as it can. A large input is
// measured first and converted into a result of exactly its size, without
// the lock, in pieces between which Python's signal handlers run.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "arguments.hpp"
#include "calls.hpp"
#include "functions.hpp"
#include "textmend/textmend.hpp"

namespace textmend::python {

namespace {

// Inputs up to this size are converted into a buffer on the stack.
constexpr std::size_t SMALL_INPUT = 4096;

// Inputs at least this large are converted in pieces of about this size.
constexpr std::size_t PIECE_SIZE = std::size_t{16} << 20;

// An unchanged input comes back as the same bytes object: every change
// alters the length, so an output as long as the input is the input.
PyObject* same_object(PyObject* original) {
    Py_INCREF(original);
    return original;
}

// No byte at or above 0x80: every target leaves the input as it is.
bool all_ascii(const void* data, std::size_t size) {
    const auto* p = static_cast<const std::uint8_t*>(data);
    std::uint64_t high = 0;
    std::size_t i = 0;
    for (; i + 8 <= size; i += 8) {
        std::uint64_t word = 0;
        std::memcpy(&word, p + i, 8);
        high |= word;
    }
    for (; i < size; ++i)
        high |= p[i];
    return (high & 0x8080808080808080ULL) == 0;
}

PyObject* converted_small(const InputBytes& input, PyObject* original, Target target) {
    if (PyBytes_CheckExact(original) && all_ascii(input.data(), input.size())) {
        return same_object(original);
    }
    std::uint8_t out[max_converted_size(SMALL_INPUT, Target::utf8)];
    const std::size_t n = textmend::convert(input.data(), input.size(), out, target);
    if (n == input.size() && PyBytes_CheckExact(original)) return same_object(original);
    return PyBytes_FromStringAndSize(reinterpret_cast<const char*>(out),
                                     static_cast<Py_ssize_t>(n));
}

// Where the piece that starts at start ends: just after the first byte
// below 0x80 from start + PIECE_SIZE on (no sequence crosses it, so the
// pieces convert to exactly the conversion of the whole), or at the end.
std::size_t piece_end(const std::uint8_t* data, std::size_t size, std::size_t start) {
    if (size - start <= PIECE_SIZE) return size;
    const std::uint8_t* p = data + start + PIECE_SIZE;
    const std::uint8_t* end = data + size;
    while (p < end && *p >= 0x80)
        ++p;
    return p < end ? static_cast<std::size_t>(p - data) + 1 : size;
}

// The exact size of the conversion, a piece at a time; false when a signal
// handler raised (the watch holds its exception).
bool measure(const InputBytes& input, Target target, SignalWatch& watch, std::size_t* total) {
    const auto* data = static_cast<const std::uint8_t*>(input.data());
    const std::size_t size = input.size();
    *total = 0;
    const WithoutGil unlocked;
    for (std::size_t at = 0; at < size && !watch.stop_requested();) {
        const std::size_t end = piece_end(data, size, at);
        *total += converted_size(data + at, end - at, target);
        at = end;
    }
    return !watch.raised();
}

// Converts into out of room bytes a piece at a time; the count written, or
// room + 1 when it did not fit (another thread changed a writable input
// since it was measured) or a signal handler raised.
std::size_t convert_pieces(const InputBytes& input, Target target, SignalWatch& watch,
                           std::uint8_t* out, std::size_t room) {
    const auto* data = static_cast<const std::uint8_t*>(input.data());
    const std::size_t size = input.size();
    std::size_t written = 0;
    for (std::size_t at = 0; at < size;) {
        if (watch.stop_requested()) return 0;
        const std::size_t end = piece_end(data, size, at);
        const CheckedConversion done =
            textmend::convert(data + at, end - at, out + written, room - written, target);
        if (!done.fits) return 0;
        written += done.size;
        at = end;
    }
    return written;
}

PyObject* converted_large(const InputBytes& input, PyObject* original, Target target) {
    SignalWatch watch;
    std::size_t total = 0;
    if (!measure(input, target, watch, &total)) {
        watch.rethrow_if_raised();
        return nullptr;
    }
    if (total == input.size() && PyBytes_CheckExact(original)) return same_object(original);
    bool fitted = true;
    PyObject* result = written_bytes(total, [&](std::uint8_t* out) {
        const std::size_t written = convert_pieces(input, target, watch, out, total);
        fitted = written == total;
        return fitted ? written : 0;
    });
    if (watch.rethrow_if_raised()) {
        Py_XDECREF(result);
        return nullptr;
    }
    if (result == nullptr || fitted) return result;
    // A writable input (a bytearray) changed in between: converted whole,
    // at the size the worst case needs.
    Py_DECREF(result);
    return written_bytes(max_converted_size(input.size(), target), [&](std::uint8_t* out) {
        return textmend::convert(input.data(), input.size(), out, target);
    });
}

// With text encoded twice undone: measured, then converted whole into a
// result of exactly its size (lines decide on their own, so pieces would
// have to be cut at newlines; one call is as fast). A writable input that
// another thread changed in between is converted again into the room the
// worst case needs.
PyObject* converted_undoing_double(const InputBytes& input, PyObject* original, Target target) {
    const ConversionOptions undo{.undo_double_encoding = true};
    std::uint8_t none[1];
    std::size_t needed = 0;
    {
        const auto measure = [&] {
            needed = textmend::convert(input.data(), input.size(), none, 0, target, undo).size;
        };
        if (input.size() > SMALL_INPUT) {
            const WithoutGil unlocked;
            measure();
        } else {
            measure();
        }
    }
    bool fitted = true;
    PyObject* result = written_bytes(needed, [&](std::uint8_t* out) {
        const CheckedConversion done =
            textmend::convert(input.data(), input.size(), out, needed, target, undo);
        fitted = done.fits;
        return done.fits ? done.size : 0;
    });
    if (result != nullptr && fitted) {
        // Undoing shortens a line by as much as converting a Latin-1 byte
        // may lengthen another: here the same length is not the same bytes.
        if (PyBytes_CheckExact(original) &&
            static_cast<std::size_t>(PyBytes_GET_SIZE(result)) == input.size() &&
            std::memcmp(PyBytes_AS_STRING(result), input.data(), input.size()) == 0) {
            Py_DECREF(result);
            return same_object(original);
        }
        return result;
    }
    if (result == nullptr) return result;
    Py_DECREF(result);
    const std::size_t room = max_converted_size(input.size(), target);
    return written_bytes(room, [&](std::uint8_t* out) {
        return textmend::convert(input.data(), input.size(), out, room, target, undo).size;
    });
}

PyObject* converted(const InputBytes& input, PyObject* original, Target target) {
    return input.size() <= SMALL_INPUT ? converted_small(input, original, target)
                                       : converted_large(input, original, target);
}

constexpr const char* CONVERT_NAMES[] = {"data", "target", "undo_double"};
constexpr Parameters CONVERT{"convert", CONVERT_NAMES, 3, 1, 2};

constexpr const char* CONVERT_MANY_NAMES[] = {"items", "target"};
constexpr Parameters CONVERT_MANY{"convert_many", CONVERT_MANY_NAMES, 2, 1, 2};

constexpr const char* REPORT_NAMES[] = {"data", "target", "max_examples"};
constexpr Parameters REPORT{"report", REPORT_NAMES, 3, 1, 2};

}  // namespace

PyObject* convert(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* values[3];
    Target target{};
    if (!match_arguments(CONVERT, args, nargs, kwnames, values) ||
        !target_from(values[1], CONVERT.function, &target)) {
        return nullptr;
    }
    const bool undo = values[2] != nullptr && values[2] == Py_True;
    if (values[2] != nullptr && !PyBool_Check(values[2])) {
        return wrong_type(CONVERT.function, "undo_double", "a bool", values[2]);
    }
    InputBytes input;
    if (!input.open(values[0], CONVERT.function, "data")) return nullptr;
    return undo ? converted_undoing_double(input, values[0], target)
                : converted(input, values[0], target);
}

PyObject* convert_many(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* values[2];
    Target target{};
    if (!match_arguments(CONVERT_MANY, args, nargs, kwnames, values) ||
        !target_from(values[1], CONVERT_MANY.function, &target)) {
        return nullptr;
    }
    if (PyUnicode_Check(values[0]) || PyBytes_Check(values[0]) || PyByteArray_Check(values[0])) {
        return wrong_type(CONVERT_MANY.function, "items", "an iterable of bytes-like objects",
                          values[0]);
    }
    // A tuple of its own: a conversion that lets the lock go must not find
    // the list it walks changed by another thread.
    PyObject* items = PySequence_Tuple(values[0]);
    if (items == nullptr) {
        if (PyErr_ExceptionMatches(PyExc_TypeError) && !PyIter_Check(values[0])) {
            PyErr_Clear();
            return wrong_type(CONVERT_MANY.function, "items", "an iterable of bytes-like objects",
                              values[0]);
        }
        return nullptr;
    }
    const Py_ssize_t count = PyTuple_GET_SIZE(items);
    PyObject* results = PyList_New(count);
    InputBytes input;
    for (Py_ssize_t i = 0; results != nullptr && i < count; ++i) {
        PyObject* item = PyTuple_GET_ITEM(items, i);
        PyObject* result = nullptr;
        switch (input.open(item)) {
            case InputBytes::Opened::yes:
                result = converted(input, item, target);
                break;
            case InputBytes::Opened::not_bytes_like:
                PyErr_Format(PyExc_TypeError,
                             "convert_many() item %zd of 'items' must be %s, not '%s'", i,
                             BYTES_LIKE, Py_TYPE(item)->tp_name);
                break;
            case InputBytes::Opened::failed:
                break;
        }
        input.close();
        if (result == nullptr)
            Py_CLEAR(results);
        else
            PyList_SET_ITEM(results, i, result);
    }
    Py_DECREF(items);
    return results;
}

namespace {

PyObject* hex_of(const std::uint8_t* bytes, std::size_t n) {
    static constexpr char DIGITS[] = "0123456789abcdef";
    char hex[2 * DOUBLE_RUN_BYTES_MAX];
    for (std::size_t i = 0; i < n; ++i) {
        hex[2 * i] = DIGITS[bytes[i] >> 4];
        hex[2 * i + 1] = DIGITS[bytes[i] & 15];
    }
    return PyUnicode_FromStringAndSize(hex, 2 * static_cast<Py_ssize_t>(n));
}

// A finding as textmend-report --json writes it: a run with its own bytes
// (in data) and what undoing it writes in the target.
PyObject* example_of(const Finding& f, const std::uint8_t* data, Target target) {
    const bool run = f.kind == FindingKind::double_encoded;
    PyObject* hex = run ? hex_of(data + f.offset, f.length) : hex_of(f.bytes, f.length);
    if (hex == nullptr) return nullptr;
    PyObject* example = Py_BuildValue(
        "{sKsKsKsssN}", "offset", static_cast<unsigned long long>(f.offset), "line",
        static_cast<unsigned long long>(f.line), "column",
        static_cast<unsigned long long>(f.column), "kind", finding_kind_name(f.kind), "bytes", hex);
    if (example == nullptr || !run) return example;
    std::uint8_t undone[FINDING_BYTES_MAX];
    PyObject* becomes = hex_of(undone, undone_bytes(f, target, undone));
    if (becomes == nullptr || PyDict_SetItemString(example, "becomes", becomes) != 0) {
        Py_XDECREF(becomes);
        Py_DECREF(example);
        return nullptr;
    }
    Py_DECREF(becomes);
    return example;
}

PyObject* fields_of(const ReportCounts& counts, const std::vector<Finding>& findings,
                    const std::uint8_t* data) {
    const Inspection& result = counts.units;
    PyObject* examples = PyList_New(static_cast<Py_ssize_t>(findings.size()));
    for (std::size_t i = 0; examples != nullptr && i < findings.size(); ++i) {
        PyObject* example = example_of(findings[i], data, result.target);
        if (example == nullptr)
            Py_CLEAR(examples);
        else
            PyList_SET_ITEM(examples, static_cast<Py_ssize_t>(i), example);
    }
    if (examples == nullptr) return nullptr;
    // As textmend-report: changed and kept outside runs, each run counted once.
    return Py_BuildValue("{sNsKsKsKsKsKsOsN}", "target", target_name_object(result.target),
                         "bytes_in", static_cast<unsigned long long>(result.bytes_in), "bytes_out",
                         static_cast<unsigned long long>(result.bytes_out), "changed",
                         static_cast<unsigned long long>(result.changed - counts.changed_in_runs),
                         "kept", static_cast<unsigned long long>(result.kept - counts.kept_in_runs),
                         "double", static_cast<unsigned long long>(counts.double_runs), "clean",
                         result.clean() ? Py_True : Py_False, "examples", examples);
}

bool max_examples_from(PyObject* value, Py_ssize_t* max_examples) {
    if (value == nullptr) {
        *max_examples = 10;
        return true;
    }
    if (!PyLong_Check(value) || PyBool_Check(value)) {
        wrong_type(REPORT.function, "max_examples", "an int", value);
        return false;
    }
    *max_examples = PyLong_AsSsize_t(value);
    if (*max_examples == -1 && PyErr_Occurred() != nullptr) return false;
    if (*max_examples >= 0) return true;
    PyErr_SetString(PyExc_ValueError, "report() argument 'max_examples' must not be negative");
    return false;
}

}  // namespace

PyObject* report(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* values[3];
    Target target{};
    Py_ssize_t max_examples = 0;
    if (!match_arguments(REPORT, args, nargs, kwnames, values) ||
        !target_from(values[1], REPORT.function, &target) ||
        !max_examples_from(values[2], &max_examples)) {
        return nullptr;
    }
    InputBytes input;
    if (!input.open(values[0], REPORT.function, "data")) return nullptr;
    std::vector<Finding> findings;
    ReportCounts result;
    {
        const WithoutGil unlocked;
        const auto keep = [](const Finding& finding, void* into) {
            static_cast<std::vector<Finding>*>(into)->push_back(finding);
        };
        ReportInspector inspector(target, static_cast<std::uint64_t>(max_examples), keep,
                                  &findings);
        inspector.feed(input.data(), input.size());
        result = inspector.finish();
    }
    return fields_of(result, findings, static_cast<const std::uint8_t*>(input.data()));
}

}  // namespace textmend::python
