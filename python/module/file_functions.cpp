// convert_file and convert_stream: files by name and file objects.
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <vector>

#include "arguments.hpp"
#include "calls.hpp"
#include "cli/file_layer.hpp"
#include "functions.hpp"
#include "textmend/textmend.hpp"

namespace textmend::python {

namespace {

// A file name argument (str, bytes or os.PathLike) as the bytes the system
// takes; nullptr with TypeError naming the argument.
PyObject* file_name(PyObject* value, const char* function, const char* argument) {
    PyObject* encoded = nullptr;
    if (PyUnicode_FSConverter(value, &encoded) != 0) return encoded;
    if (PyErr_ExceptionMatches(PyExc_TypeError)) {
        PyErr_Clear();
        wrong_type(function, argument, "str, bytes or os.PathLike", value);
    }
    return nullptr;
}

// An OSError for a failed step of a file conversion, as Python raises them
// (FileNotFoundError, PermissionError, ... by the errno), naming the file as
// the caller gave it.
PyObject* raise_for(const ConversionOutcome& outcome, PyObject* src, PyObject* dst) {
    const bool about_input =
        outcome.failed == FailedStep::open_input || outcome.failed == FailedStep::read;
    if (outcome.changed) {
        PyObject* arguments = Py_BuildValue("(OsO)", Py_None, "", dst);
        if (arguments != nullptr) {
            PyObject* message = PyUnicode_FromFormat("Cannot write output file: %s",
                                                     file_change_reason(outcome.change));
            if (message != nullptr) PyTuple_SetItem(arguments, 1, message);
            PyErr_SetObject(PyExc_OSError, arguments);
            Py_DECREF(arguments);
        }
        return nullptr;
    }
    errno = outcome.error != 0 ? outcome.error : EIO;
    return PyErr_SetFromErrnoWithFilenameObject(PyExc_OSError, about_input ? src : dst);
}

constexpr const char* FILE_NAMES[] = {"src", "dst", "target", "undo_double"};
constexpr Parameters CONVERT_FILE{"convert_file", FILE_NAMES, 4, 2, 3};
constexpr Parameters CONVERT_STREAM{"convert_stream", FILE_NAMES, 4, 2, 3};

}  // namespace

PyObject* convert_file(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* values[4];
    Target target{};
    if (!match_arguments(CONVERT_FILE, args, nargs, kwnames, values) ||
        !target_from(values[2], CONVERT_FILE.function, &target)) {
        return nullptr;
    }
    if (values[3] != nullptr && !PyBool_Check(values[3])) {
        return wrong_type(CONVERT_FILE.function, "undo_double", "a bool", values[3]);
    }
    PyObject* input = file_name(values[0], CONVERT_FILE.function, "src");
    PyObject* output =
        input == nullptr ? nullptr : file_name(values[1], CONVERT_FILE.function, "dst");
    if (output == nullptr) {
        Py_XDECREF(input);
        return nullptr;
    }
    SignalWatch watch;
    ConversionSettings settings;
    settings.stop_requested = SignalWatch::stop_requested;
    settings.stop_context = &watch;
    settings.undo_double = values[3] == Py_True;
    ConversionOutcome outcome;
    {
        const WithoutGil unlocked;
        outcome = textmend::convert_file(PyBytes_AS_STRING(input), PyBytes_AS_STRING(output),
                                         target, settings);
    }
    Py_DECREF(input);
    Py_DECREF(output);
    // Stopped by a signal handler that raised: the output was removed.
    if (watch.rethrow_if_raised()) return nullptr;
    if (outcome.failed != FailedStep::none) return raise_for(outcome, values[0], values[1]);
    Py_RETURN_NONE;
}

namespace {

// Bytes asked for per read of a file object.
constexpr Py_ssize_t STREAM_PIECE = Py_ssize_t{1} << 20;

// How convert_stream reads: the first of readinto1, readinto, read1 and read
// that src has. The "1" forms return what one read of the system gives, so
// a pipe's lines are converted as they come rather than a megabyte at a time.
struct Reader {
    PyObject* method = nullptr;  // a new reference
    bool into = false;           // readinto1/readinto: fills a buffer
};

Reader reader_of(PyObject* src) {
    static constexpr const char* INTO[] = {"readinto1", "readinto"};
    static constexpr const char* READ[] = {"read1", "read"};
    Reader reader;
    for (const char* name : INTO) {
        if (reader.method == nullptr && PyObject_HasAttrString(src, name) != 0) {
            reader.method = PyObject_GetAttrString(src, name);
            reader.into = true;
        }
    }
    for (const char* name : READ) {
        if (reader.method == nullptr && PyObject_HasAttrString(src, name) != 0) {
            reader.method = PyObject_GetAttrString(src, name);
        }
    }
    if (reader.method == nullptr && PyErr_Occurred() == nullptr) {
        wrong_type(CONVERT_STREAM.function, "src",
                   "a binary file object (with readinto() or read())", src);
    }
    return reader;
}

// One file object's side of convert_stream.
class StreamCopy {
public:
    StreamCopy(PyObject* src, PyObject* dst, Target target, bool undo_double)
        : src_(src), dst_(dst), converter_(target), undo_double_(undo_double) {}
    ~StreamCopy() {
        Py_XDECREF(reader_.method);
        Py_XDECREF(write_);
        Py_XDECREF(flush_);
        Py_XDECREF(view_);
        Py_XDECREF(buffer_);
    }
    StreamCopy(const StreamCopy&) = delete;
    StreamCopy& operator=(const StreamCopy&) = delete;

