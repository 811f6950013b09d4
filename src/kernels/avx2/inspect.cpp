// Counting the units of 64-byte blocks with AVX2: the loop of
// mask_inspect.hpp, each block taken as two vectors whose compares make one
// 64-bit mask, and the per-lead lookups by nibble shuffles. The growth of
// blocks (converted_size) is counted here too, 32 bytes at a time.
#include "kernels/avx2/avx2.hpp"

#ifdef TEXTMEND_HAVE_AVX2_PATH

#include <immintrin.h>

#include <array>
#include <cstring>

#include "convert/byte_tables.hpp"
#include "convert/inspect_blocks.hpp"
#include "kernels/avx2/run_starts.hpp"
#include "kernels/avx2/sequences.hpp"

#define TEXTMEND_MASK_KERNEL TEXTMEND_AVX2
#include "kernels/mask_inspect.hpp"

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

// The bytes of 64 lanes, as two vectors.
struct Block64 {
    __m256i lo, hi;
};

// One mask of the lanes of both halves whose bytes have the high bit set.
TEXTMEND_AVX2 inline std::uint64_t mask64(__m256i lo, __m256i hi) {
    return mask_of(lo) | static_cast<std::uint64_t>(mask_of(hi)) << 32;
}

// As the AVX-512 kernel's opaque: keeps a constant in a register (or one
// spill) instead of building it again in every pass.
TEXTMEND_AVX2 inline __m256i constant_bytes(int byte) {
    __m256i v = splat(byte);
    __asm__("" : "+x"(v));
    return v;
}

TEXTMEND_AVX2 inline __m256i constant_table(const std::array<std::uint8_t, 16>& table) {
    __m128i t;
    std::memcpy(&t, table.data(), 16);
    __m256i v = _mm256_broadcastsi128_si256(t);
    __asm__("" : "+x"(v));
    return v;
}

// Bytes are compared signed (vpcmpgtb), where 80..FF come before 00..7F:
// x >= t for a threshold t of 80 or more is x > t - 1 among the high bytes;
// a byte 80..BF is one below C0.
struct SignedThreshold {
    __m256i before;  // t - 1
};

// For each byte of v, the bits its high nibble's entry and its low nibble's
// have in common (ops.hpp's nibble_classes, with the 0F constant held).
TEXTMEND_AVX2 inline __m256i nibble_bits(__m256i v, __m256i high, __m256i low, __m256i nibble) {
    return _mm256_and_si256(
        _mm256_shuffle_epi8(high, _mm256_and_si256(_mm256_srli_epi16(v, 4), nibble)),
        _mm256_shuffle_epi8(low, _mm256_and_si256(v, nibble)));
}

// The default mode's lead pairs are overlong forms, whose leads are the
// first of their lengths; those of up to four bytes are E0 and F0.
constexpr bool latin1_pairs_have_overlong_leads() {
    for (int i = 0; i < LATIN1_LEAD_PAIRS.count; ++i) {
        const int lead = LATIN1_LEAD_PAIRS.pairs[static_cast<std::size_t>(i)][0];
        if (lead < PERMISSIVE_LEADS[5].first && lead != PERMISSIVE_LEADS[3].first &&
            lead != PERMISSIVE_LEADS[4].first)
            return false;
    }
    return PERMISSIVE_LEADS[3].first == 0xE0 && PERMISSIVE_LEADS[4].first == 0xF0;
}
static_assert(latin1_pairs_have_overlong_leads());

// The vector operations of mask_inspect.hpp.
struct HalvesOps {
    using Block = Block64;

    using Threshold = SignedThreshold;

    TEXTMEND_AVX2 static Threshold threshold(int byte) { return {constant_bytes(byte - 1)}; }

    struct Constants : mask_inspect::LeadThresholds<Threshold> {
        __m256i continuation_end;  // C0
        __m256i newline;
        __m256i below_pairs_end;  // C4: the leads below 0x100 are the leads below it
        __m256i c1_control_lead, c1_control_end;  // C2; A0, after its seconds 80..9F
        __m256i nibble;                           // 0F
        LoneClassifier lone;
        // LeadPairBits' nibble tables: exact for the lead, a superset for
        // the second byte.
        __m256i lead_high, lead_low, second_high, second_low;
        __m256i run_lead, run_third_before;  // C3; C1, before the third bytes C2 and above
    };

