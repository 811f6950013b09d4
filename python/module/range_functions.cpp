// For textmend.dask's tasks: ranges of open files, measured and converted
// into their place, or converted into memory held until their place is
// known. Fixed buffers and no Python object per piece, so a task's memory
// stays small whatever the allocator's settings in a Dask worker; the
// interpreter lock is let go for the whole range.
//
// The buffers are the calling thread's, kept from call to call. A Dask
// worker runs with MALLOC_TRIM_THRESHOLD_ set, which turns every allocation
// of this size into a fresh mapping whose pages are faulted in again on
// each call: a 32 MiB range took 27 ms to convert instead of 16.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <new>
#include <string>
#include <vector>

#include "arguments.hpp"
#include "calls.hpp"
#include "cli/file_layer.hpp"
#include "functions.hpp"
#include "textmend/textmend.hpp"

namespace textmend::python {

namespace {

constexpr std::size_t PIECE = std::size_t{1} << 20;

// Where converted bytes go: appended to the file (offset < 0) or written
// from offset on.
struct Destination {
    int fd;
    std::int64_t offset;
};

// Writes all of data; false with errno set when a write fails.
bool write_all(Destination& to, const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        const ssize_t put = to.offset < 0
                                ? ::write(to.fd, data, size)
                                : pwrite(to.fd, data, size, static_cast<off_t>(to.offset));
        if (put < 0 && errno == EINTR) continue;
        if (put == 0) errno = EIO;
        if (put <= 0) return false;
        data += put;
        size -= static_cast<std::size_t>(put);
        if (to.offset >= 0) to.offset += put;
    }
    return true;
}

// Bytes read at a time from a range: a small file's buffers are small,
// since filling a megabyte of fresh memory costs more than a small file.
std::size_t piece_for(std::uint64_t start, std::uint64_t end) {
    return static_cast<std::size_t>(std::min<std::uint64_t>(PIECE, end > start ? end - start : 1));
}

// A buffer of the calling thread of at least size bytes.
std::uint8_t* thread_buffer(std::vector<std::uint8_t>& buffer, std::size_t size) {
    if (buffer.size() < size) buffer.resize(size);
    return buffer.data();
}

thread_local std::vector<std::uint8_t> input_buffer;
thread_local std::vector<std::uint8_t> output_buffer;
thread_local std::vector<std::uint8_t> undo_buffer;

// One positioned read of up to size bytes from at (fd's offset is left as
// it is), again when a signal interrupted it: the count read, 0 at the
// file's end, or -1 with errno set.
ssize_t read_at(int fd, std::uint8_t* place, std::size_t size, std::uint64_t at) {
    for (;;) {
        const ssize_t got = pread(fd, place, size, static_cast<off_t>(at));
        if (got >= 0 || errno != EINTR) return got;
    }
}

// Reads [at, end) of fd (pread: its offset is left as it is), each read
// into the place into(room) gives, of room bytes at most, and hands what it
// read to use; stops short of end when the file ends first. The offset
// reached, and in *error 0 or the errno of a failed read, or of a failed
// use (use returns false with errno set).
template <typename Into, typename Use>
std::uint64_t read_range_with(int fd, std::uint64_t at, std::uint64_t end, int* error, Into&& into,
                              Use&& use) {
    *error = 0;
    while (at < end) {
        std::size_t room = 0;
        std::uint8_t* place = into(room);
        const ssize_t got = read_at(
            fd, place, static_cast<std::size_t>(std::min<std::uint64_t>(room, end - at)), at);
        if (got < 0) *error = errno;
        if (got <= 0) break;
        at += static_cast<std::uint64_t>(got);
        if (!use(place, static_cast<std::size_t>(got))) {
            *error = errno;
            break;
        }
    }
    return at;
}

// Reads [at, end) of fd a piece at a time into the thread's buffer, giving
// each piece to use (see read_range_with).
template <typename Use>
std::uint64_t read_range(int fd, std::uint64_t at, std::uint64_t end, int* error, Use&& use) {
    const std::size_t piece = piece_for(at, end);
    std::uint8_t* in = thread_buffer(input_buffer, piece);
    const auto into = [&](std::size_t& room) {
        room = piece;
        return in;
    };
    return read_range_with(fd, at, end, error, into, use);
}

// read_range with text encoded twice undone (see undo_double_stream.hpp):
// the pieces handed to use are the text as undoing leaves it. The range
// must begin at the start of a line and end at the end of one (or of the
// file) for its lines to be judged as the whole file's are.
template <typename Use>
std::uint64_t read_range_undoing(int fd, std::uint64_t at, std::uint64_t end, int* error,
                                 Use&& use) {
    LineUndoer undoer{};
    undoer_init(undoer, thread_buffer(undo_buffer, UNDO_STORAGE_SIZE));
    const auto hand_on = [&] {
        const bool used = use(undoer.storage + undoer.ready_begin, undoer_ready(undoer));
        undoer_drop_ready(undoer);
        return used;
    };
    const auto into = [&](std::size_t& room) { return undoer_room(undoer, room); };
    const auto added = [&](const std::uint8_t*, std::size_t n) {
        undoer_added(undoer, n);
        return hand_on();
    };
    const std::uint64_t reached = read_range_with(fd, at, end, error, into, added);
    if (*error == 0) {
        undoer_finish(undoer);
        if (!hand_on()) *error = errno;
    }
    return reached;
}

struct RangeArguments {
    int src_fd = -1;
    std::uint64_t start = 0;
    std::uint64_t end = 0;
    Target target{};
    bool undo_double = false;
};

// The range read plainly, or undoing when asked.
template <typename Use>
std::uint64_t read_range_as_asked(const RangeArguments& range, int* error, Use&& use) {
    return range.undo_double ? read_range_undoing(range.src_fd, range.start, range.end, error, use)
                             : read_range(range.src_fd, range.start, range.end, error, use);
}

// The largest piece read_range_as_asked hands on.
std::size_t largest_piece(const RangeArguments& range) {
    const std::size_t piece = piece_for(range.start, range.end);
    return range.undo_double ? std::max(piece, UNDO_STORAGE_SIZE) : piece;
}

// src_fd, start, end and target from values[0, 1, 2] and target; false with
// an error set.
bool range_from(PyObject* const* values, PyObject* target, const char* function,
                RangeArguments* range) {
    range->src_fd = PyObject_AsFileDescriptor(values[0]);
    if (range->src_fd < 0) return false;
    range->start = PyLong_AsUnsignedLongLong(values[1]);
    if (PyErr_Occurred() != nullptr) return false;
    range->end = PyLong_AsUnsignedLongLong(values[2]);
    if (PyErr_Occurred() != nullptr) return false;
    return target_from(target, function, &range->target);
}

// The optional undo_double argument; false with an error set.
bool undo_from(PyObject* value, const char* function, RangeArguments* range) {
    if (value == nullptr) return true;
    if (!PyBool_Check(value)) {
        wrong_type(function, "undo_double", "a bool", value);
        return false;
    }
    range->undo_double = value == Py_True;
    return true;
}

PyObject* os_error(int error) {
    errno = error;
    return PyErr_SetFromErrno(PyExc_OSError);
}

// What converting a range into a file did: the offset reached in the
// input, the bytes written, and the errno of a failed read or write.
struct RangeWritten {
    std::uint64_t reached = 0;
    std::uint64_t written = 0;
    int error = 0;
    bool write_failed = false;  // the error is the output's
};

// Converts the range (read as asked) into to, through the thread's output
// buffer. Without the interpreter lock.
RangeWritten convert_range_into(const RangeArguments& range, Destination& to) {
    RangeWritten done;
    std::uint8_t* out =
        thread_buffer(output_buffer, max_converted_size(largest_piece(range), range.target));
    textmend::StreamConverter converter(range.target);
    const auto put = [&](std::size_t n) {
        done.written += n;
        done.write_failed = !write_all(to, out, n);
        return !done.write_failed;
    };
    done.reached =
        read_range_as_asked(range, &done.error, [&](const std::uint8_t* piece, std::size_t size) {
            return put(stream_feed(converter, piece, size, out));
        });
    if (done.error == 0 && !put(stream_finish(converter, out))) done.error = errno;
    return done;
}

constexpr const char* CONVERT_NAMES[] = {"src_fd", "start",      "end",        "dst_fd",
                                         "target", "dst_offset", "undo_double"};
constexpr Parameters CONVERT_RANGE{"_convert_range", CONVERT_NAMES, 7, 5, 6};

constexpr const char* MEASURE_NAMES[] = {"src_fd", "start", "end", "target", "undo_double"};
constexpr Parameters MEASURE_RANGE{"_measure_range", MEASURE_NAMES, 5, 4, 4};

}  // namespace

