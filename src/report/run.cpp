#include "report/run.hpp"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "cli/escaped_name.hpp"
#include "report/examples.hpp"
#include "report/options.hpp"
#include "report/output.hpp"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#else
#include <unistd.h>
#endif

namespace textmend::report {

namespace {

// Bytes read at a time.
constexpr std::size_t BLOCK_SIZE = 128 * 1024;

bool is_standard_input(const char* name) {
    return std::strcmp(name, "-") == 0;
}

void report_error(const char* name, int error) {
    std::fputs("textmend-report: ", stderr);
    write_escaped_name(stderr, name, Backslashes::doubled);
    std::fprintf(stderr, ": %s\n", std::strerror(error));
}

bool stdout_is_a_colour_terminal() {
#ifdef _WIN32
    return false;
#else
    const char* term = std::getenv("TERM");
    return isatty(STDOUT_FILENO) && std::getenv("NO_COLOR") == nullptr && term != nullptr &&
           std::strcmp(term, "dumb") != 0;
#endif
}

std::FILE* open_for_reading(const char* name) {
    if (!is_standard_input(name)) return std::fopen(name, "rb");
#ifdef _WIN32
    _setmode(_fileno(stdin), _O_BINARY);
#endif
    return stdin;
}

// Reads the file once, front to back, a block at a time, inspecting it as it
// comes. Prints its report and returns its status.
ReportStatus report_file(const char* name, const ReportOptions& options, std::uint8_t* block,
                         bool colour) {
    std::FILE* file = open_for_reading(name);
    if (file == nullptr) {
        report_error(name, errno);
        return REPORT_TROUBLE;
    }
    // The first finding is always wanted: the text report says where it is.
    const std::uint64_t wanted = options.max_examples > 0 ? options.max_examples : 1;
    ExampleCollector collector(wanted);
    StreamInspector inspector(options.target, wanted, ExampleCollector::take, &collector);
    std::uint64_t offset = 0;
    for (;;) {
        errno = 0;
        const std::size_t got = std::fread(block, 1, BLOCK_SIZE, file);
        if (got > 0) {
            collector.begin_block(block, got, offset);
            inspector.feed(block, got);
            collector.end_block();
            offset += got;
        }
        if (got < BLOCK_SIZE) break;
    }
    const int error = std::ferror(file) ? (errno != 0 ? errno : EIO) : 0;
    if (file != stdin) std::fclose(file);
    if (error != 0) {
        report_error(name, error);
        return REPORT_TROUBLE;
    }
    const Inspection result = inspector.finish();
    collector.end_input();
    const bool printed =
        options.json
            ? print_json_report(stdout, name, result, collector, options.max_examples)
            : print_text_report(stdout, name, result, collector, options.max_examples, colour);
    // Examples that could not be spooled or read back leave the report short.
    if (collector.error() != 0 || !printed) {
        report_error(name, collector.error() != 0 ? collector.error() : EIO);
        return REPORT_TROUBLE;
    }
    return result.clean() ? REPORT_CLEAN : REPORT_NOT_CLEAN;
}

// Standard output must have taken the whole report.
ReportStatus finish_output() {
    if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return REPORT_CLEAN;
    std::fprintf(stderr, "textmend-report: cannot write the report: %s\n",
                 std::strerror(errno != 0 ? errno : EIO));
    return REPORT_TROUBLE;
}

}  // namespace

int run_report(int argc, const char* const* argv) {
    const CommandLine cl = parse_command_line(argc, argv);
    switch (cl.request) {
        case Request::help:
            std::fputs(USAGE, stdout);
            return finish_output();
        case Request::version:
            std::puts("textmend-report " TEXTMEND_VERSION_STRING);
            return finish_output();
        case Request::wrong:
            std::fputs("textmend-report: ", stderr);
            write_escaped_name(stderr, cl.error.c_str());
            std::fputs("\n", stderr);
            std::fputs(USAGE, stderr);
            return REPORT_TROUBLE;
        case Request::report:
            break;
    }
    static const char* const STANDARD_INPUT[] = {"-"};
    const std::vector<const char*> files =
        cl.options.files.empty() ? std::vector<const char*>(STANDARD_INPUT, STANDARD_INPUT + 1)
                                 : cl.options.files;
    const bool colour = !cl.options.json && stdout_is_a_colour_terminal();
    const std::unique_ptr<std::uint8_t[]> block(new std::uint8_t[BLOCK_SIZE]);
    int status = REPORT_CLEAN;
    for (const char* name : files) {
        const ReportStatus file_status = report_file(name, cl.options, block.get(), colour);
        if (file_status > status) status = file_status;
    }
    const ReportStatus written = finish_output();
    return written > status ? written : status;
}

}  // namespace textmend::report
