// The inspection against hand-checked cases and against the independent
// model: the same units, kinds, lines and columns, and an output size equal
// to what the conversion writes, whole or in pieces of any size.
#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "support/bytes.hpp"
#include "support/model.hpp"
#include "support/random_text.hpp"
#include "textmend/textmend.hpp"

namespace textmend {
namespace {

const Target TARGETS[] = {Target::latin1, Target::windows1252, Target::utf8};

// Findings as "offset:length:c" (changed) or "offset:length:k" (kept).
std::string describe(const std::vector<Finding>& findings) {
    std::string s;
    for (const Finding& f : findings) {
        if (!s.empty()) s += ' ';
        s += std::to_string(f.offset) + ':' + std::to_string(f.length) +
             (f.kind == FindingKind::kept ? 'k' : 'c');
    }
    return s;
}

std::string describe(const std::vector<test::ModelUnit>& units) {
    std::string s;
    for (const test::ModelUnit& u : units) {
        if (!s.empty()) s += ' ';
        s += std::to_string(u.offset) + ':' + std::to_string(u.length) + (u.kept ? 'k' : 'c');
    }
    return s;
}

std::size_t kept_count(const std::vector<test::ModelUnit>& units) {
    return static_cast<std::size_t>(
        std::count_if(units.begin(), units.end(), [](const test::ModelUnit& u) { return u.kept; }));
}

// The findings reported are the model's first units, where they are.
void expect_first_units(const std::vector<Finding>& found,
                        const std::vector<test::ModelUnit>& units) {
    for (std::size_t i = 0; i < found.size(); ++i) {
        EXPECT_EQ(found[i].offset, units[i].offset);
        EXPECT_EQ(found[i].line, units[i].line);
        EXPECT_EQ(found[i].column, units[i].column);
    }
}

// Appends words picked at random to input until it has grown by a stretch
// of 0..longest bytes picked at random (the last word may pass it).
template <typename Words>
void add_stretch(std::string& input, std::mt19937_64& rng, const Words& words,
                 std::size_t longest) {
    const std::size_t stretch = std::uniform_int_distribution<std::size_t>(0, longest)(rng);
    for (const std::size_t start = input.size(); input.size() - start < stretch;)
        input += words[rng() % std::size(words)];
}

// inspect() on input in every target, keeping each of limits findings
// (ALL_UNITS: as many as the model finds), against the model: the counts,
// the size of the conversion and the findings reported. label names the
// input in a failure.
constexpr std::size_t ALL_UNITS = static_cast<std::size_t>(-1);

void expect_inspected_as_model(const std::string& input, std::initializer_list<std::size_t> limits,
                               const std::string& label) {
    for (const Target target : TARGETS) {
        const std::vector<test::ModelUnit> units = test::model_units(input, target);
        const std::size_t kept = kept_count(units);
        const std::size_t out_size = test::model_convert(input, target).size();
        for (std::size_t limit : limits) {
            limit = std::min(limit, units.size());
            std::vector<Finding> found;
            const Inspection r = inspect(input, target, &found, limit);
            ASSERT_EQ(r.kept, kept)
                << label << ", target " << static_cast<int>(target) << ", " << limit << " findings";
            ASSERT_EQ(r.changed, units.size() - kept) << label;
            ASSERT_EQ(r.bytes_out, out_size) << label;
            ASSERT_EQ(found.size(), limit) << label;
            expect_first_units(found, units);
        }
    }
}

TEST(Inspect, HandCheckedUnits) {
    const struct {
        Target target;
        const char* input;  // hex
        const char* units;
    } cases[] = {
        {Target::latin1, "", ""},
        {Target::latin1, "41 0D 0A 1A", ""},
        {Target::latin1, "C3 A9", "0:2c"},
        {Target::latin1, "E9 41 E9", ""},  // lone Latin-1 bytes are Latin-1
        {Target::latin1, "80 9F", ""},
        {Target::latin1, "E2 82 AC", "0:3k"},
        {Target::latin1, "C2 85", "0:2k"},
        {Target::latin1, "C0 80 E0 81 81", "0:2c 2:3c"},
        {Target::latin1, "F0 9F 98 80", "0:4k"},
        {Target::latin1, "FC 84 80 80 80 80", "0:6k"},
        {Target::latin1, "E2 82", ""},  // cut short by the end
        {Target::latin1, "E9 C3 A9", "1:2c"},
        {Target::windows1252, "E2 82 AC", "0:3c"},
        {Target::windows1252, "C5 92 C5 81", "0:2c 2:2k"},
        {Target::windows1252, "81 8D 8F 90 9D 80", "0:1k 1:1k 2:1k 3:1k 4:1k"},
        {Target::windows1252, "C2 81", "0:2k"},  // the 81 belongs to the sequence
        {Target::windows1252, "E4 B8 AD", "0:3k"},
        {Target::utf8, "C3 A9 E2 82 AC F0 9F 98 80", ""},
        {Target::utf8, "E9", "0:1c"},
        {Target::utf8, "81 93", "0:1k 1:1c"},
        {Target::utf8, "E0 80 80 ED A0 80 F4 90 80 80", "0:3k 3:3k 6:4k"},
        {Target::utf8, "C0 80", "0:1c 1:1c"},
        {Target::utf8, "E2 82", "0:1c 1:1c"},
        {Target::utf8, "F5 80", "0:1c 1:1c"},
    };
    for (const auto& c : cases) {
        const std::string input = test::hex_bytes(c.input);
        std::vector<Finding> findings;
        const Inspection result = inspect(input, c.target, &findings, 100);
        EXPECT_EQ(describe(findings), c.units)
            << c.input << " target " << static_cast<int>(c.target);
        EXPECT_EQ(result.bytes_in, input.size());
        EXPECT_EQ(result.bytes_out, test::model_convert(input, c.target).size()) << c.input;
        EXPECT_EQ(result.clean(), std::string(c.units).empty()) << c.input;
    }
}

void expect_same_places(const std::vector<Finding>& found, const std::vector<Finding>& wanted) {
    for (std::size_t i = 0; i < found.size() && i < wanted.size(); ++i) {
        EXPECT_EQ(found[i].line, wanted[i].line) << i;
        EXPECT_EQ(found[i].column, wanted[i].column) << i;
    }
}

TEST(Inspect, LinesAndColumnsCountNewlinesOnly) {
    const std::string input = "first\r\nsecond caf\xC3\xA9\n\n\xE2\x82\xAC at the start";
    std::vector<Finding> findings;
    (void)inspect(input, Target::latin1, &findings, 10);
    ASSERT_EQ(findings.size(), 2U);
    EXPECT_EQ(findings[0].line, 2U);
    EXPECT_EQ(findings[0].column, 11U);
    EXPECT_EQ(test::to_hex(std::string(findings[0].bytes, findings[0].bytes + findings[0].length)),
              "C3 A9");
    EXPECT_EQ(findings[1].line, 4U);
    EXPECT_EQ(findings[1].column, 1U);
}

// Only the first max_findings are reported, but all are counted; the array
// form stores exactly those.
TEST(Inspect, FindingsBeyondTheLimitAreCountedNotReported) {
    std::string input;
    for (int i = 0; i < 50; ++i)
        input += "line \xC3\xA9\n";
    for (const std::size_t limit :
         {std::size_t{0}, std::size_t{1}, std::size_t{7}, std::size_t{50}}) {
        std::vector<Finding> storage(limit);
        std::size_t stored = 99;
        const Inspection result =
            inspect(input.data(), input.size(), Target::latin1, storage.data(), limit, &stored);
        EXPECT_EQ(result.changed, 50U);
        EXPECT_EQ(stored, limit);
        if (limit > 0) {
            EXPECT_EQ(storage[limit - 1].line, limit);
        }
    }
}

TEST(Inspect, DefaultInspectorIsLatin1AndStartsAnewAfterFinish) {
    StreamInspector inspector;
    inspector.feed(std::string_view("\xE2\x82\xAC"));
    const Inspection first = inspector.finish();
    EXPECT_EQ(first.target, Target::latin1);
    EXPECT_EQ(first.kept, 1U);
    inspector.feed(std::string_view("ok"));
    const Inspection second = inspector.finish();
    EXPECT_EQ(second.bytes_in, 2U);
    EXPECT_TRUE(second.clean());
}

void collect(const Finding& finding, void* context) {
    static_cast<std::vector<Finding>*>(context)->push_back(finding);
}

// Random inputs, whole and in random pieces, in every target, against the
// model: every unit with its line and column, the counts, the output size.
TEST(Inspect, AgreesWithTheModelWholeAndInPieces) {
    std::mt19937_64 rng(9092026);
    for (int round = 0; round < 300; ++round) {
        const std::size_t size = std::uniform_int_distribution<std::size_t>(0, 700)(rng);
        const std::string input = test::random_mixed_bytes(rng, size);
        for (const Target target : TARGETS) {
            const OutputMode mode = target;
            const std::vector<test::ModelUnit> units = test::model_units(input, mode);
            const std::size_t kept = kept_count(units);
            const std::size_t out_size = test::model_convert(input, mode).size();

            std::vector<Finding> whole;
            const Inspection all = inspect(input, target, &whole, units.size() + 1);
            ASSERT_EQ(describe(whole), describe(units)) << test::to_hex(input);

            const std::size_t piece_max = std::uniform_int_distribution<std::size_t>(1, 9)(rng);
            std::vector<Finding> pieces;
            StreamInspector inspector(target, units.size(), collect, &pieces);
            for (std::size_t at = 0; at < input.size();) {
                const std::size_t n =
                    std::min(input.size() - at,
                             std::uniform_int_distribution<std::size_t>(0, piece_max)(rng));
                inspector.feed(input.data() + at, n);
                at += n;
            }
            const Inspection fed = inspector.finish();
            ASSERT_EQ(describe(pieces), describe(units)) << "in pieces: " << test::to_hex(input);

            for (const Inspection& r : {all, fed}) {
                EXPECT_EQ(r.bytes_in, input.size());
                EXPECT_EQ(r.bytes_out, out_size);
                EXPECT_EQ(r.changed, units.size() - kept);
                EXPECT_EQ(r.kept, kept);
            }
            for (std::size_t i = 0; i < units.size(); ++i) {
                for (const std::vector<Finding>* found : {&whole, &pieces}) {
                    const Finding& f = (*found)[i];
                    EXPECT_EQ(f.line, units[i].line);
                    EXPECT_EQ(f.column, units[i].column);
                    EXPECT_EQ(std::string(f.bytes, f.bytes + f.length),
                              input.substr(units[i].offset, units[i].length));
                }
            }
        }
    }
}

// Where the next byte stands, after pieces of every size (held bytes
// included): the offset always, line and column while findings are still to
// be handed over, 0 once the last has been.
TEST(Inspect, PositionIsWhereTheNextByteStands) {
    std::mt19937_64 rng(10122026);
    for (int round = 0; round < 40; ++round) {
        std::string input = test::random_mixed_bytes(rng, 20000);
        // Long ASCII lines too, which the vector code counts block by block.
        input.insert(rng() % input.size(), std::string(3000, 'a') + "\n" + std::string(700, 'b'));
        for (const Target target : TARGETS) {
            const std::size_t units = test::model_units(input, target).size();
            for (const std::size_t limit : {units + 1, units / 2, std::size_t{0}}) {
                std::vector<Finding> found;
                StreamInspector inspector(target, limit, collect, &found);
                for (std::size_t at = 0; at < input.size();) {
                    const std::size_t n = std::min<std::size_t>(input.size() - at, rng() % 5000);
                    inspector.feed(input.data() + at, n);
                    at += n;
                    const InputPlace place = inspector.position();
                    ASSERT_EQ(place.offset, at);
                    if (found.size() == limit) {
                        EXPECT_EQ(place.line, 0U);
                        EXPECT_EQ(place.column, 0U);
                        continue;
                    }
                    const std::string_view fed(input.data(), at);
                    const std::size_t last_newline = fed.rfind('\n');
                    EXPECT_EQ(place.line, 1 + static_cast<std::size_t>(
                                                  std::count(fed.begin(), fed.end(), '\n')));
                    EXPECT_EQ(place.column,
                              last_newline == std::string_view::npos ? at + 1 : at - last_newline);
                }
                (void)inspector.finish();
            }
        }
    }
}

// An input cut just after a byte below 0x80 can be inspected as two inputs:
// no unit spans the cut, the counts add up, and the second part's findings
// are the whole's, moved by where the first part ends. textmend-report
// inspects a large file in two halves at once on this ground.
TEST(Inspect, PartsCutAfterAnAsciiByteAddUpToTheWhole) {
    std::mt19937_64 rng(101226);
    for (int round = 0; round < 200; ++round) {
        const std::string input = test::random_mixed_bytes(rng, 3000);
        std::size_t cut = rng() % input.size();
        while (cut > 0 && static_cast<unsigned char>(input[cut - 1]) >= 0x80)
            --cut;
        const std::string_view first(input.data(), cut);
        const std::string_view second(input.data() + cut, input.size() - cut);
        for (const Target target : TARGETS) {
            std::vector<Finding> whole;
            const Inspection all = inspect(input, target, &whole, input.size());
            std::vector<Finding> parts;
            StreamInspector inspector(target, input.size(), collect, &parts);
            inspector.feed(first);
            const InputPlace place = inspector.position();
            const Inspection a = inspector.finish();
            const std::size_t found_first = parts.size();
            inspector.feed(second);
            const Inspection b = inspector.finish();
            EXPECT_EQ(a.bytes_in + b.bytes_in, all.bytes_in);
            EXPECT_EQ(a.bytes_out + b.bytes_out, all.bytes_out);
            EXPECT_EQ(a.changed + b.changed, all.changed);
            EXPECT_EQ(a.kept + b.kept, all.kept);
            ASSERT_EQ(parts.size(), whole.size()) << test::to_hex(input) << " cut at " << cut;
            for (std::size_t i = found_first; i < parts.size(); ++i) {
                Finding& f = parts[i];
                if (f.line == 1) f.column += place.column - 1;
                f.line += place.line - 1;
                f.offset += cut;
            }
            EXPECT_EQ(describe(parts), describe(whole));
            expect_same_places(parts, whole);
        }
    }
}

// Large inputs, so that whole blocks are counted at once once no finding is
// left to report: no findings, a few, and all of them give the same counts
// as the model; the reported findings are the model's first ones. The exact
// output size (its own, faster blocks) agrees too.
TEST(Inspect, LargeInputsCountTheSameWhicheverFindingsAreReported) {
    std::mt19937_64 rng(1208);
    std::string prose;
    const char* const words[] = {"caf\xC3\xA9 ",
                                 "\xE9t\xE9 ",
                                 "plain ",
                                 "\xE2\x82\xAC ",
                                 "\x93q\x94 ",
                                 "\xD0\x9F\xD1\x80\xD0\xB8 ",
                                 "\xE4\xB8\xAD\xE6\x96\x87 ",
                                 "\n",
                                 "\xF0\x9F\x98\x80 ",
                                 "\xC2\x85",
                                 "\x81",
                                 "\xE0\xA4\x95 "};
    while (prose.size() < (300 << 10))
        prose += words[rng() % (sizeof words / sizeof words[0])];
    // Mostly ASCII lines with a finding now and then: the lines of the
    // blocks without findings are counted with vectors.
    std::string sparse;
    for (int line = 0; sparse.size() < (300 << 10); ++line) {
        sparse += "line " + std::to_string(line) + " of plain text";
        if (line % 37 == 0) sparse += " caf\xC3\xA9 \x81 \xE9 \xE2\x82\xAC";
        sparse += line % 3 ? "\n" : " and more\n";
    }
    const std::string inputs[] = {test::random_mixed_bytes(rng, 300 << 10), prose, sparse};
    for (const std::string& input : inputs) {
        for (const Target target : TARGETS) {
            const std::vector<test::ModelUnit> units = test::model_units(input, target);
            const std::size_t kept = kept_count(units);
            const std::size_t out_size = test::model_convert(input, target).size();
            EXPECT_EQ(converted_size(input, target), out_size) << static_cast<int>(target);
            for (const std::size_t limit : {std::size_t{0}, std::size_t{3}, units.size()}) {
                std::vector<Finding> found;
                StreamInspector inspector(target, limit, collect, &found);
                for (std::size_t at = 0; at < input.size(); at += 65536)
                    inspector.feed(input.data() + at,
                                   std::min<std::size_t>(65536, input.size() - at));
                const Inspection r = inspector.finish();
                EXPECT_EQ(r.changed, units.size() - kept)
                    << static_cast<int>(target) << " " << limit;
                EXPECT_EQ(r.kept, kept) << static_cast<int>(target) << " " << limit;
                EXPECT_EQ(r.bytes_out, out_size) << static_cast<int>(target) << " " << limit;
                ASSERT_EQ(found.size(), std::min(limit, units.size()));
                expect_first_units(found, units);
            }
        }
    }
}

// Long stretches of valid UTF-8, which the vector code passes over block by
// block, broken now and then by a byte or sequence that is not: at every
// place relative to the blocks, a fault must be counted as the model counts
// it, with the stretches around it. Each case names the fault put in.
TEST(Inspect, ValidStretchesWithRareFaultsCountAsTheModel) {
    const char* const valid[] = {"plain text ", "caf\xC3\xA9 ", "\xC2\xA0", "\xC2\x85", "\xC3\xBF",
                                 "\xC5\x92\xC5\xA0", "\xC6\x92", "\xCB\x86\xCB\x9C",
                                 "\xE2\x80\x94\xE2\x80\x9E", "\xE2\x82\xAC", "\xE2\x84\xA2",
                                 "\xE0\xA4\x95", "\xED\x9F\xBF", "\xEF\xBF\xBD", "\xF0\x90\x80\x80",
                                 "\xF4\x8F\xBF\xBF", "\xD0\x9F\xD1\x80", "\n",
                                 // Leads of Windows-1252's characters, but other characters:
                                 "\xC5\x81", "\xCB\x87", "\xE2\x80\x8B", "\xE2\x86\x92"};
    const struct {
        const char* name;
        const char* bytes;
    } faults[] = {
        {"lone Latin-1 byte", "\xE9"},
        {"lone undefined byte", "\x81"},
        {"stray continuation", "\xA9"},
        {"lead without its last byte", "\xE2\x82"},
        {"lead at the end of a word", "\xC3 "},
        {"overlong pair", "\xC1\xA9"},
        {"overlong triple", "\xE0\x83\xA9"},
        {"overlong quadruple", "\xF0\x80\x83\xA9"},
        {"surrogate", "\xED\xA0\x80"},
        {"above U+10FFFF", "\xF4\x90\x80\x80"},
        {"F5 lead", "\xF5\x80\x80\x80"},
        {"5-byte form", "\xF8\x80\x80\x83\xA9"},
        // Four bytes that look like a 4-byte sequence to a test of lengths
        // up to four only:
        {"5-byte lead cut short", "\xF8\x80\x80\x80"},
        {"FE before continuation bytes", "\xFE\x80\x80\x80"},
    };
    std::mt19937_64 rng(20261210);
    for (const auto& fault : faults) {
        for (int round = 0; round < 20; ++round) {
            std::string input;
            while (input.size() < 4096) {
                add_stretch(input, rng, valid, 300);
                input += fault.bytes;
            }
            expect_inspected_as_model(input, {0, 2}, fault.name);
        }
    }
}

// Text whose kind changes from stretch to stretch: European prose, where
// every sequence has two bytes (in UTF-8, Latin-1 or both), then text with
// longer sequences (Chinese, emoji, 5- and 6-byte forms, FE), as a mixed
// archive has it. The vector code counts the two kinds by different loops
// and goes from one to the other; every stretch length from none to many
// blocks meets every block position.
TEST(Inspect, TextChangingBetweenPairsAndLongerSequencesCountsAsTheModel) {
    const std::vector<std::string> pair_words = {"caf\xC3\xA9 ", "\xD0\x9F\xD1\x80\xD0\xB8 ",
                                                 "\xE9t\xE9 ",   "\xC5\x92\xCB\x86 ",
                                                 "\xC2\x85",     "\x81",
                                                 "plain ",       "\n",
                                                 "\xC3 ",        "\xA9",
                                                 "\xC1\xA9",     "\xFF!",
                                                 "\xDF\xBF"};
    const std::vector<std::string> longer_words = {"\xE4\xB8\xAD\xE6\x96\x87 ",
                                                   "\xF0\x9F\x98\x80 ",
                                                   "\xE2\x82\xAC ",
                                                   "\xE2\x80\x99",
                                                   "\xE0\x83\xA9",
                                                   "\xF8\x80\x80\x83\xA9",
                                                   "\xFC\x80\x80\x80\x80\x80",
                                                   "\xFE\x80",
                                                   "\xED\xA0\x80",
                                                   "\xE2\x82",
                                                   " "};
    std::mt19937_64 rng(5122026);
    for (int round = 0; round < 6; ++round) {
        std::string input;
        for (bool pairs = true; input.size() < (64 << 10); pairs = !pairs) {
            add_stretch(input, rng, pairs ? pair_words : longer_words, 2500);
        }
        expect_inspected_as_model(input, {0, 5, ALL_UNITS}, "round " + std::to_string(round));
    }
}

// Single-byte text (Latin-1 letters, Windows-1252 punctuation) has no
// sequence in most blocks, which the vector code counts with little work;
// a byte Windows-1252 leaves undefined there must still be counted, at
// every place relative to the blocks.
TEST(Inspect, UndefinedBytesInSingleByteTextCountAsTheModel) {
    const char* const words[] = {"caf\xE9 ",
                                 "\x84Zitat\x93 ",
                                 "na\xEFve ",
                                 "plain text ",
                                 "\n",
                                 "\x80 12 ",
                                 "Stra\xDF"
                                 "e "};
    const char undefined[] = {'\x81', '\x8D', '\x8F', '\x90', '\x9D'};
    std::mt19937_64 rng(11122026);
    for (int round = 0; round < 20; ++round) {
        std::string input;
        while (input.size() < 4096) {
            add_stretch(input, rng, words, 600);
            input += undefined[rng() % sizeof undefined];
        }
        expect_inspected_as_model(input, {0, 3}, "round " + std::to_string(round));
    }
}

}  // namespace
}  // namespace textmend
