#include <gtest/gtest.h>

#include <string>

#include "support/bytes.hpp"
#include "support/convert_memory.hpp"

namespace textmend {
namespace {

using test::hex_bytes;
using test::to_hex;

TEST(ConvertToUtf8, EdgeCases) {
    const struct {
        const char* input;
        const char* output;
    } cases[] = {
        {"", ""},
        {"41 0D 0A 1A", "41 0D 0A 1A"},
        {"C3 A9", "C3 A9"},
        {"E9", "C3 A9"},
        {"E9 41", "C3 A9 41"},
        {"E9 C3 A9", "C3 A9 C3 A9"},
        {"C3 82 A9", "C3 82 C2 A9"},
        {"C3", "C3 83"},
        {"E2 82", "C3 A2 E2 80 9A"},
        {"E2 82 AC", "E2 82 AC"},
        {"80", "E2 82 AC"},
        {"81", "81"},
        {"8D 8F 90 9D", "8D 8F 90 9D"},
        {"9F", "C5 B8"},
        {"A0", "C2 A0"},
        {"A9", "C2 A9"},
        {"BF", "C2 BF"},
        {"93", "E2 80 9C"},
        {"C2 80", "C2 80"},
        {"C0 80", "C3 80 E2 82 AC"},
        {"C1 BF", "C3 81 C2 BF"},
        {"E0 80 80", "E0 80 80"},
        {"ED A0 80", "ED A0 80"},
        {"F0 9F 98 80", "F0 9F 98 80"},
        {"F4 90 80 80", "F4 90 80 80"},
        {"F0 9F 98", "C3 B0 C5 B8 CB 9C"},
        {"F5 80 80 80", "C3 B5 E2 82 AC E2 82 AC E2 82 AC"},
        {"F8 88 80 80 80", "C3 B8 CB 86 E2 82 AC E2 82 AC E2 82 AC"},
        {"FC 84 80 80 80 80", "C3 BC E2 80 9E E2 82 AC E2 82 AC E2 82 AC E2 82 AC"},
        {"FF FE", "C3 BF C3 BE"},
        {"E2 41 AC", "C3 A2 41 C2 AC"},
        {"63 61 66 E9 20 63 61 66 C3 A9", "63 61 66 C3 A9 20 63 61 66 C3 A9"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(test::check_conversion(hex_bytes(c.input), MODE_UTF8, hex_bytes(c.output)), "")
            << "input " << c.input;
    }
}

// Every byte alone: ASCII is kept, the five undefined bytes are kept, every
// other high byte becomes the UTF-8 of its Latin-1 / Windows-1252 character.
TEST(ConvertToUtf8, EverySingleByteAgreesWithItsCharacter) {
    const std::string cp1252_high = "€?‚ƒ„…†‡ˆ‰Š‹Œ?Ž??‘’“”•–—˜™š›œ?žŸ";
    std::size_t at = 0;
    for (int b = 0; b < 256; ++b) {
        const std::string in(1, static_cast<char>(b));
        const std::string out = test::convert_bytes(in, MODE_UTF8, test::Engine::BYTEWISE);
        EXPECT_EQ(test::check_conversion(in, MODE_UTF8, out), "") << std::hex << b;
        if (b < 0x80) {
            EXPECT_EQ(out, in);
        } else if (b < 0xA0) {
            // Walk the expected text one character at a time.
            const std::size_t len = cp1252_high[at] == '?'             ? 1
                                    : (cp1252_high[at] & 0xE0) == 0xC0 ? 2
                                                                       : 3;
            const std::string want =
                len == 1 ? std::string(1, static_cast<char>(b)) : cp1252_high.substr(at, len);
            EXPECT_EQ(to_hex(out), to_hex(want)) << std::hex << b;
            at += len;
        } else {
            const std::string want{static_cast<char>(0xC0 | (b >> 6)),
                                   static_cast<char>(0x80 | (b & 0x3F))};
            EXPECT_EQ(to_hex(out), to_hex(want)) << std::hex << b;
        }
    }
    EXPECT_EQ(at, cp1252_high.size());
}

}  // namespace
}  // namespace textmend
