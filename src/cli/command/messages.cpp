#include "cli/command/messages.hpp"

#include <cstdio>
#include <cstring>

#include "cli/command/usage.hpp"
#include "names/escaped_name.hpp"

namespace textmend {

namespace {

void report_open_failure(const char* what, const char* path) {
    std::fputs(what, stderr);
    write_escaped_name(stderr, path);
    std::fputs("\n\n", stderr);
    print_usage();
}

void report_io_failure(const char* what, const char* path, const char* reason) {
    std::fputs(what, stderr);
    write_escaped_name(stderr, path);
    std::fputs(": ", stderr);
    std::fputs(reason, stderr);
    std::fputs("\n", stderr);
}

}  // namespace

void report_cannot_open_input(const char* path) {
    report_open_failure("Cannot open input file ", path);
}

void report_cannot_open_output(const char* path) {
    report_open_failure("Cannot open output file ", path);
}

void report_read_failure(const char* path, int error) {
    report_io_failure("Cannot read input file ", path, std::strerror(error));
}

void report_write_failure(const char* path, int error) {
    report_io_failure("Cannot write output file ", path, std::strerror(error));
}

void report_output_changed(const char* path, FileChange change) {
    report_io_failure("Cannot write output file ", path, file_change_reason(change));
}

const char* file_change_reason(FileChange change) noexcept {
    switch (change) {
        case FileChange::replaced:
            return "File was replaced during the conversion";
        case FileChange::truncated:
            return "File was truncated during the conversion";
        case FileChange::kept_growing:
            return "File kept growing during the conversion";
    }
    return "File changed during the conversion";
}

}  // namespace textmend