    TEXTMEND_AVX2 static Constants constants(OutputMode mode) {
        Constants k;
        static_cast<mask_inspect::LeadThresholds<Threshold>&>(k) =
            mask_inspect::lead_thresholds<HalvesOps>();
        k.continuation_end = constant_bytes(PERMISSIVE_LEADS[2].first);
        k.newline = constant_bytes('\n');
        k.below_pairs_end = constant_bytes(LEADS_BELOW_0X100.last + 1);
        k.c1_control_lead = constant_bytes(C1_CONTROL_LEAD);
        k.c1_control_end = constant_bytes(C1_CONTROL_SECONDS.last + 1);
        k.nibble = constant_bytes(0x0F);
        k.lone = lone_classifier();
        const LeadPairBits& pairs = lead_pair_bits(mode);
        k.lead_high = constant_table(pairs.lead_high);
        k.lead_low = constant_table(pairs.lead_low);
        k.second_high = constant_table(pairs.second_high);
        k.second_low = constant_table(pairs.second_low);
        k.run_lead = constant_bytes(0xC3);
        k.run_third_before = constant_bytes(0xC1);
        return k;
    }

    TEXTMEND_AVX2 static Block load(const std::uint8_t* p) {
        return {avx2::load(p), avx2::load(p + BLOCK)};
    }

    TEXTMEND_AVX2 static std::uint64_t high(Block v) { return mask64(v.lo, v.hi); }

    TEXTMEND_AVX2 static std::uint64_t continuation(Block v, const Constants& k) {
        return mask64(_mm256_cmpgt_epi8(k.continuation_end, v.lo),
                      _mm256_cmpgt_epi8(k.continuation_end, v.hi));
    }

    TEXTMEND_AVX2 static std::uint64_t at_least(Block v, Threshold t) {
        return mask64(_mm256_cmpgt_epi8(v.lo, t.before), _mm256_cmpgt_epi8(v.hi, t.before)) &
               high(v);
    }

    TEXTMEND_AVX2 static std::uint64_t at_least(std::uint64_t mask, Block v, Threshold t) {
        return mask & at_least(v, t);
    }

    // One unsigned compare of the halves' greater bytes, as a saturated
    // subtraction: no mask is made.
    TEXTMEND_AVX2 static bool may_reach(Block v, Threshold t) {
        const __m256i over = _mm256_subs_epu8(_mm256_max_epu8(v.lo, v.hi), t.before);
        return _mm256_testz_si256(over, over) == 0;
    }

    TEXTMEND_AVX2 static std::uint64_t newlines(Block v, const Constants& k) {
        return mask64(_mm256_cmpeq_epi8(v.lo, k.newline), _mm256_cmpeq_epi8(v.hi, k.newline));
    }

    TEXTMEND_AVX2 static std::uint64_t lone_flagged(Block v, std::uint64_t lone, int flag,
                                                    const Constants& k) {
        return lone & (lanes_flagged(k.lone, v.lo, flag) |
                       static_cast<std::uint64_t>(lanes_flagged(k.lone, v.hi, flag)) << 32);
    }

    // Leads below C4 (the sequences' leads are C0 and above) but C2
    // followed by 80..9F.
    TEXTMEND_AVX2 static __m256i changing_pair_bytes(__m256i v, __m256i next, const Constants& k) {
        const __m256i c1_control = _mm256_and_si256(_mm256_cmpeq_epi8(v, k.c1_control_lead),
                                                    _mm256_cmpgt_epi8(k.c1_control_end, next));
        return _mm256_andnot_si256(c1_control, _mm256_cmpgt_epi8(k.below_pairs_end, v));
    }

    TEXTMEND_AVX2 static std::uint64_t changing_pairs(std::uint64_t sequences, Block v, Block next,
                                                      const Constants& k) {
        return sequences &
               mask64(changing_pair_bytes(v.lo, next.lo, k), changing_pair_bytes(v.hi, next.hi, k));
    }

    // Whether a byte of the block is E0 or F0, the leads of the default
    // mode's lead pairs (overlong forms) in a block without a lead of five
    // or six bytes: two compares a half instead of the nibble tables
    // (dense UTF-8 1.1 times as fast).
    TEXTMEND_AVX2 static bool any_overlong_lead(Block v) {
        const __m256i leads =
            _mm256_or_si256(_mm256_cmpeq_epi8(_mm256_and_si256(v.lo, splat(~0x10)), splat(0xE0)),
                            _mm256_cmpeq_epi8(_mm256_and_si256(v.hi, splat(~0x10)), splat(0xE0)));
        return _mm256_testz_si256(leads, leads) == 0;
    }

