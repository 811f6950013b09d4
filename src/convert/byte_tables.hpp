// Per-byte tables for the bulk converters, computed at compile time from the
// encoding rules, so that the fast path and the byte-at-a-time converters
// cannot disagree about what a byte is.
#pragma once

#include <array>
#include <cstdint>

#include "convert/output_mode.hpp"
#include "encoding/cp1252.hpp"
#include "encoding/latin1.hpp"
#include "encoding/target_byte.hpp"
#include "encoding/utf8.hpp"

namespace textmend {

// Bytes that can start a sequence the default mode or -w turns into one byte:
// a lead byte whose payload bits are the top bits of some code point of the
// target set. No other byte can ever be changed in those modes, so everything
// between two such bytes is copied as it is.
struct CandidateLeads {
    std::array<std::uint8_t, 256> member;  // 1 for a candidate lead
    // Nibble tables for a vector test of membership: byte c is a candidate iff
    // high[c >> 4] & low[c & 15] is not zero. Candidates are all 0xC0 or
    // above, so high nibbles C..F get one bit each, which makes the test exact.
    std::array<std::uint8_t, 16> high;
    std::array<std::uint8_t, 16> low;
};

constexpr bool lead_can_reach(std::int32_t lead, std::int32_t cp) {
    const std::int32_t n = utf8_sequence_length(lead);
    if (n < 2) return false;
    const std::int32_t payload = lead & (0x7F >> n);
    return (cp >> (6 * (n - 1))) == payload;
}

// Whether some code point of the mode's target set has lead as the first
// byte of one of its (possibly overlong) UTF-8 forms. The set's code points
// are those below 0x100 and those of the Windows-1252 table.
constexpr bool lead_reaches_target_set(std::int32_t lead, OutputMode mode) {
    for (std::int32_t cp = 0; cp < 0x100; ++cp) {
        if (target_byte(cp, mode) >= 0 && lead_can_reach(lead, cp)) return true;
    }
    for (std::int32_t cp : cp1252_table) {
        if (cp != -1 && target_byte(cp, mode) >= 0 && lead_can_reach(lead, cp)) return true;
    }
    return false;
}

constexpr CandidateLeads make_candidate_leads(OutputMode mode) {
    CandidateLeads set{};
    for (std::int32_t lead = 0xC0; lead <= 0xFF; ++lead) {
        if (!lead_reaches_target_set(lead, mode)) continue;
        set.member[static_cast<std::size_t>(lead)] = 1;
        const int bit = 1 << ((lead >> 4) - 0xC);
        set.high[static_cast<std::size_t>(lead >> 4)] = static_cast<std::uint8_t>(bit);
        set.low[static_cast<std::size_t>(lead & 15)] |= static_cast<std::uint8_t>(bit);
    }
    return set;
}

inline constexpr CandidateLeads LATIN1_LEADS = make_candidate_leads(MODE_LATIN1);
inline constexpr CandidateLeads CP1252_LEADS = make_candidate_leads(MODE_CP1252);

// The first two bytes of every (possibly overlong) form of a code point of
// the target set whose lead is not below 0xC4: a candidate lead of 3 or more
// bytes, or one of the few 2-byte leads of Windows-1252's characters. A
// sequence with such a lead can change only if its first two bytes are one
// of these pairs, which lets the vector code pass over the many that cannot.
struct LeadPairs {
    std::array<std::array<std::uint8_t, 2>, 64> pairs;
    int count;
};

constexpr void add_lead_pairs(LeadPairs& set, std::int32_t cp, OutputMode mode) {
    if (target_byte(cp, mode) < 0) return;
    for (std::int32_t lead = 0xC4; lead <= 0xFF; ++lead) {
        if (!lead_can_reach(lead, cp)) continue;
        const std::int32_t n = utf8_sequence_length(lead);
        const auto second = static_cast<std::uint8_t>(0x80 | ((cp >> (6 * (n - 2))) & 0x3F));
        const std::array<std::uint8_t, 2> pair{static_cast<std::uint8_t>(lead), second};
        bool known = false;
        for (int i = 0; i < set.count; ++i)
            known = known || set.pairs[static_cast<std::size_t>(i)] == pair;
        if (!known) set.pairs[static_cast<std::size_t>(set.count++)] = pair;
    }
}

constexpr LeadPairs make_lead_pairs(OutputMode mode) {
    LeadPairs set{};
    for (std::int32_t cp = 0; cp < 0x100; ++cp)
        add_lead_pairs(set, cp, mode);
    for (std::int32_t cp : cp1252_table) {
        if (cp != -1) add_lead_pairs(set, cp, mode);
    }
    return set;
}

inline constexpr LeadPairs LATIN1_LEAD_PAIRS = make_lead_pairs(MODE_LATIN1);
inline constexpr LeadPairs CP1252_LEAD_PAIRS = make_lead_pairs(MODE_CP1252);

// LeadPairs as tables for vector lookups, so that a block is checked for all
// pairs at once: each lead of a pair has a bit, set for the lead's byte in
// the lead tables and for its second bytes in the second tables; a byte and
// the one after it form a pair when their bits meet. The 64-entry tables
// are indexed by the low six bits (leads are C0..FF, second bytes 80..BF),
// the 16-entry ones by the high and the low nibble: exact for a lead, but
// for second bytes a superset (every high nibble of the lead's second bytes
// with every low nibble), which only sends a few more blocks the slow way.
struct LeadPairBits {
    std::array<std::uint8_t, 64> lead, second;
    std::array<std::uint8_t, 16> lead_high, lead_low, second_high, second_low;
};

constexpr int distinct_leads(const LeadPairs& set) {
    int count = 0;
    for (int i = 0; i < set.count; ++i) {
        bool seen = false;
        for (int j = 0; j < i; ++j)
            seen = seen || set.pairs[static_cast<std::size_t>(j)][0] ==
                               set.pairs[static_cast<std::size_t>(i)][0];
        count += seen ? 0 : 1;
    }
    return count;
}
static_assert(distinct_leads(LATIN1_LEAD_PAIRS) <= 8 && distinct_leads(CP1252_LEAD_PAIRS) <= 8,
              "each lead of a pair needs a bit of a byte");

constexpr LeadPairBits make_lead_pair_bits(const LeadPairs& set) {
    LeadPairBits bits{};
    std::array<std::uint8_t, 8> leads{};
    int lead_count = 0;
    for (int i = 0; i < set.count; ++i) {
        const auto [lead, second] = set.pairs[static_cast<std::size_t>(i)];
        int k = 0;
        while (k < lead_count && leads[static_cast<std::size_t>(k)] != lead)
            ++k;
        if (k == lead_count) leads[static_cast<std::size_t>(lead_count++)] = lead;
        const auto bit = static_cast<std::uint8_t>(1U << k);
        bits.lead[lead & 0x3F] |= bit;
        bits.second[second & 0x3F] |= bit;
        bits.lead_high[lead >> 4] |= bit;
        bits.lead_low[lead & 0x0F] |= bit;
        bits.second_high[second >> 4] |= bit;
        bits.second_low[second & 0x0F] |= bit;
    }
    return bits;
}

inline constexpr LeadPairBits LATIN1_LEAD_PAIR_BITS = make_lead_pair_bits(LATIN1_LEAD_PAIRS);
inline constexpr LeadPairBits CP1252_LEAD_PAIR_BITS = make_lead_pair_bits(CP1252_LEAD_PAIRS);

// The lead pairs' tables of a single-byte target (the default mode or -w).
constexpr const LeadPairBits& lead_pair_bits(OutputMode mode) {
    return mode == MODE_CP1252 ? CP1252_LEAD_PAIR_BITS : LATIN1_LEAD_PAIR_BITS;
}

// What -u writes for a byte that does not start a well-formed sequence: the
// UTF-8 of its Latin-1 or Windows-1252 character, or the byte itself for the
// five bytes Windows-1252 leaves undefined (and for ASCII).
struct Replacement {
    std::uint8_t length;
    std::array<std::uint8_t, 3> bytes;
};

constexpr std::array<Replacement, 256> make_replacements() {
    std::array<Replacement, 256> table{};
    for (std::int32_t c = 0; c < 256; ++c) {
        Replacement& r = table[static_cast<std::size_t>(c)];
        const std::int32_t cp = cp1252_to_unicode(c);
        if (c < 0x80 || cp <= 0) {
            r = {1, {static_cast<std::uint8_t>(c), 0, 0}};
            continue;
        }
        const EncodeBuffer e = utf8_encode(cp);
        r = {static_cast<std::uint8_t>(encoded_length(e)), {e[0], e[1], e[2]}};
    }
    return table;
}

inline constexpr std::array<Replacement, 256> UTF8_REPLACEMENTS = make_replacements();

template <std::int32_t (*Length)(std::int32_t)>
constexpr std::array<std::int8_t, 256> make_lengths() {
    std::array<std::int8_t, 256> table{};
    for (std::int32_t c = 0; c < 256; ++c)
        table[static_cast<std::size_t>(c)] = static_cast<std::int8_t>(Length(c));
    return table;
}

inline constexpr std::array<std::int8_t, 256> PERMISSIVE_LENGTHS =
    make_lengths<utf8_sequence_length>();
inline constexpr std::array<std::int8_t, 256> STRICT_LENGTHS =
    make_lengths<utf8_sequence_length_strict>();

}  // namespace textmend
