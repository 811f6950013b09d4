#include "report/run.hpp"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "cli/file_layer.hpp"
#include "names/escaped_name.hpp"
#include "report/examples.hpp"
#include "report/files.hpp"
#include "report/halves.hpp"
#include "report/options.hpp"
#include "report/output.hpp"
#include "report/read_ahead.hpp"

namespace textmend::report {

namespace {

void report_error(const char* name, int error) {
    std::fputs("textmend-report: ", stderr);
    write_escaped_name(stderr, name, Backslashes::doubled);
    std::fprintf(stderr, ": %s\n", std::strerror(error));
}

// Reads the input once, front to back, a block at a time, inspecting each
// block while the next ones are read.
FileInspection inspect_in_order(int fd, std::int64_t size, Target target, std::uint64_t wanted,
                                ExampleCollector& collector, ReadAhead& reader) {
    ReportInspector inspector(target, wanted, ExampleCollector::take, &collector);
    FileInspection inspected;
    std::uint64_t offset = 0;
    reader.start(fd, size);
    for (;;) {
        const ReadAhead::Block block = reader.next();
        if (block.size > 0) {
            collector.begin_block(block.data, block.size, offset);
            inspector.feed(block.data, block.size);
            collector.end_block();
            offset += block.size;
        }
        inspected.error = block.error;
        reader.release();
        if (block.size == 0) break;
    }
    inspected.result = inspector.finish();
    return inspected;
}

// Inspects the file, in halves at once where it is large, else in order.
// Prints its report and returns its status.
ReportStatus report_file(const char* name, const ReportOptions& options, ReadAhead& reader,
                         bool colour) {
    const int fd = open_for_reading(name);
    if (fd < 0) {
        report_error(name, errno);
        return REPORT_TROUBLE;
    }
    // The first finding is always wanted: the text report says where it is.
    const std::uint64_t wanted = options.max_examples > 0 ? options.max_examples : 1;
    ExampleCollector collector(wanted);
    const std::int64_t size = regular_file_size(fd);
    FileInspection inspected;
    if (!inspect_in_halves(fd, size, options.target, wanted, collector, inspected))
        inspected = inspect_in_order(fd, size, options.target, wanted, collector, reader);
    close_input(fd);
    if (inspected.error != 0) {
        report_error(name, inspected.error);
        return REPORT_TROUBLE;
    }
    const ReportCounts& result = inspected.result;
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
    return result.units.clean() ? REPORT_CLEAN : REPORT_NOT_CLEAN;
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
            warn_about_kernel_request("textmend-report");
            std::puts("textmend-report " TEXTMEND_VERSION_STRING);
            print_kernel_set(stdout);
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
    warn_about_kernel_request("textmend-report");
    static const char* const STANDARD_INPUT[] = {"-"};
    const std::vector<const char*> files =
        cl.options.files.empty() ? std::vector<const char*>(STANDARD_INPUT, STANDARD_INPUT + 1)
                                 : cl.options.files;
    const bool colour = !cl.options.json && stdout_is_a_colour_terminal();
    ReadAhead reader;
    int status = REPORT_CLEAN;
    for (const char* name : files) {
        const ReportStatus file_status = report_file(name, cl.options, reader, colour);
        if (file_status > status) status = file_status;
    }
    const ReportStatus written = finish_output();
    return written > status ? written : status;
}

}  // namespace textmend::report
