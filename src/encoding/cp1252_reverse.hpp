// Fast reverse lookup of Windows-1252: the byte 0x80..0x9F of a code point,
// through a 256-entry table instead of a search of cp1252_table.
#pragma once

#include <array>
#include <cstdint>

#include "encoding/cp1252.hpp"

namespace textmend {

namespace detail {

// Folds the 27 code points of cp1252_table onto distinct slots.
constexpr std::size_t cp1252_slot(std::int32_t cp) {
    return static_cast<std::size_t>((cp ^ (cp >> 8)) & 0xFF);
}

struct Cp1252Slot {
    std::int32_t cp;    // -1: empty
    std::int32_t byte;  // 0x80..0x9F
};

constexpr std::array<Cp1252Slot, 256> make_cp1252_slots() {
    std::array<Cp1252Slot, 256> slots{};
    for (Cp1252Slot& s : slots)
        s = {-1, -1};
    for (std::size_t i = 0; i < cp1252_table.size(); ++i) {
        const std::int32_t cp = cp1252_table[i];
        if (cp == -1) continue;
        Cp1252Slot& s = slots[cp1252_slot(cp)];
        if (s.cp != -1) return {};  // a collision: lookup_matches_search() fails below
        s = {cp, 0x80 + static_cast<std::int32_t>(i)};
    }
    return slots;
}

inline constexpr std::array<Cp1252Slot, 256> CP1252_SLOTS = make_cp1252_slots();

}  // namespace detail

// Same result as cp1252_index_of: 0x80 + i for the entry equal to cp, or -1.
constexpr std::int32_t cp1252_byte_of(std::int32_t cp) {
    const detail::Cp1252Slot& s = detail::CP1252_SLOTS[detail::cp1252_slot(cp)];
    return s.cp == cp && cp != -1 ? s.byte : -1;
}

// The Windows-1252 byte of cp: its Latin-1 value, or a byte 0x80..0x9F; -1
// when Windows-1252 has no such character.
constexpr std::int32_t windows1252_byte_of(std::int32_t cp) {
    return is_latin1(cp) ? cp : cp1252_byte_of(cp);
}

// 1 when cp has a Windows-1252 byte (its Latin-1 value, or a table byte), and
// that byte is stored in *byte when byte is not null; else 0, nothing stored.
constexpr std::int32_t to_cp1252(std::int32_t cp, std::int32_t* byte = nullptr) {
    const std::int32_t b = windows1252_byte_of(cp);
    if (b == -1) return 0;
    if (byte != nullptr) *byte = b;
    return 1;
}

namespace detail {

// The lookup gives what the linear search gives for every code point of the
// table (a slot holds its code point, so no other can match it) and a few
// that are not in it.
constexpr bool lookup_matches_search() {
    for (std::int32_t cp : cp1252_table) {
        if (cp1252_byte_of(cp) != cp1252_index_of(cp)) return false;
    }
    for (std::int32_t cp : {-1, 0, 0x80, 0xE9, 0x2000, 0x20AD}) {
        if (cp1252_byte_of(cp) != cp1252_index_of(cp)) return false;
    }
    return true;
}

}  // namespace detail

static_assert(detail::lookup_matches_search(), "the Windows-1252 lookup disagrees with the table");

}  // namespace textmend
