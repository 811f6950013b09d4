// The pieces of the bulk path on their own, against the model, with every
// kernel set the processor supports: how far the input passes through
// unchanged, and the bulk converters (vector blocks, then the stepwise code;
// with the portable set, the stepwise code alone).
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>

#include "convert/bulk.hpp"
#include "convert/byte_tables.hpp"
#include "encoding/target_byte.hpp"
#include "encoding/utf8.hpp"
#include "support/bytes.hpp"
#include "support/kernel_sets.hpp"
#include "support/model.hpp"
#include "support/random_text.hpp"
#include "textmend/textmend.hpp"

namespace textmend {
namespace {

const OutputMode ALL_MODES[] = {MODE_LATIN1, MODE_CP1252, MODE_UTF8};

// Random inputs from dense (every kind of high byte) to sparse (long ASCII
// stretches with a rare high byte), so that both early and late stops occur.
std::string sample(std::mt19937_64& rng, int round) {
    std::string s = test::random_mixed_bytes(rng, 50 + static_cast<std::size_t>(round % 7) * 300);
    const int keep_one_in = 1 << (round % 9);
    std::uniform_int_distribution<int> pick(0, keep_one_in - 1);
    for (char& c : s) {
        if (pick(rng) != 0) c = 'a' + static_cast<char>(pick(rng) % 26);
    }
    return s;
}

const std::uint8_t* bytes(const std::string& s) {
    return reinterpret_cast<const std::uint8_t*>(s.data());
}

// The stretch before the returned position converts to itself, and converting
// the input in two parts split there gives the whole result: so the position
// is one the byte loop stops at.
TEST(UnchangedPrefix, PassesUnchangedAndEndsAtALeadPosition) {
    std::mt19937_64 rng(11);
    for (int round = 0; round < 400; ++round) {
        const std::string input = sample(rng, round);
        const std::uint8_t* lead_end = bytes(input) + input.size() - (BULK_LOOK_AHEAD - 1);
        for (OutputMode mode : ALL_MODES) {
            for (const KernelSet set : test::supported_kernel_sets()) {
                const test::KernelSetScope scope(set);
                const std::uint8_t* q = bulk_unchanged_prefix(bytes(input), lead_end, mode);
                ASSERT_LE(q, bytes(input) + input.size());
                const auto split = static_cast<std::size_t>(q - bytes(input));
                const std::string head = input.substr(0, split);
                ASSERT_EQ(test::to_hex(test::model_convert(head, mode)), test::to_hex(head))
                    << "mode " << mode << ", kernels " << kernels().name;
                ASSERT_TRUE(test::model_convert(head, mode) +
                                test::model_convert(input.substr(split), mode) ==
                            test::model_convert(input, mode))
                    << "mode " << mode << ", kernels " << kernels().name << ", split " << split
                    << " of " << test::to_hex(input);
            }
        }
    }
}

// One sequence in ASCII, at every offset of inputs of many lengths: it
// straddles every block boundary and every end of the vector loops (which
// pass over up to 256 bytes of ASCII at once).
TEST(UnchangedPrefix, SequenceAtEveryOffset) {
    const std::string sequences[] = {"\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80", "\xE9"};
    for (std::size_t length = 64; length < 340; length += 5) {
        for (const std::string& sequence : sequences) {
            for (std::size_t at = 0; at + sequence.size() <= length; ++at) {
                std::string input(length, 'a');
                input.replace(at, sequence.size(), sequence);
                const std::uint8_t* lead_end = bytes(input) + input.size() - (BULK_LOOK_AHEAD - 1);
                for (OutputMode mode : ALL_MODES) {
                    for (const KernelSet set : test::supported_kernel_sets()) {
                        const test::KernelSetScope scope(set);
                        const auto split = static_cast<std::size_t>(
                            bulk_unchanged_prefix(bytes(input), lead_end, mode) - bytes(input));
                        const std::string head = input.substr(0, split);
                        ASSERT_EQ(test::model_convert(head, mode), head)
                            << length << " " << at << " " << mode << " " << kernels().name;
                        ASSERT_EQ(test::model_convert(head, mode) +
                                      test::model_convert(input.substr(split), mode),
                                  test::model_convert(input, mode))
                            << length << " " << at << " " << mode << " " << kernels().name;
                    }
                }
            }
        }
    }
}

// Well-formed UTF-8 with one fault, for every kind of fault at every offset
// around a few block boundaries: the vector search stops exactly where the
// stepwise one does, neither early (a stretch lost to the slow path) nor late.
TEST(UnchangedPrefix, StopsWhereTheStepwiseSearchStops) {
    const std::string text =
        "Stra\xC3\x9F"
        "e \xE2\x82\xAC caf\xC3\xA9 \xF0\x9F\x98\x80 "
        "na\xC3\xAFve \xE4\xB8\xAD\xE6\x96\x87 \xC3\xA0 la cr\xC3\xA8me ";
    const std::string faults[] = {
        "\xE9",
        "\x80",
        "\xBF\xBF",
        "\xC0\x80",
        "\xC1\xBF",
        "\xF5\x80\x80\x80",
        "\xFF",
        "\xC3",
        "\xE2\x82",
        "\xF0\x9F\x98",
        "\xC3\xA9\x80",
        "\xE2\x82\xAC\xAC",
        "\xF0\x9F\x98\x80\x80",
        "\xE2\xC3\xA9",
        "\xF4\x8F\xBF\xBF\xBF",
    };
    std::string base;
    while (base.size() < 300)
        base += text;
    for (const std::string& fault : faults) {
        for (std::size_t at = 20; at < 240; ++at) {
            std::string input = base;
            input.insert(at, fault);
            const std::uint8_t* lead_end = bytes(input) + input.size() - (BULK_LOOK_AHEAD - 1);
            for (OutputMode mode : ALL_MODES) {
                const std::uint8_t* expected =
                    bulk_unchanged_prefix_stepwise(bytes(input), lead_end, mode);
                for (const KernelSet set : test::supported_kernel_sets()) {
                    const test::KernelSetScope scope(set);
                    ASSERT_EQ(bulk_unchanged_prefix(bytes(input), lead_end, mode) - bytes(input),
                              expected - bytes(input))
                        << "fault " << test::to_hex(fault) << " at " << at << ", mode " << mode
                        << ", kernels " << kernels().name;
                }
            }
        }
    }
}

// A bulk converter's output for the part it did, followed by the model's for
// the rest, is the model's output for the whole.
TEST(BulkConverters, EveryKernelSetAgreesWithTheModel) {
    std::mt19937_64 rng(12);
    std::string out(1 << 16, '\0');
    for (int round = 0; round < 400; ++round) {
        const std::string input = sample(rng, round);
        const std::uint8_t* lead_end = bytes(input) + input.size() - (BULK_LOOK_AHEAD - 1);
        for (OutputMode mode : ALL_MODES) {
            for (const KernelSet set : test::supported_kernel_sets()) {
                const test::KernelSetScope scope(set);
                auto* o = reinterpret_cast<std::uint8_t*>(out.data());
                const BulkProgress done =
                    mode == MODE_UTF8 ? bulk_convert_to_utf8(bytes(input), lead_end, o)
                                      : bulk_convert_to_latin1(bytes(input), lead_end, o, mode);
                const auto used = static_cast<std::size_t>(done.in - bytes(input));
                ASSERT_GE(done.in, lead_end);
                const std::string got = out.substr(0, static_cast<std::size_t>(done.out - o)) +
                                        test::model_convert(input.substr(used), mode);
                ASSERT_EQ(test::to_hex(got), test::to_hex(test::model_convert(input, mode)))
                    << "mode " << mode << ", kernels " << kernels().name << ", input "
                    << test::to_hex(input);
            }
        }
    }
}

// With -u a kernel writes a block of Latin-1 text a way of its own: after a
// long run of such blocks, a block with a NUL, a Windows-1252 byte or a
// UTF-8 sequence in any lane of the widest block (64 bytes; a sequence in
// the last lanes reaches into the next block), and then Latin-1 again.
TEST(BulkConverters, BlocksAfterALongRunOfLatin1Text) {
    std::string latin1_run;
    while (latin1_run.size() < 32 * 24)
        latin1_run +=
            "Gr\xFC\xDF"
            "e aus K\xF6ln, \xE0 bient\xF4t. ";
    const std::string odd_bytes[] = {
        std::string(1, '\0'), "\x93", "\x80", "\x81", "\xC3\xA9", "\xE2\x82\xAC",
        "\xF0\x9F\x98\x80"};
    std::string out(1 << 14, '\0');
    for (const std::string& odd : odd_bytes) {
        for (std::size_t lane = 0; lane < 64; ++lane) {
            std::string input = latin1_run;
            input.replace(latin1_run.size() - 128 + lane, odd.size(), odd);
            input += latin1_run;
            const std::uint8_t* lead_end = bytes(input) + input.size() - (BULK_LOOK_AHEAD - 1);
            for (const KernelSet set : test::supported_kernel_sets()) {
                const test::KernelSetScope scope(set);
                auto* o = reinterpret_cast<std::uint8_t*>(out.data());
                const BulkProgress done = bulk_convert_to_utf8(bytes(input), lead_end, o);
                const auto used = static_cast<std::size_t>(done.in - bytes(input));
                const std::string got = out.substr(0, static_cast<std::size_t>(done.out - o)) +
                                        test::model_convert(input.substr(used), MODE_UTF8);
                ASSERT_EQ(test::to_hex(got), test::to_hex(test::model_convert(input, MODE_UTF8)))
                    << test::to_hex(odd) << " in lane " << lane << ", kernels " << kernels().name;
            }
        }
    }
}

// The size of a conversion is worked out block by block, passing over runs of
// ASCII at once: every lone high byte and sequences of every length (valid,
// overlong, a surrogate) at each lane of the blocks after such a run, alone
// and with a second one a block later, give the model's size in every mode.
TEST(ConvertedSize, EveryUnitAtEveryLaneAfterARunOfAscii) {
    std::vector<std::string> units;
    for (int byte = 0x80; byte <= 0xFF; ++byte)
        units.emplace_back(1, static_cast<char>(byte));
    for (const char* sequence : {"\xC3\xA9", "\xC2\x85", "\xE2\x82\xAC", "\xF0\x9F\x98\x80",
                                 "\xED\xA0\x80", "\xE0\x80\xAF"})
        units.emplace_back(sequence);
    for (const std::string& unit : units) {
        for (std::size_t at = 250; at < 330; ++at) {
            for (const bool twice : {false, true}) {
                std::string input(700, 'a');
                input.replace(at, unit.size(), unit);
                if (twice) input.replace(at + 64, unit.size(), unit);
                for (OutputMode mode : ALL_MODES) {
                    const std::size_t expected = test::model_convert(input, mode).size();
                    for (const KernelSet set : test::supported_kernel_sets()) {
                        const test::KernelSetScope scope(set);
                        ASSERT_EQ(converted_size(input, mode), expected)
                            << test::to_hex(unit) << " at " << at << ", mode " << mode
                            << ", kernels " << kernels().name;
                    }
                }
            }
        }
    }
}

}  // namespace
}  // namespace textmend

