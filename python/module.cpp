// The compiled part of the Python package textmend: the library's whole-input
// conversion, stream converter and inspection, and the program's file
// conversion (in place included). python/textmend/__init__.py re-exports it.
//
// The global interpreter lock is released while bytes are converted or
// inspected and while files are converted. A bytes-like input stays exported
// (so not resized) for the whole call.
#include <pybind11/pybind11.h>

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "cli/file_conversion.hpp"
#include "textmend/textmend.hpp"

namespace py = pybind11;

namespace {

constexpr const char* TARGETS_TEXT =
    "'latin1', 'windows-1252' (or 'cp1252') or 'utf-8' (or 'utf8')";

textmend::Target target_of(const py::handle& target) {
    if (!py::isinstance<py::str>(target)) {
        throw py::type_error(std::string("target must be a str: ") + TARGETS_TEXT);
    }
    const std::string name = target.cast<std::string>();
    if (name == "latin1") return textmend::Target::latin1;
    if (name == "windows-1252" || name == "cp1252") return textmend::Target::windows1252;
    if (name == "utf-8" || name == "utf8") return textmend::Target::utf8;
    throw py::value_error("unknown target '" + name + "': use " + TARGETS_TEXT);
}

const char* name_of(textmend::Target target) {
    switch (target) {
        case textmend::Target::windows1252:
            return "windows-1252";
        case textmend::Target::utf8:
            return "utf-8";
        case textmend::Target::latin1:
            break;
    }
    return "latin1";
}

// The bytes of a bytes-like object (bytes, bytearray, memoryview, ...), held
// for as long as this lives.
class InputBytes {
public:
    explicit InputBytes(const py::handle& data) {
        if (py::isinstance<py::str>(data) || !PyObject_CheckBuffer(data.ptr())) {
            throw py::type_error(std::string("expected a bytes-like object (bytes, bytearray, "
                                             "memoryview), not ") +
                                 Py_TYPE(data.ptr())->tp_name);
        }
        if (PyObject_GetBuffer(data.ptr(), &view_, PyBUF_C_CONTIGUOUS) == 0) return;
        // A strided view (memoryview(b)[::2], say): its bytes, copied in order.
        PyErr_Clear();
        copy_ = py::reinterpret_steal<py::object>(PyBytes_FromObject(data.ptr()));
        if (!copy_ || PyObject_GetBuffer(copy_.ptr(), &view_, PyBUF_SIMPLE) != 0) {
            throw py::error_already_set();
        }
    }
    ~InputBytes() { PyBuffer_Release(&view_); }
    InputBytes(const InputBytes&) = delete;
    InputBytes& operator=(const InputBytes&) = delete;

    [[nodiscard]] const void* data() const { return view_.buf; }
    [[nodiscard]] std::size_t size() const { return static_cast<std::size_t>(view_.len); }

private:
    py::object copy_;
    Py_buffer view_{};
};

// The thread Python runs signal handlers in (the main thread), set at import.
unsigned long main_thread_ident = 0;

// Lets Python's signal handlers run during a long call made with the GIL
// released: a Ctrl-C must not wait for the whole conversion. Between blocks
// the converting thread asks stop_requested(); in the main thread, at most
// every CHECK_EVERY, it takes the GIL and runs the handlers. When one raises
// (KeyboardInterrupt by default), the work stops and rethrow() raises that
// exception once the GIL is back. Other threads never run signal handlers,
// so they never take the GIL for it.
class SignalWatch {
public:
    // Create with the GIL held.
    SignalWatch() : active_(PyThread_get_thread_ident() == main_thread_ident) {}
    SignalWatch(const SignalWatch&) = delete;
    SignalWatch& operator=(const SignalWatch&) = delete;
    ~SignalWatch() {
        if (raised_ && error_type_ != nullptr) {
            const py::gil_scoped_acquire gil;
            Py_XDECREF(error_type_);
            Py_XDECREF(error_value_);
            Py_XDECREF(error_traceback_);
        }
    }

