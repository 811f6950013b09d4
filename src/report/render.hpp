// Bytes of mixed encodings made fit for a terminal or for JSON.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "cli/json_string.hpp"

namespace textmend::report {

// "c3 a9" (separator " ") or "c3a9" (separator "").
[[nodiscard]] std::string hex_of(const std::uint8_t* bytes, std::size_t n, const char* separator);

// The bytes as the characters they most likely are, for a terminal: valid
// UTF-8 as it is, a lone byte as its Latin-1 or Windows-1252 character, and
// control characters and every other byte as an escape (\t, \x81).
[[nodiscard]] std::string printable_text(const std::uint8_t* bytes, std::size_t n);

// One finding's bytes: a sequence shown as its character only when it is
// valid UTF-8 (else byte by byte as escapes), a lone byte as above.
[[nodiscard]] std::string printable_unit(const std::uint8_t* bytes, std::size_t n);

using textmend::json_string;

}  // namespace textmend::report
