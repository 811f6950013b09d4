// Counting the units of 32-byte blocks with AVX2. Each block is classified
// with the masks the bulk converters use: which lanes start a whole
// sequence, which lie inside one (sequences carried over from the block
// before included), which bytes stand alone. The counts follow from those
// masks by population counts; a block whose changes the masks cannot tell
// is walked unit by unit.
#include "kernels/avx2/avx2.hpp"

#ifdef TEXTMEND_HAVE_AVX2_PATH

#include <immintrin.h>

#include <array>
#include <cstring>

#include "convert/byte_tables.hpp"
#include "convert/inspect_blocks.hpp"
#include "encoding/target_byte.hpp"
#include "kernels/avx2/sequences.hpp"
#include "kernels/avx2/validation.hpp"

namespace textmend {

using namespace avx2;

namespace {

// A block is taken only when a block's length lies after it too: the
// classification reads up to five bytes past the block.
constexpr std::ptrdiff_t BLOCK_REACH = 2 * BLOCK;

TEXTMEND_AVX2 inline std::int64_t count(std::uint32_t lanes) {
    return _mm_popcnt_u32(lanes);
}

// What a lone byte 80..9F is in -u, as flag bits per low nibble: bit 0 when
// Windows-1252 leaves it undefined (it is copied, and kept), bit 1 when its
// character takes three bytes of UTF-8. Every other lone byte takes two.
enum : std::uint8_t { UNDEFINED = 1, THREE_BYTES = 2 };

constexpr std::array<std::uint8_t, 16> lone_flags(int high_nibble) {
    std::array<std::uint8_t, 16> flags{};
    for (int low = 0; low < 16; ++low) {
        const int length =
            UTF8_REPLACEMENTS[static_cast<std::size_t>(high_nibble << 4 | low)].length;
        flags[static_cast<std::size_t>(low)] = length == 1   ? UNDEFINED
                                               : length == 3 ? THREE_BYTES
                                                             : 0;
    }
    return flags;
}

constexpr std::array<std::uint8_t, 16> LONE_FLAGS_8X = lone_flags(0x8);
constexpr std::array<std::uint8_t, 16> LONE_FLAGS_9X = lone_flags(0x9);

struct LoneClassifier {
    __m256i flags_8x;
    __m256i flags_9x;
};

TEXTMEND_AVX2 inline LoneClassifier lone_classifier() {
    __m128i t8, t9;
    std::memcpy(&t8, LONE_FLAGS_8X.data(), 16);
    std::memcpy(&t9, LONE_FLAGS_9X.data(), 16);
    return {_mm256_broadcastsi128_si256(t8), _mm256_broadcastsi128_si256(t9)};
}

// Lanes of v whose byte is 80..9F and has the flag.
TEXTMEND_AVX2 inline std::uint32_t lanes_flagged(const LoneClassifier& c, __m256i v, int flag) {
    const __m256i low = _mm256_and_si256(v, splat(0x0F));
    const __m256i high = _mm256_and_si256(v, splat(0xF0));
    const __m256i flags = _mm256_or_si256(_mm256_and_si256(_mm256_shuffle_epi8(c.flags_8x, low),
                                                           _mm256_cmpeq_epi8(high, splat(0x80))),
                                          _mm256_and_si256(_mm256_shuffle_epi8(c.flags_9x, low),
                                                           _mm256_cmpeq_epi8(high, splat(0x90))));
    return mask_of(_mm256_cmpeq_epi8(_mm256_and_si256(flags, splat(flag)), splat(flag)));
}

// Whether a sequence may start in the block v (next holds the bytes one
// lane on): a lead followed by a continuation byte. Single-byte text has
// none, and finding where sequences start can be left out.
TEXTMEND_AVX2 inline bool may_start_sequences(__m256i v, __m256i next) {
    return (lead_lanes(v) & mask_of(is_continuation(next))) != 0;
}

// The blocks of one span. The state's offset is that of start; walking a
// block unit by unit moves both on.
struct BlockWalk {
    InspectState& state;
    const std::uint8_t* start;
    const std::uint8_t* end;

