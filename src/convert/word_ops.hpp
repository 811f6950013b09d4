// Looking at eight bytes at a time in a 64-bit word, for the code that runs
// without vector instructions.
#pragma once

#include <cstdint>
#include <cstring>

namespace textmend {

// Bit 7 of every byte of a word: the bits that make a byte non-ASCII.
inline constexpr std::uint64_t HIGH_BITS = 0x8080808080808080ULL;

inline std::uint64_t load_word(const std::uint8_t* p) {
    std::uint64_t w;
    std::memcpy(&w, p, sizeof w);
    return w;
}

}  // namespace textmend