PyObject* convert_range(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* values[7];
    RangeArguments range;
    if (!match_arguments(CONVERT_RANGE, args, nargs, kwnames, values) ||
        !range_from(values, values[4], CONVERT_RANGE.function, &range) ||
        !undo_from(values[6], CONVERT_RANGE.function, &range)) {
        return nullptr;
    }
    Destination to{PyObject_AsFileDescriptor(values[3]), -1};
    if (to.fd < 0) return nullptr;
    if (values[5] != nullptr && values[5] != Py_None) {
        to.offset = PyLong_AsLongLong(values[5]);
        if (PyErr_Occurred() != nullptr) return nullptr;
        if (to.offset < 0) {
            PyErr_SetString(PyExc_ValueError, "_convert_range() argument 'dst_offset' < 0");
            return nullptr;
        }
    }
    RangeWritten done;
    {
        const WithoutGil unlocked;
        done = convert_range_into(range, to);
    }
    if (done.error != 0) return os_error(done.error);
    return Py_BuildValue("(KK)", static_cast<unsigned long long>(done.reached - range.start),
                         static_cast<unsigned long long>(done.written));
}

namespace {

// A range converted into memory of its own, held until its place in the
// output is known (textmend.dask with Dask's threads, whose tasks share
// the process): written then, it need not be read and converted a second
// time. An anonymous mapping reserved for the worst case, whose room never
// written costs nothing. Filling fresh memory costs about what converting
// into it does: large pages are asked for (17 ms a 32 MiB range to UTF-8
// instead of 25), and once written a block's mapping may convert the next
// range, its pages already there (13 ms).
struct HeldBlock {
    std::uint8_t* data = nullptr;
    std::size_t mapped = 0;
    std::size_t size = 0;
    bool written = false;
};

constexpr const char* HELD_BLOCK = "textmend._textmend.HeldBlock";

void unmap(HeldBlock& block) {
    if (block.data != nullptr) munmap(block.data, block.mapped);
    block.data = nullptr;
    block.mapped = 0;
}

void release_held_block(PyObject* capsule) {
    auto* block = static_cast<HeldBlock*>(PyCapsule_GetPointer(capsule, HELD_BLOCK));
    if (block == nullptr) return;
    unmap(*block);
    delete block;
}

// Room for the conversion of the range however its pieces fall: every
// piece may need max_converted_size() beyond what is written.
std::size_t held_room(const RangeArguments& range) {
    const auto size = static_cast<std::size_t>(range.end - range.start);
    return max_converted_size(size + largest_piece(range), range.target);
}

// The block's mapping when it has room enough, else a new one; false with
// errno set when none can be made.
bool ready_held(HeldBlock& block, std::size_t room) {
    block.size = 0;
    block.written = false;
    if (block.mapped >= room) return true;
    unmap(block);
    void* place = mmap(nullptr, room, PROT_READ | PROT_WRITE,
                       MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (place == MAP_FAILED) return false;
#ifdef MADV_HUGEPAGE
    (void)madvise(place, room, MADV_HUGEPAGE);  // a hint: refused, nothing changes
#endif
    block.data = static_cast<std::uint8_t*>(place);
    block.mapped = room;
    return true;
}

// The block given to reuse (a new reference), or a new one in a capsule.
PyObject* held_block_for(PyObject* reuse) {
    if (reuse != nullptr && reuse != Py_None) {
        if (PyCapsule_GetPointer(reuse, HELD_BLOCK) == nullptr) return nullptr;
        Py_INCREF(reuse);
        return reuse;
    }
    auto* block = new (std::nothrow) HeldBlock{};
    if (block == nullptr) return PyErr_NoMemory();
    PyObject* capsule = PyCapsule_New(block, HELD_BLOCK, release_held_block);
    if (capsule == nullptr) delete block;
    return capsule;
}

constexpr const char* HELD_NAMES[] = {"src_fd", "start", "end", "target", "undo_double", "reuse"};
constexpr Parameters CONVERT_HELD{"_convert_range_held", HELD_NAMES, 6, 4, 4};

constexpr const char* WRITE_HELD_NAMES[] = {"block", "dst_fd", "dst_offset"};
constexpr Parameters WRITE_HELD{"_write_held", WRITE_HELD_NAMES, 3, 3, 3};

}  // namespace

PyObject* convert_range_held(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                             PyObject* kwnames) {
    PyObject* values[6];
    RangeArguments range;
    if (!match_arguments(CONVERT_HELD, args, nargs, kwnames, values) ||
        !range_from(values, values[3], CONVERT_HELD.function, &range) ||
        !undo_from(values[4], CONVERT_HELD.function, &range)) {
        return nullptr;
    }
    if (range.end < range.start) range.end = range.start;
    PyObject* capsule = held_block_for(values[5]);
    if (capsule == nullptr) return nullptr;
    auto* block = static_cast<HeldBlock*>(PyCapsule_GetPointer(capsule, HELD_BLOCK));
    int error = 0;
    std::uint64_t reached = 0;
    {
        const WithoutGil unlocked;
        if (!ready_held(*block, held_room(range))) {
            error = errno;
        } else {
            textmend::StreamConverter converter(range.target);
            reached = read_range_as_asked(
                range, &error, [&](const std::uint8_t* piece, std::size_t size) {
                    block->size += stream_feed(converter, piece, size, block->data + block->size);
                    return true;
                });
            if (error == 0) block->size += stream_finish(converter, block->data + block->size);
        }
    }
    if (error != 0) {
        Py_DECREF(capsule);
        return os_error(error);
    }
    return Py_BuildValue("(KKN)", static_cast<unsigned long long>(reached - range.start),
                         static_cast<unsigned long long>(block->size), capsule);
}

PyObject* write_held(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* values[3];
    if (!match_arguments(WRITE_HELD, args, nargs, kwnames, values)) return nullptr;
    auto* block = static_cast<HeldBlock*>(PyCapsule_GetPointer(values[0], HELD_BLOCK));
    if (block == nullptr) return nullptr;
    if (block->written) {
        PyErr_SetString(PyExc_ValueError, "_write_held(): the block was written already");
        return nullptr;
    }
    Destination to{PyObject_AsFileDescriptor(values[1]), PyLong_AsLongLong(values[2])};
    if (to.fd < 0 || PyErr_Occurred() != nullptr) return nullptr;
    if (to.offset < 0) {
        PyErr_SetString(PyExc_ValueError, "_write_held() argument 'dst_offset' < 0");
        return nullptr;
    }
    bool written = true;
    {
        const WithoutGil unlocked;
        written = write_all(to, block->data, block->size);
    }
    if (!written) return os_error(errno);
    block->written = true;
    Py_RETURN_NONE;
}

namespace {

// The exact size of the conversion of [at, end) of fd, a piece at a time
// with converted_size(): a piece is sized up to just after its last byte
// below 0x80 (no sequence crosses such a byte, so the sizes of the parts add
// up to the whole's), and the bytes after it are read again with the next
// piece; the last piece is sized whole, the range's end being where its
// text ends. A piece without a byte below 0x80 is left, with the rest of
// the range, to a StreamInspector, which holds back what a sequence may
// still need. converted_size() is 1.6-2.2 times as fast as the inspector
// and counts nothing else. Returns the offset reached (see read_range_with),
// the size in *size.
std::uint64_t sized_range(const RangeArguments& range, int* error, std::uint64_t* size) {
    *size = 0;
    *error = 0;
    const std::size_t piece = piece_for(range.start, range.end);
    std::uint8_t* in = thread_buffer(input_buffer, piece);
    std::uint64_t at = range.start;
    while (at < range.end) {
        const auto asked = static_cast<std::size_t>(std::min<std::uint64_t>(piece, range.end - at));
        const ssize_t got = read_at(range.src_fd, in, asked, at);
        if (got < 0) *error = errno;
        if (got <= 0) return at;
        const auto n = static_cast<std::size_t>(got);
        const std::size_t cut = at + n == range.end ? n : safe_cut(in, n);
        if (cut == 0) break;
        *size += converted_size(in, cut, range.target);
        at += cut;
    }
    if (at == range.end) return at;
    StreamInspector inspector(range.target);
    const std::uint64_t reached =
        read_range(range.src_fd, at, range.end, error, [&](const std::uint8_t* p, std::size_t n) {
            inspector.feed(p, n);
            return true;
        });
    *size += inspector.finish().bytes_out;
    return reached;
}

}  // namespace

PyObject* measure_range(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* values[5];
    RangeArguments range;
    if (!match_arguments(MEASURE_RANGE, args, nargs, kwnames, values) ||
        !range_from(values, values[3], MEASURE_RANGE.function, &range) ||
        !undo_from(values[4], MEASURE_RANGE.function, &range)) {
        return nullptr;
    }
    int error = 0;
    std::uint64_t reached = 0;
    std::uint64_t size = 0;
    {
        const WithoutGil unlocked;
        if (range.undo_double) {
            // Undone text comes in pieces of its own: the inspector sizes them.
            StreamInspector inspector(range.target);
            reached = read_range_undoing(range.src_fd, range.start, range.end, &error,
                                         [&](const std::uint8_t* piece, std::size_t n) {
                                             inspector.feed(piece, n);
                                             return true;
                                         });
            size = inspector.finish().bytes_out;
        } else {
            reached = sized_range(range, &error, &size);
        }
    }
    if (error != 0) return os_error(error);
    return Py_BuildValue("(KK)", static_cast<unsigned long long>(reached - range.start),
                         static_cast<unsigned long long>(size));
}

namespace {

// A small file for _convert_whole_files: its name, the size and time of
// change it had when the run began, the prefix of its attempt's temporary
// name and its output's name.
struct WholeFile {
    std::string input;
    std::uint64_t size = 0;
    std::int64_t mtime_ns = 0;
    std::string temporary;
    std::string output;
};

// What went wrong with a file: the input changed, or a system call failed
// with error on the input, the temporary output or the rename.
enum class WholeFailure { none, changed, input, temporary, rename };

struct WholeOutcome {
    WholeFailure failure = WholeFailure::none;
    int error = 0;
};

bool string_of(PyObject* name, std::string* out) {
    PyObject* encoded = nullptr;
    if (PyUnicode_FSConverter(name, &encoded) == 0) return false;
    out->assign(PyBytes_AS_STRING(encoded), static_cast<std::size_t>(PyBytes_GET_SIZE(encoded)));
    Py_DECREF(encoded);
    return true;
}

bool whole_files_from(PyObject* list, std::vector<WholeFile>* files) {
    PyObject* items =
        PySequence_Fast(list, "_convert_whole_files() argument 'files' must be a list");
    if (items == nullptr) return false;
    const Py_ssize_t count = PySequence_Fast_GET_SIZE(items);
    files->resize(static_cast<std::size_t>(count));
    bool ok = true;
    for (Py_ssize_t i = 0; ok && i < count; ++i) {
        WholeFile& file = (*files)[static_cast<std::size_t>(i)];
        PyObject *input = nullptr, *temporary = nullptr, *output = nullptr;
        unsigned long long size = 0;
        long long mtime_ns = 0;
        ok = PyArg_ParseTuple(PySequence_Fast_GET_ITEM(items, i), "OKLOO", &input, &size, &mtime_ns,
                              &temporary, &output) != 0 &&
             string_of(input, &file.input) && string_of(temporary, &file.temporary) &&
             string_of(output, &file.output);
        file.size = size;
        file.mtime_ns = mtime_ns;
    }
    Py_DECREF(items);
    return ok;
}

// A name of its own for this attempt at writing the file: a task run again
// after its worker was lost must not meet what the lost one left.
std::string attempt_name(const std::string& prefix) {
    static constexpr char DIGITS[] = "0123456789abcdef";
    std::uint8_t random[6] = {};
    // Should it fail, the name is fixed and O_EXCL refuses what a lost attempt left.
    (void)getentropy(random, sizeof random);
    std::string name = prefix + ".";
    for (const std::uint8_t byte : random) {
        name += DIGITS[byte >> 4];
        name += DIGITS[byte & 15];
    }
    return name + ".tmp";
}

bool unchanged(int fd, const WholeFile& file, WholeOutcome* outcome) {
    struct stat info {};
    if (fstat(fd, &info) != 0) {
        *outcome = {WholeFailure::input, errno};
        return false;
    }
    const std::int64_t mtime_ns =
        static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
    if (static_cast<std::uint64_t>(info.st_size) != file.size || mtime_ns != file.mtime_ns) {
        *outcome = {WholeFailure::changed, 0};
        return false;
    }
    return true;
}

// Converts [0, size) of in into out and flushes it; false with outcome set.
bool convert_whole(int in, int out, const WholeFile& file, Target target, bool undo_double,
                   WholeOutcome* outcome) {
    Destination to{out, -1};
    const RangeWritten done =
        convert_range_into(RangeArguments{in, 0, file.size, target, undo_double}, to);
    if (done.error != 0) {
        *outcome = {done.write_failed ? WholeFailure::temporary : WholeFailure::input, done.error};
        return false;
    }
    if (done.reached != file.size) {
        *outcome = {WholeFailure::changed, 0};
        return false;
    }
    if (fsync(out) != 0) {
        *outcome = {WholeFailure::temporary, errno};
        return false;
    }
    return true;
}

// The file converted under a name of its own, flushed and renamed over its
// output; nothing of it left when that fails.
WholeOutcome convert_whole_file(const WholeFile& file, Target target, bool undo_double) {
    WholeOutcome outcome;
    const int in = open(file.input.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return {WholeFailure::input, errno};
    if (unchanged(in, file, &outcome)) {
        const std::string temporary = attempt_name(file.temporary);
        const int out = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (out < 0) {
            outcome = {WholeFailure::temporary, errno};
        } else {
            bool done = convert_whole(in, out, file, target, undo_double, &outcome);
            if (close(out) != 0 && done) {
                outcome = {WholeFailure::temporary, errno};
                done = false;
            }
            if (done && rename(temporary.c_str(), file.output.c_str()) != 0) {
                outcome = {WholeFailure::rename, errno};
                done = false;
            }
            if (!done) unlink(temporary.c_str());
        }
    }
    close(in);
    return outcome;
}

constexpr const char* WHOLE_NAMES[] = {"files", "target", "undo_double"};
constexpr Parameters CONVERT_WHOLE{"_convert_whole_files", WHOLE_NAMES, 3, 2, 2};

constexpr const char* WHOLE_FAILURES[] = {"", "changed", "input", "temporary", "rename"};

}  // namespace

PyObject* convert_whole_files(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                              PyObject* kwnames) {
    PyObject* values[3];
    Target target{};
    if (!match_arguments(CONVERT_WHOLE, args, nargs, kwnames, values) ||
        !target_from(values[1], CONVERT_WHOLE.function, &target)) {
        return nullptr;
    }
    RangeArguments undo;
    if (!undo_from(values[2], CONVERT_WHOLE.function, &undo)) return nullptr;
    std::vector<WholeFile> files;
    if (!whole_files_from(values[0], &files)) return nullptr;
    std::size_t at = 0;
    WholeOutcome outcome;
    {
        const WithoutGil unlocked;
        for (; at < files.size(); ++at) {
            outcome = convert_whole_file(files[at], target, undo.undo_double);
            if (outcome.failure != WholeFailure::none) break;
        }
    }
    if (outcome.failure == WholeFailure::none) Py_RETURN_NONE;
    return Py_BuildValue("(nsi)", static_cast<Py_ssize_t>(at),
                         WHOLE_FAILURES[static_cast<int>(outcome.failure)], outcome.error);
}

}  // namespace textmend::python
