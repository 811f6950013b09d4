// Counting the units of 64-byte blocks with AVX-512, for processors with
// the AVX-512 set. Every class of a block's lanes is a 64-bit mask: where
// sequences start (a lead followed by the continuation bytes of its length),
// which lanes they cover (by shifts of the masks, the lanes a sequence of
// the block before reaches carried in), which high bytes stand alone. The
// counts are population counts of masks; a block with a finding still to
// be reported is walked unit by unit, as with AVX2.
#include "convert/simd_support.hpp"

#ifdef TEXTMEND_HAVE_AVX2_PATH

#include <immintrin.h>

#include <array>

#include "convert/avx512_ops.hpp"
#include "convert/byte_tables.hpp"
#include "convert/inspect_blocks.hpp"
#include "encoding/lead_ranges.hpp"
#include "encoding/target_byte.hpp"
#include "encoding/utf8.hpp"

namespace textmend {

using namespace avx512;

namespace {

// A block is taken only when a block's length lies after it too: the
// sequences are found with bytes up to five past the block.
constexpr std::ptrdiff_t BLOCK_REACH = 2 * WIDE_BLOCK;

TEXTMEND_AVX512 inline std::uint64_t count(std::uint64_t lanes) {
    return static_cast<std::uint64_t>(_mm_popcnt_u64(lanes));
}

// What a byte 80..9F standing alone is, by its low six bits: bit 0 when
// Windows-1252 leaves it undefined (copied by -u, and kept; kept by -w),
// bit 1 when -u writes its character as three bytes. Entries 32..63 are
// for A0..BF, which are neither.
enum : std::uint8_t { UNDEFINED = 1, THREE_BYTES = 2 };

constexpr std::array<std::uint8_t, 64> make_lone_flags() {
    std::array<std::uint8_t, 64> flags{};
    for (std::size_t i = 0; i < 32; ++i) {
        const int length = UTF8_REPLACEMENTS[0x80 + i].length;
        flags[i] = length == 1 ? UNDEFINED : length == 3 ? THREE_BYTES : 0;
    }
    return flags;
}

constexpr std::array<std::uint8_t, 64> LONE_FLAGS = make_lone_flags();

// The loop's constants, built once (see avx512_ops.hpp).
struct InspectConstants {
    __m512i c0, e0, f0, f8, fc, fe, newline, lone_flags, nibble, undefined, three_bytes;
    WideRange c1_range;            // 80..9F: C1 controls after C2, and the lone bytes to look up
    WideRange leads[7];            // by length, 2..6, the rule's
    WideRange pairs_below_0x100;   // C0..C3
    __m512i c1_control_lead;       // C2
    WideRange invalid_seconds[4];  // INVALID_FORMS, second bytes
    __m512i invalid_leads[4];
    __m512i candidate_high, candidate_low;
};

TEXTMEND_AVX512 inline InspectConstants inspect_constants(OutputMode mode) {
    InspectConstants k;
    k.c0 = constant_bytes(0xC0);
    k.e0 = constant_bytes(0xE0);
    k.f0 = constant_bytes(0xF0);
    k.f8 = constant_bytes(0xF8);
    k.fc = constant_bytes(0xFC);
    k.fe = constant_bytes(0xFE);
    k.newline = constant_bytes('\n');
    k.lone_flags = constant_table(LONE_FLAGS);
    k.nibble = constant_bytes(0x0F);
    k.undefined = constant_bytes(UNDEFINED);
    k.three_bytes = constant_bytes(THREE_BYTES);
    k.c1_range = wide_range(C1_CONTROL_SECONDS);
    const bool strict = mode == MODE_UTF8;
    for (std::size_t n = 2; n <= 6; ++n)
        k.leads[n] = wide_range(strict ? (n <= 4 ? STRICT_LEADS[n] : ByteRange{0xFF, 0xFF})
                                       : PERMISSIVE_LEADS[n]);
    k.pairs_below_0x100 = wide_range(LEADS_BELOW_0X100);
    k.c1_control_lead = constant_bytes(C1_CONTROL_LEAD);
    for (std::size_t i = 0; i < INVALID_FORMS.size(); ++i) {
        k.invalid_leads[i] = constant_bytes(INVALID_FORMS[i].lead);
        k.invalid_seconds[i] = wide_range(INVALID_FORMS[i].second);
    }
    const CandidateLeads& leads = mode == MODE_CP1252 ? CP1252_LEADS : LATIN1_LEADS;
    k.candidate_high = constant_table(leads.high);
    k.candidate_low = constant_table(leads.low);
    return k;
}

// Where the sequences of a block start, and which lanes they cover.
struct WideStarts {
    std::uint64_t from[7];  // from[n]: lanes where a sequence of n or more bytes starts
    std::uint64_t inside;   // lanes in a sequence, its own or one of the block before
};

// The sequences of the block at p (v holds it), at most MaxLength bytes
// long (4 by the strict rule, 6 by the permissive one). carried holds the
// lanes of this block that sequences of the block before reach, and is
// set to those of the next block that this block's reach.
template <int MaxLength>
TEXTMEND_AVX512 inline WideStarts wide_starts(const std::uint8_t* p, __m512i v,
                                              std::uint64_t& carried, const InspectConstants& k) {
    // Continuation bytes 80..BF are the bytes below 0xC0 taken as signed.
    std::uint64_t continues[static_cast<std::size_t>(MaxLength)] =
        {};  // continues[j]: bytes 1..j after the lane are
    continues[1] = _mm512_cmplt_epi8_mask(_mm512_loadu_si512(p + 1), k.c0);
    for (int j = 2; j < MaxLength; ++j)
        continues[j] =
            _mm512_mask_cmplt_epi8_mask(continues[j - 1], _mm512_loadu_si512(p + j), k.c0);
    WideStarts s{};
    for (int n = MaxLength; n >= 2; --n)
        s.from[n] =
            (wide_in_range(v, k.leads[n]) & continues[n - 1]) | (n < MaxLength ? s.from[n + 1] : 0);
    s.inside = s.from[2] | carried;
    std::uint64_t out = 0;
    for (int n = 2; n <= MaxLength; ++n) {
        s.inside |= s.from[n] << (n - 1);
        out |= s.from[n] >> (65 - n);
    }
    carried = out;
    return s;
}

// The sequences of a block by the permissive rule (of up to 6 bytes), for
// the default mode and -w, where only their count and the lanes they cover
// matter.
struct PermissiveStarts {
    std::uint64_t sequences;  // lanes where a sequence starts
    std::uint64_t inside;     // lanes in a sequence, its own or one of the block before
    bool only_pairs;          // every sequence has two bytes
};

// A block of pairs only (a lead C0..DF followed by a continuation byte) is
// every block of European prose, in UTF-8 or not. Its sequences are the
// leads followed by a continuation byte, found by two compares. Sets
// only_pairs to false, and leaves carried alone, when a byte E0..FF is
// followed by a continuation byte: the block may hold a longer sequence.
TEXTMEND_AVX512 inline PermissiveStarts pair_starts(__m512i v, __m512i next, std::uint64_t& carried,
                                                    const InspectConstants& k) {
    const std::uint64_t continued = _mm512_cmplt_epi8_mask(next, k.c0);
    const std::uint64_t led = _mm512_mask_cmpge_epu8_mask(continued, v, k.c0);
    if (_mm512_mask_cmpge_epu8_mask(led, v, k.e0) != 0) return {0, 0, false};
    const PermissiveStarts s{led, led | (led << 1) | carried, true};
    carried = led >> 63;
    return s;
}

// Any block, with the vector work cut to compares: where the bytes
// p+1..p+68 are continuation bytes (two loads), and which bytes lie at or
// above each length's first lead; the rest is done on the masks in general
// registers.
TEXTMEND_AVX512 inline PermissiveStarts permissive_starts(const std::uint8_t* p, __m512i v,
                                                          __m512i next, std::uint64_t& carried,
                                                          const InspectConstants& k) {
    const std::uint64_t lo = _mm512_cmplt_epi8_mask(next, k.c0);  // p+1..p+64
    const std::uint64_t hi = _mm512_cmplt_epi8_mask(_mm512_loadu_si512(p + 5), k.c0) >> 60;
    std::uint64_t continues[6];  // continues[j]: bytes 1..j after the lane are
    continues[1] = lo;
    for (int j = 2; j < 6; ++j)
        continues[j] = continues[j - 1] & ((lo >> (j - 1)) | (hi << (65 - j)));
    // at_least[n]: bytes at or above the first lead of length n; FE and FF
    // lead nothing.
    const std::uint64_t at_least[8] = {0,
                                       0,
                                       _mm512_cmpge_epu8_mask(v, k.c0),
                                       _mm512_cmpge_epu8_mask(v, k.e0),
                                       _mm512_cmpge_epu8_mask(v, k.f0),
                                       _mm512_cmpge_epu8_mask(v, k.f8),
                                       _mm512_cmpge_epu8_mask(v, k.fc),
                                       _mm512_cmpge_epu8_mask(v, k.fe)};
    // from: lanes where a sequence of n or more bytes starts; such a
    // sequence covers the lane n - 1 after its lead.
    std::uint64_t from = 0, inside = carried, out = 0;
    for (int n = 6; n >= 2; --n) {
        from |= at_least[n] & ~at_least[n + 1] & continues[n - 1];
        inside |= from << (n - 1);
        out |= from >> (65 - n);
    }
    const std::uint64_t sequences = from;
    inside |= sequences;
    carried = out;
    // As pair_starts tells it, so that the two loops below agree on which
    // blocks hold pairs only.
    return {sequences, inside, (at_least[3] & continues[1]) == 0};
}

// The blocks of one span, as BlockWalk in the AVX2 kernel: the state's
// offset is that of start.
struct WideWalk {
    InspectState& state;
    const std::uint8_t* start;
    const std::uint8_t* end;

