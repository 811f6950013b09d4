// Counting the units of 64-byte blocks from lane masks: the inspection loop
// of the AVX-512 and the AVX2 kernels. Every class of a block's lanes is a
// 64-bit mask: where sequences start (a lead followed by the continuation
// bytes of its length), which lanes they cover (by shifts of the masks, the
// lanes a sequence of the block before reaches carried in), which high bytes
// stand alone. The vector work is mostly compares; the masks are combined in
// general registers, and the counts are population counts of masks. A block
// with a finding still to be reported is walked unit by unit.
//
// The vector operations come from the kernel, as a type Ops with:
//   Block, Constants       a block of 64 bytes; the loop's constants
//   constants(mode)        built once per call
//   Threshold, threshold(byte)   a byte to compare with, for at_least
//   load(p)                the block at p
//   high(v)                its lanes 80..FF
//   continuation(v, k)     its lanes 80..BF
//   at_least(v, t)         its lanes at or above the threshold t
//   at_least(mask, v, t)   the same, of the lanes in mask
//   may_reach(v, t)        false when no lane is at or above t (a kernel
//                          whose masks cost little may always say true)
//   newlines(v, k)         its lanes 0A
//   lone_flagged(v, lone, flag, k)   of lone, the bytes 80..9F with the
//                                    LONE_FLAGS flag
//   changing_pairs(sequences, v, next, k)   of the sequences, the pairs of
//                          leads C0..C3 that change (all but C2 80..9F)
//   lead_pairs<Leads, Mode>(sequences, v, next, k)   of the sequences,
//                          those whose first two bytes may be a lead pair of
//                          the mode (a superset is fine: they are decoded);
//                          Leads (PairLeads) tells how to look for them
//   invalid(longer, v, next, k)   of the strict sequences of three or more
//                          bytes, those that are not valid UTF-8
//   run_starts(p, v, k)    where a run of text encoded twice may start,
//                          exactly as the set's find_double_run_start tells it
// Constants derives from LeadThresholds of the kernel's Threshold (the
// thresholds k.c0 .. k.fe, made by lead_thresholds). Every function of the
// kernel and of this file carries the kernel's target, TEXTMEND_MASK_KERNEL,
// which the kernel defines before it includes this file (its intrinsics can
// only be inlined into functions of that target). Included by one kernel
// file each.
#pragma once

#ifndef TEXTMEND_MASK_KERNEL
#error "define TEXTMEND_MASK_KERNEL as the kernel's target attribute first"
#endif

#include <array>
#include <cstddef>
#include <cstdint>

#include "convert/byte_tables.hpp"
#include "convert/inspect_blocks.hpp"
#include "encoding/lead_ranges.hpp"
#include "kernels/simd_support.hpp"

