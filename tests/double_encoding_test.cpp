// Text encoded twice: which runs are found, and which lines the library
// undoes when asked, on damaged prose with its originals and on legitimate
// text that holds the same patterns.
#include <gtest/gtest.h>
#include <textmend/textmend.hpp>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "convert/undo_double.hpp"
#include "encoding/double_encoding.hpp"
#include "encoding/utf8.hpp"
#include "kernels/kernels.hpp"
#include "support/bytes.hpp"
#include "support/double_corpus.hpp"
#include "support/double_model.hpp"
#include "support/model.hpp"
#include "support/random_text.hpp"

namespace textmend {
namespace {

using test::Misreading;

const Target TARGETS[] = {Target::latin1, Target::windows1252, Target::utf8};

DoubleRun run_at_start(const std::string& s) {
    const auto* p = reinterpret_cast<const std::uint8_t*>(s.data());
    return double_run_at(p, p + s.size());
}

using test::converted;

std::string plain_conversion(const std::string& input, Target target) {
    std::string out(max_converted_size(input.size(), target), '\0');
    out.resize(convert(input.data(), input.size(), out.data(), target));
    return out;
}

std::string utf8_of(std::int32_t cp) {
    const EncodeBuffer e = utf8_encode(cp);
    return {reinterpret_cast<const char*>(e.data()), static_cast<std::size_t>(encoded_length(e))};
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

TEST(DoubleEncoding, RunsAreFoundAndUndoneAsDeepAsTheyGo) {
    const std::string e_acute = "é";
    struct Case {
        const char* name;
        std::string text;
        std::size_t length;  // 0: no run at the start
        std::int32_t code_point;
        int levels;
    };
    const Case cases[] = {
        {"é via Latin-1", test::encode_again(e_acute, Misreading::latin1), 4, 0xE9, 1},
        {"§", "Â§ 101", 4, 0xA7, 1},
        {"’ via Windows-1252 (three characters)", "â€™s", 8, 0x2019, 1},
        {"Cyrillic ё", "Ñ‘", 5, 0x451, 1},
        {"four characters, U+1F600", "ðŸ˜€", 9, 0x1F600, 1},
        {"é three times via Windows-1252",
         test::encode_again(test::encode_again(e_acute, Misreading::windows1252),
                            Misreading::windows1252),
         8, 0xE9, 2},
        {"é four times via Latin-1",
         test::encode_again(test::encode_again(test::encode_again(e_acute, Misreading::latin1),
                                               Misreading::latin1),
                            Misreading::latin1),
         16, 0xE9, 3},
        {"É» is a run of U+027B (the report counts it)", "É»", 4, 0x27B, 1},
        {"a control of Latin-1 as continuation", "Ã\xC2\x89", 4, 0xC9, 1},
        {"é alone", "é", 0, -1, 0},
        {"Ã then ASCII", "Ãx", 0, -1, 0},
        {"cut short", "â€", 0, -1, 0},
        {"overlong (C1 A1)", "Á¡", 0, -1, 0},
        {"surrogate (ED A0 80)", "í\xC2\xA0\xC2\x80", 0, -1, 0},
        {"above U+10FFFF (F4 90 80 80)", "ô\xC2\x90\xC2\x80\xC2\x80", 0, -1, 0},
        {"a fifth continuation is not part of it", "Ã©©", 4, 0xE9, 1},
        {"Latin-1 bytes, not UTF-8", "\xC3\x83\xA9", 0, -1, 0},
        {"a character without a single byte in between", "Ã\xC4\x80", 0, -1, 0},
    };
    for (const Case& c : cases) {
        const DoubleRun run = run_at_start(c.text);
        EXPECT_EQ(run.length, c.length) << c.name;
        EXPECT_EQ(run.code_point, c.code_point) << c.name;
        EXPECT_EQ(run.levels, c.levels) << c.name;
    }
}

// Every run starts with three bytes that may_start_double_run accepts: tried
// on every pair of characters with a single high byte, completed by
// continuation characters so that any lead can finish its sequence.
TEST(DoubleEncoding, EveryRunStartsWhereThePrefilterLooks) {
    std::vector<std::int32_t> single_byte;
    for (std::int32_t cp = 0x80; cp <= 0xFF; ++cp)
        single_byte.push_back(cp);
    for (std::int32_t cp = 0x100; cp <= 0x2200; ++cp) {
        if (single_high_byte_of(cp) >= 0) single_byte.push_back(cp);
    }
    ASSERT_EQ(single_byte.size(), 128u + 27u);
    int runs = 0;
    for (const std::int32_t first : single_byte) {
        for (const std::int32_t second : single_byte) {
            std::string text = utf8_of(first) + utf8_of(second) + "\xC2\x90\xC2\x90";
            const auto* p = reinterpret_cast<const std::uint8_t*>(text.data());
            if (double_run_at(p, p + text.size()).length == 0) continue;
            ++runs;
            EXPECT_TRUE(may_start_double_run(p[0], p[1], p[2])) << test::to_hex(text);
        }
    }
    EXPECT_GT(runs, 1000);
}

// The active kernel set's scanner finds the first place the prefilter
// accepts, from every start, in text with such places near block edges.
TEST(DoubleEncoding, TheScannerFindsTheFirstPossibleStart) {
    std::mt19937_64 rng(11);
    // Starts at both ends of the second byte's range, and just outside it.
    const std::string planted[] = {"Ã©", "â€™",   "Ã\xC2", "Ã‰",    "é–",    "Ã\xE2",
                                   "ô€", "Â\xCB", "õ\xC2", "Á\xC5", "Ã\xC6", "Ã\xC4"};
    for (int round = 0; round < 40; ++round) {
        std::string text = test::random_mixed_bytes(rng, 300);
        for (int i = 0; i < 3; ++i) {
            const std::string& p = planted[rng() % std::size(planted)];
            text.insert(rng() % text.size(), p);
        }
        const auto* begin = reinterpret_cast<const std::uint8_t*>(text.data());
        const auto* end = begin + text.size();
        for (const std::uint8_t* from = begin; from <= end; ++from) {
            const std::uint8_t* expected = from;
            while (end - expected >= 3 &&
                   !may_start_double_run(expected[0], expected[1], expected[2]))
                ++expected;
            if (end - expected < 3) expected = end;
            ASSERT_EQ(kernels().find_double_run_start(from, end) - begin, expected - begin)
                << "from " << from - begin << " in " << test::to_hex(text);
        }
    }
}

TEST(DoubleEncoding, PlausibleRepairsAreLettersSignsAndPunctuation) {
    const std::pair<std::int32_t, bool> cases[] = {
        {0xE9, true},   {0xDF, true},     {0xA7, true},    {0x153, true},   {0x451, true},
        {0x3AC, true},  {0x2019, true},   {0x2026, true},  {0x20AC, true},  {0x2122, true},
        {0x2116, true}, {0xD7, false},    {0xF7, false},   {0x89, false},   {0x27B, false},
        {0x254, false}, {0x1F600, false}, {0x4E2D, false}, {0x2248, false},
    };
    for (const auto& [cp, plausible] : cases)
        EXPECT_EQ(is_plausible_repair(cp), plausible) << std::hex << cp;
}

// The damaged corpus undone to UTF-8: every damaged line that the rule may
// undo reads as its original, every clean line stays as it was. In the
// single-byte targets the result is the original's own conversion.
TEST(DoubleEncoding, DamagedProseIsRestored) {
    const std::vector<test::CorpusLine> corpus = test::damaged_corpus();
    std::vector<std::string> texts;
    for (const test::CorpusLine& line : corpus)
        texts.push_back(line.text);
    const std::string text = test::joined(texts);
    int damaged = 0, restored = 0;
    for (const Target target : TARGETS) {
        const std::vector<std::string> out = lines_of(converted(text, target, true));
        ASSERT_EQ(out.size(), corpus.size());
        for (std::size_t i = 0; i < corpus.size(); ++i) {
            const std::string expected = converted(corpus[i].original, target, false);
            if (corpus[i].encodings == 1) {
                EXPECT_EQ(out[i], converted(corpus[i].text, target, false)) << i;
                continue;
            }
            if (target == Target::utf8) {
                ++damaged;
                restored += out[i] == expected ? 1 : 0;
            }
            EXPECT_EQ(out[i], expected)
                << "line " << i << " encoded " << corpus[i].encodings << " times";
        }
    }
    std::printf("damaged paragraphs restored: %d of %d\n", restored, damaged);
    EXPECT_GE(restored * 100, damaged * 99);
}

TEST(DoubleEncoding, LegitimateTextIsLeftAsThePlainConversionWritesIt) {
    std::string text = test::joined(test::legitimate_lines());
    std::ifstream sample(std::string(TEXTMEND_SOURCE_DIR) + "/examples/mixed.txt",
                         std::ios::binary);
    ASSERT_TRUE(sample);
    text += std::string(std::istreambuf_iterator<char>(sample), {});
    // The paragraphs as they are, in UTF-8 and in Latin-1.
    for (const std::string& p : test::prose_paragraphs())
        text += p + "\n" + converted(p, Target::latin1, false) + "\n";
    // The corpus holds runs: many lines would be undone but for the rule.
    int lines_with_runs = 0;
    for (const std::string& line : lines_of(text)) {
        const auto* p = reinterpret_cast<const std::uint8_t*>(line.data());
        for (std::size_t i = 0; i < line.size(); ++i) {
            if (double_run_at(p + i, p + line.size()).length != 0) {
                ++lines_with_runs;
                break;
            }
        }
    }
    std::printf("legitimate lines: %zu, of which %d hold runs\n", lines_of(text).size(),
                lines_with_runs);
    EXPECT_GT(lines_with_runs, 300);
    for (const Target target : TARGETS) {
        const std::vector<std::string> plain = lines_of(converted(text, target, false));
        const std::vector<std::string> undone = lines_of(converted(text, target, true));
        ASSERT_EQ(plain.size(), undone.size());
        for (std::size_t i = 0; i < plain.size(); ++i)
            EXPECT_EQ(undone[i], plain[i]) << "line " << i << ": " << test::to_hex(plain[i]);
    }
}

// Lines are decided on their own: the input converted in pieces cut after
// newlines gives the whole input's result; without the option the
// conversion is the plain one.
TEST(DoubleEncoding, PiecesCutAfterNewlinesGiveTheWhole) {
    std::vector<std::string> texts;
    for (const test::CorpusLine& line : test::damaged_corpus())
        texts.push_back(line.text);
    for (const std::string& line : test::legitimate_lines())
        texts.push_back(line);
    // Longer than the chunks the conversion scans at a time (64 KiB), with
    // lines longer than a chunk: all ASCII, and holding a run (too long to
    // be undone).
    const std::string damaged = test::encode_again("Grüße aus Köln\n", Misreading::latin1);
    std::string text = test::joined(texts) + std::string(70000, 'a') + "\n" + damaged +
                       std::string(66000, 'b') + damaged + test::joined(texts);
    for (int i = 0; i < 3; ++i)
        text += test::joined(texts);
    std::mt19937_64 rng(7);
    for (const Target target : TARGETS) {
        const std::string whole = converted(text, target, true);
        std::string pieces;
        for (std::size_t at = 0; at < text.size();) {
            std::size_t cut = text.find('\n', at + rng() % 3000);
            cut = cut == std::string::npos ? text.size() : cut + 1;
            pieces += converted(text.substr(at, cut - at), target, true);
            at = cut;
        }
        EXPECT_EQ(pieces, whole);
        for (int i = 0; i < 50; ++i) {
            const std::string random = test::random_mixed_bytes(rng, rng() % 2000);
            ASSERT_EQ(converted(random, target, false), plain_conversion(random, target));
        }
    }
}

// Lines across the edge of the 64 KiB the conversion scans at a time, after
// clean lines without a place a run may start, their first run after the
// edge: decided whole, as each line converted on its own is. One is text
// encoded twice (undone), the other holds a character of its own before the
// edge (left as it is).
TEST(DoubleEncoding, LinesAcrossTheEdgesOfScannedChunksAreDecidedWhole) {
    const std::string clean =
        "Gr\xC3\xBC\xC3\x9F"
        "e aus K\xC3\xB6ln\n";
    const std::string runs = test::encode_again(clean, Misreading::windows1252);
    const std::string padding(30, 'y');
    const struct {
        std::string line, expected;  // expected: the line as it should read
    } lines[] = {
        {"Mit freundlichen " + padding + runs, "Mit freundlichen " + padding + clean},
        {"Gr\xC3\xBC\xC3\x9F"
         "e " +
             padding + runs,
         "Gr\xC3\xBC\xC3\x9F"
         "e " +
             padding + runs},
    };
    for (const auto& [line, expected] : lines) {
        for (std::size_t back = 1; back <= 25; back += 3) {
            std::string text;
            while (text.size() + clean.size() < 64 * 1024 - back)
                text += clean;
            text += std::string(64 * 1024 - back - text.size() - 1, 'x') + "\n";
            const std::string before = text;
            text += line + clean;
            for (const Target target : TARGETS) {
                EXPECT_EQ(converted(text, target, true), converted(before, target, false) +
                                                             converted(expected, target, false) +
                                                             converted(clean, target, false))
                    << back;
            }
        }
    }
}

TEST(DoubleEncoding, ACheckedConversionTellsTheRoomItNeeds) {
    const std::string text =
        test::encode_again("Grüße aus Köln, l’été\nÉTÉ»\n", Misreading::latin1);
    for (const Target target : TARGETS) {
        const std::string expected = converted(text, target, true);
        std::string out(expected.size(), '\0');
        const ConversionOptions undo{.undo_double_encoding = true};
        CheckedConversion done =
            convert(text.data(), text.size(), out.data(), out.size(), target, undo);
        EXPECT_TRUE(done.fits);
        EXPECT_EQ(out.substr(0, done.size), expected);
        done = convert(text.data(), text.size(), out.data(), out.size() - 1, target, undo);
        EXPECT_FALSE(done.fits);
        EXPECT_EQ(done.size, expected.size());
    }
}

}  // namespace
}  // namespace textmend

namespace textmend {
namespace {

void collect(const Finding& finding, void* context) {
    static_cast<std::vector<Finding>*>(context)->push_back(finding);
}

// Random text with damaged prose, legitimate runs and mixed bytes spliced in.
std::string text_with_runs(std::mt19937_64& rng) {
    const std::vector<test::CorpusLine> damaged = test::damaged_corpus();
    const std::vector<std::string> legitimate = test::legitimate_lines();
    std::string text;
    while (text.size() < 3000) {
        switch (rng() % 4) {
            case 0: {
                const std::string& line = damaged[rng() % damaged.size()].text;
                const std::size_t from = rng() % line.size();
                text += line.substr(from, rng() % 200);
                break;
            }
            case 1:
                text += legitimate[rng() % legitimate.size()];
                break;
            case 2:
                text += test::random_mixed_bytes(rng, rng() % 100);
                break;
            default:
                text += "\n";
        }
    }
    return text;
}

// Runs right at the edges of the 64 KiB chunks the inspection scans at a
// time, whole and in pieces: each is found once, where it is.
TEST(DoubleEncoding, RunsAtTheEdgesOfScannedChunksAreFound) {
    const std::string run = test::encode_again(test::encode_again("é", Misreading::latin1),
                                               Misreading::windows1252);  // 8 bytes
    for (std::size_t chunks = 1; chunks <= 2; ++chunks) {
        for (std::size_t back = 0; back <= 10; ++back) {
            const std::size_t at = chunks * 64 * 1024 - back;
            const std::string input = std::string(at, 'a') + run + "\xC3\xA9\n";
            for (const std::size_t piece : {input.size(), std::size_t{4096}, std::size_t{77}}) {
                std::vector<Finding> found;
                ReportInspector inspector(Target::latin1, 10, collect, &found);
                for (std::size_t i = 0; i < input.size(); i += piece)
                    inspector.feed(input.data() + i, std::min(piece, input.size() - i));
                const ReportCounts counts = inspector.finish();
                EXPECT_EQ(counts.double_runs, 1u) << at << " " << piece;
                // Ã ƒ Â ©: Latin-1 lacks ƒ.
                EXPECT_EQ(counts.changed_in_runs, 3u) << at << " " << piece;
                EXPECT_EQ(counts.kept_in_runs, 1u) << at << " " << piece;
                ASSERT_EQ(found.size(), 2u) << at << " " << piece;
                EXPECT_EQ(found[0].offset, at);
                EXPECT_EQ(found[0].kind, FindingKind::double_encoded);
                EXPECT_EQ(found[1].offset, at + run.size());
            }
        }
    }
}

// The block kernels stop before a block in which a run may start: a run at
// every lane of two blocks, after text of each kind the kernels take by a
// loop of their own (ASCII, pairs only, Chinese, mixed bytes), is found where
// it is, and everything around it counted as the model counts it.
TEST(DoubleEncoding, RunsAtEveryLaneOfABlockAreFoundAfterAnyText) {
    std::mt19937_64 rng(7);
    const std::string run = test::encode_again("\xC3\xA9", Misreading::windows1252);  // é twice
    const struct {
        const char* name;
        std::string text;
    } before[] = {
        {"ascii", std::string(300, 'a')},
        {"pairs",
         [] {
             std::string t;
             while (t.size() < 300)
                 t += "d\xC3\xA9j\xC3\xA0 vu, \xE9t\xE9 ";
             return t;
         }()},
        {"chinese",
         [] {
             std::string t;
             while (t.size() < 300)
                 t += "\xE4\xB8\xAD\xE6\x96\x87";
             return t;
         }()},
        {"mixed bytes", test::random_mixed_bytes(rng, 300)},
    };
    for (const auto& [name, text] : before) {
        for (std::size_t lane = 0; lane < 128; ++lane) {
            const std::string input = text + std::string(lane, 'x') + run + "\n" + text;
            for (const Target target : TARGETS) {
                const test::ModelReport model = test::model_report(input, target);
                ASSERT_GE(model.runs, 1u) << name << " " << lane;
                std::vector<Finding> found;
                ReportInspector inspector(target, ~std::uint64_t{0}, collect, &found);
                inspector.feed(input.data(), input.size());
                const ReportCounts counts = inspector.finish();
                EXPECT_EQ(counts.double_runs, model.runs) << name << " " << lane;
                EXPECT_EQ(counts.units.changed, model.changed) << name << " " << lane;
                EXPECT_EQ(counts.units.kept, model.kept) << name << " " << lane;
                ASSERT_EQ(found.size(), model.findings.size()) << name << " " << lane;
                for (std::size_t i = 0; i < found.size(); ++i)
                    ASSERT_EQ(test::describe(found[i]), test::describe(model.findings[i]))
                        << name << " " << lane << " finding " << i;
            }
        }
    }
}

// The report inspector against the model: whole inputs and pieces of any
// size, every target, with few or all findings reported.
TEST(DoubleEncoding, TheReportFindsEveryRunAsTheModelDoes) {
    std::mt19937_64 rng(31);
    std::uint64_t runs = 0, deep_runs = 0;
    for (int round = 0; round < 63; ++round) {
        // The last rounds are longer than the chunks the inspection scans
        // for runs at a time (64 KiB).
        std::string input = text_with_runs(rng);
        while (round >= 60 && input.size() < 200000)
            input += text_with_runs(rng);
        for (const Target target : TARGETS) {
            const test::ModelReport model = test::model_report(input, target);
            runs += model.runs;
            for (const Finding& f : model.findings)
                deep_runs += f.kind == FindingKind::double_encoded && f.length > 12 ? 1 : 0;
            for (const std::uint64_t max :
                 {std::uint64_t{0}, std::uint64_t{7}, ~std::uint64_t{0}}) {
                std::vector<Finding> found;
                ReportInspector inspector(target, max, collect, &found);
                const std::size_t largest = round % 3 == 0 ? input.size() : 1 + rng() % 300;
                for (std::size_t at = 0; at < input.size();) {
                    const std::size_t n = std::min(input.size() - at, 1 + rng() % largest);
                    inspector.feed(input.data() + at, n);
                    at += n;
                }
                const ReportCounts counts = inspector.finish();
                EXPECT_EQ(counts.double_runs, model.runs);
                EXPECT_EQ(counts.changed_in_runs, model.changed_in_runs);
                EXPECT_EQ(counts.kept_in_runs, model.kept_in_runs);
                EXPECT_EQ(counts.units.changed, model.changed);
                EXPECT_EQ(counts.units.kept, model.kept);
                EXPECT_EQ(counts.units.bytes_out, test::model_convert(input, target).size());
                const std::size_t expected = std::min<std::uint64_t>(max, model.findings.size());
                ASSERT_EQ(found.size(), expected) << "round " << round;
                for (std::size_t i = 0; i < found.size(); ++i)
                    ASSERT_EQ(test::describe(found[i]), test::describe(model.findings[i]))
                        << "round " << round << " finding " << i;
            }
        }
    }
    EXPECT_GT(runs, 1000u);
    EXPECT_GT(deep_runs, 100u);  // encoded three times
}

}  // namespace
}  // namespace textmend
