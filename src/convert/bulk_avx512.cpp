// The block kernels for processors with AVX-512 VBMI2: the AVX2 kernels,
// with the bytes of a block packed by compress instructions. The default
// mode and -w pack the kept bytes in one instead of four table shuffles; -u
// writes every block with replaced bytes without a branch on them, each byte
// widened to 32 bits (up to three bytes of UTF-8) and packed. The other
// kernels of this set are the AVX2 ones.
#include "convert/simd_support.hpp"

#ifdef TEXTMEND_HAVE_AVX2_PATH

#include <immintrin.h>

#include <array>
#include <cstring>

#include "convert/avx2_sequences.hpp"
#include "convert/bulk.hpp"
#include "convert/byte_tables.hpp"

#define TEXTMEND_AVX512                                                                    \
    __attribute__((target("avx2,popcnt,avx512f,avx512vl,avx512bw,avx512vbmi,avx512vbmi2"), \
                   always_inline))
#define TEXTMEND_AVX512_ENTRY \
    __attribute__((target("avx2,popcnt,avx512f,avx512vl,avx512bw,avx512vbmi,avx512vbmi2")))

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

namespace {

// What -u writes for the bytes 80..9F standing alone, as planes of 32 bytes
// for a vector lookup by the low five bits: the first, second and third
// byte (0 past the replacement's end).
struct C1Planes {
    std::array<std::uint8_t, 32> first, second, third;
};

constexpr C1Planes make_c1_planes() {
    C1Planes planes{};
    for (std::size_t i = 0; i < 32; ++i) {
        const Replacement& r = UTF8_REPLACEMENTS[0x80 + i];
        planes.first[i] = r.bytes[0];
        planes.second[i] = r.length > 1 ? r.bytes[1] : 0;
        planes.third[i] = r.length > 2 ? r.bytes[2] : 0;
    }
    return planes;
}

constexpr C1Planes C1_PLANES = make_c1_planes();

// What expand_replaced relies on: a replacement is one to three bytes, and
// the bytes after the first are continuation bytes, never 0, so that a
// replaced byte's 32-bit word is packed by keeping its non-zero bytes (and
// every word's first byte); from A0 on it is the two bytes of the Latin-1
// character.
constexpr bool replacements_pack_by_non_zero_bytes() {
    for (unsigned c = 0x80; c < 0x100; ++c) {
        const Replacement& r = UTF8_REPLACEMENTS[c];
        if (r.length < 1 || r.length > 3) return false;
        for (std::size_t i = 1; i < r.length; ++i) {
            if ((r.bytes[i] & 0xC0) != 0x80) return false;
        }
        if (c >= 0xA0 &&
            (r.length != 2 || r.bytes[0] != (0xC0 | c >> 6) || r.bytes[1] != (0x80 | (c & 0x3F))))
            return false;
    }
    return true;
}
static_assert(replacements_pack_by_non_zero_bytes());

TEXTMEND_AVX512 inline __m256i plane(const std::array<std::uint8_t, 32>& bytes) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes.data()));
}

// Packs the non-zero bytes of the eight 32-bit words in words, and the
// first byte of each, to out; returns the new output position.
TEXTMEND_AVX512 inline std::uint8_t* store_words(std::uint8_t* out, __m256i words) {
    const std::uint32_t keep = _mm256_test_epi8_mask(words, words) | 0x11111111U;
    store(out, _mm256_maskz_compress_epi8(keep, words));
    return out + _mm_popcnt_u32(keep);
}

// Any block: a byte kept stays one byte, a replaced byte from A0 on becomes
// 0xC0 | b >> 6 and 0x80 | b & 0x3F, and one below A0 its Windows-1252
// character's bytes from the planes (itself where Windows-1252 has none).
// Blocks without the latter take expand_to_pairs once they come in a run.
TEXTMEND_AVX512 inline bool expands(__m256i, std::uint32_t) {
    return true;
}

