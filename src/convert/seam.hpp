// Streams fed in pieces, converting or inspecting: the bytes at the end of
// a piece that the next piece may complete are held, and the next piece
// starts at the seam, where the held bytes and its first bytes are walked
// together until the walk has moved into the piece itself. The converter
// and the inspector share this; each brings its own walk.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace textmend {

// Walks the seam before the piece [p, p + size) (p may be null when size is
// 0): the held bytes and up to HELD_MAX bytes of the piece, copied together,
// go to walk(first, last), which returns where it stopped (before the bytes
// that the end of what it was given leaves undecided). When it got past the
// held bytes, nothing is held any more, p is moved to where the walk
// stopped, and true is returned. When it did not (the piece was too short),
// all of the piece is in the seam: settle(stop, last) is given what is left
// and returns where the bytes still to be held start; they are held, and
// false is returned: the piece is used up.
template <std::size_t HELD_MAX, class Walk, class Settle>
[[nodiscard]] bool walk_seam(std::uint8_t* held, std::size_t& held_count, const std::uint8_t*& p,
                             std::size_t size, Walk walk, Settle settle) {
    if (held_count == 0) return true;
    std::uint8_t seam[2 * HELD_MAX];
    const std::size_t held_before = held_count;
    const std::size_t taken = size < HELD_MAX ? size : HELD_MAX;
    std::memcpy(seam, held, held_before);
    if (taken > 0) std::memcpy(seam + held_before, p, taken);
    const std::uint8_t* const last = seam + held_before + taken;
    const std::uint8_t* const stop = walk(seam, last);
    const auto used = static_cast<std::size_t>(stop - seam);
    if (used < held_before) {
        const std::uint8_t* const keep = settle(stop, last);
        held_count = static_cast<std::size_t>(last - keep);
        std::memcpy(held, keep, held_count);
        return false;
    }
    held_count = 0;
    p += used - held_before;
    return true;
}

// Holds [from, end): the bytes a walk to the end of a piece left undecided.
inline void hold_bytes(std::uint8_t* held, std::size_t& held_count, const std::uint8_t* from,
                       const std::uint8_t* end) {
    held_count = static_cast<std::size_t>(end - from);
    if (held_count > 0) std::memcpy(held, from, held_count);
}

}  // namespace textmend
