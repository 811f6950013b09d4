// Counting the units of 64-byte blocks with AVX-512, for processors with
// the AVX-512 set: the loop of mask_inspect.hpp, each class of a block's
// lanes found by one compare into a mask register, and the per-lead lookups
// by 64-entry byte permutes.
#include "kernels/avx512/avx512.hpp"

#ifdef TEXTMEND_HAVE_AVX2_PATH

#include <immintrin.h>

#include <array>

#include "convert/byte_tables.hpp"
#include "encoding/lead_ranges.hpp"
#include "kernels/avx512/ops.hpp"
#include "kernels/avx512/run_starts.hpp"

#define TEXTMEND_MASK_KERNEL TEXTMEND_AVX512
#include "kernels/mask_inspect.hpp"

namespace textmend {

using namespace avx512;

namespace {

// The second bytes that make a 3- or 4-byte sequence of the strict form
// valid UTF-8, by the low six bits of its lead: 80..BF but for the leads of
// INVALID_FORMS, whose invalid second bytes lie at one end of that range.
struct SecondBounds {
    std::array<std::uint8_t, 64> min, max;
};

constexpr SecondBounds make_second_bounds() {
    SecondBounds bounds{};
    bounds.min.fill(0x80);
    bounds.max.fill(0xBF);
    for (const InvalidForm& form : INVALID_FORMS) {
        if (form.second.first == 0x80)
            bounds.min[form.lead & 0x3F] = static_cast<std::uint8_t>(form.second.last + 1);
        else
            bounds.max[form.lead & 0x3F] = static_cast<std::uint8_t>(form.second.first - 1);
    }
    return bounds;
}

constexpr SecondBounds SECOND_BOUNDS = make_second_bounds();

// The least second byte with which a pair changes, by the low six bits of
// its lead: 80 for C0, C1 and C3, A0 for C2 (C2 80..9F are the C1
// controls, kept), and C0, above every continuation byte, for the leads
// whose pairs do not change. One lookup and one compare find a block's
// changing pairs. Bit 0, which none of those values has, marks the leads
// of the mode's lead pairs (all C4 or above): the same lookup tells
// lead_pairs whether a sequence has one.
enum : std::uint8_t { PAIR_LEAD = 1 };

constexpr std::array<std::uint8_t, 64> make_least_changing_seconds(const LeadPairBits& pairs) {
    std::array<std::uint8_t, 64> least{};
    least.fill(PERMISSIVE_LEADS[2].first);
    for (int lead = LEADS_BELOW_0X100.first; lead <= LEADS_BELOW_0X100.last; ++lead) {
        least[static_cast<std::size_t>(lead & 0x3F)] =
            static_cast<std::uint8_t>(lead == C1_CONTROL_LEAD ? C1_CONTROL_SECONDS.last + 1 : 0x80);
    }
    for (std::size_t i = 0; i < least.size(); ++i) {
        if (pairs.lead[i] != 0) least[i] |= PAIR_LEAD;
    }
    return least;
}

constexpr std::array<std::uint8_t, 64> LATIN1_LEAST_SECONDS =
    make_least_changing_seconds(lead_pair_bits(MODE_LATIN1));
constexpr std::array<std::uint8_t, 64> CP1252_LEAST_SECONDS =
    make_least_changing_seconds(lead_pair_bits(MODE_CP1252));

// The marks leave the changing pairs as they were: the marked leads' pairs
// never change (their least second byte stays above BF).
constexpr bool pair_leads_marked_apart() {
    for (const auto* table : {&LATIN1_LEAST_SECONDS, &CP1252_LEAST_SECONDS}) {
        for (const std::uint8_t least : *table) {
            if ((least & PAIR_LEAD) != 0 && least <= 0xBF) return false;
        }
    }
    return true;
}
static_assert(pair_leads_marked_apart());

// The vector operations of mask_inspect.hpp.
struct WideOps {
    using Block = __m512i;

    // A struct, not the vector type itself, which as a template argument
    // would lose its attributes.
    struct Threshold {
        __m512i bytes;
    };

    TEXTMEND_AVX512 static Threshold threshold(int byte) { return {constant_bytes(byte)}; }

    // c0 also ends the continuation bytes 80..BF.
    struct Constants : mask_inspect::LeadThresholds<Threshold> {
        __m512i newline, lone_flags, undefined, three_bytes;
        WideRange c1_range;              // 80..9F: the lone bytes to look up
        __m512i least_changing_second;   // the mode's LEAST_SECONDS
        __m512i pair_lead_mark;          // PAIR_LEAD
        __m512i pair_lead, pair_second;  // LeadPairBits, 64 entries each
        __m512i second_min, second_max;  // SECOND_BOUNDS
        RunStartConstants runs;
    };

