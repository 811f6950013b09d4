// Writing test bytes as hex ("C3 A9") and showing results the same way.
#pragma once

#include <string>

namespace textmend::test {

// "C3 A9 41" -> the three bytes; spaces are ignored.
std::string hex_bytes(const std::string& hex);

// The bytes as upper-case hex pairs separated by single spaces.
std::string to_hex(const std::string& bytes);

}  // namespace textmend::test
