// The parts of textmend-report: its command line, how bytes are shown on a
// terminal and in JSON, and excerpts collected across block boundaries.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "report/examples.hpp"
#include "report/options.hpp"
#include "report/render.hpp"
#include "support/bytes.hpp"

namespace textmend::report {
namespace {

TEST(ReportCommandLine, OptionsAndFiles) {
    const struct {
        std::vector<const char*> args;
        Request request;
        Target target;
        bool json;
        std::uint64_t max_examples;
        std::vector<std::string> files;
        const char* error;
    } cases[] = {
        {{}, Request::report, Target::latin1, false, 10, {}, ""},
        {{"-w", "a", "-", "b"},
         Request::report,
         Target::windows1252,
         false,
         10,
         {"a", "-", "b"},
         ""},
        {{"a", "-u", "--json"}, Request::report, Target::utf8, true, 10, {"a"}, ""},
        {{"--max-examples", "0", "a"}, Request::report, Target::latin1, false, 0, {"a"}, ""},
        {{"--max-examples=25"}, Request::report, Target::latin1, false, 25, {}, ""},
        {{"--", "-w", "--json"}, Request::report, Target::latin1, false, 10, {"-w", "--json"}, ""},
        {{"--help", "--bogus-after"},
         Request::wrong,
         Target::latin1,
         false,
         10,
         {},
         "unknown option '--bogus-after'"},
        {{"a", "--version"}, Request::version, Target::latin1, false, 10, {"a"}, ""},
        {{"--version", "--help"}, Request::help, Target::latin1, false, 10, {}, ""},
        {{"-x"}, Request::wrong, Target::latin1, false, 10, {}, "unknown option '-x'"},
        {{"-wu"}, Request::wrong, Target::latin1, false, 10, {}, "unknown option '-wu'"},
        {{"-w", "-u"},
         Request::wrong,
         Target::latin1,
         false,
         10,
         {},
         "options -w and -u exclude each other"},
        {{"--max-examples"},
         Request::wrong,
         Target::latin1,
         false,
         10,
         {},
         "option --max-examples needs a number"},
        {{"--max-examples", "-1"},
         Request::wrong,
         Target::latin1,
         false,
         10,
         {},
         "not a number of examples: '-1'"},
        {{"--max-examples=1e3"},
         Request::wrong,
         Target::latin1,
         false,
         10,
         {},
         "not a number of examples: '1e3'"},
        {{"--max-examples=99999999999999999999"},
         Request::wrong,
         Target::latin1,
         false,
         10,
         {},
         "not a number of examples: '99999999999999999999'"},
        {{"--max-examplesx"},
         Request::wrong,
         Target::latin1,
         false,
         10,
         {},
         "unknown option '--max-examplesx'"},
    };
    for (const auto& c : cases) {
        std::vector<const char*> argv{"textmend-report"};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        const CommandLine cl = parse_command_line(static_cast<int>(argv.size()), argv.data());
        const std::string shown = argv.size() > 1 ? argv[1] : "(none)";
        EXPECT_EQ(cl.request, c.request) << shown;
        EXPECT_EQ(cl.error, c.error) << shown;
        if (c.request == Request::wrong) continue;
        EXPECT_EQ(cl.options.target, c.target) << shown;
        EXPECT_EQ(cl.options.json, c.json) << shown;
        EXPECT_EQ(cl.options.max_examples, c.max_examples) << shown;
        EXPECT_EQ(std::vector<std::string>(cl.options.files.begin(), cl.options.files.end()),
                  c.files)
            << shown;
    }
}

std::string printable(const std::string& hex) {
    const std::string bytes = test::hex_bytes(hex);
    return printable_text(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

TEST(ReportRender, BytesAreShownAsTheCharactersTheyMostLikelyAre) {
    const struct {
        const char* hex;
        const char* shown;
    } cases[] = {
        {"63 61 66 C3 A9", "caf\xC3\xA9"},  // UTF-8 as it is
        {"63 61 66 E9", "caf\xC3\xA9"},     // a lone Latin-1 byte as its character
        {"93 61 94",
         "\xE2\x80\x9C"
         "a\xE2\x80\x9D"},                                 // Windows-1252 quotes
        {"81 8D", "\\x81\\x8d"},                           // undefined in Windows-1252
        {"09 0D 1B 7F", "\\t\\x0d\\x1b\\x7f"},             // control characters
        {"C2 85", "\\xc2\\x85"},                           // a C1 control in UTF-8
        {"E0 80 80", "\xC3\xA0\xE2\x82\xAC\xE2\x82\xAC"},  // overlong: byte by byte
        {"F0 9F 98 80", "\xF0\x9F\x98\x80"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(printable(c.hex), c.shown) << c.hex;
    const std::string overlong = test::hex_bytes("E0 80 80");
    EXPECT_EQ(printable_unit(reinterpret_cast<const std::uint8_t*>(overlong.data()), 3),
              "\\xe0\\x80\\x80");
}

TEST(ReportRender, JsonStringsAreValidAndLossless) {
    const struct {
        std::string text;
        const char* json;
    } cases[] = {
        {"plain.txt", "\"plain.txt\""},
        {"quote\" back\\slash", "\"quote\\\" back\\\\slash\""},
        {"tab\tnew\nline\x1B", "\"tab\\u0009new\\u000aline\\u001b\""},
        {"caf\xC3\xA9 \xE2\x82\xAC", "\"caf\xC3\xA9 \xE2\x82\xAC\""},
        {"caf\xE9", "\"caf\\udce9\""},
        {"cut \xE2\x82", "\"cut \\udce2\\udc82\""},
        {"surrogate \xED\xA0\x80", "\"surrogate \\udced\\udca0\\udc80\""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(json_string(c.text.c_str()), c.json) << c.json;
}

// Findings handed over in every block of a random split: the text around
// each is the same as when the whole input is one block.
TEST(ReportExamples, ExcerptsDoNotDependOnBlockBoundaries) {
    std::string input;
    for (int i = 0; i < 40; ++i)
        input += "Zeile " + std::to_string(i) + " mit Caf\xC3\xA9 und \xE2\x82\xAC" +
                 (i % 3 ? " " : "\n");
    const auto collect = [&](const std::vector<std::size_t>& cuts, std::size_t spool_after,
                             std::uint64_t shown) {
        ExampleCollector collector(1000, spool_after);
        StreamInspector inspector(Target::latin1, 1000, ExampleCollector::take, &collector);
        std::size_t at = 0;
        for (std::size_t cut : cuts) {
            const auto* block = reinterpret_cast<const std::uint8_t*>(input.data()) + at;
            collector.begin_block(block, cut - at, at);
            inspector.feed(block, cut - at);
            collector.end_block();
            at = cut;
        }
        (void)inspector.finish();
        collector.end_input();
        std::vector<std::string> excerpts;
        EXPECT_TRUE(collector.for_each(shown, [&](const Example& e) {
            excerpts.push_back(std::to_string(e.finding.offset) + " " +
                               std::string(e.before, e.before + e.before_length) + "|" +
                               std::string(e.after, e.after + e.after_length));
        }));
        return excerpts;
    };
    const std::vector<std::string> whole = collect({input.size()}, SPOOL_AFTER, UINT64_MAX);
    ASSERT_EQ(whole.size(), 80U);
    EXPECT_EQ(whole[1], "22 Zeile 0 mit Caf\xC3\xA9 und |");
    std::mt19937_64 rng(2026);
    // Held in memory, or spooled to a file after every example or every few:
    // the same examples, in the same order, all of them or the first few.
    const std::size_t spool_after[] = {SPOOL_AFTER, 1, 7};
    for (int round = 0; round < 60; ++round) {
        std::vector<std::size_t> cuts;
        for (std::size_t at = 0; at < input.size();) {
            at =
                std::min(input.size(), at + std::uniform_int_distribution<std::size_t>(1, 40)(rng));
            cuts.push_back(at);
        }
        const std::size_t spool = spool_after[round % 3];
        EXPECT_EQ(collect(cuts, spool, UINT64_MAX), whole) << "round " << round;
        const std::vector<std::string> first_five(whole.begin(), whole.begin() + 5);
        EXPECT_EQ(collect(cuts, spool, 5), first_five) << "round " << round;
    }
}

}  // namespace
}  // namespace textmend::report