    // While findings are still to be reported, lines are counted: the 0A
    // bytes of a block whose units need no reporting.
    TEXTMEND_AVX2 void count_lines(const std::uint8_t* p, __m256i v) {
        if (state.units_to_report == 0) return;
        // Without a branch on whether the block has a line end: prose has
        // one every few blocks, which no guess follows.
        const std::uint32_t newlines = mask_of(_mm256_cmpeq_epi8(v, splat('\n')));
        state.line += static_cast<std::uint64_t>(count(newlines));
        const std::uint64_t after_last =
            state.offset + static_cast<std::uint64_t>(p - start) +
            static_cast<std::uint64_t>(32 - __builtin_clz(newlines | 1));
        state.line_start = newlines != 0 ? after_last : state.line_start;
    }

    // The same for the two blocks v and w from p on.
    TEXTMEND_AVX2 void count_lines(const std::uint8_t* p, __m256i v, __m256i w) {
        if (state.units_to_report == 0) return;
        const std::uint64_t newlines =
            mask_of(_mm256_cmpeq_epi8(v, splat('\n'))) |
            static_cast<std::uint64_t>(mask_of(_mm256_cmpeq_epi8(w, splat('\n')))) << 32;
        state.line += static_cast<std::uint64_t>(_mm_popcnt_u64(newlines));
        const std::uint64_t after_last =
            state.offset + static_cast<std::uint64_t>(p - start) +
            static_cast<std::uint64_t>(64 - __builtin_clzll(newlines | 1));
        state.line_start = newlines != 0 ? after_last : state.line_start;
    }

    // Walks the block at p unit by unit, from its first lead position (after
    // the bytes that a sequence of the block before reaches); returns the lead
    // position after it.
    template <int MaxLength>
    TEXTMEND_AVX2 const std::uint8_t* walk(const std::uint8_t* p, const Starts& previous) {
        const std::uint8_t* lead = p + __builtin_ctz(~carried_lanes<MaxLength>(previous));
        state.offset += static_cast<std::uint64_t>(lead - start);
        start = inspect_units(state, lead, p + BLOCK, end, false);
        return start;
    }

    TEXTMEND_AVX2 void finish(const std::uint8_t* p) {
        state.offset += static_cast<std::uint64_t>(p - start);
    }
};

// Follows which blocks pass as valid UTF-8: no unit in -u, and in the
// other modes its units are exactly its leads. Checking is cheaper than
// finding the sequences, and most blocks of UTF-8 text pass; the others are
// counted sequence by sequence. A block passes when it has no error and the
// first three lanes of the block after it none either, so that its last
// leads are complete (an error there may be that block's own: the check
// errs on the safe side). The block after is checked once: its errors are
// kept for the next round.
//
// A block is checked against the 32 bytes before it, which is sound only
// when those keep the rule up to their end: a block that passed, an ASCII
// block, the bytes before a unit start (none). After a block that was
// counted sequence by sequence, a lead in its last lanes may be broken
// itself and still seem to call for the first bytes of the next block, so
// that block is counted sequence by sequence too. The sequence starts of a
// block that passed are not found; they are on leaving, for the block
// counted after it.
struct ValidRun {
    Utf8Checker checker;
    __m256i before;  // zero after a walk: p starts a unit
    __m256i ahead_errors;
    const std::uint8_t* ahead = nullptr;  // where ahead_errors belong
    bool before_checked = true;
    bool previous_valid = false;

    TEXTMEND_AVX2 ValidRun()
        : before(_mm256_setzero_si256()), ahead_errors(_mm256_setzero_si256()) {}

    TEXTMEND_AVX2 bool holds(const std::uint8_t* p, __m256i v) {
        if (!before_checked) return false;
        const __m256i errors = ahead == p ? ahead_errors : checker.errors(v, before);
        if (_mm256_testz_si256(errors, errors) == 0) return false;
        ahead = p + BLOCK;
        ahead_errors = checker.errors(load(ahead), v);
        constexpr std::uint32_t FIRST_THREE_LANES = 0x7;
        const std::uint32_t clean_ahead =
            mask_of(_mm256_cmpeq_epi8(ahead_errors, _mm256_setzero_si256()));
        if ((~clean_ahead & FIRST_THREE_LANES) != 0) {
            ahead = nullptr;  // the block after is checked against another before
            return false;
        }
        before = v;
        previous_valid = true;
        return true;
    }

