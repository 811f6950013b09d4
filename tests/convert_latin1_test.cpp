#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "convert/to_latin1.hpp"
#include "support/bytes.hpp"
#include "support/convert_memory.hpp"
#include "support/memory_io.hpp"

namespace textmend {
namespace {

using test::hex_bytes;
using test::to_hex;

struct Case {
    const char* input;
    const char* latin1;
    const char* cp1252;
};

const Case CASES[] = {
    {"", "", ""},
    {"41 0D 0A 1A", "41 0D 0A 1A", "41 0D 0A 1A"},
    {"C3 A9", "E9", "E9"},
    {"C2 A0", "A0", "A0"},
    {"E9", "E9", "E9"},
    {"E9 41", "E9 41", "E9 41"},
    {"E2 82 AC", "E2 82 AC", "80"},
    {"E2 80 9C", "E2 80 9C", "93"},
    {"E2 84 A2", "E2 84 A2", "99"},
    {"C5 92", "C5 92", "8C"},
    {"C5 B8", "C5 B8", "9F"},
    {"C2 85", "C2 85", "C2 85"},
    {"E4 B8 AD", "E4 B8 AD", "E4 B8 AD"},
    {"F0 9F 98 80", "F0 9F 98 80", "F0 9F 98 80"},
    {"C0 80", "00", "00"},
    {"C1 BF", "7F", "7F"},
    {"E0 81 81", "41", "41"},
    {"E0 80 80", "00", "00"},
    {"F0 80 80 80", "00", "00"},
    {"F8 80 80 80 80", "00", "00"},
    {"FC 80 80 80 83 A9", "E9", "E9"},
    {"C3", "C3", "C3"},
    {"E2 82", "E2 82", "E2 82"},
    {"E9 C3 A9", "E9 E9", "E9 E9"},
    {"C3 A9 E9", "E9 E9", "E9 E9"},
    {"C3 82 A9", "C2 A9", "C2 A9"},
    {"80", "80", "80"},
    {"FF FE", "FF FE", "FF FE"},
    {"E2 C3 A9 AC", "E2 E9 AC", "E2 E9 AC"},  // cut sequence, then a good one inside it
    {"F0 9F C3 A9", "F0 9F E9", "F0 9F E9"},
    {"63 61 66 E9 20 63 61 66 C3 A9", "63 61 66 E9 20 63 61 66 E9", "63 61 66 E9 20 63 61 66 E9"},
};

TEST(ConvertToLatin1, EdgeCasesInBothModes) {
    for (const Case& c : CASES) {
        EXPECT_EQ(test::check_conversion(hex_bytes(c.input), MODE_LATIN1, hex_bytes(c.latin1)), "")
            << "input " << c.input;
        EXPECT_EQ(test::check_conversion(hex_bytes(c.input), MODE_CP1252, hex_bytes(c.cp1252)), "")
            << "input " << c.input << " (-w)";
    }
}

TEST(ConvertToLatin1, DoublyEncodedTextLosesOneLevelPerRun) {
    const std::string once = test::convert_bytes(hex_bytes("C3 82 A9"), MODE_LATIN1);
    EXPECT_EQ(to_hex(once), "C2 A9");
    EXPECT_EQ(to_hex(test::convert_bytes(once, MODE_LATIN1)), "A9");
}

// Every one of the 27 Windows-1252 characters, written in UTF-8, becomes its
// byte with -w and stays as it is in the default mode.
TEST(ConvertToLatin1, AllWindows1252CharactersInCp1252Mode) {
    const std::string text = "€‚ƒ„…†‡ˆ‰Š‹ŒŽ‘’“”•–—˜™š›œžŸ";
    const std::string bytes = hex_bytes(
        "80 82 83 84 85 86 87 88 89 8A 8B 8C 8E 91 92 93 94 95 96 97 98 99 9A 9B 9C 9E 9F");
    EXPECT_EQ(test::check_conversion(text, MODE_CP1252, bytes), "");
    EXPECT_EQ(test::check_conversion(text, MODE_LATIN1, text), "");
}

// The converter contract on its own: where the input is left, and what is
// written, after a handled and after a declined byte.
struct ContractCase {
    const char* input;  // lead byte first
    OutputMode mode;
    std::int32_t handled;
    const char* written;
    std::int64_t position_after;  // input offset after the call
};

TEST(ConvertToLatin1, ContractOnPositionAndOutput) {
    const ContractCase cases[] = {
        {"41 42", MODE_LATIN1, 0, "", 1},
        {"C3 A9 42", MODE_LATIN1, 1, "E9", 2},
        {"E2 82 AC 42", MODE_LATIN1, 0, "", 1},  // gathered two, gave both back
        {"E2 82 AC 42", MODE_CP1252, 1, "80", 3},
        {"E2 82", MODE_LATIN1, 0, "", 1},  // met the end while gathering
        {"F8 88 80 80 80 41", MODE_CP1252, 0, "", 1},
        {"A9 C3", MODE_LATIN1, 0, "", 1},
    };
    for (const ContractCase& c : cases) {
        const std::string bytes = hex_bytes(c.input);
        MemorySource source{reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), 0,
                            1};
        std::vector<std::uint8_t> in_storage(input_storage_size(1));
        std::uint8_t out_storage[16];
        std::string written;
        InputStream in{};
        OutputStream out{};
        input_init(in, memory_source(&source), in_storage.data(), 1);
        output_init(out, ByteSink{test::string_write, &written}, out_storage, sizeof out_storage);
        const std::int32_t lead = input_read_byte(in);
        EXPECT_EQ(convert_to_latin1(lead, in, out, c.mode), c.handled) << c.input;
        output_flush(out);
        EXPECT_EQ(to_hex(written), to_hex(hex_bytes(c.written))) << c.input;
        EXPECT_EQ(input_tell(in), c.position_after) << c.input;
    }
}

}  // namespace
}  // namespace textmend
