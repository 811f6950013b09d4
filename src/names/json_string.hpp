// Names and other bytes of any encoding as JSON strings.
#pragma once

#include <string>

namespace textmend {

// text as a JSON string, quotes included. Valid UTF-8 is written as it is;
// a byte that is not part of valid UTF-8 is written as \udcXX (XX its value),
// the escape Python's surrogateescape reads back as that byte.
[[nodiscard]] std::string json_string(const char* text);

}  // namespace textmend
