#include "cli/run.hpp"

#include <cerrno>
#include <cstdint>

#include "cli/arguments.hpp"
#include "cli/exit_status.hpp"
#include "cli/input_file.hpp"
#include "cli/mapped_input_guard.hpp"
#include "cli/messages.hpp"
#include "cli/output_file.hpp"
#include "cli/usage.hpp"
#include "convert/byte_loop.hpp"
#include "convert/fd_io.hpp"
#include "convert/mapped_file.hpp"

namespace textmend {

namespace {

std::uint8_t input_storage[input_storage_size(INPUT_BLOCK_SIZE)];
std::uint8_t output_storage[OUTPUT_BUFFER_SIZE];
OutputFile output;
InputStream in;
OutputStream out;
MappedFile mapped;

// Regular files at least this large are mapped rather than read: no copy
// from the page cache. Smaller ones are not worth the mapping.
constexpr long long MAP_AT_LEAST = 256 * 1024;

// Runs the conversion from input to output and finishes the output; on any
// failure the output is removed and the failure reported.
ExitStatus convert_file(const CommandLine& cl, InputFile& input, const IoHooks* hooks) {
    // Hooks see every read, so with hooks the input is read, not mapped.
    const bool map = hooks == nullptr && input.is_regular && input.size >= MAP_AT_LEAST &&
                     mapped_file_open(mapped, input.fd, input.size);
    ByteSink sink = fd_sink(&output.fd);
    if (hooks != nullptr) sink = hooks->output(sink, hooks->context);
    if (map) {
        input_init(in, mapped_file_source(&mapped), nullptr, MAPPED_WINDOW_SIZE);
    } else {
        ByteSource source = fd_source(&input.fd);
        if (hooks != nullptr) source = hooks->input(source, hooks->context);
        input_init(in, source, input_storage, INPUT_BLOCK_SIZE);
    }
    output_init(out, sink, output_storage, sizeof output_storage);
    // A mapped file that shrinks under us (another program truncates it)
    // raises SIGBUS where its pages went away: that is a failed read.
    if (!map) {
        convert_stream(in, out, cl.mode);
    } else if (!convert_guarding_mapped_input(in, out, cl.mode)) {
        in.error = EIO;
    }
    mapped_file_close(mapped);
    // Everything is read: let go of the input before the output may replace
    // it (Windows cannot replace a file that is still open).
    close_input_file(input);
    output_flush(out);
    if (in.error != 0) {
        report_read_failure(cl.input_path, in.error);
        discard_output_file(output);
        return EXIT_IO_FAILED;
    }
    int error = out.error;
    if (error == 0) {
        error = commit_output_file(output);
    } else {
        discard_output_file(output);
    }
    if (error != 0) {
        report_write_failure(cl.output_path, error);
        return EXIT_IO_FAILED;
    }
    return EXIT_CONVERTED;
}

}  // namespace

int run_textmend(int argc, const char* const* argv, const IoHooks* hooks) {
    const CommandLine cl = parse_command_line(argc, argv);
    if (!cl.valid) {
        print_usage();
        return EXIT_USAGE;
    }
    InputFile input{};
    if (!open_input_file(cl.input_path, input)) {
        report_cannot_open_input(cl.input_path);
        return EXIT_INPUT_UNUSABLE;
    }
    if (!open_output_file(cl.output_path, input, output)) {
        report_cannot_open_output(cl.output_path);
        close_input_file(input);
        return EXIT_OUTPUT_UNUSABLE;
    }
    const ExitStatus status = convert_file(cl, input, hooks);
    close_input_file(input);
    return status;
}

}  // namespace textmend
