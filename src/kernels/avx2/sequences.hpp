// Where UTF-8 sequences lie in a 32-byte block, as lane masks: the one place
// the vector code works this out, for the bulk converters and the
// inspection alike. Lead ranges come by name from encoding/lead_ranges.hpp.
// Only for translation units that check TEXTMEND_HAVE_AVX2_PATH.
#pragma once

#include "kernels/avx2/ops.hpp"

#ifdef TEXTMEND_HAVE_AVX2_PATH

#include "encoding/lead_ranges.hpp"

namespace textmend::avx2 {

// 0xFF in the lanes whose byte lies in range.
TEXTMEND_AVX2 inline __m256i in_range(__m256i v, ByteRange range) {
    return in_range(v, range.first, range.last);
}

// Lanes where sequences of at least 2, 3, 4, 5 and 6 bytes start (a lead
// followed by the continuation bytes of its length). Kept from one block to
// the next, they tell which bytes at the start of a block lie inside a
// sequence of the block before.
struct Starts {
    __m256i from2, from3, from4, from5, from6;
};

TEXTMEND_AVX2 inline Starts no_starts() {
    const __m256i zero = _mm256_setzero_si256();
    return {zero, zero, zero, zero, zero};
}

// Where sequences start by the strict rule (-u): leads C2..F4, 2 to 4 bytes.
TEXTMEND_AVX2 inline Starts strict_starts(const std::uint8_t* p, __m256i v) {
    const __m256i c1 = is_continuation(load(p + 1));
    const __m256i c12 = _mm256_and_si256(c1, is_continuation(load(p + 2)));
    const __m256i c123 = _mm256_and_si256(c12, is_continuation(load(p + 3)));
    const __m256i s4 = _mm256_and_si256(in_range(v, STRICT_LEADS[4]), c123);
    const __m256i s3up = _mm256_or_si256(_mm256_and_si256(in_range(v, STRICT_LEADS[3]), c12), s4);
    const __m256i s2up = _mm256_or_si256(_mm256_and_si256(in_range(v, STRICT_LEADS[2]), c1), s3up);
    const __m256i zero = _mm256_setzero_si256();
    return {s2up, s3up, s4, zero, zero};
}

// Where sequences start by the permissive rule (the default mode and -w):
// leads C0..FD, 2 to 6 bytes.
TEXTMEND_AVX2 inline Starts permissive_starts(const std::uint8_t* p, __m256i v) {
    const __m256i c1 = is_continuation(load(p + 1));
    const __m256i c12 = _mm256_and_si256(c1, is_continuation(load(p + 2)));
    const __m256i c123 = _mm256_and_si256(c12, is_continuation(load(p + 3)));
    const __m256i c1234 = _mm256_and_si256(c123, is_continuation(load(p + 4)));
    const __m256i c12345 = _mm256_and_si256(c1234, is_continuation(load(p + 5)));
    const __m256i s6 = _mm256_and_si256(in_range(v, PERMISSIVE_LEADS[6]), c12345);
    const __m256i s5up =
        _mm256_or_si256(_mm256_and_si256(in_range(v, PERMISSIVE_LEADS[5]), c1234), s6);
    const __m256i s4up =
        _mm256_or_si256(_mm256_and_si256(in_range(v, PERMISSIVE_LEADS[4]), c123), s5up);
    const __m256i s3up =
        _mm256_or_si256(_mm256_and_si256(in_range(v, PERMISSIVE_LEADS[3]), c12), s4up);
    const __m256i s2up =
        _mm256_or_si256(_mm256_and_si256(in_range(v, PERMISSIVE_LEADS[2]), c1), s3up);
    return {s2up, s3up, s4up, s5up, s6};
}

// Lanes of the block inside a sequence, its own or one carried over from
// the block before; sequences are at most MaxLength bytes long (4 by the
// strict rule, 6 by the permissive one).
template <int MaxLength>
TEXTMEND_AVX2 inline std::uint32_t inside_lanes(const Starts& s, const Starts& previous) {
    __m256i inside = _mm256_or_si256(s.from2, shifted_in<1>(s.from2, previous.from2));
    inside = _mm256_or_si256(inside, shifted_in<2>(s.from3, previous.from3));
    inside = _mm256_or_si256(inside, shifted_in<3>(s.from4, previous.from4));
    if constexpr (MaxLength > 4) {
        inside = _mm256_or_si256(inside, shifted_in<4>(s.from5, previous.from5));
        inside = _mm256_or_si256(inside, shifted_in<5>(s.from6, previous.from6));
    }
    return mask_of(inside);
}

// 0xFF in the lanes of the pairs with a lead below 0x100 (C0..C3) that are
// C1 controls (C2 followed by 80..9F), given the bytes after v in next.
TEXTMEND_AVX2 inline __m256i c1_controls(__m256i v, __m256i next) {
    return _mm256_and_si256(_mm256_cmpeq_epi8(v, splat(C1_CONTROL_LEAD)),
                            in_range(next, C1_CONTROL_SECONDS));
}

TEXTMEND_AVX2 inline std::uint32_t c1_control_lanes(__m256i v, __m256i next) {
    return mask_of(c1_controls(v, next));
}

// Lanes holding a lead byte, C0..FF: the high bit and the one after it set.
TEXTMEND_AVX2 inline std::uint32_t lead_lanes(__m256i v) {
    return mask_of(_mm256_and_si256(v, _mm256_add_epi8(v, v)));
}

// Whether a lead in the last three lanes of the block v calls for bytes of
// the block after it.
TEXTMEND_AVX2 inline bool calls_past(__m256i v) {
    return (lead_lanes(v) >> (BLOCK - 3)) != 0;
}

// Checks the block v against the strict rule without finding the sequences
// (-u): nonzero in the lanes where it breaks. A lead of length n calls for
// continuation bytes in the next n - 1 lanes, so a lane must hold one exactly
// when a byte 1 to 3 lanes before it is a lead of 2, 3 or 4 bytes (before
// holds the block before, zero at the start); the bytes C0, C1 and F5..FF
// never lie in a sequence. Every byte -u replaces shows as a break at most
// three lanes after it, and the first break lies at most three lanes after
// a replaced byte; a lead in the last three lanes is checked by the block
// after it.
static_assert(STRICT_LEADS[2].first == 0xC2 && STRICT_LEADS[2].last == 0xDF &&
              STRICT_LEADS[3].first == 0xE0 && STRICT_LEADS[3].last == 0xEF &&
              STRICT_LEADS[4].first == 0xF0 && STRICT_LEADS[4].last == 0xF4);

TEXTMEND_AVX2 inline __m256i strict_breaks(__m256i v, __m256i before) {
    const __m256i joined = _mm256_permute2x128_si256(before, v, 0x21);
    // Positive where the byte 1, 2 or 3 lanes back is at least C0, E0, F0.
    const __m256i calls = _mm256_or_si256(
        _mm256_subs_epu8(_mm256_alignr_epi8(v, joined, 15), splat(0xBF)),
        _mm256_or_si256(_mm256_subs_epu8(_mm256_alignr_epi8(v, joined, 14), splat(0xDF)),
                        _mm256_subs_epu8(_mm256_alignr_epi8(v, joined, 13), splat(0xEF))));
    const __m256i called = _mm256_cmpgt_epi8(calls, _mm256_setzero_si256());
    const __m256i no_lead =
        _mm256_or_si256(_mm256_cmpeq_epi8(_mm256_and_si256(v, splat(0xFE)), splat(0xC0)),
                        _mm256_subs_epu8(v, splat(0xF4)));
    return _mm256_or_si256(_mm256_xor_si256(called, is_continuation(v)), no_lead);
}

// A byte is left as it is when it is ASCII or lies in a well-formed sequence
// (a strict lead followed by the continuation bytes of its length). Every
// well-formed sequence is one the byte loop takes whole: bytes inside one are
// continuation bytes, which never start one, so the loop never steps into a
// sequence from the side. Which bytes lie in one can therefore be worked out
// for all lanes at once; the others are replaced by their character's UTF-8.
// Mask of the bytes of the block at p (v holds them, high marks the bytes
// with the high bit) that -u replaces; previous are the sequence starts of
// the block before, updated to this block's.
TEXTMEND_AVX2 inline std::uint32_t bytes_to_replace(const std::uint8_t* p, __m256i v,
                                                    std::uint32_t high, Starts& previous) {
    const Starts starts = strict_starts(p, v);
    const std::uint32_t inside = inside_lanes<4>(starts, previous);
    previous = starts;
    return high & ~inside;
}

}  // namespace textmend::avx2

#endif
