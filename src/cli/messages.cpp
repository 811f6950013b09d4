#include "cli/messages.hpp"

#include <cstdio>
#include <cstring>

#include "cli/usage.hpp"

namespace textmend {

static void report_open_failure(const char* what, const char* path) {
    std::fputs(what, stderr);
    std::fputs(path, stderr);
    std::fputs("\n\n", stderr);
    print_usage();
}

static void report_io_failure(const char* what, const char* path, int error) {
    std::fputs(what, stderr);
    std::fputs(path, stderr);
    std::fputs(": ", stderr);
    std::fputs(std::strerror(error), stderr);
    std::fputs("\n", stderr);
}

void report_cannot_open_input(const char* path) {
    report_open_failure("Cannot open input file ", path);
}

void report_cannot_open_output(const char* path) {
    report_open_failure("Cannot open output file ", path);
}

void report_read_failure(const char* path, int error) {
    report_io_failure("Cannot read input file ", path, error);
}

void report_write_failure(const char* path, int error) {
    report_io_failure("Cannot write output file ", path, error);
}

}  // namespace textmend