namespace textmend::mask_inspect {

// Bytes in one block, one lane per bit of a mask.
inline constexpr std::ptrdiff_t MASK_BLOCK = 64;

// A block is taken only when a block's length lies after it too: the
// sequences are found with bytes up to five past the block.
inline constexpr std::ptrdiff_t BLOCK_REACH = 2 * MASK_BLOCK;

TEXTMEND_MASK_KERNEL inline std::uint64_t count(std::uint64_t lanes) {
    return static_cast<std::uint64_t>(__builtin_popcountll(lanes));
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

inline constexpr std::array<std::uint8_t, 64> LONE_FLAGS = make_lone_flags();

// The leads of each length follow one another, so a lead's length is told
// by compares with the first lead of each length (any_starts); the strict
// rule's leads of three and four bytes start where the permissive rule's do.
constexpr bool leads_follow_one_another() {
    for (std::size_t n = 2; n + 1 < PERMISSIVE_LEADS.size(); ++n) {
        if (PERMISSIVE_LEADS[n + 1].first != PERMISSIVE_LEADS[n].last + 1) return false;
    }
    for (std::size_t n = 2; n + 1 < STRICT_LEADS.size(); ++n) {
        if (STRICT_LEADS[n + 1].first != STRICT_LEADS[n].last + 1) return false;
    }
    return STRICT_LEADS[3].first == PERMISSIVE_LEADS[3].first &&
           STRICT_LEADS[4].first == PERMISSIVE_LEADS[4].first;
}
static_assert(leads_follow_one_another());

// The invalid second bytes of each of INVALID_FORMS lie at one end of
// 80..BF, and the forms' leads are of three and four bytes: each kernel's
// invalid tells them by one bound per lead.
constexpr bool invalid_forms_are_bounded() {
    for (const InvalidForm& form : INVALID_FORMS) {
        if (form.second.first != 0x80 && form.second.last != 0xBF) return false;
        if (form.lead < 0xE0) return false;
    }
    return true;
}
static_assert(invalid_forms_are_bounded());

// The leads of the pairs below 0x100 are candidates in both modes, and in
// the default mode they are the only leads of two-byte sequences that are:
// so the pairs that may change are those pairs, and the other sequences
// that may are found by their first two bytes (LeadPairBits).
constexpr bool pair_candidates_are_leads_below_0x100() {
    for (int lead = 0xC0; lead <= 0xDF; ++lead) {
        const bool below = LEADS_BELOW_0X100.contains(lead);
        if ((LATIN1_LEADS.member[static_cast<std::size_t>(lead)] != 0) != below) return false;
        if (below && CP1252_LEADS.member[static_cast<std::size_t>(lead)] == 0) return false;
    }
    return true;
}
static_assert(pair_candidates_are_leads_below_0x100());

// The lead pairs (the other sequences that may change) have leads C4 and
// above, so a sequence is counted by changing_pairs or by lead_pairs, never
// by both.
constexpr bool lead_pairs_lie_above_the_pairs_below_0x100() {
    for (const LeadPairs* set : {&LATIN1_LEAD_PAIRS, &CP1252_LEAD_PAIRS}) {
        for (int i = 0; i < set->count; ++i) {
            if (LEADS_BELOW_0X100.contains(set->pairs[static_cast<std::size_t>(i)][0]))
                return false;
        }
    }
    return true;
}
static_assert(lead_pairs_lie_above_the_pairs_below_0x100());

// How common the lead pairs' leads are in a block, which tells lead_pairs
// how to look for them.
enum class PairLeads {
    common,  // look at the leads and the second bytes at once
    rare,    // a first look at the sequences' leads alone saves the rest
    whole,   // rare, in a block whose every lead starts a sequence of up to
             // four bytes: the block's bytes tell it without the sequences
};

// Lead thresholds, named by their bytes: the first lead of each length by
// either rule, and the bytes after the last leads (F5, FE).
template <typename Threshold>
struct LeadThresholds {
    Threshold c0, c2, e0, f0, f5, f8, fc, fe;
};

template <typename Ops>
TEXTMEND_MASK_KERNEL inline LeadThresholds<typename Ops::Threshold> lead_thresholds() {
    return {
        Ops::threshold(PERMISSIVE_LEADS[2].first), Ops::threshold(STRICT_LEADS[2].first),
        Ops::threshold(PERMISSIVE_LEADS[3].first), Ops::threshold(PERMISSIVE_LEADS[4].first),
        Ops::threshold(STRICT_LEADS[4].last + 1),  Ops::threshold(PERMISSIVE_LEADS[5].first),
        Ops::threshold(PERMISSIVE_LEADS[6].first), Ops::threshold(PERMISSIVE_LEADS[6].last + 1)};
}

// The sequences of a block: where they start, which lanes they cover.
struct BlockStarts {
    std::uint64_t sequences;  // lanes where a sequence starts
    std::uint64_t longer;     // of those, the sequences of three or more bytes
    std::uint64_t inside;     // lanes in a sequence, its own or one of the block before
    bool only_pairs;          // no byte E0..FF is followed by a continuation byte
};

// A block of pairs only (no byte E0..FF followed by a continuation byte) is
// every block of European prose, in UTF-8 or not: its sequences are the
// leads followed by a continuation byte (from C0 by the permissive rule,
// from C2 by the strict one), found by a few compares. When the block is
// not one, returns only_pairs false and leaves carried alone. carried holds
// the lanes of this block that a sequence of the block before reaches, and
// is set to those of the next block that this block's reach.
template <typename Ops, bool Strict>
TEXTMEND_MASK_KERNEL inline BlockStarts pair_starts(typename Ops::Block v, typename Ops::Block next,
                                                    std::uint64_t& carried,
                                                    const typename Ops::Constants& k) {
    const std::uint64_t continued = Ops::continuation(next, k);
    const std::uint64_t led = Ops::at_least(continued, v, k.c0);
    if (Ops::at_least(led, v, k.e0) != 0) return {0, 0, 0, false};
    const std::uint64_t pairs = Strict ? Ops::at_least(led, v, k.c2) : led;
    const BlockStarts s{pairs, 0, pairs | (pairs << 1) | carried, true};
    carried = pairs >> 63;
    return s;
}

// The sequences of up to MaxLength bytes of a block, from continues[j]
// (the lanes followed by j continuation bytes) and at_least[n] (the bytes at
// or above the first lead of length n; at_least[MaxLength + 1], those above
// the last lead taken). carried as for pair_starts.
template <int MaxLength>
TEXTMEND_MASK_KERNEL inline BlockStarts starts_up_to(const std::uint64_t* continues,
                                                     const std::uint64_t* at_least,
                                                     std::uint64_t& carried) {
    // from: lanes where a sequence of n or more bytes starts; each covers
    // the lane n - 1 after its lead.
    std::uint64_t from = 0, longer = 0, inside = carried, out = 0;
    for (int n = MaxLength; n >= 2; --n) {
        from |= at_least[n] & ~at_least[n + 1] & continues[n - 1];
        if (n == 3) longer = from;
        inside |= from << (n - 1);
        out |= from >> (65 - n);
    }
    carried = out;
    // only_pairs as pair_starts tells it, so that the two loops below agree
    // on which blocks hold pairs only.
    return {from, longer, inside | from, (at_least[3] & continues[1]) == 0};
}

// Any block: where the bytes p+1..p+68 are continuation bytes (two loads),
// and which bytes lie at or above the first lead of each length, by
// compares; the rest is done on the masks in general registers. Sequences
// have up to 4 bytes by the strict rule, 6 by the permissive one; but the
// leads of 5 and 6 bytes (F8..FD) followed by as many continuation bytes
// are rare even in random bytes, so the permissive rule looks for them
// only in a block where a byte F8 or above is followed by three (random
// bytes 1.13-1.29 times as fast in memory).
template <typename Ops, bool Strict>
TEXTMEND_MASK_KERNEL inline BlockStarts any_starts(const std::uint8_t* p, typename Ops::Block v,
                                                   typename Ops::Block next, std::uint64_t& carried,
                                                   const typename Ops::Constants& k) {
    constexpr int MAX_LENGTH = Strict ? 4 : 6;
    const std::uint64_t lo = Ops::continuation(next, k);                    // p+1..p+64
    const std::uint64_t hi = Ops::continuation(Ops::load(p + 5), k) >> 60;  // p+65..p+68
    std::uint64_t
        continues[std::size_t{MAX_LENGTH}];  // continues[j]: bytes 1..j after the lane are
    continues[1] = lo;
    for (int j = 2; j < 4; ++j)
        continues[j] = continues[j - 1] & ((lo >> (j - 1)) | (hi << (65 - j)));
    std::uint64_t at_least[std::size_t{MAX_LENGTH} + 2] = {};
    at_least[2] = Ops::at_least(v, Strict ? k.c2 : k.c0);
    at_least[3] = Ops::at_least(v, k.e0);
    at_least[4] = Ops::at_least(v, k.f0);
    at_least[5] = Ops::at_least(v, Strict ? k.f5 : k.f8);
    if constexpr (!Strict) {
        if ((at_least[5] & continues[3]) != 0) {
            for (int j = 4; j < MAX_LENGTH; ++j)
                continues[j] = continues[j - 1] & ((lo >> (j - 1)) | (hi << (65 - j)));
            at_least[6] = Ops::at_least(v, k.fc);
            at_least[7] = Ops::at_least(v, k.fe);
            return starts_up_to<6>(continues, at_least, carried);
        }
    }
    return starts_up_to<4>(continues, at_least, carried);
}

// A block whose high bytes all belong to sequences of up to four bytes
// (UTF-8 text of any script) is parsed by the permissive rule with fewer
// operations than any_starts needs: its leads start sequences exactly when
// the continuation bytes lie where the leads' lengths put them, the lanes the
// block before reaches included, and the bytes after the block continue the
// sequences that reach past it. Sets s and carried as any_starts<false> would
// and returns true for such a block; returns false, both left alone, for any
// other (a lone byte, a cut sequence, a lead of five or six bytes).
template <typename Ops>
TEXTMEND_MASK_KERNEL inline bool whole_sequence_starts(const std::uint8_t* p, typename Ops::Block v,
                                                       std::uint64_t& carried,
                                                       const typename Ops::Constants& k,
                                                       BlockStarts& s) {
    const std::uint64_t continuation = Ops::continuation(v, k);
    const std::uint64_t leads = Ops::at_least(v, k.c0);
    const std::uint64_t three = Ops::at_least(v, k.e0);
    // Leads of four bytes and more are rare in text (emoji, old scripts):
    // one test tells a block without any, whose masks of them are empty
    // (AVX2 dense UTF-8 1.2 times as fast).
    const bool four_or_more = Ops::may_reach(v, k.f0);
    const std::uint64_t four = four_or_more ? Ops::at_least(v, k.f0) : 0;
    const std::uint64_t beyond = four_or_more ? Ops::at_least(v, k.f8) : 0;
    const std::uint64_t covered = carried | leads << 1 | three << 2 | four << 3;
    const std::uint64_t reaching = leads >> 63 | three >> 62 | four >> 61;
    const std::uint64_t following =  // continuation bytes among the three after the block
        Ops::continuation(Ops::load(p + 3), k) >> 61;
    if (((covered ^ continuation) | beyond | (reaching & ~following)) != 0) return false;
    s = {leads, three, covered | leads, three == 0};
    carried = reaching;
    return true;
}

// What the blocks counted, kept in registers and added to the state before
// a block is walked and at the end; and whether findings are still to be
// reported, in which case the lines are counted too. Where the last line
// starts is looked up only then, from lines_from on: followed block by block,
// it made a chain of dependent instructions through the loop (ASCII and
// clean UTF-8, which report throughout, ran at half the speed).
//
// A block adds as few counts as it can: the units (changed or kept) and the
// changes; the units kept are the difference, and the growth is the mode's
// growth_per_change for each change plus what growth holds beyond that.
struct BlockCounts {
    std::uint64_t changed = 0, units = 0, lines = 0;
    std::int64_t growth = 0;
    std::int64_t growth_per_change = 0;
    const std::uint8_t* lines_from = nullptr;  // where the lines counted begin
    bool reporting = false;
};

// The last 0A byte in [from, upto), which holds one.
template <typename Ops>
TEXTMEND_MASK_KERNEL inline const std::uint8_t* last_newline(const std::uint8_t* from,
                                                             const std::uint8_t* upto,
                                                             const typename Ops::Constants& k) {
    const std::uint8_t* q = upto;
    for (; q - from >= MASK_BLOCK; q -= MASK_BLOCK) {
        const std::uint64_t newlines = Ops::newlines(Ops::load(q - MASK_BLOCK), k);
        if (newlines != 0) return q - 1 - __builtin_clzll(newlines);
    }
    while (*--q != '\n') {
    }
    return q;
}

// The blocks of one span: the state's offset is that of start; walking a
// block unit by unit moves both on.
template <typename Ops>
struct MaskWalk {
    using Block = typename Ops::Block;
    using Constants = typename Ops::Constants;

    InspectState& state;
    const std::uint8_t* start;
    const std::uint8_t* end;

    TEXTMEND_MASK_KERNEL std::uint64_t offset_of(const std::uint8_t* p) const {
        return state.offset + static_cast<std::uint64_t>(p - start);
    }

    // Adds the counts of the blocks before upto to the state.
    TEXTMEND_MASK_KERNEL void add_counts(BlockCounts& counts, const std::uint8_t* upto,
                                         const Constants& k) {
        state.changed += counts.changed;
        state.kept += counts.units - counts.changed;
        state.growth +=
            counts.growth_per_change * static_cast<std::int64_t>(counts.changed) + counts.growth;
        state.line += counts.lines;
        if (counts.lines != 0)
            state.line_start = offset_of(last_newline<Ops>(counts.lines_from, upto, k)) + 1;
        counts = BlockCounts{.growth_per_change = counts.growth_per_change,
                             .lines_from = upto,
                             .reporting = counts.reporting};
    }

    // While findings are still to be reported, the lines of a block whose
    // units need no reporting.
    TEXTMEND_MASK_KERNEL static void count_lines(BlockCounts& counts, Block v, const Constants& k) {
        if (counts.reporting) counts.lines += count(Ops::newlines(v, k));
    }

    // An ASCII block at p (high: its high bytes): nothing to count but
    // lines, and p moves past it. No sequence reaches into it.
    TEXTMEND_MASK_KERNEL static bool passes_ascii_block(BlockCounts& counts, const std::uint8_t*& p,
                                                        Block v, std::uint64_t high,
                                                        std::uint64_t& carried,
                                                        const Constants& k) {
        if (high != 0) return false;
        count_lines(counts, v, k);
        carried = 0;
        p += MASK_BLOCK;
        return true;
    }

    // Walks the block at p unit by unit, from its first lead position (after
    // the lanes carried in), with the counts so far added to the state;
    // returns the lead position after it.
    TEXTMEND_MASK_KERNEL const std::uint8_t* walk(BlockCounts& counts, const std::uint8_t* p,
                                                  std::uint64_t carried, const Constants& k) {
        add_counts(counts, p, k);
        const std::uint8_t* lead = p + __builtin_ctzll(~carried);
        state.offset += static_cast<std::uint64_t>(lead - start);
        start = inspect_units(state, lead, p + MASK_BLOCK, end, false);
        counts.lines_from = start;
        counts.reporting = state.units_to_report > 0;
        return start;
    }

    // The counts added, and the state's offset moved to p, where the blocks end.
    TEXTMEND_MASK_KERNEL void finish(BlockCounts& counts, const std::uint8_t* p,
                                     const Constants& k) {
        add_counts(counts, p, k);
        state.offset += static_cast<std::uint64_t>(p - start);
    }
};

// What is known of a block's sequences before it is counted: all of them
// are pairs (pair_starts), or every high byte belongs to one of up to four
// bytes (whole_sequence_starts), or nothing (any_starts).
enum class Blocks { pairs, whole, any };

// The default mode and -w (Windows): every sequence (by the permissive
// rule) is a unit, changed when its code point has a byte in the target
// set; with -w a lone byte that Windows-1252 leaves undefined is kept too.
template <typename Ops, bool Windows>
struct SingleByteUnits {
    using Block = typename Ops::Block;
    using Constants = typename Ops::Constants;
    static constexpr bool STRICT = false;
    static constexpr OutputMode MODE = Windows ? MODE_CP1252 : MODE_LATIN1;
    static constexpr std::int64_t GROWTH_PER_CHANGE = -1;  // a pair becomes a byte

    // The lone bytes that -w keeps: none where every high byte belongs to
    // a sequence.
    template <Blocks Kind>
    TEXTMEND_MASK_KERNEL static std::uint64_t undefined(Block v, std::uint64_t high,
                                                        const BlockStarts& s, const Constants& k) {
        if constexpr (!Windows || Kind == Blocks::whole) return 0;
        return Ops::lone_flagged(v, high & ~s.inside, UNDEFINED, k);
    }

    // The units of a block (s: its sequences), to be reported; when there
    // are none, there is nothing to count either.
    template <Blocks Kind>
    TEXTMEND_MASK_KERNEL static std::uint64_t findings(Block v, Block, std::uint64_t high,
                                                       const BlockStarts& s, const Constants& k) {
        return s.sequences | undefined<Kind>(v, high, s, k);
    }

    // Counts the block at p (next: the bytes one past it) into counts.
    template <Blocks Kind>
    TEXTMEND_MASK_KERNEL static void count_block(BlockCounts& counts, const std::uint8_t* p,
                                                 Block v, Block next, std::uint64_t high,
                                                 const BlockStarts& s, const Constants& k) {
        const std::uint64_t undefined = SingleByteUnits::undefined<Kind>(v, high, s, k);
        // A block of pairs without a sequence (Latin-1 text) has nothing
        // else to count. Taken as a branch: in Latin-1 text it is nearly
        // always taken (16-21 % faster in memory), in UTF-8 prose it goes
        // either way (4-5 % slower), in mixed prose by paragraphs.
        if (Kind == Blocks::pairs && s.sequences == 0) {
            counts.units += count(undefined);
            return;
        }
        // Only sequences with a candidate lead can change. The common ones
        // are the pairs with lead C0..C3, all of which change but C2
        // followed by 80..9F. Of the others only those whose first two
        // bytes are one of the target set's lead pairs can, and those are
        // decoded; in the default mode no pair of only two bytes is one.
        const std::uint64_t pairs_changed = count(Ops::changing_pairs(s.sequences, v, next, k));
        std::int64_t decoded = 0, decoded_shrink = 0;
        // The lead pairs' leads are rare (the default mode's are E0, F0, F8
        // and FC) but for -w in random bytes, where a first look for them
        // alone is a branch that goes either way.
        constexpr PairLeads LEADS = Kind == Blocks::whole            ? PairLeads::whole
                                    : Windows && Kind == Blocks::any ? PairLeads::common
                                                                     : PairLeads::rare;
        if (Windows || Kind != Blocks::pairs) {
            const std::uint64_t others =
                Ops::template lead_pairs<LEADS, MODE>(s.sequences, v, next, k);
            if (others != 0) {
                count_decoded_changes(p, others, MODE, decoded, decoded_shrink);
                counts.growth -= decoded_shrink - decoded;  // beyond a byte per change
            }
        }
        counts.changed += pairs_changed + static_cast<std::uint64_t>(decoded);
        counts.units += count(s.sequences) + count(undefined);
    }
};

// -u: lone high bytes change (or are copied and kept, where Windows-1252
// has no character); well-formed sequences (by the strict rule) that are
// not valid UTF-8 are kept.
template <typename Ops>
struct Utf8Units {
    using Block = typename Ops::Block;
    using Constants = typename Ops::Constants;
    static constexpr bool STRICT = true;
    static constexpr OutputMode MODE = MODE_UTF8;
    static constexpr std::int64_t GROWTH_PER_CHANGE = 1;  // a byte becomes a pair

    // Of the sequences of three or more bytes, those that are not valid UTF-8.
    template <Blocks Kind>
    TEXTMEND_MASK_KERNEL static std::uint64_t invalid(Block v, Block next, const BlockStarts& s,
                                                      const Constants& k) {
        if constexpr (Kind == Blocks::pairs) return 0;
        return Ops::invalid(s.longer, v, next, k);
    }

    template <Blocks Kind>
    TEXTMEND_MASK_KERNEL static std::uint64_t findings(Block v, Block next, std::uint64_t high,
                                                       const BlockStarts& s, const Constants& k) {
        return (high & ~s.inside) | invalid<Kind>(v, next, s, k);
    }

    template <Blocks Kind>
    TEXTMEND_MASK_KERNEL static void count_block(BlockCounts& counts, const std::uint8_t*, Block v,
                                                 Block next, std::uint64_t high,
                                                 const BlockStarts& s, const Constants& k) {
        const std::uint64_t lone = high & ~s.inside;
        const std::uint64_t undefined = Ops::lone_flagged(v, lone, UNDEFINED, k);
        const std::uint64_t changed = lone & ~undefined;
        counts.changed += count(changed);
        counts.units += count(lone) + count(invalid<Kind>(v, next, s, k));
        counts.growth +=  // beyond a byte per change
            static_cast<std::int64_t>(count(Ops::lone_flagged(v, changed, THREE_BYTES, k)));
    }
};

// Counts the block at p, whose sequences are s (Kind: what is known of
// them), or walks it when it holds a finding still to be
// reported; returns the position after it.
template <typename Ops, typename Units, Blocks Kind>
TEXTMEND_MASK_KERNEL inline const std::uint8_t* count_or_walk(
    MaskWalk<Ops>& walk, BlockCounts& counts, const std::uint8_t* p, typename Ops::Block v,
    typename Ops::Block next, std::uint64_t high, const BlockStarts& s, std::uint64_t& carried,
    std::uint64_t carried_in, const typename Ops::Constants& k) {
    if (counts.reporting) {
        if (Units::template findings<Kind>(v, next, high, s, k) != 0) {
            carried = 0;
            return walk.walk(counts, p, carried_in, k);
        }
        MaskWalk<Ops>::count_lines(counts, v, k);
        return p + MASK_BLOCK;
    }
    Units::template count_block<Kind>(counts, p, v, next, high, s, k);
    return p + MASK_BLOCK;
}

// When runs of text encoded twice are looked for, the blocks stop before
// the first block in which one may start: the caller looks at it closely
// (convert/inspect.cpp). Scanning for them apart took as long as a third of
// the inspection.
template <typename Ops, bool StopAtRuns>
TEXTMEND_MASK_KERNEL inline bool run_may_start(const std::uint8_t* p, typename Ops::Block v,
                                               const typename Ops::Constants& k) {
    if constexpr (!StopAtRuns) return false;
    return Ops::run_starts(p, v, k) != 0;
}

// Blocks of pairs only are found by a few compares, but trying that on
// every block costs a mispredicted branch where longer sequences are common
// (random bytes, Chinese). So there are two loops: one over runs of blocks
// of pairs, one over the others until PAIRS_AGAIN blocks in a row held
// pairs only (or were ASCII). Each is left only when the kind of text
// changes for a while: 16 blocks, longer than a paragraph, so that text
// mixing Cyrillic and Chinese by paragraphs stays in the second loop (8
// blocks: 0.87-0.93 of the speed there, prose 1.00-1.03). In the second,
// a block after one without a lone byte is first parsed as one whose high
// bytes all belong to sequences (UTF-8 text of any script): that takes
// fewer operations than any_starts, where it holds.
template <typename Ops, typename Units, bool StopAtRuns>
TEXTMEND_MASK_KERNEL inline const std::uint8_t* count_blocks(InspectState& state,
                                                             const std::uint8_t* p,
                                                             const std::uint8_t* end) {
    using Block = typename Ops::Block;
    using Walk = MaskWalk<Ops>;
    constexpr int PAIRS_AGAIN = 16;
    const typename Ops::Constants k = Ops::constants(Units::MODE);
    Walk walk{state, p, end};
    BlockCounts counts{.growth_per_change = Units::GROWTH_PER_CHANGE,
                       .lines_from = p,
                       .reporting = state.units_to_report > 0};
    std::uint64_t carried = 0;
    bool whole = true;  // the last block of the second loop had no lone byte
    bool at_run = false;
    while (!at_run && end - p >= BLOCK_REACH) {
        while (end - p >= BLOCK_REACH) {
            prefetch_ahead(p);
            const Block v = Ops::load(p);
            const std::uint64_t high = Ops::high(v);
            if (Walk::passes_ascii_block(counts, p, v, high, carried, k)) continue;
            at_run = run_may_start<Ops, StopAtRuns>(p, v, k);
            if (at_run) break;
            const std::uint64_t carried_in = carried;
            const Block next = Ops::load(p + 1);
            const BlockStarts s = pair_starts<Ops, Units::STRICT>(v, next, carried, k);
            if (!s.only_pairs) break;
            p = count_or_walk<Ops, Units, Blocks::pairs>(walk, counts, p, v, next, high, s, carried,
                                                         carried_in, k);
        }
        for (int pairs_in_row = 0;
             !at_run && pairs_in_row < PAIRS_AGAIN && end - p >= BLOCK_REACH;) {
            prefetch_ahead(p);
            const Block v = Ops::load(p);
            const std::uint64_t high = Ops::high(v);
            ++pairs_in_row;
            if (Walk::passes_ascii_block(counts, p, v, high, carried, k)) continue;
            at_run = run_may_start<Ops, StopAtRuns>(p, v, k);
            if (at_run) break;
            const std::uint64_t carried_in = carried;
            const Block next = Ops::load(p + 1);
            BlockStarts s;
            // The strict rule's own parse (sequences of up to four bytes)
            // is cheap enough that -u gains nothing from this.
            if (!Units::STRICT && whole && whole_sequence_starts<Ops>(p, v, carried, k, s)) {
                pairs_in_row = s.only_pairs ? pairs_in_row : 0;
                p = count_or_walk<Ops, Units, Blocks::whole>(walk, counts, p, v, next, high, s,
                                                             carried, carried_in, k);
                continue;
            }
            s = any_starts<Ops, Units::STRICT>(p, v, next, carried, k);
            whole = (high & ~s.inside) == 0;
            pairs_in_row = s.only_pairs ? pairs_in_row : 0;
            p = count_or_walk<Ops, Units, Blocks::any>(walk, counts, p, v, next, high, s, carried,
                                                       carried_in, k);
        }
    }
    // A sequence counted in the last block may reach past it: go on after it.
    p += __builtin_ctzll(~carried);
    walk.finish(counts, p, k);
    return p;
}

template <typename Ops, typename Units>
TEXTMEND_MASK_KERNEL inline const std::uint8_t* count_blocks(InspectState& state,
                                                             const std::uint8_t* p,
                                                             const std::uint8_t* end) {
    return state.find_double ? count_blocks<Ops, Units, true>(state, p, end)
                             : count_blocks<Ops, Units, false>(state, p, end);
}

// The blocks from p on, in the state's mode; returns where they end (p
// when fewer than two blocks are left), or where the block begins in which
// a run may start, when the state looks for runs.
template <typename Ops>
TEXTMEND_MASK_KERNEL inline const std::uint8_t* inspect_blocks(InspectState& state,
                                                               const std::uint8_t* p,
                                                               const std::uint8_t* end) {
    if (end - p < BLOCK_REACH) return p;
    switch (state.mode) {
        case MODE_UTF8:
            return count_blocks<Ops, Utf8Units<Ops>>(state, p, end);
        case MODE_CP1252:
            return count_blocks<Ops, SingleByteUnits<Ops, true>>(state, p, end);
        default:
            return count_blocks<Ops, SingleByteUnits<Ops, false>>(state, p, end);
    }
}

}  // namespace textmend::mask_inspect