    // Call without the GIL; interrupted: a signal just interrupted a system
    // call, so its handler is due now.
    bool stop_requested(bool interrupted = false) {
        if (!active_ || raised_) return raised_;
        const auto now = std::chrono::steady_clock::now();
        if (now < next_check_ && !interrupted) return false;
        next_check_ = now + CHECK_EVERY;
        const py::gil_scoped_acquire gil;
        if (PyErr_CheckSignals() == 0) return false;
        PyErr_Fetch(&error_type_, &error_value_, &error_traceback_);
        raised_ = true;
        return true;
    }

    static bool stop_requested(void* watch, bool interrupted) {
        return static_cast<SignalWatch*>(watch)->stop_requested(interrupted);
    }

    [[nodiscard]] bool raised() const { return raised_; }

    // With the GIL held: raises what the signal handler raised, if it did.
    void rethrow_if_raised() {
        if (!raised_) return;
        PyErr_Restore(error_type_, error_value_, error_traceback_);
        error_type_ = error_value_ = error_traceback_ = nullptr;
        raised_ = false;
        throw py::error_already_set();
    }

private:
    static constexpr std::chrono::milliseconds CHECK_EVERY{20};
    bool active_;
    bool raised_ = false;
    std::chrono::steady_clock::time_point next_check_{};
    PyObject* error_type_ = nullptr;
    PyObject* error_value_ = nullptr;
    PyObject* error_traceback_ = nullptr;
};

// A large result lies in memory fresh from the system, and every 4 KiB page
// of it written for the first time is a page fault: on a virtual machine
// that costs more than converting the page. Where transparent huge pages
// are to be asked for (madvise mode), ask for them: 2 MiB per fault.
void ask_for_huge_pages(char* data, std::size_t size) {
#ifdef MADV_HUGEPAGE
    constexpr std::uintptr_t HUGE_PAGE = std::uintptr_t{2} << 20;
    if (size < 2 * HUGE_PAGE) return;
    const auto start = (reinterpret_cast<std::uintptr_t>(data) + HUGE_PAGE - 1) & ~(HUGE_PAGE - 1);
    const auto end = (reinterpret_cast<std::uintptr_t>(data) + size) & ~(HUGE_PAGE - 1);
    if (end > start) (void)madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);
#else
    (void)data;
    (void)size;
#endif
}

// A bytes object written by fill (with the GIL released) into room bytes,
// then cut to the count fill returns. Untouched room is never committed, so
// a large result takes the memory of what it holds.
template <typename Fill>
py::bytes written_bytes(std::size_t room, Fill&& fill) {
    PyObject* out = PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(room));
    if (out == nullptr) throw py::error_already_set();
    std::size_t written = 0;
    {
        py::gil_scoped_release release;
        ask_for_huge_pages(PyBytes_AS_STRING(out), room);
        written = fill(reinterpret_cast<std::uint8_t*>(PyBytes_AS_STRING(out)));
    }
    if (_PyBytes_Resize(&out, static_cast<Py_ssize_t>(written)) != 0) throw py::error_already_set();
    return py::reinterpret_steal<py::bytes>(out);
}

// Inputs at least this large are converted in pieces of about this size,
// with Python's signal handlers let in between (a few milliseconds apart).
constexpr std::size_t PIECE_SIZE = std::size_t{16} << 20;

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

// convert() of a large input, a piece at a time: first the exact size of
// every piece, then each piece converted into its place. False when a
// signal handler raised (watch has the exception) or the input changed
// under the call so that a piece did not fit.
bool convert_in_pieces(const InputBytes& input, textmend::Target target, SignalWatch& watch,
                       py::bytes& result) {
    const auto* data = static_cast<const std::uint8_t*>(input.data());
    const std::size_t size = input.size();
    std::size_t total = 0;
    {
        const py::gil_scoped_release release;
        for (std::size_t at = 0; at < size && !watch.stop_requested();) {
            const std::size_t end = piece_end(data, size, at);
            total += textmend::converted_size(data + at, end - at, target);
            at = end;
        }
    }
    if (watch.raised()) return false;
    bool fitted = true;
    result = written_bytes(total, [&](std::uint8_t* out) {
        std::size_t written = 0;
        for (std::size_t at = 0; at < size && fitted && !watch.stop_requested();) {
            const std::size_t end = piece_end(data, size, at);
            const textmend::CheckedConversion done =
                textmend::convert(data + at, end - at, out + written, total - written, target);
            fitted = done.fits;
            written += fitted ? done.size : 0;
            at = end;
        }
        return written;
    });
    return fitted && !watch.raised();
}