    TEXTMEND_AVX512 static Constants constants(OutputMode mode) {
        Constants k;
        static_cast<mask_inspect::LeadThresholds<Threshold>&>(k) =
            mask_inspect::lead_thresholds<WideOps>();
        k.newline = constant_bytes('\n');
        k.lone_flags = constant_table(mask_inspect::LONE_FLAGS);
        k.undefined = constant_bytes(mask_inspect::UNDEFINED);
        k.three_bytes = constant_bytes(mask_inspect::THREE_BYTES);
        k.c1_range = wide_range(C1_CONTROL_SECONDS);
        k.least_changing_second =
            constant_table(mode == MODE_CP1252 ? CP1252_LEAST_SECONDS : LATIN1_LEAST_SECONDS);
        k.pair_lead_mark = constant_bytes(PAIR_LEAD);
        const LeadPairBits& pairs = lead_pair_bits(mode);
        k.pair_lead = constant_table(pairs.lead);
        k.pair_second = constant_table(pairs.second);
        k.second_min = constant_table(SECOND_BOUNDS.min);
        k.second_max = constant_table(SECOND_BOUNDS.max);
        k.runs = run_start_constants();
        return k;
    }

    TEXTMEND_AVX512 static Block load(const std::uint8_t* p) { return _mm512_loadu_si512(p); }

    TEXTMEND_AVX512 static std::uint64_t high(Block v) { return _mm512_movepi8_mask(v); }

    TEXTMEND_AVX512 static std::uint64_t continuation(Block v, const Constants& k) {
        return _mm512_cmplt_epi8_mask(v, k.c0.bytes);  // signed: 80..BF
    }

    TEXTMEND_AVX512 static std::uint64_t at_least(Block v, Threshold t) {
        return _mm512_cmpge_epu8_mask(v, t.bytes);
    }

    TEXTMEND_AVX512 static std::uint64_t at_least(std::uint64_t mask, Block v, Threshold t) {
        return _mm512_mask_cmpge_epu8_mask(mask, v, t.bytes);
    }

    // A mask is one compare here: testing first would only add a branch
    // (dense UTF-8 3-5 % slower).
    TEXTMEND_AVX512 static bool may_reach(Block, Threshold) { return true; }

    TEXTMEND_AVX512 static std::uint64_t newlines(Block v, const Constants& k) {
        return _mm512_cmpeq_epi8_mask(v, k.newline);
    }

    // Without a branch on whether there are any such bytes: in mixed text
    // it goes either way at random (measured in memory: mixed prose 16-22 %
    // faster with -w and -u, random bytes 19 % with -u; Latin-1 prose, which
    // has few such bytes, 16 % slower with -u, still faster than the file is
    // read).
    TEXTMEND_AVX512 static std::uint64_t lone_flagged(Block v, std::uint64_t lone, int flag,
                                                      const Constants& k) {
        const std::uint64_t c1 = lone & wide_in_range(v, k.c1_range);
        return _mm512_mask_test_epi8_mask(
            c1, _mm512_permutexvar_epi8(v, k.lone_flags),
            flag == mask_inspect::UNDEFINED ? k.undefined : k.three_bytes);
    }

    // One lookup and one compare: the mode's LEAST_SECONDS.
    TEXTMEND_AVX512 static std::uint64_t changing_pairs(std::uint64_t sequences, Block v,
                                                        Block next, const Constants& k) {
        return _mm512_mask_cmpge_epu8_mask(sequences, next,
                                           _mm512_permutexvar_epi8(v, k.least_changing_second));
    }

    // Exact for lead and second byte. Where the leads are rare, the second
    // bytes are looked up only when a sequence has one of them.
    template <mask_inspect::PairLeads Leads, OutputMode>
    TEXTMEND_AVX512 static std::uint64_t lead_pairs(std::uint64_t sequences, Block v, Block next,
                                                    const Constants& k) {
        if constexpr (Leads != mask_inspect::PairLeads::common) {
            // The lookup changing_pairs made too.
            sequences = _mm512_mask_test_epi8_mask(
                sequences, _mm512_permutexvar_epi8(v, k.least_changing_second), k.pair_lead_mark);
            if (sequences == 0) return 0;
        }
        const __m512i lead = _mm512_permutexvar_epi8(v, k.pair_lead);
        return _mm512_mask_test_epi8_mask(sequences, lead,
                                          _mm512_permutexvar_epi8(next, k.pair_second));
    }

    // The second byte out of its lead's bounds.
    TEXTMEND_AVX512 static std::uint64_t invalid(std::uint64_t longer, Block v, Block next,
                                                 const Constants& k) {
        const __m512i min = _mm512_permutexvar_epi8(v, k.second_min);
        const __m512i max = _mm512_permutexvar_epi8(v, k.second_max);
        return _mm512_mask_cmplt_epu8_mask(longer, next, min) |
               _mm512_mask_cmpgt_epu8_mask(longer, next, max);
    }

    // The scanner's two tests: the second only for a block that passes
    // the first, which most blocks of prose with a C3 do not.
    TEXTMEND_AVX512 static std::uint64_t run_starts(const std::uint8_t* p, Block,
                                                    const Constants& k) {
        const std::uint64_t c3 = c3_lanes(p, k.runs);
        return c3 == 0 ? 0 : avx512::run_starts(p, c3, k.runs);
    }
};

}  // namespace

TEXTMEND_AVX512_ENTRY const std::uint8_t* inspect_blocks_avx512(InspectState& state,
                                                                const std::uint8_t* p,
                                                                const std::uint8_t* end) {
    return mask_inspect::inspect_blocks<WideOps>(state, p, end);
}

}  // namespace textmend

#endif
