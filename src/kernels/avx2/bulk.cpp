// The bulk converters for 32-byte blocks with AVX2. Each block is classified
// with a few vector operations; a block that needs no change is stored as it
// is, a block with simple changes is changed with vector operations too, and
// anything else is left to the scalar converter for that block.
#include "kernels/avx2/avx2.hpp"

#ifdef TEXTMEND_HAVE_AVX2_PATH

#include <immintrin.h>

#include <array>
#include <cstring>

#include "convert/bulk.hpp"
#include "convert/byte_tables.hpp"
#include "kernels/avx2/sequences.hpp"

namespace textmend {

using namespace avx2;

namespace {

// A block is taken only when the block after it lies before lead_end too: the
// classification reads a few bytes past the block, and copies between
// changes read a whole vector from inside it.
constexpr std::ptrdiff_t BLOCK_REACH = 2 * BLOCK;

// ---- default mode and -w --------------------------------------------------

// Shuffle indices that gather the bytes whose bit is set in an 8-bit mask to
// the front, for each of the 256 masks.
constexpr std::array<std::uint64_t, 256> make_compress_table() {
    std::array<std::uint64_t, 256> table{};
    for (unsigned mask = 0; mask < 256; ++mask) {
        std::uint64_t indices = 0;
        unsigned out = 0;
        for (unsigned i = 0; i < 8; ++i) {
            if (mask & (1U << i)) indices |= static_cast<std::uint64_t>(i) << (8 * out++);
        }
        table[mask] = indices;
    }
    return table;
}

constexpr std::array<std::uint64_t, 256> COMPRESS8 = make_compress_table();

// Stores the bytes of v whose bit is set in keep, packed together; returns
// the new output position. The four stores' offsets are counted from keep
// independently, so they do not wait for one another.
TEXTMEND_AVX2 inline std::uint8_t* store_kept(std::uint8_t* out, __m256i v, std::uint32_t keep) {
    const __m128i halves[2] = {_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1)};
    for (int group = 0; group < 4; ++group) {
        const unsigned bits = (keep >> (8 * group)) & 0xFF;
        const auto before = static_cast<unsigned>(
            group == 0 ? 0 : _mm_popcnt_u32(keep & ((1U << (8 * group)) - 1)));
        // The upper eight bytes of a half are picked with indices 8..15.
        const std::uint64_t base = (group & 1) ? 0x0808080808080808ULL : 0;
        const __m128i shuffle = _mm_cvtsi64_si128(static_cast<long long>(COMPRESS8[bits] + base));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + before),
                         _mm_shuffle_epi8(halves[group >> 1], shuffle));
    }
    return out + _mm_popcnt_u32(keep);
}

// A block in the default mode and -w, given the bytes after it in next: the
// lanes of its leads below 0x100 (C0..C3), and of those the pairs that
// convert: a lead followed by a continuation byte, but not a C1 control.
// merged is the block with each such lead replaced by the pair's byte,
// ((lead & 3) << 6) | (second & 0x3F).
struct PairBlock {
    std::uint32_t short_leads;
    std::uint32_t pairs;
    __m256i merged;
};

TEXTMEND_AVX2 inline PairBlock pair_block(__m256i v, __m256i next) {
    const __m256i short_lead = in_range(v, LEADS_BELOW_0X100);
    const __m256i converts = _mm256_andnot_si256(
        c1_controls(v, next), _mm256_and_si256(short_lead, is_continuation(next)));
    const __m256i value = _mm256_or_si256(_mm256_slli_epi16(_mm256_and_si256(v, splat(0x03)), 6),
                                          _mm256_and_si256(next, splat(0x3F)));
    return {mask_of(short_lead), mask_of(converts), _mm256_blendv_epi8(v, value, converts)};
}