// The result is allocated at its exact size, measured first (a fast pass):
// at the worst-case size, three times the input for UTF-8, it would claim
// address space it never uses, and a block that large is never reused by
// the allocator, so every page of every result would be a fresh page fault.
py::bytes convert(const py::handle& data, const py::handle& target_name) {
    const textmend::Target target = target_of(target_name);
    const InputBytes input(data);
    if (input.size() > PIECE_SIZE) {
        SignalWatch watch;
        py::bytes result;
        if (convert_in_pieces(input, target, watch, result)) return result;
        watch.rethrow_if_raised();
        // Another thread changed a writable input (a bytearray): convert it
        // whole, at the size the worst case needs.
        return written_bytes(textmend::max_converted_size(input.size(), target),
                             [&](std::uint8_t* out) {
                                 return textmend::convert(input.data(), input.size(), out, target);
                             });
    }
    std::size_t size = 0;
    {
        py::gil_scoped_release release;
        size = textmend::converted_size(input.data(), input.size(), target);
    }
    bool fitted = false;
    py::bytes exact = written_bytes(size, [&](std::uint8_t* out) {
        const textmend::CheckedConversion done =
            textmend::convert(input.data(), input.size(), out, size, target);
        fitted = done.fits;
        return fitted ? done.size : 0;
    });
    if (fitted) return exact;
    // Another thread changed a writable input (a bytearray) in between.
    return written_bytes(textmend::max_converted_size(input.size(), target),
                         [&](std::uint8_t* out) {
                             return textmend::convert(input.data(), input.size(), out, target);
                         });
}

// textmend.StreamConverter: the library's stream converter. Its lock keeps
// two threads from feeding one converter at once while the GIL is released.
class StreamConverter {
public:
    explicit StreamConverter(const py::handle& target) : converter_(target_of(target)) {}

    py::bytes feed(const py::handle& data) {
        if (finished_) {
            throw py::value_error("feed() after finish(): call reset() to convert a new input");
        }
        const InputBytes input(data);
        return written_bytes(
            textmend::max_converted_size(input.size(), converter_.target), [&](std::uint8_t* out) {
                const std::lock_guard<std::mutex> lock(mutex_);
                return textmend::stream_feed(converter_, input.data(), input.size(), out);
            });
    }

    py::bytes finish() {
        finished_ = true;
        return written_bytes(textmend::max_converted_size(0, converter_.target),
                             [&](std::uint8_t* out) {
                                 const std::lock_guard<std::mutex> lock(mutex_);
                                 return textmend::stream_finish(converter_, out);
                             });
    }

    // Drops what is held back and starts on a new input.
    void reset() {
        const std::lock_guard<std::mutex> lock(mutex_);
        converter_ = textmend::StreamConverter(converter_.target);
        finished_ = false;
    }

    [[nodiscard]] const char* target() const { return name_of(converter_.target); }

private:
    textmend::StreamConverter converter_;
    std::mutex mutex_;
    bool finished_ = false;  // changed with the GIL held
};

std::string hex_of(const textmend::Finding& f) {
    static const char DIGITS[] = "0123456789abcdef";
    std::string hex;
    for (std::size_t i = 0; i < f.length; ++i) {
        hex += DIGITS[f.bytes[i] >> 4];
        hex += DIGITS[f.bytes[i] & 15];
    }
    return hex;
}

