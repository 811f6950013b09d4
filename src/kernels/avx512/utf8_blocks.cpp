// The -u block kernel for processors with AVX-512 VBMI2. It works on
// 64-byte blocks, with the lanes' classes in 64-bit masks: which bytes lie
// in a well-formed sequence (and stay), which are replaced. A block whose
// replaced bytes all lie in A0..FF (Latin-1 text, and any block without a
// replaced byte) becomes pairs of bytes packed by two compress
// instructions; any other block becomes 32-bit words holding up to three
// bytes each, packed by four. No branch depends on how many bytes change.
#include "kernels/avx512/avx512.hpp"

#ifdef TEXTMEND_HAVE_AVX2_PATH

#include <immintrin.h>

#include <array>
#include <cstring>

#include "convert/bulk.hpp"
#include "convert/byte_tables.hpp"
#include "encoding/lead_ranges.hpp"
#include "kernels/avx2/ops.hpp"
#include "kernels/avx512/ops.hpp"

namespace textmend {

using namespace avx512;

namespace {

// The ternary-logic immediate for (a & b) | c.
constexpr int A_AND_B_OR_C = 0xEA;

// The loop's constants, built once (see ops.hpp).
struct WideConstants {
    __m512i c0, a0, low2, low6, x80;
    WideRange lead2, lead3, lead4;  // leads of 2, 3 and 4 bytes by the strict rule
};

TEXTMEND_AVX512 inline WideConstants wide_constants() {
    WideConstants k;
    k.c0 = constant_bytes(0xC0);
    k.a0 = constant_bytes(0xA0);
    k.low2 = constant_bytes(0x03);
    k.low6 = constant_bytes(0x3F);
    k.x80 = constant_bytes(0x80);
    k.lead2 = wide_range(STRICT_LEADS[2]);
    k.lead3 = wide_range(STRICT_LEADS[3]);
    k.lead4 = wide_range(STRICT_LEADS[4]);
    return k;
}

// Lanes of the block v that are inside a well-formed sequence by the strict
// rule (-u); next1..next3 hold the blocks one, two and three bytes past it.
// The lanes of the block's first three bytes that sequences of the block
// before reach come in carried; the lanes of the next block that this
// block's sequences reach go out in it. Continuation bytes 80..BF are the
// bytes below 0xC0 taken as signed.
TEXTMEND_AVX512 inline std::uint64_t inside_sequences(__m512i v, __m512i next1, __m512i next2,
                                                      __m512i next3, std::uint64_t& carried,
                                                      const WideConstants& k) {
    const __mmask64 c1 = _mm512_cmplt_epi8_mask(next1, k.c0);
    const __mmask64 c12 = _mm512_mask_cmplt_epi8_mask(c1, next2, k.c0);
    const __mmask64 c123 = _mm512_mask_cmplt_epi8_mask(c12, next3, k.c0);
    const std::uint64_t from4 = wide_in_range(v, k.lead4) & c123;
    const std::uint64_t from3 = (wide_in_range(v, k.lead3) & c12) | from4;
    const std::uint64_t from2 = (wide_in_range(v, k.lead2) & c1) | from3;
    const std::uint64_t inside = from2 | from2 << 1 | from3 << 2 | from4 << 3 | carried;
    carried = from2 >> 63 | from3 >> 62 | from4 >> 61;
    return inside;
}

// The bytes of the block v that -u replaces (next1..next3 as for
// inside_sequences).
TEXTMEND_AVX512 inline std::uint64_t bytes_to_replace(__m512i v, __m512i next1, __m512i next2,
                                                      __m512i next3, std::uint64_t& carried,
                                                      const WideConstants& k) {
    return _mm512_movepi8_mask(v) & ~inside_sequences(v, next1, next2, next3, carried, k);
}

// The same for the block at p (v holds it), with the bytes after it.
TEXTMEND_AVX512 inline std::uint64_t wide_bytes_to_replace(const std::uint8_t* p, __m512i v,
                                                           std::uint64_t& carried,
                                                           const WideConstants& k) {
    return bytes_to_replace(v, _mm512_loadu_si512(p + 1), _mm512_loadu_si512(p + 2),
                            _mm512_loadu_si512(p + 3), carried, k);
}

// What -u writes for the bytes 80..9F standing alone, as planes of 64 bytes
// for a vector lookup by the low six bits: the first, second and third byte
// (0 past the replacement's end) at 0..31.
struct C1Planes {
    std::array<std::uint8_t, 64> first, second, third;
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

TEXTMEND_AVX512 inline __m512i plane(const std::array<std::uint8_t, 64>& bytes) {
    return _mm512_loadu_si512(bytes.data());
}

// Indices that gather the bytes of quarter q (input lanes 16q..16q+15) into
// 32-bit words: byte 0 from the first of two sources, byte 1 from the
// second (index + 64), byte 2 from a third, looked up on its own.
constexpr std::array<std::array<std::uint8_t, 64>, 4> make_word_indices() {
    std::array<std::array<std::uint8_t, 64>, 4> indices{};
    for (std::size_t q = 0; q < 4; ++q) {
        for (std::size_t j = 0; j < 16; ++j) {
            const auto lane = static_cast<std::uint8_t>(16 * q + j);
            indices[q][4 * j] = lane;
            indices[q][4 * j + 1] = static_cast<std::uint8_t>(64 + lane);
            indices[q][4 * j + 2] = lane;
        }
    }
    return indices;
}

constexpr std::array<std::array<std::uint8_t, 64>, 4> WORD_INDICES = make_word_indices();

// What the packing below relies on: a replacement is one to three bytes,
// and the bytes after the first are continuation bytes, never 0, so that a
// replaced byte's word is packed by keeping its non-zero bytes (and every
// word's first byte); from A0 on it is the two bytes of the Latin-1
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

// The two bytes of the Latin-1 character of each lane of v, in UTF-8:
// 0xC0 | b >> 6 and 0x80 | b & 0x3F (meaningful for the lanes A0..FF).
struct Latin1Pairs {
    __m512i lead, second;
};

TEXTMEND_AVX512 inline Latin1Pairs latin1_pairs(__m512i v, const WideConstants& k) {
    return {_mm512_ternarylogic_epi32(_mm512_srli_epi16(v, 6), k.low2, k.c0, A_AND_B_OR_C),
            _mm512_ternarylogic_epi32(v, k.low6, k.x80, A_AND_B_OR_C)};
}

// Where the expanding functions below write the block: whole, the block in
// whole-register stores that may reach past the output; exact, only the
// lanes marked in a mask and no byte past their output (the last bytes of
// an input, whose lanes past its end read as 0).
enum class Written { whole, exact };

// Packs the lanes of words marked in keep at out and returns the position
// after them.
template <Written How>
TEXTMEND_AVX512 inline std::uint8_t* packed(std::uint8_t* out, __m512i words, std::uint64_t keep) {
    const __m512i bytes = _mm512_maskz_compress_epi8(keep, words);
    const auto n = static_cast<std::uint64_t>(_mm_popcnt_u64(keep));
    if constexpr (How == Written::exact)
        store_first(out, bytes, n);
    else
        _mm512_storeu_si512(out, bytes);
    return out + n;
}

// Writes the block v with the bytes marked in replace replaced, those
// marked in c1 (all below A0) from C1_PLANES, the others as the two bytes of
// their Latin-1 character: each output byte worked out in one of three
// planes, then each 16 input lanes gathered to 32-bit words holding their
// output bytes and packed by one compress. Only the lanes marked in lanes
// are written (exact) or all (whole). Returns the new output position.
template <Written How>
TEXTMEND_AVX512 inline std::uint8_t* expand_words(std::uint8_t* out, __m512i v,
                                                  std::uint64_t replace, std::uint64_t c1,
                                                  std::uint64_t lanes, const WideConstants& k) {
    const Latin1Pairs latin1 = latin1_pairs(v, k);
    __m512i byte0 = _mm512_mask_mov_epi8(v, replace, latin1.lead);
    byte0 = _mm512_mask_permutexvar_epi8(byte0, c1, v, plane(C1_PLANES.first));
    __m512i byte1 = _mm512_maskz_mov_epi8(replace, latin1.second);
    byte1 = _mm512_mask_permutexvar_epi8(byte1, c1, v, plane(C1_PLANES.second));
    const __m512i byte2 = _mm512_maskz_permutexvar_epi8(c1, v, plane(C1_PLANES.third));
    for (std::size_t q = 0; q < 4; ++q) {
        const __m512i index = _mm512_loadu_si512(WORD_INDICES[q].data());
        __m512i words = _mm512_maskz_permutex2var_epi8(0x3333333333333333ULL, byte0, index, byte1);
        words = _mm512_mask_permutexvar_epi8(words, 0x4444444444444444ULL, index, byte2);
        // Every word's first byte (a lane past the end is 0, and has no other).
        const std::uint64_t firsts = How == Written::exact
                                         ? _pdep_u64(lanes >> (16 * q), 0x1111111111111111ULL)
                                         : 0x1111111111111111ULL;
        out = packed<How>(out, words, _mm512_test_epi8_mask(words, words) | firsts);
    }
    return out;
}

// Indices that interleave two sources byte by byte: the first 32 bytes of
// each, then the last 32.
constexpr std::array<std::array<std::uint8_t, 64>, 2> make_interleave_indices() {
    std::array<std::array<std::uint8_t, 64>, 2> indices{};
    for (std::size_t half = 0; half < 2; ++half) {
        for (std::size_t j = 0; j < 32; ++j) {
            indices[half][2 * j] = static_cast<std::uint8_t>(32 * half + j);
            indices[half][2 * j + 1] = static_cast<std::uint8_t>(64 + 32 * half + j);
        }
    }
    return indices;
}

constexpr std::array<std::array<std::uint8_t, 64>, 2> INTERLEAVE = make_interleave_indices();

// Latin-1 text: every replaced byte lies in A0..FF and becomes the two
// bytes of its character. The first bytes (the lead or the byte kept) and
// the second bytes are worked out for the whole block, then
// interleaved 32 lanes at a time and packed, keeping every lane's first
// byte (of the lanes marked in lanes, when exact) and the second bytes of
// the replaced ones.
template <Written How>
TEXTMEND_AVX512 inline std::uint8_t* expand_to_pairs(std::uint8_t* out, __m512i v,
                                                     std::uint64_t replace, std::uint64_t lanes,
                                                     const WideConstants& k) {
    const Latin1Pairs latin1 = latin1_pairs(v, k);
    const __m512i first = _mm512_mask_mov_epi8(v, replace, latin1.lead);
    for (std::size_t half = 0; half < 2; ++half) {
        const auto bits = static_cast<std::uint32_t>(replace >> (32 * half));
        const __m512i index = _mm512_loadu_si512(INTERLEAVE[half].data());
        const __m512i pairs = _mm512_permutex2var_epi8(first, index, latin1.second);
        const std::uint64_t firsts = How == Written::exact
                                         ? _pdep_u64(lanes >> (32 * half), 0x5555555555555555ULL)
                                         : 0x5555555555555555ULL;
        out = packed<How>(out, pairs, _pdep_u64(bits, 0xAAAAAAAAAAAAAAAAULL) | firsts);
    }
    return out;
}

}  // namespace

TEXTMEND_AVX512_ENTRY BulkProgress bulk_blocks_to_utf8_avx512(const std::uint8_t* p,
                                                              const std::uint8_t* lead_end,
                                                              std::uint8_t* out) {
    if (lead_end - p < WIDE_BLOCK) return {p, out};
    std::uint64_t carried = 0;
    // Each block is classified one pass ahead of its writing, so that the
    // classification's long chain of dependent steps overlaps the writing
    // of the block before.
    const WideConstants k = wide_constants();
    __m512i v = _mm512_loadu_si512(p);
    std::uint64_t replace = wide_bytes_to_replace(p, v, carried, k);
    for (;;) {
        prefetch_ahead(p);
        const bool more = lead_end - p >= 2 * WIDE_BLOCK;
        __m512i next_v = v;
        std::uint64_t next_replace = 0;
        if (more) {
            next_v = _mm512_loadu_si512(p + WIDE_BLOCK);
            next_replace = wide_bytes_to_replace(p + WIDE_BLOCK, next_v, carried, k);
        }
        const std::uint64_t c1 = replace & _mm512_cmplt_epu8_mask(v, k.a0);
        if (c1 == 0) {
            out = expand_to_pairs<Written::whole>(out, v, replace, ~std::uint64_t{0}, k);
        } else {
            out = expand_words<Written::whole>(out, v, replace, c1, ~std::uint64_t{0}, k);
        }
        p += WIDE_BLOCK;
        if (!more) break;
        v = next_v;
        replace = next_replace;
    }
    // A sequence judged in the last block may reach past it: copy its
    // remaining bytes and go on after it.
    const std::ptrdiff_t rest = avx2::sequence_reaching_past(p, STRICT_LENGTHS);
    std::memcpy(out, p, static_cast<std::size_t>(rest));
    out += rest;
    p += rest;
    return {p, out};
}

// The last bytes with -u, the bytes from end on read as 0 (as the padded
// copy has them, and no sequence reaches past end) and the result stored
// exactly.
TEXTMEND_AVX512_ENTRY BulkProgress last_blocks_to_utf8_avx512(const std::uint8_t* p,
                                                              const std::uint8_t* end,
                                                              std::uint8_t* out) {
    const WideConstants k = wide_constants();
    std::uint64_t carried = 0;
    for (; p < end; p += WIDE_BLOCK) {
        const std::uint64_t lanes = lanes_before(p, end);
        const __m512i v = _mm512_maskz_loadu_epi8(lanes, p);
        const std::uint64_t replace =
            bytes_to_replace(v, load_before(p + 1, end), load_before(p + 2, end),
                             load_before(p + 3, end), carried, k);
        const std::uint64_t c1 = replace & _mm512_cmplt_epu8_mask(v, k.a0);
        out = c1 == 0 ? expand_to_pairs<Written::exact>(out, v, replace, lanes, k)
                      : expand_words<Written::exact>(out, v, replace, c1, lanes, k);
    }
    return {end, out};
}

// -u: the output's growth over the blocks. Each byte replaced grows it by
// its replacement's length less one: one for A0..FF (two bytes), and for
// 80..9F as C1_PLANES tell (a second and a third byte, or neither where
// Windows-1252 has no character). Runs of 256 ASCII bytes are passed at
// once, as the search for a change passes them.
TEXTMEND_AVX512_ENTRY std::int64_t utf8_growth_of_blocks_avx512(const std::uint8_t*& p,
                                                                const std::uint8_t* end) {
    // A block is taken while its look-ahead (three bytes) lies before end.
    constexpr std::ptrdiff_t REACH = 2 * WIDE_BLOCK;
    if (end - p < REACH) return 0;
    const WideConstants k = wide_constants();
    const __m512i second = constant_table(C1_PLANES.second);
    const __m512i third = constant_table(C1_PLANES.third);
    std::uint64_t carried = 0;
    std::int64_t growth = 0;
    while (end - p >= REACH) {
        if (end - p >= 4 * WIDE_BLOCK + REACH && all_ascii_256(p)) {
            p += 4 * WIDE_BLOCK;  // no sequence reaches into or out of it
            continue;
        }
        const __m512i v = _mm512_loadu_si512(p);
        const std::uint64_t replace = wide_bytes_to_replace(p, v, carried, k);
        const std::uint64_t c1 = replace & _mm512_cmplt_epu8_mask(v, k.a0);
        const __m512i seconds = _mm512_permutexvar_epi8(v, second);
        const __m512i thirds = _mm512_permutexvar_epi8(v, third);
        growth += static_cast<std::int64_t>(
            _mm_popcnt_u64(replace & ~c1) +
            _mm_popcnt_u64(_mm512_mask_test_epi8_mask(c1, seconds, seconds)) +
            _mm_popcnt_u64(_mm512_mask_test_epi8_mask(c1, thirds, thirds)));
        p += WIDE_BLOCK;
    }
    // The last block's sequences may reach past it: go on after them.
    p += avx2::sequence_reaching_past(p, STRICT_LENGTHS);
    return growth;
}

// -u: the first byte to replace, found block by block as the kernel finds
// them, after a test that passes over 256 bytes of ASCII at once (no
// sequence reaches into or out of such a run: the carried lanes of a block
// before it would be continuation bytes).
TEXTMEND_AVX512_ENTRY const std::uint8_t* unchanged_utf8_blocks_avx512(
    const std::uint8_t* p, const std::uint8_t* lead_end) {
    if (lead_end - p < WIDE_BLOCK) return p;
    const WideConstants k = wide_constants();
    std::uint64_t carried = 0;
    while (lead_end - p >= WIDE_BLOCK) {
        prefetch_ahead(p);
        if (lead_end - p >= 4 * WIDE_BLOCK && all_ascii_256(p)) {
            p += 4 * WIDE_BLOCK;
            continue;
        }
        const std::uint64_t replace = wide_bytes_to_replace(p, _mm512_loadu_si512(p), carried, k);
        if (replace != 0) return p + __builtin_ctzll(replace);
        p += WIDE_BLOCK;
    }
    // The last block's sequences may reach past it: the search goes on
    // after them.
    return p + avx2::sequence_reaching_past(p, STRICT_LENGTHS);
}

}  // namespace textmend

#endif
