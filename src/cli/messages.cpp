#include "cli/messages.hpp"

#include <cstdio>
#include <cstring>

#include "cli/usage.hpp"

namespace textmend {

namespace {

bool is_control_byte(unsigned char byte) {
    return byte < 0x20 || byte == 0x7F;
}

// Writes name byte for byte, control bytes as \ooo.
void print_name(const char* name) {
    for (const char* p = name; *p != '\0'; ++p) {
        const auto byte = static_cast<unsigned char>(*p);
        if (is_control_byte(byte)) {
            std::fprintf(stderr, "\\%03o", static_cast<unsigned>(byte));
        } else {
            std::fputc(byte, stderr);
        }
    }
}

void report_open_failure(const char* what, const char* path) {
    std::fputs(what, stderr);
    print_name(path);
    std::fputs("\n\n", stderr);
    print_usage();
}

void report_io_failure(const char* what, const char* path, const char* reason) {
    std::fputs(what, stderr);
    print_name(path);
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