    template <typename FindStarts>
    TEXTMEND_AVX2 void leave(const std::uint8_t* p, Starts& previous, FindStarts find_starts) {
        if (previous_valid) previous = find_starts(p - BLOCK, before);
        previous_valid = false;
    }

    TEXTMEND_AVX2 void after_ascii() {
        before = _mm256_setzero_si256();
        before_checked = true;
        previous_valid = false;
        ahead = nullptr;
    }

    // After a block counted sequence by sequence.
    TEXTMEND_AVX2 void after_counted(__m256i v) {
        after_ascii();
        before_checked = !calls_past(v);
    }

    TEXTMEND_AVX2 void after_walk() { after_ascii(); }
};

// The default mode and -w on a block of valid UTF-8: every lead starts a
// sequence, each a unit; those of the characters C2 A0 .. C3 BF change, and
// with -w the few of Windows-1252's own characters, which are decoded.
TEXTMEND_AVX2 inline void count_valid_block(InspectState& state, const std::uint8_t* p, __m256i v,
                                            const CandidateClassifier& leads) {
    const std::uint32_t sequences = lead_lanes(v);
    const std::uint32_t pairs = mask_of(in_range(v, LEADS_BELOW_0X100));
    std::int64_t changed = count(pairs & ~c1_control_lanes(v, load(p + 1)));
    std::int64_t shrink = changed;
    // Valid sequences of other leads are never overlong: only -w has
    // characters among them.
    if (state.mode == MODE_CP1252)
        count_decoded_changes(p, candidate_lanes(leads, v) & sequences & ~pairs, state.mode,
                              changed, shrink);
    state.changed += static_cast<std::uint64_t>(changed);
    state.kept += static_cast<std::uint64_t>(count(sequences) - changed);
    state.growth -= shrink;
}

// The ASCII block v (and w after it, if given) at p: nothing to count but
// lines, and p moves past them.
template <class... Following>
TEXTMEND_AVX2 inline void pass_ascii_blocks(BlockWalk& walk, ValidRun& valid, Starts& previous,
                                            const std::uint8_t*& p, __m256i v, Following... w) {
    walk.count_lines(p, v, w...);
    previous = no_starts();
    valid.after_ascii();
    p += (1 + sizeof...(w)) * BLOCK;
}

// Two ASCII blocks at p: nothing to count but lines, and p moves past them.
// Within a run of valid blocks ASCII ones are checked with the others
// instead, so that the loop does not branch on every block.
TEXTMEND_AVX2 inline bool passes_two_ascii_blocks(BlockWalk& walk, ValidRun& valid,
                                                  Starts& previous, const std::uint8_t*& p,
                                                  __m256i v) {
    if (valid.previous_valid) return false;
    const __m256i w = load(p + BLOCK);
    if (mask_of(_mm256_or_si256(v, w)) != 0) return false;
    pass_ascii_blocks(walk, valid, previous, p, v, w);
    return true;
}

TEXTMEND_AVX2_ENTRY const std::uint8_t* utf8_blocks(InspectState& state, const std::uint8_t* p,
                                                    const std::uint8_t* end) {
    const LoneClassifier lone_bytes = lone_classifier();
    BlockWalk walk{state, p, end};
    Starts previous = no_starts();
    ValidRun valid;
    while (end - p >= BLOCK_REACH) {
        prefetch_ahead(p);
        const __m256i v = load(p);
        if (passes_two_ascii_blocks(walk, valid, previous, p, v)) continue;
        const std::uint32_t high = mask_of(v);
        // Within a run of valid blocks ASCII ones are checked too: text
        // mixes both, and one way for all is cheaper than a branch that
        // guesses wrong.
        if ((valid.previous_valid || high != 0) && valid.holds(p, v)) {  // nothing to count
            walk.count_lines(p, v);
            p += BLOCK;
            continue;
        }
        if (high == 0) {
            pass_ascii_blocks(walk, valid, previous, p, v);
            continue;
        }
        valid.leave(p, previous, strict_starts);
        const __m256i next = load(p + 1);
        const bool sequences = may_start_sequences(v, next);
        const Starts starts = sequences ? strict_starts(p, v) : no_starts();
        const std::uint32_t lone = high & ~inside_lanes<4>(starts, previous);
        const std::uint32_t invalid = sequences ? invalid_sequence_lanes(v, next, starts) : 0;
        if ((lone | invalid) != 0 && state.units_to_report > 0) {
            p = walk.walk<4>(p, previous);
            previous = no_starts();
            valid.after_walk();
            continue;
        }
        walk.count_lines(p, v);
        // Lone bytes A0..FF all become two bytes; only 80..9F need a look.
        const bool c1_range = (lone & mask_of(in_range(v, 0x80, 0x9F))) != 0;
        const std::uint32_t undefined =
            c1_range ? lone & lanes_flagged(lone_bytes, v, UNDEFINED) : 0;
        const std::uint32_t changed = lone & ~undefined;
        state.changed += static_cast<std::uint64_t>(count(changed));
        state.kept += static_cast<std::uint64_t>(count(undefined) + count(invalid));
        state.growth += count(changed) +
                        (c1_range ? count(changed & lanes_flagged(lone_bytes, v, THREE_BYTES)) : 0);
        previous = starts;
        valid.after_counted(v);
        p += BLOCK;
    }
    walk.finish(p);
    return p;
}

TEXTMEND_AVX2_ENTRY const std::uint8_t* single_byte_blocks(InspectState& state,
                                                           const std::uint8_t* p,
                                                           const std::uint8_t* end) {
    const CandidateClassifier leads =
        classifier_for(state.mode == MODE_CP1252 ? CP1252_LEADS : LATIN1_LEADS);
    const LoneClassifier lone_bytes = lone_classifier();
    const bool windows = state.mode == MODE_CP1252;
    BlockWalk walk{state, p, end};
    Starts previous = no_starts();
    ValidRun valid;
    while (end - p >= BLOCK_REACH) {
        prefetch_ahead(p);
        const __m256i v = load(p);
        if (passes_two_ascii_blocks(walk, valid, previous, p, v)) continue;
        const std::uint32_t high = mask_of(v);
        if (state.units_to_report == 0 && (valid.previous_valid || high != 0) &&
            valid.holds(p, v)) {
            count_valid_block(state, p, v, leads);
            p += BLOCK;
            continue;
        }
        if (high == 0) {
            pass_ascii_blocks(walk, valid, previous, p, v);
            continue;
        }
        valid.leave(p, previous, permissive_starts);
        const Starts starts =
            may_start_sequences(v, load(p + 1)) ? permissive_starts(p, v) : no_starts();
        const std::uint32_t sequences = mask_of(starts.from2);
        const std::uint32_t undefined = windows ? high & ~inside_lanes<6>(starts, previous) &
                                                      lanes_flagged(lone_bytes, v, UNDEFINED)
                                                : 0;
        if ((sequences | undefined) != 0 && state.units_to_report > 0) {
            p = walk.walk<6>(p, previous);
            previous = no_starts();
            valid.after_walk();
            continue;
        }
        walk.count_lines(p, v);
        // Every sequence is a unit; only those with a candidate lead can be
        // changed. The common ones are the pairs with lead C0..C3, all of
        // which change but C2 followed by 80..9F; the few others are decoded.
        const std::uint32_t candidates = candidate_lanes(leads, v) & sequences;
        const std::uint32_t pairs = mask_of(in_range(v, LEADS_BELOW_0X100));
        const std::uint32_t c1_controls = c1_control_lanes(v, load(p + 1));
        std::int64_t changed = count(candidates & pairs & ~c1_controls);
        std::int64_t shrink = changed;
        count_decoded_changes(p, candidates & ~pairs, state.mode, changed, shrink);
        state.changed += static_cast<std::uint64_t>(changed);
        state.kept += static_cast<std::uint64_t>(count(sequences) - changed + count(undefined));
        state.growth -= shrink;
        previous = starts;
        valid.after_counted(v);
        p += BLOCK;
    }
    walk.finish(p);
    return p;
}

// The changes alone: in the default mode and with -w only candidate leads
// followed by their continuation bytes change, each shrinking the output by
// its length less one; with -u each lone byte grows it by its replacement's
// length less one.
TEXTMEND_AVX2_ENTRY std::int64_t single_byte_growth(const std::uint8_t*& p, const std::uint8_t* end,
                                                    OutputMode mode) {
    const CandidateClassifier leads =
        classifier_for(mode == MODE_CP1252 ? CP1252_LEADS : LATIN1_LEADS);
    std::int64_t growth = 0;
    while (end - p >= BLOCK_REACH) {
        const __m256i v = load(p);
        const std::uint32_t candidates = candidate_lanes(leads, v);
        if (candidates != 0) {
            const __m256i next = load(p + 1);
            const std::uint32_t pairs = mask_of(in_range(v, LEADS_BELOW_0X100));
            const std::uint32_t c1_controls = c1_control_lanes(v, next);
            growth -= count(candidates & pairs & mask_of(is_continuation(next)) & ~c1_controls);
            for (std::uint32_t others = candidates & ~pairs; others != 0; others &= others - 1) {
                const std::uint8_t* lead = p + __builtin_ctz(others);
                const std::int32_t n = PERMISSIVE_LENGTHS[*lead];
                if (utf8_continues(lead, n) && target_byte(utf8_decode_at(lead, n), mode) >= 0) {
                    growth -= n - 1;
                }
            }
        }
        p += BLOCK;
    }
    p += sequence_reaching_past(p, PERMISSIVE_LENGTHS);
    return growth;
}

TEXTMEND_AVX2_ENTRY std::int64_t utf8_growth(const std::uint8_t*& p, const std::uint8_t* end) {
    const LoneClassifier lone_bytes = lone_classifier();
    Starts previous = no_starts();
    std::int64_t growth = 0;
    while (end - p >= BLOCK_REACH) {
        const __m256i v = load(p);
        const std::uint32_t high = mask_of(v);
        if (high == 0) {
            previous = no_starts();
            p += BLOCK;
            continue;
        }
        const Starts starts = strict_starts(p, v);
        const std::uint32_t lone = high & ~inside_lanes<4>(starts, previous);
        const std::uint32_t changed = lone & ~lanes_flagged(lone_bytes, v, UNDEFINED);
        growth += count(changed) + count(changed & lanes_flagged(lone_bytes, v, THREE_BYTES));
        previous = starts;
        p += BLOCK;
    }
    p += sequence_reaching_past(p, STRICT_LENGTHS);
    return growth;
}

}  // namespace

TEXTMEND_AVX2_ENTRY std::int64_t growth_of_blocks_avx2(const std::uint8_t*& p,
                                                       const std::uint8_t* end, OutputMode mode) {
    if (end - p < BLOCK_REACH) return 0;
    return mode == MODE_UTF8 ? utf8_growth(p, end) : single_byte_growth(p, end, mode);
}

TEXTMEND_AVX2_ENTRY const std::uint8_t* inspect_blocks_avx2(InspectState& state,
                                                            const std::uint8_t* p,
                                                            const std::uint8_t* end) {
    if (end - p < BLOCK_REACH) return p;
    const bool utf8 = state.mode == MODE_UTF8;
    p = utf8 ? utf8_blocks(state, p, end) : single_byte_blocks(state, p, end);
    // A sequence counted in the last block may reach past it: go on after it.
    const std::ptrdiff_t rest =
        sequence_reaching_past(p, utf8 ? STRICT_LENGTHS : PERMISSIVE_LENGTHS);
    state.offset += static_cast<std::uint64_t>(rest);
    return p + rest;
}

}  // namespace textmend

#endif