// The pairs by the nibble tables: exact for the lead, a superset for the
// second byte.
TEXTMEND_AVX2 inline std::uint32_t may_change_lanes(__m256i v, __m256i next,
                                                    const LeadPairBits& bits) {
    const __m256i lead = nibble_classes(nibble_classifier(bits.lead_high, bits.lead_low), v);
    const __m256i second =
        nibble_classes(nibble_classifier(bits.second_high, bits.second_low), next);
    return ~mask_of(_mm256_cmpeq_epi8(_mm256_and_si256(lead, second), _mm256_setzero_si256()));
}

// Whether one of the leads marked in the mask starts a sequence of its
// length whose following bytes are all continuation bytes.
TEXTMEND_AVX2 inline bool has_whole_sequence(const std::uint8_t* p, __m256i v,
                                             std::uint32_t leads) {
    return (mask_of(permissive_starts(p, v).from2) & leads) != 0;
}

// The blocks of one batch in these modes. Where few blocks hold a candidate
// (ASCII-heavy text, Cyrillic, Chinese), a clean block is stored at once.
// Where most do (prose in UTF-8), that branch goes either way at random and
// costs more than it saves: then every block takes the general path, which
// gives the same bytes for a clean block. busy counts the blocks that held a
// candidate, so that the caller can choose for the next batch.
struct LatinBatch {
    const std::uint8_t* p;
    std::uint8_t* out;
    std::uint32_t carried;
    int busy;   // blocks that held a candidate or a carried byte
    bool hard;  // stopped before a block for the stepwise code
};

template <bool EveryBlockWhole>
TEXTMEND_AVX2 inline LatinBatch latin1_batch(const CandidateClassifier& leads,
                                             const LeadPairBits& lead_pairs, const std::uint8_t* p,
                                             std::ptrdiff_t blocks, std::uint8_t* out,
                                             std::uint32_t carried) {
    int busy = 0;
    for (std::ptrdiff_t b = 0; b < blocks; ++b) {
        prefetch_ahead(p);
        const __m256i v = load(p);
        const std::uint32_t candidates = candidate_lanes(leads, v);
        busy += (candidates | carried) != 0;
        if constexpr (!EveryBlockWhole) {
            if ((candidates | carried) == 0) {
                store(out, v);
                out += BLOCK;
                p += BLOCK;
                continue;
            }
        }
        const __m256i next = load(p + 1);
        const PairBlock block = pair_block(v, next);
        const std::uint32_t other_leads = candidates & ~block.short_leads;
        if (other_leads != 0) {
            const std::uint32_t may_change = other_leads & may_change_lanes(v, next, lead_pairs);
            if (may_change != 0 && has_whole_sequence(p, v, may_change))
                return {p, out, carried, busy, true};
        }
        if constexpr (!EveryBlockWhole) {
            if ((block.pairs | carried) == 0) {
                store(out, v);
                out += BLOCK;
                p += BLOCK;
                continue;
            }
        }
        // Each converted pair drops its second byte; a pair at the last lane
        // drops the first byte of the next block.
        out = store_kept(out, block.merged, ~((block.pairs << 1) | carried));
        carried = block.pairs >> 31;
        p += BLOCK;
    }
    return {p, out, carried, busy, false};
}

// Blocks per batch, and how many of them must hold a candidate for the next
// batch to take every block through the general path.
constexpr std::ptrdiff_t LATIN1_BATCH = 16;
constexpr int BUSY_BATCH = LATIN1_BATCH / 2;

}  // namespace