// The fields of one line of textmend-report --json, but the file's name.
py::dict report(const py::handle& data, const py::handle& target_name, Py_ssize_t max_examples) {
    const textmend::Target target = target_of(target_name);
    if (max_examples < 0) throw py::value_error("max_examples must not be negative");
    const InputBytes input(data);
    std::vector<textmend::Finding> findings;
    textmend::Inspection result;
    {
        py::gil_scoped_release release;
        result = textmend::inspect(input.data(), input.size(), target, nullptr, 0);
        findings.resize(static_cast<std::size_t>(std::min<std::uint64_t>(
            static_cast<std::uint64_t>(max_examples), result.changed + result.kept)));
        std::size_t stored = 0;
        (void)textmend::inspect(input.data(), input.size(), target, findings.data(),
                                findings.size(), &stored);
        findings.resize(stored);
    }
    py::list examples;
    for (const textmend::Finding& f : findings) {
        py::dict example;
        example["offset"] = f.offset;
        example["line"] = f.line;
        example["column"] = f.column;
        example["kind"] = f.kind == textmend::FindingKind::kept ? "kept" : "changed";
        example["bytes"] = hex_of(f);
        examples.append(example);
    }
    py::dict fields;
    fields["target"] = name_of(target);
    fields["bytes_in"] = result.bytes_in;
    fields["bytes_out"] = result.bytes_out;
    fields["changed"] = result.changed;
    fields["kept"] = result.kept;
    fields["clean"] = result.clean();
    fields["examples"] = examples;
    return fields;
}

// An OSError for a failed step of a file conversion, as Python raises them
// (FileNotFoundError, PermissionError, ... by the errno).
[[noreturn]] void raise_for(const textmend::ConversionOutcome& outcome, const py::handle& src,
                            const py::handle& dst) {
    const bool about_input = outcome.failed == textmend::FailedStep::open_input ||
                             outcome.failed == textmend::FailedStep::read;
    if (outcome.changed) {
        const std::string message = std::string("Cannot write output file: ") +
                                    textmend::file_change_reason(outcome.change);
        PyErr_SetObject(PyExc_OSError, py::make_tuple(py::none(), message, dst).ptr());
    } else {
        errno = outcome.error != 0 ? outcome.error : EIO;
        PyErr_SetFromErrnoWithFilenameObject(PyExc_OSError, (about_input ? src : dst).ptr());
    }
    throw py::error_already_set();
}

void convert_file(const py::object& src, const py::object& dst, const py::handle& target_name) {
    const textmend::Target target = target_of(target_name);
    const py::object fsencode = py::module_::import("os").attr("fsencode");
    const std::string input = fsencode(src).cast<std::string>();
    const std::string output = fsencode(dst).cast<std::string>();
    SignalWatch watch;
    textmend::ConversionSettings settings;
    settings.stop_requested = SignalWatch::stop_requested;
    settings.stop_context = &watch;
    textmend::ConversionOutcome outcome;
    {
        py::gil_scoped_release release;
        outcome = textmend::convert_file(input.c_str(), output.c_str(), target, settings);
    }
    // Stopped by a signal handler that raised: the output was removed.
    watch.rethrow_if_raised();
    if (outcome.failed != textmend::FailedStep::none) raise_for(outcome, src, dst);
}

// Writes all of data to fd; false with errno set when a write fails.
bool write_all(int fd, const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        const ssize_t put = write(fd, data, size);
        if (put < 0 && errno == EINTR) continue;
        if (put == 0) errno = EIO;
        if (put <= 0) return false;
        data += put;
        size -= static_cast<std::size_t>(put);
    }
    return true;
}

