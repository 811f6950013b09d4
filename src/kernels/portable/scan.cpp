#include "kernels/portable/portable.hpp"

#include <bit>
#include <cstring>

#include "convert/word_ops.hpp"
#include "encoding/double_encoding.hpp"

namespace textmend {

namespace {

// Index of the lowest byte whose bit 7 is set in a mask of such bits.
unsigned first_marked_byte(std::uint64_t marks) {
    if constexpr (std::endian::native == std::endian::little) {
        return static_cast<unsigned>(__builtin_ctzll(marks)) / 8;
    } else {
        return static_cast<unsigned>(__builtin_clzll(marks)) / 8;
    }
}

}  // namespace

const std::uint8_t* find_non_ascii_portable(const std::uint8_t* p, const std::uint8_t* end) {
    while (end - p >= 8) {
        const std::uint64_t marks = load_word(p) & HIGH_BITS;
        if (marks != 0) return p + first_marked_byte(marks);
        p += 8;
    }
    while (p < end && *p < 0x80)
        ++p;
    return p;
}

const std::uint8_t* find_candidate_lead_portable(const std::uint8_t* p, const std::uint8_t* end,
                                                 const CandidateLeads& leads) {
    while (end - p >= 8) {
        // Every candidate is 0xC0 or above: look only at bytes with the two
        // top bits set (bit 6 shifted up onto bit 7 of the same byte).
        const std::uint64_t w = load_word(p);
        if ((w & (w << 1) & HIGH_BITS) != 0) {
            for (int i = 0; i < 8; ++i) {
                if (leads.member[p[i]]) return p + i;
            }
        }
        p += 8;
    }
    while (p < end && !leads.member[*p])
        ++p;
    return p;
}

const std::uint8_t* find_double_run_start_portable(const std::uint8_t* p, const std::uint8_t* end) {
    // Every run starts with C3, a byte rare enough for memchr to pass over
    // the text between.
    while (end - p >= 3) {
        const void* found = std::memchr(p, 0xC3, static_cast<std::size_t>(end - p - 2));
        if (found == nullptr) return end;
        const auto* q = static_cast<const std::uint8_t*>(found);
        if (may_start_double_run(q[0], q[1], q[2])) return q;
        p = q + 1;
    }
    return end;
}

}  // namespace textmend