// In these modes only candidate leads can change. The common change is a
// two-byte sequence with lead C0..C3, whose code point is below 0x100: it
// becomes the byte ((lead & 3) << 6) | (continuation & 0x3F), except C2
// followed by 80..9F (code points 80..9F are neither Latin-1 nor Windows-1252
// bytes). A block where another candidate lead may change (its first two
// bytes are a pair of LeadPairs, and a whole sequence follows) goes to the
// stepwise converter.
TEXTMEND_AVX2_ENTRY BulkProgress bulk_blocks_to_latin1_avx2(const std::uint8_t* p,
                                                            const std::uint8_t* lead_end,
                                                            std::uint8_t* out, OutputMode mode) {
    const CandidateClassifier leads =
        classifier_for(mode == MODE_CP1252 ? CP1252_LEADS : LATIN1_LEADS);
    const LeadPairBits& lead_pairs = lead_pair_bits(mode);

    // 1 when the first byte of the block at p is the second byte of a pair
    // converted in the block before; it is dropped. The blocks themselves
    // always advance by 32 bytes, so the loads do not wait on the results.
    std::uint32_t carried = 0;
    bool busy_text = false;
    while (lead_end - p >= BLOCK_REACH) {
        const std::ptrdiff_t fit = (lead_end - p - BLOCK_REACH) / BLOCK + 1;
        const std::ptrdiff_t blocks = fit < LATIN1_BATCH ? fit : LATIN1_BATCH;
        const LatinBatch batch =
            busy_text ? latin1_batch<true>(leads, lead_pairs, p, blocks, out, carried)
                      : latin1_batch<false>(leads, lead_pairs, p, blocks, out, carried);
        p = batch.p;
        out = batch.out;
        carried = batch.carried;
        busy_text = batch.busy >= BUSY_BATCH;
        if (!batch.hard) continue;
        const BulkProgress done =
            bulk_convert_to_latin1_stepwise(p + carried, p + BLOCK, out, mode);
        p = done.in;
        out = done.out;
        carried = 0;
    }
    return {p + carried, out};
}

// ---- -u ---------------------------------------------------------------------

namespace {

// Whether -u writes every byte from 0xA0 on that it replaces as the two bytes
// of its Latin-1 character, as expand_replaced does.
constexpr bool latin1_upper_half_is_two_bytes() {
    for (unsigned b = 0xA0; b < 0x100; ++b) {
        const Replacement& r = UTF8_REPLACEMENTS[b];
        if (r.length != 2 || r.bytes[0] != (0xC0 | b >> 6) || r.bytes[1] != (0x80 | (b & 0x3F)))
            return false;
    }
    return true;
}
static_assert(latin1_upper_half_is_two_bytes());

// Shuffles that pack eight 16-bit words, each holding one byte or (where
// the mask's bit is set) two, into consecutive bytes.
constexpr std::array<std::array<std::uint8_t, 16>, 256> make_pack_pairs_table() {
    std::array<std::array<std::uint8_t, 16>, 256> table{};
    for (unsigned mask = 0; mask < 256; ++mask) {
        std::array<std::uint8_t, 16>& shuffle = table[mask];
        for (std::uint8_t& index : shuffle)
            index = 0x80;  // a zero byte
        unsigned out = 0;
        for (unsigned word = 0; word < 8; ++word) {
            shuffle[out++] = static_cast<std::uint8_t>(2 * word);
            if (mask & (1U << word)) shuffle[out++] = static_cast<std::uint8_t>(2 * word + 1);
        }
    }
    return table;
}

constexpr std::array<std::array<std::uint8_t, 16>, 256> PACK_PAIRS = make_pack_pairs_table();

TEXTMEND_AVX2 inline __m128i pack_pairs_shuffle(unsigned mask) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(PACK_PAIRS[mask].data()));
}

