// Text encoded twice: UTF-8 whose bytes were read as Latin-1 or
// Windows-1252 and written as UTF-8 again, so that "é" (C3 A9) became "Ã©"
// (C3 83 C2 A9). A double-encoded run is 2 to 4 characters, each written as
// UTF-8 and each one that Latin-1 or Windows-1252 writes as a single high
// byte, whose bytes together are one valid UTF-8 sequence of a character at
// or above U+0080. Undoing a run gives that character; a run whose
// characters are themselves runs (text encoded three or four times) is
// undone level by level, up to DOUBLE_LEVELS_MAX.
#pragma once

#include <cstddef>
#include <cstdint>

#include "encoding/cp1252_reverse.hpp"
#include "encoding/utf8.hpp"

namespace textmend {

inline constexpr int DOUBLE_LEVELS_MAX = 3;

// The single high byte (0x80..0xFF) that Latin-1 or Windows-1252 writes cp
// as, or -1 when neither writes it as one. U+0080..U+009F are Latin-1's;
// Windows-1252's 27 characters of 80..9F (such as U+20AC and U+2019) map to
// the same bytes, and either reading is one that damages text.
constexpr std::int32_t single_high_byte_of(std::int32_t cp) {
    if (cp >= 0x80 && cp <= 0xFF) return cp;
    return cp1252_byte_of(cp);
}

// A character of the input, or a run: the bytes it spans and the code point
// it is or becomes. length 0: none.
struct EncodedChar {
    std::size_t length = 0;
    std::int32_t code_point = -1;
};

// The valid multi-byte UTF-8 character at p.
constexpr EncodedChar utf8_character_at(const std::uint8_t* p, const std::uint8_t* end) {
    const std::size_t n = valid_utf8_length(p, static_cast<std::size_t>(end - p));
    if (n == 0) return {};
    return {n, utf8_decode_at(p, static_cast<std::int32_t>(n))};
}

constexpr EncodedChar double_run_of_level(const std::uint8_t* p, const std::uint8_t* end,
                                          int level);

// What a run of the given level is made of: characters of the input at
// level 1, runs of the level below above it.
constexpr EncodedChar run_item_at(const std::uint8_t* p, const std::uint8_t* end, int level) {
    return level == 1 ? utf8_character_at(p, end) : double_run_of_level(p, end, level - 1);
}

// The run of exactly this level (1: text encoded twice) that starts at p.
constexpr EncodedChar double_run_of_level(const std::uint8_t* p, const std::uint8_t* end,
                                          int level) {
    std::uint8_t bytes[4] = {};
    std::int32_t length = 0;
    const std::uint8_t* q = p;
    for (std::int32_t i = 0; i == 0 || i < length; ++i) {
        if (q == end) return {};
        const EncodedChar item = run_item_at(q, end, level);
        if (item.length == 0) return {};
        const std::int32_t byte = single_high_byte_of(item.code_point);
        if (byte < 0) return {};
        if (i == 0) {
            length = utf8_sequence_length_strict(byte);
            if (length < 2) return {};
        } else if (!is_continuation_byte(byte)) {
            return {};
        }
        bytes[i] = static_cast<std::uint8_t>(byte);
        q += item.length;
    }
    if (!utf8_is_valid_sequence(bytes, length)) return {};
    return {static_cast<std::size_t>(q - p), utf8_decode_at(bytes, length)};
}

// A run found at some place: its bytes, the character it becomes once
// undone as often as it was encoded, and how often that is.
struct DoubleRun {
    std::size_t length = 0;  // 0: no run starts there
    std::int32_t code_point = -1;
    int levels = 0;
};

// The run that starts at p, undone as deep as it goes.
constexpr DoubleRun double_run_at(const std::uint8_t* p, const std::uint8_t* end) {
    DoubleRun found;
    for (int level = 1; level <= DOUBLE_LEVELS_MAX; ++level) {
        const EncodedChar run = double_run_of_level(p, end, level);
        if (run.length == 0) break;
        found = {run.length, run.code_point, level};
    }
    return found;
}

// Every run starts with the UTF-8 form of a character U+00C2..U+00F4 (its
// single byte a lead of a valid sequence: C3 82..C3 B4), followed by the
// first byte of a character with a single high byte of its own (C2 for
// U+0080..U+00BF, C5, C6, CB and E2 for Windows-1252's). So three bytes tell
// where a run may start.
constexpr bool may_start_double_run(std::uint8_t first, std::uint8_t second, std::uint8_t third) {
    if (first != 0xC3 || second < 0x82 || second > 0xB4) return false;
    return third == 0xC2 || third == 0xC5 || third == 0xC6 || third == 0xCB || third == 0xE2;
}

}  // namespace textmend