    // Lanes whose byte is none of the lead pairs' leads (exact), or whose
    // next byte is none of their second bytes (a superset of those that
    // are: every high nibble of a lead's seconds with every low one).
    TEXTMEND_AVX2 static __m256i no_pair_leads(__m256i v, const Constants& k) {
        return _mm256_cmpeq_epi8(nibble_bits(v, k.lead_high, k.lead_low, k.nibble),
                                 _mm256_setzero_si256());
    }

    TEXTMEND_AVX2 static __m256i no_lead_pairs(__m256i v, __m256i next, const Constants& k) {
        const __m256i bits =
            _mm256_and_si256(nibble_bits(v, k.lead_high, k.lead_low, k.nibble),
                             nibble_bits(next, k.second_high, k.second_low, k.nibble));
        return _mm256_cmpeq_epi8(bits, _mm256_setzero_si256());
    }

    // Where the leads are rare, the second bytes are looked at only when a
    // sequence has one of the leads: most text has none (Cyrillic,
    // Chinese, Latin-1 prose).
    template <mask_inspect::PairLeads Leads, OutputMode Mode>
    TEXTMEND_AVX2 static std::uint64_t lead_pairs(std::uint64_t sequences, Block v, Block next,
                                                  const Constants& k) {
        using mask_inspect::PairLeads;
        if constexpr (Leads == PairLeads::whole && Mode == MODE_LATIN1) {
            if (!any_overlong_lead(v)) return 0;
        } else if constexpr (Leads != PairLeads::common) {
            if ((sequences & ~mask64(no_pair_leads(v.lo, k), no_pair_leads(v.hi, k))) == 0)
                return 0;
        }
        return sequences &
               ~mask64(no_lead_pairs(v.lo, next.lo, k), no_lead_pairs(v.hi, next.hi, k));
    }

    // INVALID_FORMS: a lead and a range of second bytes at one end of
    // 80..BF, told by one signed compare.
    TEXTMEND_AVX2 static __m256i invalid_bytes(__m256i v, __m256i next) {
        __m256i invalid = _mm256_setzero_si256();
        for (const InvalidForm& form : INVALID_FORMS) {
            const __m256i lead = _mm256_cmpeq_epi8(v, splat(form.lead));
            invalid = _mm256_or_si256(
                invalid,
                form.second.first == 0x80
                    ? _mm256_and_si256(lead, _mm256_cmpgt_epi8(splat(form.second.last + 1), next))
                    : _mm256_andnot_si256(_mm256_cmpgt_epi8(splat(form.second.first), next), lead));
        }
        return invalid;
    }

    TEXTMEND_AVX2 static std::uint64_t invalid(std::uint64_t longer, Block v, Block next,
                                               const Constants&) {
        if (longer == 0) return 0;
        return longer & mask64(invalid_bytes(v.lo, next.lo), invalid_bytes(v.hi, next.hi));
    }

    // C3 followed two bytes on by a byte C2 or above, which every run start
    // is (the signed compare also passes ASCII, which the byte's own high bit
    // then turns down); most blocks of prose with a C3 fail it.
    TEXTMEND_AVX2 static __m256i run_leads(__m256i v, __m256i third, const Constants& k) {
        return _mm256_and_si256(
            _mm256_cmpeq_epi8(v, k.run_lead),
            _mm256_and_si256(_mm256_cmpgt_epi8(third, k.run_third_before), third));
    }

    TEXTMEND_AVX2 static std::uint64_t run_starts(const std::uint8_t* p, Block v,
                                                  const Constants& k) {
        const Block third = load(p + 2);
        if (mask64(run_leads(v.lo, third.lo, k), run_leads(v.hi, third.hi, k)) == 0) return 0;
        return double_run_starts(p) | static_cast<std::uint64_t>(double_run_starts(p + BLOCK))
                                          << 32;
    }
};

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
            subtract_candidate_shrink(p, candidates & ~pairs, mode, growth);
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
    return mask_inspect::inspect_blocks<HalvesOps>(state, p, end);
}

}  // namespace textmend

#endif
