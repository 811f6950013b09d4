// Messages on standard error. Paths are written byte for byte as given on the
// command line, never used as a format.
#pragma once

namespace textmend {

// "Cannot open input file PATH", an empty line, then the usage text.
void report_cannot_open_input(const char* path);

// "Cannot open output file PATH", an empty line, then the usage text.
void report_cannot_open_output(const char* path);

// "Cannot read input file PATH: REASON" (REASON from strerror).
void report_read_failure(const char* path, int error);

// "Cannot write output file PATH: REASON" (REASON from strerror).
void report_write_failure(const char* path, int error);

}  // namespace textmend
