// Bytes of mixed encodings made fit for a terminal or for a message: what
// the programs show of a finding, and the character test names share.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace textmend {

// U+0080..U+009F: controls to a terminal (0x9B starts an escape sequence).
[[nodiscard]] constexpr bool is_c1_control(std::int32_t code_point) {
    return code_point >= 0x80 && code_point <= 0x9F;
}

// The valid multi-byte UTF-8 sequence that starts the n bytes at p, as its
// length and code point; length 0 when they start none (ASCII included).
struct Utf8Character {
    std::size_t length;
    std::int32_t code_point;
};
[[nodiscard]] Utf8Character utf8_character_at(const std::uint8_t* p, std::size_t n);

// The bytes as the characters they most likely are, for a terminal: valid
// UTF-8 as it is, a lone byte as its Latin-1 or Windows-1252 character, and
// control characters and every other byte as an escape (\t, \x81).
[[nodiscard]] std::string printable_text(const std::uint8_t* bytes, std::size_t n);

// One finding's bytes: a sequence shown as its character only when it is
// valid UTF-8 (else byte by byte as escapes), a lone byte as above.
[[nodiscard]] std::string printable_unit(const std::uint8_t* bytes, std::size_t n);

}  // namespace textmend
