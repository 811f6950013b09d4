#include <gtest/gtest.h>

#include <string>

#include "encoding/cp1252.hpp"
#include "encoding/cp1252_reverse.hpp"
#include "encoding/latin1.hpp"
#include "encoding/utf8.hpp"

namespace textmend {
namespace {

TEST(IsLatin1, BoundariesOfBothRanges) {
    const struct {
        std::int32_t v, expected;
    } cases[] = {
        {0x00, 1},  {0x7F, 1},   {0x80, 0},
        {0x9F, 0},  {0xA0, 1},   {0xFF, 1},
        {0x100, 0}, {0x20AC, 0}, {-1, 1 /* below 0x80 by signed comparison */},
    };
    for (const auto& c : cases)
        EXPECT_EQ(is_latin1(c.v), c.expected) << std::hex << c.v;
}

// The 27 characters of 0x80..0x9F in byte order, written out as text.
const std::string WINDOWS_1252_PRINTABLES = "€‚ƒ„…†‡ˆ‰Š‹ŒŽ‘’“”•–—˜™š›œžŸ";

TEST(Cp1252Table, HoldsThePublishedCharactersAndFiveGaps) {
    std::string joined;
    int undefined = 0;
    for (std::int32_t b = 0x80; b <= 0x9F; ++b) {
        const std::int32_t cp = cp1252_to_unicode(b);
        if (cp == -1) {
            ++undefined;
            continue;
        }
        const EncodeBuffer e = utf8_encode(cp);
        joined.append(e.begin(), e.begin() + encoded_length(e));
    }
    EXPECT_EQ(joined, WINDOWS_1252_PRINTABLES);
    EXPECT_EQ(undefined, 5);
    for (std::int32_t b : {0x81, 0x8D, 0x8F, 0x90, 0x9D})
        EXPECT_EQ(cp1252_to_unicode(b), -1) << b;
}

TEST(Cp1252Lookups, EdgeCases) {
    EXPECT_EQ(cp1252_index_of(0x20AC), 0x80);
    EXPECT_EQ(cp1252_index_of(0x2122), 0x99);
    EXPECT_EQ(cp1252_index_of(0x0178), 0x9F);
    EXPECT_EQ(cp1252_index_of(-1), -1);
    EXPECT_EQ(cp1252_index_of(0xE9), -1);
    EXPECT_EQ(cp1252_to_unicode(0x80), 0x20AC);
    EXPECT_EQ(cp1252_to_unicode(0x81), -1);
    EXPECT_EQ(cp1252_to_unicode(0xE9), 0xE9);
    EXPECT_EQ(cp1252_to_unicode(0x41), 0x41);
}

TEST(ToCp1252, StoresTheByteOnlyOnSuccess) {
    const struct {
        std::int32_t cp, result, byte;
    } cases[] = {
        {0xE9, 1, 0xE9}, {0x41, 1, 0x41}, {0x201C, 1, 0x93}, {0x20AC, 1, 0x80},
        {0x85, 0, -7},   {0x4E2D, 0, -7}, {0x80, 0, -7},     {0x110000, 0, -7},
    };
    for (const auto& c : cases) {
        std::int32_t byte = -7;
        EXPECT_EQ(to_cp1252(c.cp, &byte), c.result) << std::hex << c.cp;
        EXPECT_EQ(byte, c.byte) << std::hex << c.cp;
        EXPECT_EQ(to_cp1252(c.cp), c.result);
    }
}

// Every byte that stands for a character maps back to itself.
TEST(Cp1252RoundTrip, EveryDefinedByte) {
    for (std::int32_t b = 0; b <= 0xFF; ++b) {
        const std::int32_t cp = cp1252_to_unicode(b);
        if (cp == -1) continue;
        std::int32_t back = -1;
        ASSERT_EQ(to_cp1252(cp, &back), 1) << b;
        EXPECT_EQ(back, b);
    }
}

}  // namespace
}  // namespace textmend