// Writes the block v with the bytes marked in replace, all 0xA0 or above,
// as the two bytes of their Latin-1 character in UTF-8 (0xC0 | b >> 6, then
// 0x80 | b & 0x3F), with no branch on how many there are: sixteen bytes at a
// time become 16-bit words, a replaced byte's word holding both its bytes,
// and each eight words are packed by a shuffle chosen by their eight bits.
TEXTMEND_AVX2 inline std::uint8_t* expand_replaced(std::uint8_t* out, __m256i v,
                                                   std::uint32_t replace) {
    const __m128i halves[2] = {_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1)};
    for (int half = 0; half < 2; ++half) {
        const unsigned bits = (replace >> (16 * half)) & 0xFFFF;
        const unsigned low = bits & 0xFF;
        const unsigned high = bits >> 8;
        const __m256i words = _mm256_cvtepu8_epi16(halves[half]);
        const __m256i lead = _mm256_or_si256(_mm256_srli_epi16(words, 6), _mm256_set1_epi16(0xC0));
        const __m256i second =
            _mm256_slli_epi16(_mm256_or_si256(_mm256_and_si256(words, _mm256_set1_epi16(0x3F)),
                                              _mm256_set1_epi16(0x80)),
                              8);
        const __m256i pairs = _mm256_or_si256(lead, second);
        // The replaced bytes' words from pairs, the others' from words.
        const __m256i bit = _mm256_setr_epi16(1, 2, 4, 8, 16, 32, 64, 128, 256, 512, 1024, 2048,
                                              4096, 8192, 16384, -32768);
        const __m256i replaced = _mm256_cmpeq_epi16(
            _mm256_and_si256(_mm256_set1_epi16(static_cast<short>(bits)), bit), bit);
        const __m256i chosen = _mm256_blendv_epi8(words, pairs, replaced);
        const __m256i packed = _mm256_shuffle_epi8(
            chosen, _mm256_set_m128i(pack_pairs_shuffle(high), pack_pairs_shuffle(low)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm256_castsi256_si128(packed));
        out += 8 + _mm_popcnt_u32(low);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm256_extracti128_si256(packed, 1));
        out += 8 + _mm_popcnt_u32(high);
    }
    return out;
}

// Whether expand_replaced can write the block: its replaced bytes all lie
// in A0..FF. The others go to the kernel's general paths.
TEXTMEND_AVX2 inline bool expands(__m256i v, std::uint32_t replace) {
    return (replace & ~mask_of(in_range(v, 0xA0, 0xFF))) == 0;
}

// What -u writes for a byte that stands alone, packed for a single store:
// the bytes in the low three bytes, the count in the top byte.
constexpr std::array<std::uint32_t, 256> make_packed_replacements() {
    std::array<std::uint32_t, 256> table{};
    for (std::size_t c = 0; c < 256; ++c) {
        const Replacement& r = UTF8_REPLACEMENTS[c];
        table[c] = static_cast<std::uint32_t>(r.bytes[0]) |
                   static_cast<std::uint32_t>(r.bytes[1]) << 8 |
                   static_cast<std::uint32_t>(r.bytes[2]) << 16 |
                   static_cast<std::uint32_t>(r.length) << 24;
    }
    return table;
}

constexpr std::array<std::uint32_t, 256> PACKED_REPLACEMENTS = make_packed_replacements();

// Shuffles that pack four 32-bit words holding 1 to 3 bytes each (in their
// low bytes) into consecutive bytes. The key holds the low bits of the four
// counts in bits 0-3 and their high bits in bits 4-7.
constexpr std::array<std::array<std::uint8_t, 16>, 256> make_pack_table() {
    std::array<std::array<std::uint8_t, 16>, 256> table{};
    for (unsigned key = 0; key < 256; ++key) {
        std::array<std::uint8_t, 16>& shuffle = table[key];
        for (std::uint8_t& index : shuffle)
            index = 0x80;  // a zero byte
        unsigned out = 0;
        for (unsigned word = 0; word < 4; ++word) {
            const unsigned count = ((key >> word) & 1) | (((key >> (4 + word)) & 1) << 1);
            for (unsigned i = 0; i < count; ++i)
                shuffle[out++] = static_cast<std::uint8_t>(4 * word + i);
        }
    }
    return table;
}

constexpr std::array<std::array<std::uint8_t, 16>, 256> PACK_WORDS = make_pack_table();

// A block with more replaced bytes than this (binary data, say) is expanded
// eight bytes at a time: each byte becomes a word of its replacement, or of
// itself, and the words are packed. Fewer are cheaper to patch one by one.
constexpr int MANY_REPLACEMENTS = 4;

