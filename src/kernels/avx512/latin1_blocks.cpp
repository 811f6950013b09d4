// The kernels of the default mode and -w for processors with AVX-512 VBMI2:
// the block converter (and its form for the last bytes), the search for an
// unchanged stretch and the output's growth, on 64-byte blocks with the
// lanes' classes in 64-bit masks. The set's -u kernels are in
// utf8_blocks.cpp, its inspection in inspect.cpp; its scanners are AVX2's.
#include "kernels/avx512/avx512.hpp"

#ifdef TEXTMEND_HAVE_AVX2_PATH

#include <immintrin.h>

#include <array>
#include <cstring>

#include "convert/bulk.hpp"
#include "convert/byte_tables.hpp"
#include "convert/inspect_blocks.hpp"
#include "encoding/lead_ranges.hpp"
#include "encoding/utf8.hpp"
#include "kernels/avx2/ops.hpp"
#include "kernels/avx512/ops.hpp"

namespace textmend {

using namespace avx512;

namespace {

// Continuation bytes 80..BF are the bytes below 0xC0 taken as signed
// (ASCII is positive), and C1 controls' second bytes 80..9F those below
// 0xA0: one compare each.
static_assert(LEADS_BELOW_0X100.first == 0xC0 && LEADS_BELOW_0X100.last == 0xC3);
static_assert(C1_CONTROL_SECONDS.first == 0x80 && C1_CONTROL_SECONDS.last == 0x9F);

// The loops' constants, built once (see ops.hpp).
struct LatinConstants {
    __m512i lead_high, lead_low, nibble;  // candidate leads, by nibble tables
    __m512i pair_lead, pair_second;       // LeadPairBits, 64 entries each
    __m512i c0, fc, c2, a0;
};

TEXTMEND_AVX512 inline LatinConstants latin_constants(OutputMode mode) {
    const CandidateLeads& leads = mode == MODE_CP1252 ? CP1252_LEADS : LATIN1_LEADS;
    const LeadPairBits& pairs = lead_pair_bits(mode);
    LatinConstants k;
    k.lead_high = constant_table(leads.high);
    k.lead_low = constant_table(leads.low);
    k.nibble = constant_bytes(0x0F);
    k.pair_lead = constant_table(pairs.lead);
    k.pair_second = constant_table(pairs.second);
    k.c0 = constant_bytes(0xC0);
    k.fc = constant_bytes(0xFC);
    k.c2 = constant_bytes(C1_CONTROL_LEAD);
    k.a0 = constant_bytes(0xA0);
    return k;
}

// Whether one of the lanes marked in leads starts a sequence by the
// permissive rule: a lead of length n followed by n - 1 continuation bytes.
TEXTMEND_AVX512 inline bool has_whole_sequence(const std::uint8_t* p, __m512i v,
                                               std::uint64_t leads, const LatinConstants& k) {
    // continues[i]: the i bytes after the lane are continuation bytes.
    std::array<std::uint64_t, 6> continues{};
    continues[1] = _mm512_cmplt_epi8_mask(_mm512_loadu_si512(p + 1), k.c0);
    for (std::size_t i = 2; i < continues.size(); ++i) {
        continues[i] =
            _mm512_mask_cmplt_epi8_mask(continues[i - 1], _mm512_loadu_si512(p + i), k.c0);
    }
    std::uint64_t whole = 0;
    for (std::size_t n = 2; n < PERMISSIVE_LEADS.size(); ++n) {
        whole |= continues[n - 1] & wide_in_range(v, wide_range(PERMISSIVE_LEADS[n]));
    }
    return (whole & leads) != 0;
}

// In these modes only candidate leads can change. The common change is a
// two-byte sequence with lead C0..C3, whose code point is below 0x100: it
// becomes the byte ((lead & 3) << 6) | (continuation & 0x3F), except C2
// followed by 80..9F (code points 80..9F are neither Latin-1 nor Windows-1252
// bytes). A block where another candidate lead may change (its first two
// bytes are a pair of LeadPairs, and a whole sequence follows) goes to the
// stepwise converter.

// The leads C0..C3 of the block v.
TEXTMEND_AVX512 inline std::uint64_t short_lead_lanes(__m512i v, const LatinConstants& k) {
    return _mm512_cmpeq_epi8_mask(_mm512_and_si512(v, k.fc), k.c0);
}

// Of the block's candidate leads other than C0..C3, those whose first two
// bytes are a lead pair: where a change other than a pair may start.
TEXTMEND_AVX512 inline std::uint64_t other_change_lanes(__m512i v, __m512i next,
                                                        std::uint64_t candidates,
                                                        std::uint64_t short_leads,
                                                        const LatinConstants& k) {
    const std::uint64_t other_leads = candidates & ~short_leads;
    return other_leads == 0 ? 0 : lead_pair_lanes(other_leads, v, next, k.pair_lead, k.pair_second);
}

// The pairs that convert: a short lead followed by a continuation byte,
// but not a C1 control.
TEXTMEND_AVX512 inline std::uint64_t converting_pairs(__m512i v, __m512i next,
                                                      std::uint64_t short_leads,
                                                      const LatinConstants& k) {
    return _mm512_mask_cmplt_epi8_mask(short_leads, next, k.c0) &
           ~_mm512_mask_cmplt_epi8_mask(_mm512_cmpeq_epi8_mask(v, k.c2), next, k.a0);
}

// The block v (next: the bytes one past it) with its pairs converted, and
// the lanes of it that are written.
struct PairedBlock {
    __m512i merged;
    std::uint64_t keep;
};

// carried: 1 when the block's first byte is the second byte of a pair the
// block before converted (it is dropped); set to the same for the next block.
TEXTMEND_AVX512 inline PairedBlock paired_block(__m512i v, __m512i next, std::uint64_t short_leads,
                                                std::uint64_t& carried, const LatinConstants& k) {
    const std::uint64_t pairs = converting_pairs(v, next, short_leads, k);
    // The top two bits from the lead shifted up, the rest from next.
    const __m512i value = _mm512_ternarylogic_epi32(k.c0, _mm512_slli_epi16(v, 6), next, 0xCA);
    // Each converted pair drops its second byte; a pair at the last lane
    // drops the first byte of the next block.
    const PairedBlock block{_mm512_mask_mov_epi8(v, pairs, value), ~((pairs << 1) | carried)};
    carried = pairs >> 63;
    return block;
}

}  // namespace

TEXTMEND_AVX512_ENTRY BulkProgress bulk_blocks_to_latin1_avx512(const std::uint8_t* p,
                                                                const std::uint8_t* lead_end,
                                                                std::uint8_t* out,
                                                                OutputMode mode) {
    const LatinConstants k = latin_constants(mode);
    // 1 when the first byte of the block at p is the second byte of a pair
    // converted in the block before; it is dropped. A block's look-ahead
    // (the bytes of a sequence starting in it) lies within the readable
    // bytes past lead_end.
    std::uint64_t carried = 0;
    while (lead_end - p >= WIDE_BLOCK) {
        prefetch_ahead(p);
        const __m512i v = _mm512_loadu_si512(p);
        const std::uint64_t candidates = nibble_lanes(v, k.lead_high, k.lead_low, k.nibble);
        // A block without a candidate is stored as it is. The branch goes
        // one way for long in text where few blocks hold one (Cyrillic,
        // Chinese) and where most do (prose in UTF-8).
        if ((candidates | carried) == 0) {
            _mm512_storeu_si512(out, v);
            out += WIDE_BLOCK;
            p += WIDE_BLOCK;
            continue;
        }
        const __m512i next = _mm512_loadu_si512(p + 1);
        const std::uint64_t short_leads = short_lead_lanes(v, k);
        const std::uint64_t may_change = other_change_lanes(v, next, candidates, short_leads, k);
        if (may_change != 0 && has_whole_sequence(p, v, may_change, k)) {
            const BulkProgress done =
                bulk_convert_to_latin1_stepwise(p + carried, p + WIDE_BLOCK, out, mode);
            p = done.in;
            out = done.out;
            carried = 0;
            continue;
        }
        const PairedBlock block = paired_block(v, next, short_leads, carried, k);
        _mm512_storeu_si512(out, _mm512_maskz_compress_epi8(block.keep, block.merged));
        out += _mm_popcnt_u64(block.keep);
        p += WIDE_BLOCK;
    }
    return {p + carried, out};
}

// The last bytes, the bytes from end on read as 0 (as the padded copy has
// them) and the result stored exactly. A block where a change other than a
// pair may start is left to the padded copy: the stepwise converter would
// read past end.
TEXTMEND_AVX512_ENTRY BulkProgress last_blocks_avx512(const std::uint8_t* p,
                                                      const std::uint8_t* end, std::uint8_t* out,
                                                      OutputMode mode) {
    if (mode == MODE_UTF8) return last_blocks_to_utf8_avx512(p, end, out);
    const LatinConstants k = latin_constants(mode);
    std::uint64_t carried = 0;
    for (; p < end; p += WIDE_BLOCK) {
        const std::uint64_t lanes = lanes_before(p, end);
        const __m512i v = _mm512_maskz_loadu_epi8(lanes, p);
        const __m512i next = load_before(p + 1, end);
        const std::uint64_t short_leads = short_lead_lanes(v, k);
        const std::uint64_t candidates = nibble_lanes(v, k.lead_high, k.lead_low, k.nibble);
        if (other_change_lanes(v, next, candidates, short_leads, k) != 0) break;
        // A pair at the last lane before end has no second byte: no lane
        // past end is kept, and none carries on.
        const PairedBlock block = paired_block(v, next, short_leads, carried, k);
        const std::uint64_t keep = block.keep & lanes;
        const auto kept = static_cast<std::uint64_t>(_mm_popcnt_u64(keep));
        store_first(out, _mm512_maskz_compress_epi8(keep, block.merged), kept);
        out += kept;
    }
    return {p < end ? p + carried : end, out};
}

// ---- how far nothing changes ------------------------------------------------

namespace {

// Lanes of the 64 bytes at p that hold a candidate lead followed by a
// continuation byte: only there can a change start in these modes.
TEXTMEND_AVX512 inline std::uint64_t change_start_lanes(const std::uint8_t* p,
                                                        const LatinConstants& k) {
    const std::uint64_t candidates =
        nibble_lanes(_mm512_loadu_si512(p), k.lead_high, k.lead_low, k.nibble);
    return _mm512_mask_cmplt_epi8_mask(candidates, _mm512_loadu_si512(p + 1), k.c0);
}

}  // namespace

// The default mode and -w: 64-byte blocks with no branch but the one that
// stops, after a test that passes over 256 bytes of ASCII at once (taken
// either nearly always or nearly never, so it is well predicted where a
// test of every block is not: in Latin-1 text). -u has a scan of its own.
TEXTMEND_AVX512_ENTRY const std::uint8_t* bulk_blocks_unchanged_avx512(const std::uint8_t* p,
                                                                       const std::uint8_t* lead_end,
                                                                       OutputMode mode) {
    if (mode == MODE_UTF8) return unchanged_utf8_blocks_avx512(p, lead_end);
    const LatinConstants k = latin_constants(mode);
    // A block is looked at while it and the byte after it lie before lead_end.
    while (lead_end - p > 4 * WIDE_BLOCK) {
        prefetch_group_ahead(p);
        if (all_ascii_256(p)) {
            p += 4 * WIDE_BLOCK;
            continue;
        }
        for (int block = 0; block < 4; ++block) {
            const std::uint64_t may_change = change_start_lanes(p, k);
            if (may_change != 0) return p + __builtin_ctzll(may_change);
            p += WIDE_BLOCK;
        }
    }
    while (lead_end - p > WIDE_BLOCK) {
        const std::uint64_t may_change = change_start_lanes(p, k);
        if (may_change != 0) return p + __builtin_ctzll(may_change);
        p += WIDE_BLOCK;
    }
    return p;
}

// The output's growth in the default mode and -w, which is never positive:
// each pair that converts takes a byte off, and a sequence of n bytes that
// another candidate lead starts takes n - 1 when its code point has a byte
// in the target set. Those are decoded one by one, only where their first
// two bytes are a lead pair (few but Windows-1252's own characters with
// -w). A block is taken while the bytes up to five past it are readable;
// the sequences of the last may reach past it, and p is set after them.
TEXTMEND_AVX512_ENTRY std::int64_t single_byte_growth_of_blocks_avx512(const std::uint8_t*& p,
                                                                       const std::uint8_t* end,
                                                                       OutputMode mode) {
    constexpr std::ptrdiff_t REACH = 2 * WIDE_BLOCK;
    if (end - p < REACH) return 0;
    const LatinConstants k = latin_constants(mode);
    std::int64_t growth = 0;
    while (end - p >= REACH) {
        const __m512i v = _mm512_loadu_si512(p);
        // ASCII is passed 256 bytes at a time, tried only after a block of
        // ASCII: in text without one (Cyrillic, Chinese) the test is wasted.
        if (_mm512_movepi8_mask(v) == 0) {
            // A branch, not a select: the next load's address must not
            // wait for the test. No sequence reaches into or out of ASCII.
            if (end - p >= 4 * WIDE_BLOCK + REACH && all_ascii_256(p))
                p += 4 * WIDE_BLOCK;
            else
                p += WIDE_BLOCK;
            continue;
        }
        // Without a branch on whether the block holds a candidate: in
        // Latin-1 prose that goes either way.
        const __m512i next = _mm512_loadu_si512(p + 1);
        const std::uint64_t short_leads = short_lead_lanes(v, k);
        growth -=
            static_cast<std::int64_t>(_mm_popcnt_u64(converting_pairs(v, next, short_leads, k)));
        const std::uint64_t other_leads = _mm512_cmpge_epu8_mask(v, k.c0) & ~short_leads;
        const std::uint64_t others =
            lead_pair_lanes(other_leads, v, next, k.pair_lead, k.pair_second);
        subtract_candidate_shrink(p, others, mode, growth);
        p += WIDE_BLOCK;
    }
    p += avx2::sequence_reaching_past(p, PERMISSIVE_LENGTHS);
    return growth;
}

// The output's growth: a kernel for -u, one for the other modes.
TEXTMEND_AVX512_ENTRY std::int64_t growth_of_blocks_avx512(const std::uint8_t*& p,
                                                           const std::uint8_t* end,
                                                           OutputMode mode) {
    return mode == MODE_UTF8 ? utf8_growth_of_blocks_avx512(p, end)
                             : single_byte_growth_of_blocks_avx512(p, end, mode);
}

}  // namespace textmend

#endif