    // While findings are still to be reported, the lines of a block whose
    // units need no reporting.
    TEXTMEND_AVX512 void count_lines(const std::uint8_t* p, __m512i v, const InspectConstants& k) {
        if (state.units_to_report == 0) return;
        const std::uint64_t newlines = _mm512_cmpeq_epi8_mask(v, k.newline);
        state.line += count(newlines);
        const std::uint64_t after_last =
            state.offset + static_cast<std::uint64_t>(p - start) +
            static_cast<std::uint64_t>(64 - __builtin_clzll(newlines | 1));
        state.line_start = newlines != 0 ? after_last : state.line_start;
    }

    // An ASCII block at p (high: its high bytes): nothing to count but
    // lines, and p moves past it. No sequence reaches into it.
    TEXTMEND_AVX512 bool passes_ascii_block(const std::uint8_t*& p, __m512i v, std::uint64_t high,
                                            std::uint64_t& carried, const InspectConstants& k) {
        if (high != 0) return false;
        count_lines(p, v, k);
        carried = 0;
        p += WIDE_BLOCK;
        return true;
    }

    // Walks the block at p unit by unit, from its first lead position (after
    // the lanes carried in); returns the lead position after it.
    TEXTMEND_AVX512 const std::uint8_t* walk(const std::uint8_t* p, std::uint64_t carried) {
        const std::uint8_t* lead = p + __builtin_ctzll(~carried);
        state.offset += static_cast<std::uint64_t>(lead - start);
        start = inspect_units(state, lead, p + WIDE_BLOCK, end, false);
        return start;
    }