// The common case of Latin-1 text: every replaced byte lies in A0..FF and
// becomes two bytes. Each byte is widened to a 16-bit word, a replaced
// byte's word holding both its bytes, and the 64 bytes are packed by
// keeping every word's first byte and the non-zero second ones.
TEXTMEND_AVX512 inline std::uint8_t* expand_to_pairs(std::uint8_t* out, __m256i v,
                                                     std::uint32_t replace) {
    const __m512i words = _mm512_cvtepu8_epi16(v);
    const __m512i lead = _mm512_or_si512(_mm512_srli_epi16(words, 6), _mm512_set1_epi16(0xC0));
    const __m512i second = _mm512_slli_epi16(
        _mm512_or_si512(_mm512_and_si512(words, _mm512_set1_epi16(0x3F)), _mm512_set1_epi16(0x80)),
        8);
    const __m512i pairs = _mm512_mask_mov_epi16(words, replace, _mm512_or_si512(lead, second));
    const __mmask64 keep = _mm512_test_epi8_mask(pairs, pairs) | 0x5555555555555555ULL;
    _mm512_storeu_si512(out, _mm512_maskz_compress_epi8(keep, pairs));
    return out + BLOCK + _mm_popcnt_u32(replace);
}

// Blocks in a row with replaced bytes but none below A0, so far. Text in
// Windows-1252 mixes both kinds of block at random, and a branch on each
// block's kind costs more there than expand_to_pairs saves; so only after
// a run of blocks without one (Latin-1 text) do blocks take it.
struct ExpandHistory {
    int without_c1 = 0;
};

constexpr int PAIRS_AFTER = 8;

TEXTMEND_AVX512 inline std::uint8_t* expand_replaced(std::uint8_t* out, __m256i v,
                                                     std::uint32_t replace,
                                                     ExpandHistory& history) {
    const __mmask32 c1 = replace & _mm256_cmplt_epu8_mask(v, splat(0xA0));
    // The count stops at PAIRS_AFTER: it only tells whether the run is long enough.
    if (history.without_c1 >= PAIRS_AFTER && c1 == 0) return expand_to_pairs(out, v, replace);
    history.without_c1 = c1 == 0 ? history.without_c1 + 1 : 0;
    const __m256i lead =
        _mm256_or_si256(_mm256_and_si256(_mm256_srli_epi16(v, 6), splat(0x03)), splat(0xC0));
    const __m256i second = _mm256_or_si256(_mm256_and_si256(v, splat(0x3F)), splat(0x80));
    __m256i byte0 = _mm256_mask_blend_epi8(replace, v, lead);
    byte0 = _mm256_mask_permutexvar_epi8(byte0, c1, v, plane(C1_PLANES.first));
    __m256i byte1 = _mm256_maskz_mov_epi8(replace, second);
    byte1 = _mm256_mask_permutexvar_epi8(byte1, c1, v, plane(C1_PLANES.second));
    const __m256i byte2 = _mm256_maskz_permutexvar_epi8(c1, v, plane(C1_PLANES.third));
    // 32-bit words byte0 | byte1 << 8 | byte2 << 16. The unpacks work within
    // 128-bit lanes: words_k holds input lanes 4k..4k+3 in its low half and
    // 16 + 4k.. in its high half.
    const __m256i zero = _mm256_setzero_si256();
    const __m256i low01 = _mm256_unpacklo_epi8(byte0, byte1);
    const __m256i high01 = _mm256_unpackhi_epi8(byte0, byte1);
    const __m256i low2 = _mm256_unpacklo_epi8(byte2, zero);
    const __m256i high2 = _mm256_unpackhi_epi8(byte2, zero);
    const __m256i words0 = _mm256_unpacklo_epi16(low01, low2);
    const __m256i words1 = _mm256_unpackhi_epi16(low01, low2);
    const __m256i words2 = _mm256_unpacklo_epi16(high01, high2);
    const __m256i words3 = _mm256_unpackhi_epi16(high01, high2);
    out = store_words(out, _mm256_permute2x128_si256(words0, words1, 0x20));   // lanes 0..7
    out = store_words(out, _mm256_permute2x128_si256(words2, words3, 0x20));   // 8..15
    out = store_words(out, _mm256_permute2x128_si256(words0, words1, 0x31));   // 16..23
    return store_words(out, _mm256_permute2x128_si256(words2, words3, 0x31));  // 24..31
}

}  // namespace

#define TEXTMEND_BLOCKS_INLINE TEXTMEND_AVX512
#define TEXTMEND_BLOCKS_ENTRY TEXTMEND_AVX512_ENTRY
#define TEXTMEND_BLOCKS_TO_UTF8 bulk_blocks_to_utf8_avx512
#include "convert/utf8_blocks.inl"

}  // namespace textmend

#endif
