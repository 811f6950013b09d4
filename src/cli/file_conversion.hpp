// Converting one file into another, or in place, with the program's file
// handling (see output_file.hpp): everything a run of textmend does between
// its command line and its messages. The program and the Python module use
// it; it prints nothing and tells what happened.
#pragma once

#include <cstdint>

#include "cli/command/exit_status.hpp"
#include "cli/command/messages.hpp"
#include "cli/descriptors/input_file.hpp"
#include "convert/byte_io.hpp"
#include "convert/output_mode.hpp"

namespace textmend {

// Wrappers around the real input source and output sink of a conversion,
// for tests that make reads or writes fail on purpose.
struct IoHooks {
    ByteSource (*input)(ByteSource real, void* context);
    ByteSink (*output)(ByteSink real, void* context);
    void* context;
};

// Regular-file inputs at least this large are converted on one thread and
// written on another (see background_writer.hpp). For smaller ones a thread
// costs more than it saves: starting it and its 2 MiB of buffers take about
// 0.5 ms, and the writes from buffers filled on the other core are slower.
// Measured against one thread (files on tmpfs): at 4 MiB the thread lost on
// every kind of text (mixed prose 10 %, ASCII 34 %); at 8 MiB it broke even
// on prose (mixed prose -u 0.98, Latin-1 prose -u 1.00) and lost 10 % on
// ASCII; at 16 MiB it won on prose (0.83 mixed, 0.91 Latin-1 -u) and tied on
// ASCII.
inline constexpr std::int64_t WRITER_THREAD_AT_LEAST = 8 * 1024 * 1024;

struct ConversionSettings {
    // The process is textmend itself: the interrupting signals remove an
    // incomplete output, and closed standard descriptors are filled before
    // the output is opened. A library caller leaves all that alone.
    bool as_program = false;
    // Wrappers around every read and write, for tests.
    const IoHooks* hooks = nullptr;
    // Regular-file inputs at least this large get a writer thread; -1: none.
    std::int64_t writer_thread_at_least = WRITER_THREAD_AT_LEAST;
    // Asked before every read of the input (a block at a time), and when a
    // signal interrupted a read (interrupted); true ends the run as a failed
    // read with EINTR: the incomplete output is removed, an in-place original
    // stays. The Python module lets signal handlers run there.
    bool (*stop_requested)(void* context, bool interrupted) = nullptr;
    void* stop_context = nullptr;
    // Undo text encoded twice (undo_double_stream.hpp) before converting.
    // For regular files: a pipe's line is held until it is complete.
    bool undo_double = false;
};

enum class FailedStep {
    none,
    open_input,   // status 2
    open_output,  // status 3
    read,         // status 4, the input
    write,        // status 4, the output
};

struct ConversionOutcome {
    ExitStatus status = ExitStatus::converted;
    FailedStep failed = FailedStep::none;
    int error = 0;         // errno of the failed step, where it has one
    bool changed = false;  // write: another program changed the input of an in-place run
    FileChange change = FileChange::replaced;
};

// Converts the file input_path into output_path (in place when both name the
// same file) in the target encoding mode. Reentrant unless as_program.
[[nodiscard]] ConversionOutcome convert_file(const char* input_path, const char* output_path,
                                             OutputMode mode, const ConversionSettings& settings);

// Converts in place, with every guarantee of convert_file, the file at place
// that input holds open (read again from its start), for a program that
// found it walking a tree. input stays the caller's to close (on Windows
// the replacement closes it first). Reentrant; as_program is not used.
[[nodiscard]] ConversionOutcome convert_in_place_at(InputFile& input, const FilePlace& place,
                                                    OutputMode mode,
                                                    const ConversionSettings& settings);

}  // namespace textmend