TEXTMEND_AVX2 inline std::uint8_t* replace_in_block(const std::uint8_t* p, std::uint8_t* out,
                                                    std::uint32_t replace) {
    const __m256i lane_bits = _mm256_setr_epi32(1, 2, 4, 8, 16, 32, 64, 128);
    const __m256i count_one = _mm256_set1_epi32(1 << 24);
    const auto* table =
        reinterpret_cast<const int*>(PACKED_REPLACEMENTS.data());  // as the words are
    for (int group = 0; group < 4; ++group) {
        const __m256i bytes =
            _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p + 8 * group)));
        const __m256i flags = _mm256_set1_epi32(static_cast<int>((replace >> (8 * group)) & 0xFF));
        const __m256i replaced = _mm256_cmpeq_epi32(_mm256_and_si256(flags, lane_bits), lane_bits);
        // Eight table lookups; a gather instruction is slower here.
        const std::uint8_t* b = p + 8 * group;
        const __m256i looked_up =
            _mm256_setr_epi32(table[b[0]], table[b[1]], table[b[2]], table[b[3]], table[b[4]],
                              table[b[5]], table[b[6]], table[b[7]]);
        const __m256i words =
            _mm256_blendv_epi8(_mm256_or_si256(bytes, count_one), looked_up, replaced);
        // Bits 0 and 1 of each word's count (its top byte).
        const auto low_bits = static_cast<unsigned>(
            _mm256_movemask_ps(_mm256_castsi256_ps(_mm256_slli_epi32(words, 7))));
        const auto high_bits = static_cast<unsigned>(
            _mm256_movemask_ps(_mm256_castsi256_ps(_mm256_slli_epi32(words, 6))));
        const __m128i halves[2] = {_mm256_castsi256_si128(words),
                                   _mm256_extracti128_si256(words, 1)};
        for (int half = 0; half < 2; ++half) {
            const unsigned low = (low_bits >> (4 * half)) & 15;
            const unsigned high = (high_bits >> (4 * half)) & 15;
            __m128i shuffle;
            std::memcpy(&shuffle, PACK_WORDS[low | high << 4].data(), 16);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out),
                             _mm_shuffle_epi8(halves[half], shuffle));
            out += _mm_popcnt_u32(low) + 2 * _mm_popcnt_u32(high);
        }
    }
    return out;
}

}  // namespace

TEXTMEND_AVX2_ENTRY BulkProgress bulk_blocks_to_utf8_avx2(const std::uint8_t* p,
                                                          const std::uint8_t* lead_end,
                                                          std::uint8_t* out) {
    Starts previous = no_starts();
    bool any_block = false;

    while (lead_end - p >= BLOCK_REACH) {
        prefetch_ahead(p);
        const __m256i v = load(p);
        const std::uint32_t high = mask_of(v);
        any_block = true;
        if (high == 0) {
            store(out, v);
            out += BLOCK;
            p += BLOCK;
            previous = no_starts();
            continue;
        }
        std::uint32_t replace = bytes_to_replace(p, v, high, previous);
        if (replace == 0) {
            store(out, v);
            out += BLOCK;
            p += BLOCK;
            continue;
        }
        if (expands(v, replace)) {
            out = expand_replaced(out, v, replace);
            p += BLOCK;
            continue;
        }
        if (_mm_popcnt_u32(replace) > MANY_REPLACEMENTS) {
            out = replace_in_block(p, out, replace);
            p += BLOCK;
            continue;
        }
        // Copy the stretches between replaced bytes with whole-vector stores
        // (each later store overwrites what the previous one wrote too much).
        std::uint32_t from = 0;
        while (replace != 0) {
            const auto at = static_cast<std::uint32_t>(__builtin_ctz(replace));
            store(out, load(p + from));
            out += at - from;
            const std::uint32_t packed = PACKED_REPLACEMENTS[p[at]];
            std::memcpy(out, &packed, 4);
            out += packed >> 24;
            from = at + 1;
            replace &= replace - 1;
        }
        store(out, load(p + from));
        out += BLOCK - from;
        p += BLOCK;
    }
    // A sequence judged in the last block may reach past it: copy its
    // remaining bytes and go on after it.
    if (any_block) {
        const std::ptrdiff_t rest = sequence_reaching_past(p, STRICT_LENGTHS);
        std::memcpy(out, p, static_cast<std::size_t>(rest));
        out += rest;
        p += rest;
    }
    return {p, out};
}