    // False with an error set.
    bool open();
    bool run();

    [[nodiscard]] std::uint64_t bytes_in() const { return bytes_in_; }
    [[nodiscard]] std::uint64_t bytes_out() const { return bytes_out_; }

private:
    // The next piece into input; an empty input at the end.
    bool read(InputBytes& input, PyObject** held);
    bool write(PyObject* bytes);
    bool flush();
    // Converts a piece and writes it.
    bool convert(const std::uint8_t* data, std::size_t size);
    // The same through the undoing of text encoded twice: what it decides.
    bool undo_and_convert(const std::uint8_t* data, std::size_t size);
    bool finish_undoing();

    PyObject* src_;
    PyObject* dst_;
    textmend::StreamConverter converter_;
    bool undo_double_;
    std::vector<std::uint8_t> undo_storage_;
    LineUndoer undoer_{};
    Reader reader_;
    PyObject* write_ = nullptr;
    PyObject* flush_ = nullptr;
    bool raw_ = false;  // dst is an io.RawIOBase: None from write() means "would block"
    PyObject* buffer_ = nullptr;
    PyObject* view_ = nullptr;
    std::uint64_t bytes_in_ = 0;
    std::uint64_t bytes_out_ = 0;
};

bool StreamCopy::open() {
    reader_ = reader_of(src_);
    if (reader_.method == nullptr) return false;
    if (PyObject_HasAttrString(dst_, "write") == 0) {
        wrong_type(CONVERT_STREAM.function, "dst", "a binary file object (with write())", dst_);
        return false;
    }
    write_ = PyObject_GetAttrString(dst_, "write");
    if (write_ == nullptr) return false;
    if (PyObject_HasAttrString(dst_, "flush") != 0) {
        flush_ = PyObject_GetAttrString(dst_, "flush");
        if (flush_ == nullptr) return false;
    }
    PyObject* io = PyImport_ImportModule("io");
    PyObject* raw_type = io == nullptr ? nullptr : PyObject_GetAttrString(io, "RawIOBase");
    Py_XDECREF(io);
    if (raw_type == nullptr) return false;
    const int raw = PyObject_IsInstance(dst_, raw_type);
    Py_DECREF(raw_type);
    if (raw < 0) return false;
    raw_ = raw == 1;
    if (undo_double_) {
        undo_storage_.resize(UNDO_STORAGE_SIZE);
        undoer_init(undoer_, undo_storage_.data());
    }
    if (reader_.into) {
        buffer_ = PyByteArray_FromStringAndSize(nullptr, STREAM_PIECE);
        view_ = buffer_ == nullptr ? nullptr : PyMemoryView_FromObject(buffer_);
        if (view_ == nullptr) return false;
    }
    return true;
}

PyObject* would_block(const char* what) {
    PyErr_Format(PyExc_BlockingIOError,
                 "convert_stream(): %s would block; give it blocking file objects", what);
    return nullptr;
}

bool StreamCopy::read(InputBytes& input, PyObject** held) {
    if (reader_.into) {
        PyObject* got = PyObject_CallOneArg(reader_.method, view_);
        if (got == nullptr) return false;
        if (got == Py_None) {
            Py_DECREF(got);
            return would_block("reading src") != nullptr;
        }
        const Py_ssize_t count = PyLong_Check(got) ? PyLong_AsSsize_t(got) : -1;
        Py_DECREF(got);
        if (count < 0 || count > STREAM_PIECE) {
            if (PyErr_Occurred() == nullptr) {
                PyErr_SetString(PyExc_ValueError,
                                "convert_stream(): src's readinto() returned no valid count");
            }
            return false;
        }
        // A view of the count read: it keeps the buffer from being resized.
        PyObject* part = PyMemoryView_FromObject(buffer_);
        if (part == nullptr) return false;
        *held = PySequence_GetSlice(part, 0, count);
        Py_DECREF(part);
    } else {
        PyObject* size = PyLong_FromSsize_t(STREAM_PIECE);
        *held = size == nullptr ? nullptr : PyObject_CallOneArg(reader_.method, size);
        Py_XDECREF(size);
        if (*held == Py_None) {
            Py_CLEAR(*held);
            return would_block("reading src") != nullptr;
        }
    }
    if (*held == nullptr) return false;
    switch (input.open(*held)) {
        case InputBytes::Opened::yes:
            return true;
        case InputBytes::Opened::not_bytes_like:
            PyErr_Format(PyExc_TypeError,
                         "convert_stream() argument 'src' must be a binary file object: its "
                         "read() returned '%s', not bytes",
                         Py_TYPE(*held)->tp_name);
            break;
        case InputBytes::Opened::failed:
            break;
    }
    return false;
}

bool StreamCopy::write(PyObject* bytes) {
    const Py_ssize_t size = PyBytes_GET_SIZE(bytes);
    for (Py_ssize_t done = 0; done < size;) {
        PyObject* rest =
            done == 0 ? (Py_INCREF(bytes), bytes) : PySequence_GetSlice(bytes, done, size);
        if (rest == nullptr) return false;
        PyObject* put = PyObject_CallOneArg(write_, rest);
        Py_DECREF(rest);
        if (put == nullptr) return false;
        if (put == Py_None) {
            Py_DECREF(put);
            if (raw_) return would_block("writing dst") != nullptr;
            done = size;  // a writer that returns nothing took it all
            continue;
        }
        const Py_ssize_t count = PyLong_Check(put) ? PyLong_AsSsize_t(put) : size - done;
        Py_DECREF(put);
        if (count <= 0 || count > size - done) {
            if (PyErr_Occurred() == nullptr) {
                PyErr_SetString(PyExc_OSError, "convert_stream(): dst's write() wrote nothing");
            }
            return false;
        }
        done += count;
    }
    bytes_out_ += static_cast<std::uint64_t>(size);
    return true;
}

bool StreamCopy::flush() {
    if (flush_ == nullptr) return true;
    PyObject* done = PyObject_CallNoArgs(flush_);
    Py_XDECREF(done);
    return done != nullptr;
}

bool StreamCopy::convert(const std::uint8_t* data, std::size_t size) {
    PyObject* out =
        written_bytes(max_converted_size(size, converter_.target),
                      [&](std::uint8_t* o) { return stream_feed(converter_, data, size, o); });
    const bool written = out != nullptr && write(out);
    Py_XDECREF(out);
    return written;
}

bool StreamCopy::undo_and_convert(const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        std::size_t room = 0;
        std::uint8_t* into = undoer_room(undoer_, room);
        const std::size_t n = std::min(room, size);
        std::memcpy(into, data, n);
        undoer_added(undoer_, n);
        data += n;
        size -= n;
        const bool converted =
            convert(undoer_.storage + undoer_.ready_begin, undoer_ready(undoer_));
        undoer_drop_ready(undoer_);
        if (!converted) return false;
    }
    return true;
}

bool StreamCopy::finish_undoing() {
    undoer_finish(undoer_);
    const bool converted = convert(undoer_.storage + undoer_.ready_begin, undoer_ready(undoer_));
    undoer_drop_ready(undoer_);
    return converted;
}

bool StreamCopy::run() {
    for (;;) {
        InputBytes input;
        PyObject* held = nullptr;
        const bool got = read(input, &held);
        if (!got || input.size() == 0) {
            input.close();
            Py_XDECREF(held);
            if (!got) return false;
            break;
        }
        bytes_in_ += input.size();
        const bool short_read = input.size() < static_cast<std::size_t>(STREAM_PIECE);
        const auto* data = static_cast<const std::uint8_t*>(input.data());
        const bool written =
            undo_double_ ? undo_and_convert(data, input.size()) : convert(data, input.size());
        input.close();
        Py_DECREF(held);
        // What is decided goes out as soon as the source has no more for now.
        if (!written || (short_read && !flush()) || PyErr_CheckSignals() != 0) return false;
    }
    if (undo_double_ && !finish_undoing()) return false;
    PyObject* out = written_bytes(max_converted_size(0, converter_.target),
                                  [&](std::uint8_t* o) { return stream_finish(converter_, o); });
    const bool written = out != nullptr && write(out);
    Py_XDECREF(out);
    return written && flush();
}

}  // namespace

PyObject* convert_stream(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* values[4];
    Target target{};
    if (!match_arguments(CONVERT_STREAM, args, nargs, kwnames, values) ||
        !target_from(values[2], CONVERT_STREAM.function, &target)) {
        return nullptr;
    }
    if (values[3] != nullptr && !PyBool_Check(values[3])) {
        return wrong_type(CONVERT_STREAM.function, "undo_double", "a bool", values[3]);
    }
    StreamCopy copy(values[0], values[1], target, values[3] == Py_True);
    if (!copy.open() || !copy.run()) return nullptr;
    return Py_BuildValue("{sKsK}", "bytes_in", static_cast<unsigned long long>(copy.bytes_in()),
                         "bytes_out", static_cast<unsigned long long>(copy.bytes_out()));
}

}  // namespace textmend::python