namespace textmend {
namespace {

// The pairs by which the vector code passes over leads of 0xC4 and above:
// a lead and second byte are listed exactly when some sequence they start
// decodes to a code point of the target set. With the second byte fixed,
// the sequence's code points run from the one with all further bytes 0x80
// to the one with all 0xBF.
TEST(LeadPairs, ListEveryPairThatCanStartAChangeAndNoOther) {
    for (const OutputMode mode : {MODE_LATIN1, MODE_CP1252}) {
        const LeadPairs& listed = mode == MODE_CP1252 ? CP1252_LEAD_PAIRS : LATIN1_LEAD_PAIRS;
        for (int lead = 0xC4; lead <= 0xFF; ++lead) {
            const std::int32_t n = PERMISSIVE_LENGTHS[static_cast<std::size_t>(lead)];
            if (n < 2) continue;
            for (int second = 0x80; second <= 0xBF; ++second) {
                std::uint8_t low[6] = {static_cast<std::uint8_t>(lead),
                                       static_cast<std::uint8_t>(second),
                                       0x80,
                                       0x80,
                                       0x80,
                                       0x80};
                std::uint8_t high[6] = {static_cast<std::uint8_t>(lead),
                                        static_cast<std::uint8_t>(second),
                                        0xBF,
                                        0xBF,
                                        0xBF,
                                        0xBF};
                bool reaches = false;
                for (std::int32_t cp = utf8_decode_at(low, n);
                     cp <= utf8_decode_at(high, n) && cp <= 0x10FFFF && !reaches; ++cp)
                    reaches = target_byte(cp, mode) >= 0;
                bool in_list = false;
                for (int i = 0; i < listed.count; ++i) {
                    const auto& pair = listed.pairs[static_cast<std::size_t>(i)];
                    in_list = in_list || (pair[0] == lead && pair[1] == second);
                }
                EXPECT_EQ(in_list, reaches)
                    << std::hex << lead << " " << second << " mode " << static_cast<int>(mode);
            }
        }
    }
}

// The lookup tables made from the lists: by six bits they find exactly the
// listed pairs, by nibbles at least those (a pair missed would be a change
// missed; a few more only cost time).
TEST(LeadPairs, LookupTablesFindEveryListedPair) {
    for (const OutputMode mode : {MODE_LATIN1, MODE_CP1252}) {
        const LeadPairs& listed = mode == MODE_CP1252 ? CP1252_LEAD_PAIRS : LATIN1_LEAD_PAIRS;
        const LeadPairBits& bits =
            mode == MODE_CP1252 ? CP1252_LEAD_PAIR_BITS : LATIN1_LEAD_PAIR_BITS;
        int nibble_extra = 0;
        for (int lead = 0xC4; lead <= 0xFF; ++lead) {
            for (int second = 0x80; second <= 0xBF; ++second) {
                bool in_list = false;
                for (int i = 0; i < listed.count; ++i) {
                    const auto& pair = listed.pairs[static_cast<std::size_t>(i)];
                    in_list = in_list || (pair[0] == lead && pair[1] == second);
                }
                const auto at = [](const auto& table, int index) {
                    return table[static_cast<std::size_t>(index)];
                };
                const bool by_six_bits =
                    (at(bits.lead, lead & 0x3F) & at(bits.second, second & 0x3F)) != 0;
                const bool by_nibbles =
                    (at(bits.lead_high, lead >> 4) & at(bits.lead_low, lead & 0x0F) &
                     at(bits.second_high, second >> 4) & at(bits.second_low, second & 0x0F)) != 0;
                EXPECT_EQ(by_six_bits, in_list) << std::hex << lead << " " << second;
                EXPECT_TRUE(by_nibbles || !in_list) << std::hex << lead << " " << second;
                nibble_extra += by_nibbles && !in_list;
            }
        }
        EXPECT_LT(nibble_extra, 64) << "mode " << static_cast<int>(mode);
    }
}

TEST(KernelSets, TheEnvironmentChoosesASupportedSet) {
    constexpr KernelSet portable = KernelSet::portable;
    constexpr KernelSet avx2 = KernelSet::avx2;
    constexpr KernelSet avx512 = KernelSet::avx512;
    constexpr KernelRequest none = KernelRequest::none;
    constexpr KernelRequest granted = KernelRequest::granted;
    constexpr KernelRequest unknown = KernelRequest::unknown;
    constexpr KernelRequest unsupported = KernelRequest::unsupported;
    const struct {
        const char* requested;
        KernelSet best;
        KernelSet chosen;
        KernelRequest outcome;
    } cases[] = {
        {nullptr, avx2, avx2, none},
        {nullptr, portable, portable, none},
        {nullptr, avx512, avx512, none},
        {"portable", avx2, portable, granted},
        {"portable", avx512, portable, granted},
        {"avx2", avx2, avx2, granted},
        {"avx2", avx512, avx2, granted},
        {"avx2", portable, portable, unsupported},
        {"avx512", avx512, avx512, granted},
        {"avx512", avx2, avx2, unsupported},
        {"avx512", portable, portable, unsupported},
        {"sse9", avx2, avx2, unknown},
        {"", portable, portable, none},
        {"AVX2", avx2, avx2, unknown},
        {"avx", avx512, avx512, unknown},
    };
    for (const auto& c : cases) {
        const std::string what = std::string(c.requested ? c.requested : "(unset)") + " best " +
                                 std::to_string(static_cast<int>(c.best));
        EXPECT_EQ(choose_kernel_set(c.requested, c.best), c.chosen) << what;
        EXPECT_EQ(kernel_request_outcome(c.requested, c.best), c.outcome) << what;
    }
}

// The active set is the one TEXTMEND_KERNELS asks for (CTest runs the unit
// tests once per set), and the library says so.
TEST(KernelSets, TheActiveSetIsTheOneAskedFor) {
    const KernelSet best = best_supported_kernel_set();
    EXPECT_EQ(kernels().set, choose_kernel_set(std::getenv("TEXTMEND_KERNELS"), best))
        << kernels().name;
    const KernelChoice choice = kernel_choice();
    EXPECT_STREQ(choice.active, kernels().name);
    if (std::getenv("TEXTMEND_KERNELS") != nullptr && *std::getenv("TEXTMEND_KERNELS") != '\0') {
        EXPECT_STREQ(choice.requested, std::getenv("TEXTMEND_KERNELS"));
        EXPECT_EQ(choice.request, KernelRequest::granted);
        EXPECT_STREQ(choice.active, std::getenv("TEXTMEND_KERNELS"));
    }
    for (const KernelSet set : {KernelSet::portable, KernelSet::avx2, KernelSet::avx512})
        EXPECT_EQ(kernel_set_supported(set), set <= best) << static_cast<int>(set);
    if (best != KernelSet::avx512) {
        EXPECT_FALSE(use_kernel_set(KernelSet::avx512));
    }
}

}  // namespace
}  // namespace textmend