// For textmend.dask's tasks: converts the bytes [start, end) of the file open
// as src_fd (read with pread, its offset untouched) and appends the result to
// the file open as dst_fd. Fixed buffers and no Python object per piece, so
// a task's memory stays small and the allocator's settings in a Dask worker
// do not matter. Returns the bytes read: fewer than asked when the file ended
// first.
std::uint64_t convert_range(int src_fd, std::uint64_t start, std::uint64_t end, int dst_fd,
                            const py::handle& target_name) {
    const textmend::Target target = target_of(target_name);
    constexpr std::size_t PIECE = 1U << 20;
    std::vector<std::uint8_t> in(PIECE);
    std::vector<std::uint8_t> out(textmend::max_converted_size(PIECE, target));
    textmend::StreamConverter converter(target);
    std::uint64_t at = start;
    int error = 0;
    {
        py::gil_scoped_release release;
        while (at < end) {
            const ssize_t got =
                pread(src_fd, in.data(),
                      static_cast<std::size_t>(std::min<std::uint64_t>(PIECE, end - at)),
                      static_cast<off_t>(at));
            if (got < 0 && errno == EINTR) continue;
            if (got < 0) error = errno;
            if (got <= 0) break;
            at += static_cast<std::uint64_t>(got);
            const std::size_t n = textmend::stream_feed(converter, in.data(),
                                                        static_cast<std::size_t>(got), out.data());
            if (!write_all(dst_fd, out.data(), n)) {
                error = errno;
                break;
            }
        }
        if (error == 0) {
            const std::size_t n = textmend::stream_finish(converter, out.data());
            if (!write_all(dst_fd, out.data(), n)) error = errno;
        }
    }
    if (error != 0) {
        errno = error;
        PyErr_SetFromErrno(PyExc_OSError);
        throw py::error_already_set();
    }
    return at - start;
}

}  // namespace

PYBIND11_MODULE(_textmend, m) {
    m.doc() = "The compiled part of textmend: see the package textmend.";
    m.attr("__version__") = textmend::version();
    main_thread_ident =
        py::module_::import("threading").attr("main_thread")().attr("ident").cast<unsigned long>();

    m.def("convert", &convert, py::arg("data"), py::arg("target") = "latin1",
          "convert(data, target='latin1') -> bytes\n\n"
          "Repairs data (bytes, bytearray or memoryview) in which UTF-8 and Latin-1 or\n"
          "Windows-1252 are mixed into one target encoding: 'latin1', 'windows-1252'\n"
          "('cp1252') or 'utf-8' ('utf8'). The result is byte for byte what the\n"
          "textmend program writes.");

    py::class_<StreamConverter>(m, "StreamConverter",
                                "StreamConverter(target='latin1')\n\n"
                                "Converts an input that arrives in pieces of any size: the joined "
                                "results of feed() and finish() are convert() of the whole.")
        .def(py::init<const py::handle&>(), py::arg("target") = "latin1")
        .def("feed", &StreamConverter::feed, py::arg("data"),
             "feed(data) -> bytes: converts what can be converted of the next piece; the last "
             "few bytes may be held back for the next.")
        .def("finish", &StreamConverter::finish,
             "finish() -> bytes: converts what was held back and ends the input; feed() after it "
             "raises ValueError.")
        .def("reset", &StreamConverter::reset,
             "reset() -> None: drops what is held back and starts on a new input.")
        .def_property_readonly("target", &StreamConverter::target);

    m.def("report", &report, py::arg("data"), py::arg("target") = "latin1", py::kw_only(),
          py::arg("max_examples") = 10,
          "report(data, target='latin1', *, max_examples=10) -> dict\n\n"
          "What converting data would do, without converting it: the fields of one line of\n"
          "textmend-report --json except 'file' (target, bytes_in, bytes_out, changed, kept,\n"
          "clean, examples).");

    m.def("convert_file", &convert_file, py::arg("src"), py::arg("dst"),
          py::arg("target") = "latin1",
          "convert_file(src, dst, target='latin1') -> None\n\n"
          "Converts the file src into dst with the textmend program's file handling: in place\n"
          "when both name the same file (a temporary file, flushed, renamed over the original\n"
          "with its owner, mode, ACLs and attributes; an unchanged file is left as it is).\n"
          "Raises OSError (FileNotFoundError, PermissionError, ...) on failure.");

    m.def("_convert_range", &convert_range, py::arg("src_fd"), py::arg("start"), py::arg("end"),
          py::arg("dst_fd"), py::arg("target"),
          "For textmend.dask: converts bytes [start, end) of one open file onto the end of "
          "another; returns the bytes read.");
}
