#include "cli/file_conversion.hpp"

#include <cerrno>
#include <cstdint>
#include <memory>
#include <new>

#include "cli/descriptors/fd_io.hpp"
#include "cli/descriptors/input_file.hpp"
#include "cli/descriptors/standard_descriptors.hpp"
#include "cli/interrupt/interrupt.hpp"
#include "cli/output/output_file.hpp"
#include "cli/writer/background_writer.hpp"
#include "convert/byte_loop.hpp"
#include "convert/undo_double_stream.hpp"

namespace textmend {

namespace {

// An in-place run converts what another program appends to the file while
// it runs, a round at a time; a file that still grows after this many
// rounds is given up on.
constexpr int MAX_ROUNDS = 64;

struct RunBuffers {
    std::uint8_t input[input_storage_size(INPUT_BLOCK_SIZE)];
    std::uint8_t output[OUTPUT_BUFFER_SIZE];  // when there is no writer thread
    BackgroundWriter writer;
    UndoingSource undoing;  // when undoing text encoded twice
    std::uint8_t undo[UNDO_STORAGE_SIZE];
};

// The input, read through a check: a regular file that ends before the size
// it had when it was opened, and is now smaller than that, has been cut short
// by another program meanwhile, and the bytes read from it are no longer its
// content. That is a failed read. A file that ends early but is not smaller
// now is one whose size says nothing of its content (sysfs and procfs files
// report a page or nothing): the end met is its end.
struct CheckedInput {
    const InputFile* file;
    std::int64_t offset;  // of the next byte read
    const ConversionSettings* settings;
    int at_hand_fd = -1;  // see input_at_hand_descriptor; -1: the file's own
};

// One read, asking the settings' stop_requested first and after every read
// a signal interrupted.
std::int64_t read_unless_stopped(const CheckedInput& reader, std::uint8_t* dst, std::size_t n) {
    const ConversionSettings& settings = *reader.settings;
    for (bool interrupted = false;;) {
        if (settings.stop_requested != nullptr &&
            settings.stop_requested(settings.stop_context, interrupted)) {
            errno = EINTR;
            return -1;
        }
        const std::int64_t got = fd_read_once(reader.file->fd, dst, n);
        interrupted = got < 0 && errno == EINTR;
        if (!interrupted) return got;
    }
}

std::int64_t read_checked(void* context, std::uint8_t* dst, std::size_t n) {
    auto& reader = *static_cast<CheckedInput*>(context);
    const std::int64_t got = read_unless_stopped(reader, dst, n);
    if (got > 0) reader.offset += got;
    if (got == 0 && reader.file->is_regular && reader.offset < reader.file->size) {
        const std::int64_t now = input_file_size(*reader.file);
        if (now < 0) return -1;
        if (now < reader.file->size) {
            errno = EIO;
            return -1;
        }
    }
    return got;
}

// The same without waiting for a pipe, socket or terminal to get more.
std::int64_t read_at_hand_checked(void* context, std::uint8_t* dst, std::size_t n) {
    auto& reader = *static_cast<CheckedInput*>(context);
    const int fd = reader.at_hand_fd >= 0 ? reader.at_hand_fd : reader.file->fd;
    const std::int64_t got = fd_read_at_hand(fd, dst, n);
    if (got > 0) reader.offset += got;
    return got;
}

// Everything one conversion works with.
struct FileRun {
    OutputMode mode = MODE_LATIN1;
    ConversionOutcome outcome;
    InputFile input;
    OutputFile output;
    CheckedInput reader{};
    ByteSource source{};
    InputStream in{};
    OutputStream out{};
    BackgroundWriter* writer = nullptr;  // the output's writer thread, if it has one
    // Undoing text encoded twice: the source the undoing reads, and how many
    // lines the output holds undone.
    bool undoing = false;
    ByteSource undone_from{};
    std::uint64_t lines_undone = 0;
};

// Waits until the writer thread has written all the output handed to it; a
// failure of its writes becomes the output stream's.
void wait_for_writes(FileRun& run) {
    if (run.writer == nullptr) return;
    const int error = run.writer->drain();
    if (run.out.error == 0) run.out.error = error;
}

void stop_writer(FileRun& run) {
    if (run.writer != nullptr) run.writer->stop();
    run.writer = nullptr;
}

// Converts the input from offset to its end, after what the output holds.
void convert_round(FileRun& run, RunBuffers& buffers, std::int64_t offset) {
    run.reader.offset = offset;
    if (run.undoing) {
        // A round from the start writes the output afresh.
        if (offset == 0) run.lines_undone = 0;
        run.source = undoing_source(buffers.undoing, run.undone_from, buffers.undo);
    }
    input_init(run.in, run.source, buffers.input, INPUT_BLOCK_SIZE, offset);
    // What a pipe, socket or terminal gives is written out as soon as it is
    // decided, rather than when the buffers are full: a line written into
    // the pipe comes out at once (tail -f log | textmend ...).
    run.in.live = !run.input.is_regular;
    convert_stream(run.in, run.out, run.mode);
    output_flush(run.out);
    wait_for_writes(run);
    if (run.undoing) run.lines_undone += buffers.undoing.undoer.tally.lines;
}

// How much of the input the rounds so far have converted. Undoing shortens
// what the conversion reads, so that is told by the reads of the file.
std::int64_t input_consumed(const FileRun& run) {
    return run.undoing ? run.reader.offset : input_tell(run.in);
}

ExitStatus fail(FileRun& run, FailedStep step, int error) {
    // The thread writes no more before the output is thrown away.
    stop_writer(run);
    run.outcome.failed = step;
    run.outcome.error = error;
    discard_output_file(run.output);
    return ExitStatus::io_failed;
}

ExitStatus fail_reading(FileRun& run, int error) {
    return fail(run, FailedStep::read, error);
}

ExitStatus fail_writing(FileRun& run, int error) {
    return fail(run, FailedStep::write, error);
}

ExitStatus fail_finishing(FileRun& run, const FileFailure& failure) {
    run.outcome.changed = failure.changed;
    run.outcome.change = failure.change;
    return fail_writing(run, failure.changed ? 0 : failure.error);
}

// Where to go on after consumed bytes when more were appended: right there
// when the last byte converted is below 0x80, since such a byte ends every
// sequence and the bytes after it are judged afresh, so converting them on
// their own gives the same bytes as converting the whole. Otherwise the
// last bytes may start a sequence that the appended ones complete: start
// again from the beginning. Undoing decides a line at a time: there, only
// a newline lets the appended bytes be judged afresh. Returns -1 with errno
// set on failure.
std::int64_t resume_offset(FileRun& run, std::int64_t consumed) {
    std::int64_t offset = consumed;
    if (consumed > 0) {
        const int last = input_file_byte_at(run.input, consumed - 1);
        if (last < 0) return -1;
        if (last >= 0x80 || (run.undoing && last != '\n')) {
            if (!rewind_output_file(run.output)) return -1;
            offset = 0;
        }
    }
    if (!input_file_seek(run.input, offset)) return -1;
    return offset;
}

// What an in-place run does after a round.
struct Settlement {
    bool finished;  // yes: with status; no: another round from next_offset
    ExitStatus status;
    std::int64_t next_offset;
};

Settlement finished(ExitStatus status) {
    return Settlement{true, status, 0};
}

// In place, after a round that converted consumed bytes: replaces the input,
// leaves it as it is when nothing changed, or asks for another round when
// bytes were appended meanwhile.
Settlement settle_in_place(FileRun& run, std::int64_t consumed) {
    const std::int64_t size = input_file_size(run.input);
    if (size < 0) return finished(fail_reading(run, errno));
    if (size < consumed) {
        return finished(fail_finishing(run, FileFailure{0, true, FileChange::truncated}));
    }
    if (size == consumed) {
        // Every change of the conversion alters the length (a sequence
        // becomes one byte, or one byte a sequence), so an output as long as
        // the input is the input, unless lines were undone.
        const std::int64_t written = output_file_size(run.output);
        if (written < 0) return finished(fail_writing(run, errno));
        if (written == consumed && run.lines_undone == 0) {
            discard_output_file(run.output);
            return finished(ExitStatus::converted);
        }
        FileFailure failure;
        switch (replace_input(run.output, run.input, consumed, failure)) {
            case ReplaceOutcome::replaced:
                return finished(ExitStatus::converted);
            case ReplaceOutcome::failed:
                return finished(fail_finishing(run, failure));
            case ReplaceOutcome::input_grew:
                break;
        }
    }
    const std::int64_t next = resume_offset(run, consumed);
    if (next < 0) return finished(fail_writing(run, errno));
    return Settlement{false, ExitStatus::converted, next};
}

// Converts the whole input and finishes the output; on any failure the
// output is discarded and the failure reported.
ExitStatus convert_whole_input(FileRun& run, RunBuffers& buffers) {
    std::int64_t offset = 0;
    for (int round = 1;; ++round) {
        convert_round(run, buffers, offset);
        if (run.in.error != 0) return fail_reading(run, run.in.error);
        if (run.out.error != 0) return fail_writing(run, run.out.error);
        if (run.output.kind != OutputKind::in_place) break;
        const Settlement settled = settle_in_place(run, input_consumed(run));
        if (settled.finished) return settled.status;
        if (round == MAX_ROUNDS) {
            return fail_finishing(run, FileFailure{0, true, FileChange::kept_growing});
        }
        offset = settled.next_offset;
    }
    stop_writer(run);
    if (const int error = close_output_file(run.output); error != 0)
        return fail_writing(run, error);
    return ExitStatus::converted;
}

// A writer thread pays off for large inputs; pipes and devices, whose size
// is not known, keep to one thread.
bool wants_writer_thread(const FileRun& run, const ConversionSettings& settings) {
    return settings.writer_thread_at_least >= 0 && run.input.is_regular &&
           run.input.size >= settings.writer_thread_at_least;
}

// Sets up the streams of a run on its open files.
void prepare_streams(FileRun& run, RunBuffers& buffers, const ConversionSettings& settings) {
    const IoHooks* hooks = settings.hooks;
    run.reader.file = &run.input;
    run.reader.settings = &settings;
    run.source = ByteSource{read_checked, &run.reader, nullptr, read_at_hand_checked};
    ByteSink sink = fd_sink(&run.output.fd);
    if (hooks != nullptr) {
        run.source = hooks->input(run.source, hooks->context);
        sink = hooks->output(sink, hooks->context);
    }
    if (settings.undo_double) {
        run.undoing = true;
        run.undone_from = run.source;
    }
    if (wants_writer_thread(run, settings) && buffers.writer.start(sink)) {
        run.writer = &buffers.writer;
        output_init(run.out, run.writer->sink(), run.writer->first_buffer(), WRITER_BUFFER_SIZE);
        run.out.taker = run.writer->taker();
        return;
    }
    output_init(run.out, sink, buffers.output, sizeof buffers.output);
}

ExitStatus convert_open_files(FileRun& run, const ConversionSettings& settings) {
    const std::unique_ptr<RunBuffers> buffers(new (std::nothrow) RunBuffers);
    if (buffers == nullptr) return fail_reading(run, ENOMEM);
    prepare_streams(run, *buffers, settings);
    return convert_whole_input(run, *buffers);
}

}  // namespace

ConversionOutcome convert_file(const char* input_path, const char* output_path, OutputMode mode,
                               const ConversionSettings& settings) {
    FileRun run;
    run.mode = mode;
    const OutputRequest request = request_output(output_path, input_path);
    if (!open_input_file(input_path, run.input)) {
        return {ExitStatus::input_unusable, FailedStep::open_input, errno};
    }
    run.reader.at_hand_fd = input_at_hand_descriptor(run.input, input_path);
    if (settings.as_program) {
        // After the input (/dev/stdin with standard input closed stays an
        // input that cannot be opened), before the output (which must not
        // become descriptor 2, where messages go).
        open_missing_standard_descriptors();
    }
    // The program's handlers, for the life of the output.
    std::unique_ptr<SignalHandlers> handlers;
    if (settings.as_program) handlers = std::make_unique<SignalHandlers>();
    if (!open_output_file(request, run.input, run.output)) {
        const int error = errno;
        close_input_file(run.input);
        return {ExitStatus::output_unusable, FailedStep::open_output, error};
    }
    run.outcome.status = convert_open_files(run, settings);
    close_input_file(run.input);
    return run.outcome;
}

ConversionOutcome convert_in_place_at(InputFile& input, const FilePlace& place, OutputMode mode,
                                      const ConversionSettings& settings) {
    FileRun run;
    run.mode = mode;
    run.input = input;
    // Read from the start again, by the size it has now.
    run.input.size = input_file_size(input);
    if (run.input.size < 0 || !input_file_seek(input, 0)) {
        return {ExitStatus::io_failed, FailedStep::read, errno};
    }
    if (!open_output_in_place_at(place, run.input, run.output)) {
        return {ExitStatus::output_unusable, FailedStep::open_output, errno};
    }
    run.outcome.status = convert_open_files(run, settings);
    input.fd = run.input.fd;  // closed where a replacement needs it
    return run.outcome;
}

}  // namespace textmend