    TEXTMEND_AVX512 void finish(const std::uint8_t* p) {
        state.offset += static_cast<std::uint64_t>(p - start);
    }
};

// Of the lone bytes, those 80..9F that have the flag. Without a branch on
// whether there are any: in mixed text it goes either way at random
// (measured in memory: mixed prose 16-22 % faster with -w and -u, random
// bytes 19 % with -u; Latin-1 prose, which has few such bytes, 16 % slower
// with -u, still faster than the file is read).
TEXTMEND_AVX512 inline std::uint64_t lone_flagged(__m512i v, std::uint64_t lone, __m512i flag,
                                                  const InspectConstants& k) {
    const std::uint64_t c1 = lone & wide_in_range(v, k.c1_range);
    return _mm512_mask_test_epi8_mask(c1, _mm512_permutexvar_epi8(v, k.lone_flags), flag);
}

// -u: lone high bytes change (or are copied and kept, where Windows-1252
// has no character); well-formed sequences that are not valid UTF-8 are
// kept.
TEXTMEND_AVX512_ENTRY const std::uint8_t* utf8_blocks(InspectState& state, const std::uint8_t* p,
                                                      const std::uint8_t* end) {
    const InspectConstants k = inspect_constants(MODE_UTF8);
    WideWalk walk{state, p, end};
    std::uint64_t carried = 0;
    while (end - p >= BLOCK_REACH) {
        const __m512i v = _mm512_loadu_si512(p);
        const std::uint64_t high = _mm512_movepi8_mask(v);
        if (walk.passes_ascii_block(p, v, high, carried, k)) continue;
        const std::uint64_t carried_in = carried;
        const WideStarts s = wide_starts<4>(p, v, carried, k);
        const std::uint64_t lone = high & ~s.inside;
        std::uint64_t invalid = 0;
        if (s.from[3] != 0) {
            const __m512i next = _mm512_loadu_si512(p + 1);
            for (std::size_t i = 0; i < INVALID_FORMS.size(); ++i) {
                const std::uint64_t leads = _mm512_cmpeq_epi8_mask(v, k.invalid_leads[i]);
                invalid |= leads & wide_in_range(next, k.invalid_seconds[i]);
            }
            invalid &= s.from[3];
        }
        if ((lone | invalid) != 0 && state.units_to_report > 0) {
            p = walk.walk(p, carried_in);
            carried = 0;
            continue;
        }
        walk.count_lines(p, v, k);
        const std::uint64_t undefined = lone_flagged(v, lone, k.undefined, k);
        const std::uint64_t changed = lone & ~undefined;
        state.changed += count(changed);
        state.kept += count(undefined) + count(invalid);
        state.growth += static_cast<std::int64_t>(
            count(changed) + count(lone_flagged(v, changed, k.three_bytes, k)));
        p += WIDE_BLOCK;
    }
    // A sequence counted in the last block may reach past it: go on after it.
    p += __builtin_ctzll(~carried);
    walk.finish(p);
    return p;
}

// What the blocks of the default mode and -w counted, added to the state
// before a block is walked and at the end: kept in registers meanwhile.
struct BlockCounts {
    std::uint64_t changed = 0, kept = 0, shrink = 0;
};

TEXTMEND_AVX512 inline void add_counts(InspectState& state, BlockCounts& counts) {
    state.changed += counts.changed;
    state.kept += counts.kept;
    state.growth -= static_cast<std::int64_t>(counts.shrink);
    counts = {};
}

// The default mode and -w (Windows): every sequence is a unit, changed when
// its code point has a byte in the target set; with -w a lone byte that
// Windows-1252 leaves undefined is kept too. Counts the block at p (next:
// the bytes one past it; s: its sequences), or walks it when it holds a
// finding to report; returns the position after it.
template <bool Windows>
TEXTMEND_AVX512 inline const std::uint8_t* count_single_byte_block(
    WideWalk& walk, BlockCounts& counts, const std::uint8_t* p, __m512i v, __m512i next,
    std::uint64_t high, const PermissiveStarts& s, std::uint64_t& carried, std::uint64_t carried_in,
    const InspectConstants& k) {
    InspectState& state = walk.state;
    const std::uint64_t undefined = Windows ? lone_flagged(v, high & ~s.inside, k.undefined, k) : 0;
    if ((s.sequences | undefined) != 0 && state.units_to_report > 0) {
        add_counts(state, counts);
        carried = 0;
        return walk.walk(p, carried_in);
    }
    walk.count_lines(p, v, k);
    // Only sequences with a candidate lead can change. The common ones are
    // the pairs with lead C0..C3, all of which change but C2 followed by
    // 80..9F; the few others are decoded.
    const std::uint64_t candidates =
        nibble_lanes(v, k.candidate_high, k.candidate_low, k.nibble) & s.sequences;
    const std::uint64_t pairs = wide_in_range(v, k.pairs_below_0x100);
    const std::uint64_t c1_controls =
        _mm512_cmpeq_epi8_mask(v, k.c1_control_lead) & wide_in_range(next, k.c1_range);
    const std::uint64_t pairs_changed = count(candidates & pairs & ~c1_controls);
    std::int64_t decoded = 0, decoded_shrink = 0;
    const std::uint64_t others = candidates & ~pairs;
    if (others != 0) count_decoded_changes(p, others, state.mode, decoded, decoded_shrink);
    const std::uint64_t changed = pairs_changed + static_cast<std::uint64_t>(decoded);
    counts.changed += changed;
    counts.kept += count(s.sequences) - changed + count(undefined);
    counts.shrink += pairs_changed + static_cast<std::uint64_t>(decoded_shrink);
    return p + WIDE_BLOCK;
}

// Blocks of pairs only are found by two compares, but trying that on every
// block costs a mispredicted branch where longer sequences are common
// (random bytes, Chinese). So there are two loops: one over runs of blocks
// of pairs, one over the others, until PAIRS_AGAIN blocks in a row held
// pairs only (or were ASCII). Each is left only when the kind of text
// changes for a while.
template <bool Windows>
TEXTMEND_AVX512_ENTRY const std::uint8_t* single_byte_blocks(InspectState& state,
                                                             const std::uint8_t* p,
                                                             const std::uint8_t* end) {
    constexpr int PAIRS_AGAIN = 8;
    const InspectConstants k = inspect_constants(Windows ? MODE_CP1252 : MODE_LATIN1);
    WideWalk walk{state, p, end};
    BlockCounts counts;
    std::uint64_t carried = 0;
    while (end - p >= BLOCK_REACH) {
        while (end - p >= BLOCK_REACH) {
            const __m512i v = _mm512_loadu_si512(p);
            const std::uint64_t high = _mm512_movepi8_mask(v);
            if (walk.passes_ascii_block(p, v, high, carried, k)) continue;
            const std::uint64_t carried_in = carried;
            const __m512i next = _mm512_loadu_si512(p + 1);
            const PermissiveStarts s = pair_starts(v, next, carried, k);
            if (!s.only_pairs) break;
            p = count_single_byte_block<Windows>(walk, counts, p, v, next, high, s, carried,
                                                 carried_in, k);
        }
        for (int pairs_in_row = 0; pairs_in_row < PAIRS_AGAIN && end - p >= BLOCK_REACH;) {
            const __m512i v = _mm512_loadu_si512(p);
            const std::uint64_t high = _mm512_movepi8_mask(v);
            ++pairs_in_row;
            if (walk.passes_ascii_block(p, v, high, carried, k)) continue;
            const std::uint64_t carried_in = carried;
            const __m512i next = _mm512_loadu_si512(p + 1);
            const PermissiveStarts s = permissive_starts(p, v, next, carried, k);
            pairs_in_row = s.only_pairs ? pairs_in_row : 0;
            p = count_single_byte_block<Windows>(walk, counts, p, v, next, high, s, carried,
                                                 carried_in, k);
        }
    }
    add_counts(state, counts);
    // A sequence counted in the last block may reach past it: go on after it.
    p += __builtin_ctzll(~carried);
    walk.finish(p);
    return p;
}

}  // namespace

TEXTMEND_AVX512_ENTRY const std::uint8_t* inspect_blocks_avx512(InspectState& state,
                                                                const std::uint8_t* p,
                                                                const std::uint8_t* end) {
    if (end - p < BLOCK_REACH) return p;
    switch (state.mode) {
        case MODE_UTF8:
            return utf8_blocks(state, p, end);
        case MODE_CP1252:
            return single_byte_blocks<true>(state, p, end);
        default:
            return single_byte_blocks<false>(state, p, end);
    }
}

}  // namespace textmend

#endif
