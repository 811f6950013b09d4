// File names in messages: written byte for byte as given, except control
// bytes (below 0x20, and 0x7F), which are written as an octal escape such as
// \033, so that a name cannot send escape sequences to the terminal.
#pragma once

#include <cstdio>

namespace textmend {

void write_escaped_name(std::FILE* stream, const char* name);

}  // namespace textmend
