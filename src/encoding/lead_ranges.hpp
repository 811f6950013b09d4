// UTF-8 lead bytes by sequence length, and the few other byte ranges that
// decide what a sequence becomes, as named ranges: the vector code tests
// bytes against these names, and the static_asserts below tie each name to
// the rules of utf8.hpp, so that the two cannot drift apart.
#pragma once

#include <array>
#include <cstdint>

#include "encoding/latin1.hpp"
#include "encoding/utf8.hpp"

namespace textmend {

struct ByteRange {
    std::uint8_t first = 1;
    std::uint8_t last = 0;  // empty by default
    [[nodiscard]] constexpr bool contains(std::int32_t byte) const {
        return byte >= first && byte <= last;
    }
};

// Leads of sequences of 2..6 bytes by the permissive rule
// (utf8_sequence_length), indexed by length.
inline constexpr std::array<ByteRange, 7> PERMISSIVE_LEADS = {
    ByteRange{},           ByteRange{},           ByteRange{0xC0, 0xDF}, ByteRange{0xE0, 0xEF},
    ByteRange{0xF0, 0xF7}, ByteRange{0xF8, 0xFB}, ByteRange{0xFC, 0xFD}};

// Leads of sequences of 2..4 bytes by the strict rule
// (utf8_sequence_length_strict), indexed by length.
inline constexpr std::array<ByteRange, 5> STRICT_LEADS = {
    ByteRange{}, ByteRange{}, ByteRange{0xC2, 0xDF}, ByteRange{0xE0, 0xEF}, ByteRange{0xF0, 0xF4}};

// Two-byte sequences whose code point is below 0x100 have these leads. In
// the default mode and with -w each becomes its code point's byte, except
// the C1 controls: the lead C2 with a second byte 80..9F (code points
// 0x80..0x9F are neither Latin-1 nor Windows-1252 bytes).
inline constexpr ByteRange LEADS_BELOW_0X100{0xC0, 0xC3};
inline constexpr std::uint8_t C1_CONTROL_LEAD = 0xC2;
inline constexpr ByteRange C1_CONTROL_SECONDS{0x80, 0x9F};

// The sequences of the strict form that are not valid UTF-8, told by their
// lead and second byte: overlong 3- and 4-byte forms, encoded surrogates,
// and code points above U+10FFFF.
struct InvalidForm {
    std::uint8_t lead;
    ByteRange second;
};
inline constexpr std::array<InvalidForm, 4> INVALID_FORMS = {
    InvalidForm{0xE0, {0x80, 0x9F}}, InvalidForm{0xED, {0xA0, 0xBF}},
    InvalidForm{0xF0, {0x80, 0x8F}}, InvalidForm{0xF4, {0x90, 0xBF}}};

namespace detail {

constexpr bool leads_match_lengths() {
    for (std::int32_t byte = 0; byte < 256; ++byte) {
        for (std::int32_t n = 2; n <= 6; ++n) {
            if (PERMISSIVE_LEADS[static_cast<std::size_t>(n)].contains(byte) !=
                (utf8_sequence_length(byte) == n)) {
                return false;
            }
        }
        for (std::int32_t n = 2; n <= 4; ++n) {
            if (STRICT_LEADS[static_cast<std::size_t>(n)].contains(byte) !=
                (utf8_sequence_length_strict(byte) == n)) {
                return false;
            }
        }
    }
    return true;
}

constexpr bool invalid_forms_match_validity() {
    for (std::int32_t lead = 0xC2; lead <= 0xF4; ++lead) {
        for (std::int32_t second = 0x80; second <= 0xBF; ++second) {
            const std::uint8_t bytes[4] = {static_cast<std::uint8_t>(lead),
                                           static_cast<std::uint8_t>(second), 0x80, 0x80};
            bool listed = false;
            for (const InvalidForm& form : INVALID_FORMS)
                listed = listed || (form.lead == lead && form.second.contains(second));
            if (utf8_is_valid_sequence(bytes, utf8_sequence_length_strict(lead)) == listed) {
                return false;
            }
        }
    }
    return true;
}

constexpr bool pairs_below_0x100_match() {
    for (std::int32_t lead = 0xC0; lead <= 0xDF; ++lead) {
        for (std::int32_t second = 0x80; second <= 0xBF; ++second) {
            const std::uint8_t bytes[2] = {static_cast<std::uint8_t>(lead),
                                           static_cast<std::uint8_t>(second)};
            const std::int32_t cp = utf8_decode_at(bytes, 2);
            if ((cp < 0x100) != LEADS_BELOW_0X100.contains(lead)) return false;
            const bool c1 = lead == C1_CONTROL_LEAD && C1_CONTROL_SECONDS.contains(second);
            if (cp < 0x100 && (is_latin1(cp) != 0) == c1) return false;
        }
    }
    return true;
}

}  // namespace detail

static_assert(detail::leads_match_lengths(), "lead ranges disagree with the length rules");
static_assert(detail::invalid_forms_match_validity(), "invalid forms disagree with validity");
static_assert(detail::pairs_below_0x100_match(), "pairs below 0x100 disagree with decoding");

}  // namespace textmend
