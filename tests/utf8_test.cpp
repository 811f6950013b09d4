#include <gtest/gtest.h>

#include <string>

#include "encoding/utf8.hpp"
#include "support/bytes.hpp"

namespace textmend {
namespace {

SequenceBuffer buffer_of(const std::string& hex) {
    const std::string bytes = test::hex_bytes(hex);
    SequenceBuffer buf{};
    for (std::size_t i = 0; i < bytes.size() && i < buf.size(); ++i) {
        buf[i] = static_cast<std::uint8_t>(bytes[i]);
    }
    return buf;
}

struct LengthCase {
    int first, last;  // byte range
    int permissive, strict;
};

TEST(Utf8SequenceLength, EveryByteValueByRange) {
    const LengthCase cases[] = {
        {0x00, 0x7F, 1, 1},  {0x80, 0xBF, 0, 0},  {0xC0, 0xC1, 2, -1}, {0xC2, 0xDF, 2, 2},
        {0xE0, 0xEF, 3, 3},  {0xF0, 0xF4, 4, 4},  {0xF5, 0xF7, 4, -1}, {0xF8, 0xFB, 5, -1},
        {0xFC, 0xFD, 6, -1}, {0xFE, 0xFF, 1, -1},
    };
    int covered = 0;
    for (const LengthCase& c : cases) {
        for (int v = c.first; v <= c.last; ++v, ++covered) {
            EXPECT_EQ(utf8_sequence_length(v), c.permissive) << std::hex << v;
            EXPECT_EQ(utf8_sequence_length_strict(v), c.strict) << std::hex << v;
        }
    }
    EXPECT_EQ(covered, 256);
}

TEST(Utf8HasContinuations, JudgesFormOfFollowingBytes) {
    const struct {
        const char* bytes;
        std::int32_t expected;
    } cases[] = {
        {"C3 A9", 1},
        {"C3 41", 0},
        {"C3", 0},  // input ended after the lead byte: position 1 stays zero
        {"41 80", 0},
        {"80 80", 0},
        {"FE 80", 0},
        {"E2 82 AC", 1},
        {"E2 82", 0},
        {"E2 82 41", 0},
        {"F0 9F 98 80", 1},
        {"F0 9F 98 C0", 0},
        {"F8 88 80 80 80", 1},
        {"FC 84 80 80 80 80", 1},
        {"FC 84 80 80 80 7F", 0},
        {"C0 80", 1},  // overlong, but of the right form
    };
    for (const auto& c : cases) {
        EXPECT_EQ(utf8_has_continuations(buffer_of(c.bytes)), c.expected) << c.bytes;
    }
}

TEST(Utf8Decode, ValuesOfWellFormedAndOddSequences) {
    const struct {
        const char* bytes;
        std::int32_t expected;
    } cases[] = {
        {"41", 0x41},
        {"A9", 0xA9},  // a continuation byte alone decodes to itself
        {"FF", 0xFF},
        {"C3 A9", 0xE9},
        {"E2 82 AC", 0x20AC},
        {"F0 9F 98 80", 0x1F600},
        {"C0 80", 0},
        {"C1 81", 0x41},
        {"E0 81 81", 0x41},
        {"ED A0 80", 0xD800},
        {"F4 90 80 80", 0x110000},
        {"F8 88 80 80 80", 0x200000},
        {"FD BF BF BF BF BF", 0x7FFFFFFF},
        {"E2 82", 0xE2},  // a zero in the following bytes gives the lead byte
    };
    for (const auto& c : cases)
        EXPECT_EQ(utf8_decode(buffer_of(c.bytes)), c.expected) << c.bytes;
}

TEST(Utf8Encode, FormsForEachLengthFollowedByZeros) {
    const struct {
        std::int32_t cp;
        const char* bytes;
    } cases[] = {
        {0x41, "41"},
        {0x7F, "7F"},
        {0x80, "C2 80"},
        {0xE9, "C3 A9"},
        {0x7FF, "DF BF"},
        {0x800, "E0 A0 80"},
        {0x20AC, "E2 82 AC"},
        {0xFFFF, "EF BF BF"},
        {0x10000, "F0 90 80 80"},
        {0x1FFFFF, "F7 BF BF BF"},
        {0x200000, "F8 88 80 80 80"},
        {0x3FFFFFF, "FB BF BF BF BF"},
        {0x4000000, "FC 84 80 80 80 80"},
        {0x7FFFFFFF, "FD BF BF BF BF BF"},
    };
    for (const auto& c : cases) {
        const std::string want = test::hex_bytes(c.bytes);
        const EncodeBuffer e = utf8_encode(c.cp);
        EXPECT_EQ(encoded_length(e), static_cast<std::int32_t>(want.size())) << std::hex << c.cp;
        EXPECT_EQ(test::to_hex(std::string(e.begin(), e.begin() + encoded_length(e))),
                  test::to_hex(want));
        for (std::size_t i = want.size(); i < e.size(); ++i)
            EXPECT_EQ(e[i], 0) << std::hex << c.cp;
    }
}

TEST(Utf8Encode, SecondResultIsIndependentOfTheFirst) {
    const EncodeBuffer first = utf8_encode(0x7FFFFFFF);
    const EncodeBuffer second = utf8_encode(0xE9);
    EXPECT_EQ(test::to_hex(std::string(second.begin(), second.end())), "C3 A9 00 00 00 00 00");
    EXPECT_EQ(first[5], 0xBF);
}

// Decoding what was encoded gives the value back, for every length the encoder
// writes; and the length the classifier sees is the length that was written.
TEST(Utf8RoundTrip, DecodeOfEncodeAcrossAllLengths) {
    for (std::int64_t cp = 1; cp <= 0x7FFFFFFF; cp = cp < 0x20000 ? cp + 1 : cp * 3 + 7) {
        const EncodeBuffer e = utf8_encode(static_cast<std::int32_t>(cp));
        SequenceBuffer buf{};
        std::copy(e.begin(), e.end(), buf.begin());
        ASSERT_EQ(utf8_decode(buf), cp);
        const std::int32_t n = encoded_length(e);
        ASSERT_EQ(utf8_sequence_length(buf[0]), n) << cp;
        if (n > 1) {
            ASSERT_EQ(utf8_has_continuations(buf), 1) << cp;
        }
    }
}

}  // namespace
}  // namespace textmend
