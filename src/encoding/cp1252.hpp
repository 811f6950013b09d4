// Windows-1252: the 32 characters it places at 0x80..0x9F, and the mapping
// between those bytes and code points. Everywhere else it equals Latin-1.
#pragma once

#include <array>
#include <cstdint>

#include "encoding/latin1.hpp"

namespace textmend {

// Entry i is the code point of byte 0x80 + i; -1 marks the five bytes that
// Windows-1252 leaves undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D).
inline constexpr std::array<std::int32_t, 32> cp1252_table = {
    0x20AC, -1,     0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80..87
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, -1,     0x017D, -1,      // 88..8F
    -1,     0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90..97
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, -1,     0x017E, 0x0178,  // 98..9F
};

// Byte 0x80 + i for the entry i of cp1252_table equal to cp, or -1. The -1
// markers of the undefined bytes never match. A linear search: the
// reference that the table lookup (cp1252_reverse.hpp) is checked against.
constexpr std::int32_t cp1252_index_of(std::int32_t cp) {
    if (cp == -1) return -1;
    for (std::size_t i = 0; i < cp1252_table.size(); ++i) {
        if (cp1252_table[i] == cp) return 0x80 + static_cast<std::int32_t>(i);
    }
    return -1;
}

// The code point byte value v (0..255) stands for in Windows-1252, or -1 for
// an undefined byte.
constexpr std::int32_t cp1252_to_unicode(std::int32_t v) {
    if (is_latin1(v)) return v;
    if (v >= 0x80 && v <= 0x9F) return cp1252_table[static_cast<std::size_t>(v - 0x80)];
    return -1;
}

}  // namespace textmend