// ---- how far nothing changes ------------------------------------------------

namespace {

// Whether the 64 bytes at p are ASCII, with a block's reach still before
// lead_end after them: ASCII never changes and never starts a sequence, so
// such a stretch is passed over whole.
TEXTMEND_AVX2 inline bool all_ascii_64(const std::uint8_t* p, const std::uint8_t* lead_end) {
    return lead_end - p >= BLOCK_REACH + 2 * BLOCK &&
           mask_of(_mm256_or_si256(load(p), load(p + BLOCK))) == 0;
}

// -u from p, with the sequence starts of the block before p in previous:
// the first byte to replace, found block by block.
TEXTMEND_AVX2 inline const std::uint8_t* first_replaced_byte(const std::uint8_t* p,
                                                             const std::uint8_t* lead_end,
                                                             Starts previous) {
    bool any_block = false;
    while (lead_end - p >= BLOCK_REACH) {
        any_block = true;
        if (all_ascii_64(p, lead_end)) {
            previous = no_starts();
            p += 2 * BLOCK;
            continue;
        }
        const __m256i v = load(p);
        const std::uint32_t high = mask_of(v);
        if (high == 0) {
            previous = no_starts();
        } else if (const std::uint32_t replace = bytes_to_replace(p, v, high, previous);
                   replace != 0) {
            return p + __builtin_ctz(replace);
        }
        p += BLOCK;
    }
    if (any_block) p += sequence_reaching_past(p, STRICT_LENGTHS);
    return p;
}

// -u: blocks are checked by strict_breaks, which is cheaper than finding
// their sequences, as far as they keep the rule. A break there, or a lead
// in the last lanes checked, leaves the replaced byte at most three bytes
// before the block, so first_replaced_byte takes over one block back.
TEXTMEND_AVX2 inline const std::uint8_t* unchanged_utf8_blocks(const std::uint8_t* p,
                                                               const std::uint8_t* lead_end) {
    const std::uint8_t* const start = p;
    __m256i before = _mm256_setzero_si256();
    while (lead_end - p >= BLOCK_REACH) {
        prefetch_ahead(p);
        if (all_ascii_64(p, lead_end) && !calls_past(before)) {
            before = _mm256_setzero_si256();
            p += 2 * BLOCK;
            continue;
        }
        const __m256i v = load(p);
        const __m256i breaks = strict_breaks(v, before);
        if (!_mm256_testz_si256(breaks, breaks)) break;
        before = v;
        p += BLOCK;
    }
    if (p == start) return first_replaced_byte(p, lead_end, no_starts());
    const std::uint8_t* back = p - BLOCK;
    const Starts previous =
        back - start >= BLOCK ? strict_starts(back - BLOCK, load(back - BLOCK)) : no_starts();
    return first_replaced_byte(back, lead_end, previous);
}

}  // namespace

TEXTMEND_AVX2_ENTRY const std::uint8_t* bulk_blocks_unchanged_avx2(const std::uint8_t* p,
                                                                   const std::uint8_t* lead_end,
                                                                   OutputMode mode) {
    if (mode == MODE_UTF8) return unchanged_utf8_blocks(p, lead_end);
    const CandidateClassifier leads =
        classifier_for(mode == MODE_CP1252 ? CP1252_LEADS : LATIN1_LEADS);
    while (lead_end - p >= BLOCK_REACH) {
        prefetch_ahead(p);
        if (all_ascii_64(p, lead_end)) {
            p += 2 * BLOCK;
            continue;
        }
        const __m256i v = load(p);
        const std::uint32_t may_change =
            candidate_lanes(leads, v) & mask_of(is_continuation(load(p + 1)));
        if (may_change != 0) return p + __builtin_ctz(may_change);
        p += BLOCK;
    }
    return p;
}

}  // namespace textmend

#endif
