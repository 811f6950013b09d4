// The block kernel of the default mode and -w for processors with AVX-512
// VBMI2: the AVX2 kernel, with the blocks classified in mask registers and
// the kept bytes packed by one compress instruction instead of four table
// shuffles. The -u kernel of this set is in utf8_blocks_avx512.cpp; its
// other kernels are the AVX2 ones.
#include "convert/simd_support.hpp"

#ifdef TEXTMEND_HAVE_AVX2_PATH

#include <immintrin.h>

#include <array>
#include <cstring>

#include "convert/avx2_sequences.hpp"
#include "convert/avx512_target.hpp"
#include "convert/bulk.hpp"
#include "convert/byte_tables.hpp"

namespace textmend {

using namespace avx2;

namespace {

constexpr std::ptrdiff_t BLOCK_REACH = 2 * BLOCK;

// Stores the bytes of v whose bit is set in keep, packed together; returns
// the new output position. The compress works in a register: its form that
// stores to memory is slow on some processors.
TEXTMEND_AVX512 inline std::uint8_t* store_kept(std::uint8_t* out, __m256i v, std::uint32_t keep) {
    store(out, _mm256_maskz_compress_epi8(keep, v));
    return out + _mm_popcnt_u32(keep);
}

// The same classifications as the AVX2 set's, in mask registers: a compare
// gives its lanes' bits at once, where AVX2 needs a vector compare and a
// move of its mask.
TEXTMEND_AVX512 inline std::uint32_t block_candidates(const CandidateClassifier& leads, __m256i v) {
    const __m256i classes = nibble_classes(leads, v);
    return _mm256_test_epi8_mask(classes, classes);
}

// Signed compares: continuation bytes 80..BF are the bytes below 0xC0 taken
// as signed (ASCII is positive), and C1 controls' second bytes 80..9F those
// below 0xA0.
static_assert(LEADS_BELOW_0X100.first == 0xC0 && LEADS_BELOW_0X100.last == 0xC3);
static_assert(C1_CONTROL_SECONDS.first == 0x80 && C1_CONTROL_SECONDS.last == 0x9F);

TEXTMEND_AVX512 inline PairBlock pair_block(__m256i v, __m256i next) {
    const __mmask32 short_leads =
        _mm256_cmpeq_epi8_mask(_mm256_and_si256(v, splat(0xFC)), splat(0xC0));
    const __mmask32 continuation = _mm256_cmplt_epi8_mask(next, splat(0xC0));
    const __mmask32 c1 = _mm256_cmpeq_epi8_mask(v, splat(C1_CONTROL_LEAD)) &
                         _mm256_cmplt_epi8_mask(next, splat(0xA0));
    const __mmask32 pairs = short_leads & continuation & ~c1;
    // The top two bits from the lead shifted up, the rest from next.
    const __m256i value =
        _mm256_ternarylogic_epi32(splat(0xC0), _mm256_slli_epi16(v, 6), next, 0xCA);
    return {short_leads, pairs, _mm256_mask_mov_epi8(v, pairs, value)};
}

TEXTMEND_AVX512 inline __m256i lookup64(const std::array<std::uint8_t, 64>& table, __m256i index) {
    const auto* t = reinterpret_cast<const __m256i*>(table.data());
    return _mm256_permutex2var_epi8(_mm256_loadu_si256(t), index, _mm256_loadu_si256(t + 1));
}

// The pairs by the 64-entry tables, exact for the lead and the second byte
// (lanes that hold no lead, or a next byte that is no continuation byte, may
// be marked; the caller masks the one, has_whole_sequence the other).
TEXTMEND_AVX512 inline std::uint32_t may_change_lanes(__m256i v, __m256i next,
                                                      const LeadPairBits& bits) {
    return _mm256_test_epi8_mask(lookup64(bits.lead, v), lookup64(bits.second, next));
}

}  // namespace

#define TEXTMEND_BLOCKS_INLINE TEXTMEND_AVX512
#define TEXTMEND_BLOCKS_ENTRY TEXTMEND_AVX512_ENTRY
#define TEXTMEND_BLOCKS_TO_LATIN1 bulk_blocks_to_latin1_avx512
#include "convert/latin1_blocks.inl"

// ---- how far nothing changes ------------------------------------------------

namespace {

TEXTMEND_AVX512 inline __m512i broadcast_table(const std::array<std::uint8_t, 16>& table) {
    return _mm512_broadcast_i32x4(_mm_loadu_si128(reinterpret_cast<const __m128i*>(table.data())));
}

// Lanes of the 64 bytes at p that hold a candidate lead followed by a
// continuation byte (80..BF, the bytes below 0xC0 taken as signed): only
// there can a change start in the default mode and -w.
struct UnchangedScan {
    __m512i high, low, nibble, c0;
};

TEXTMEND_AVX512 inline std::uint64_t change_start_lanes(const UnchangedScan& scan,
                                                        const std::uint8_t* p) {
    const __m512i v = _mm512_loadu_si512(p);
    const __mmask64 candidates = _mm512_test_epi8_mask(
        _mm512_shuffle_epi8(scan.high, _mm512_and_si512(_mm512_srli_epi16(v, 4), scan.nibble)),
        _mm512_shuffle_epi8(scan.low, _mm512_and_si512(v, scan.nibble)));
    return _mm512_mask_cmplt_epi8_mask(candidates, _mm512_loadu_si512(p + 1), scan.c0);
}

TEXTMEND_AVX512 inline bool all_ascii_256(const std::uint8_t* p) {
    const __m512i any = _mm512_ternarylogic_epi32(
        _mm512_loadu_si512(p), _mm512_loadu_si512(p + 64),
        _mm512_or_si512(_mm512_loadu_si512(p + 128), _mm512_loadu_si512(p + 192)), 0xFE);
    return _mm512_movepi8_mask(any) == 0;
}

}  // namespace

// The default mode and -w: 64-byte blocks with no branch but the one that
// stops, after a test that passes over 256 bytes of ASCII at once (taken
// either nearly always or nearly never, so it is well predicted where a
// test of every block is not: in Latin-1 text). -u goes to the AVX2 scan.
TEXTMEND_AVX512_ENTRY const std::uint8_t* bulk_blocks_unchanged_avx512(const std::uint8_t* p,
                                                                       const std::uint8_t* lead_end,
                                                                       OutputMode mode) {
    if (mode == MODE_UTF8) return bulk_blocks_unchanged_avx2(p, lead_end, mode);
    constexpr std::ptrdiff_t WIDE_BLOCK = 64;
    const CandidateLeads& leads = mode == MODE_CP1252 ? CP1252_LEADS : LATIN1_LEADS;
    const UnchangedScan scan{broadcast_table(leads.high), broadcast_table(leads.low),
                             _mm512_set1_epi8(0x0F), _mm512_set1_epi8(static_cast<char>(0xC0))};
    // A block is looked at while it and the byte after it lie before lead_end.
    while (lead_end - p > 4 * WIDE_BLOCK) {
        if (all_ascii_256(p)) {
            p += 4 * WIDE_BLOCK;
            continue;
        }
        for (int block = 0; block < 4; ++block) {
            const std::uint64_t may_change = change_start_lanes(scan, p);
            if (may_change != 0) return p + __builtin_ctzll(may_change);
            p += WIDE_BLOCK;
        }
    }
    while (lead_end - p > WIDE_BLOCK) {
        const std::uint64_t may_change = change_start_lanes(scan, p);
        if (may_change != 0) return p + __builtin_ctzll(may_change);
        p += WIDE_BLOCK;
    }
    return p;
}

}  // namespace textmend

#endif
