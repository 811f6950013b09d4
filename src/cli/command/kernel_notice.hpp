// What textmend-report and textmend-tree tell about the engine's kernel set:
// the set on a line of their --version, and a warning when TEXTMEND_KERNELS
// asks for a set that cannot run. (textmend itself stays silent.)
#pragma once

#include <cstdio>

namespace textmend {

// "kernels: avx512" and a newline.
void print_kernel_set(std::FILE* out);

// "PROGRAM: TEXTMEND_KERNELS=VALUE names no kernel set; using avx512" or
// "PROGRAM: TEXTMEND_KERNELS=VALUE: this processor cannot run it; using
// avx2" on standard error, when that is so; nothing otherwise.
void warn_about_kernel_request(const char* program);

}  // namespace textmend
