// textmend-report's inspection of a large file in two halves at once gives
// what inspecting it in order gives: the counts, and every example with its
// place and the bytes around it, wherever the findings lie against the cut.
// Run under ThreadSanitizer too (label threads).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "cli/writer/spinning_condition.hpp"
#include "report/halves.hpp"
#include "support/bytes.hpp"
#include "support/files.hpp"
#include "support/processors.hpp"

namespace textmend::report {
namespace {

const Target TARGETS[] = {Target::latin1, Target::windows1252, Target::utf8};

struct Reported {
    ReportCounts result;
    std::vector<Example> examples;
    std::uint64_t first_offset = 0;  // of the first finding, if any
};

Reported read_back(ExampleCollector& collector, const ReportCounts& result, std::uint64_t wanted) {
    Reported reported{result, {}, 0};
    collector.end_input();
    EXPECT_TRUE(collector.for_each(
        wanted, [&](const Example& example) { reported.examples.push_back(example); }));
    EXPECT_EQ(collector.error(), 0);
    if (collector.first() != nullptr) reported.first_offset = collector.first()->offset;
    return reported;
}

Reported in_order(std::string_view input, Target target, std::uint64_t wanted) {
    ExampleCollector collector(wanted);
    ReportInspector inspector(target, wanted, ExampleCollector::take, &collector);
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(input.data());
    collector.begin_block(bytes, input.size(), 0);
    inspector.feed(bytes, input.size());
    collector.end_block();
    const ReportCounts result = inspector.finish();
    return read_back(collector, result, wanted);
}

void expect_same(const Reported& halves, const Reported& order, const std::string& what) {
    EXPECT_EQ(halves.result.units.bytes_in, order.result.units.bytes_in) << what;
    EXPECT_EQ(halves.result.units.bytes_out, order.result.units.bytes_out) << what;
    EXPECT_EQ(halves.result.units.changed, order.result.units.changed) << what;
    EXPECT_EQ(halves.result.units.kept, order.result.units.kept) << what;
    EXPECT_EQ(halves.result.double_runs, order.result.double_runs) << what;
    EXPECT_EQ(halves.result.changed_in_runs, order.result.changed_in_runs) << what;
    EXPECT_EQ(halves.result.kept_in_runs, order.result.kept_in_runs) << what;
    EXPECT_EQ(halves.first_offset, order.first_offset) << what;
    ASSERT_EQ(halves.examples.size(), order.examples.size()) << what;
    for (std::size_t i = 0; i < order.examples.size(); ++i) {
        const Example& h = halves.examples[i];
        const Example& o = order.examples[i];
        const std::string at = what + ", example " + std::to_string(i);
        EXPECT_EQ(h.finding.offset, o.finding.offset) << at;
        EXPECT_EQ(h.finding.line, o.finding.line) << at;
        EXPECT_EQ(h.finding.column, o.finding.column) << at;
        EXPECT_EQ(h.finding.kind, o.finding.kind) << at;
        // A run's finding holds the character it becomes, its bytes are the example's.
        const std::size_t held = std::min<std::size_t>(o.finding.length, FINDING_BYTES_MAX);
        EXPECT_EQ(test::to_hex(std::string(h.finding.bytes, h.finding.bytes + held)),
                  test::to_hex(std::string(o.finding.bytes, o.finding.bytes + held)))
            << at;
        EXPECT_EQ(std::string(h.run, h.run + sizeof h.run),
                  std::string(o.run, o.run + sizeof o.run))
            << at;
        EXPECT_EQ(std::string(h.before, h.before + h.before_length),
                  std::string(o.before, o.before + o.before_length))
            << at;
        EXPECT_EQ(std::string(h.after, h.after + h.after_length),
                  std::string(o.after, o.after + o.after_length))
            << at;
    }
}

std::string repeat(const std::string& piece, std::size_t bytes) {
    std::string s;
    while (s.size() < bytes)
        s += piece;
    return s;
}

// Files of a few MiB, cut as the program cuts larger ones.
constexpr std::int64_t SMALLEST = 4 << 20;
constexpr std::size_t SIZE = static_cast<std::size_t>(SMALLEST + SMALLEST / 8);
constexpr std::size_t MIDDLE = SIZE / 2;

// Pads the text with plain lines to SIZE bytes.
std::string padded(std::string text) {
    text += repeat("plain line\n", SIZE - text.size());
    text.resize(SIZE, '\n');
    return text;
}

// Where the findings lie against the middle, where the halves meet.
struct Layout {
    const char* name;
    std::string bytes;
    std::uint64_t wanted;
};

std::vector<Layout> layouts() {
    const std::string pair = "\xC3\xA9";  // UTF-8 e acute: changed or copied
    // Units of every kind, and runs of text encoded twice and three times.
    const std::string words =
        "caf\xC3\xA9 \xE9t\xE9 \x93q\x94 \xE2\x82\xAC \xE4\xB8\xAD \x81 caf\xC3\x83\xC2\xA9 "
        "\xC3\x83\xC6\x92\xC3\x82\xC2\xA9 ";
    std::vector<Layout> cases;
    // The first half one line without a finding: the second's first line
    // goes on from it, its columns counted from the line's start.
    cases.push_back(
        {"one long first line", padded(std::string(MIDDLE + 900, 'a') + words + "\n" + words), 10});
    // Lines end in the first half, the last goes on past the middle.
    cases.push_back({"a line across the middle",
                     padded(repeat("short line\n", MIDDLE - 3000) + std::string(3500, 'x') + words +
                            "\n" + words),
                     10});
    // Findings right at the cut on both sides, their excerpts across it: no
    // byte below 0x80 from 2,000 bytes before the middle to after it.
    cases.push_back(
        {"findings at the cut",
         padded(repeat("line\n", MIDDLE - 2010) + words + pair + "Z" + repeat(pair, 4200)), 12});
    // More findings in the first half than are wanted: the second half only
    // adds its counts.
    cases.push_back({"first half full", padded(repeat(words + "\n", MIDDLE + 100)), 10});
    // More examples than a collector keeps in memory, from both halves: the
    // second half's are spooled and read back.
    cases.push_back(
        {"spooled examples",
         padded(repeat("line\n", MIDDLE - 10) + words + "\n" + repeat(pair + " ", 6 * SPOOL_AFTER)),
         SPOOL_AFTER + 5000});
    return cases;
}

int open_at(const std::string& path, std::uint64_t offset) {
    const int fd = open(path.c_str(), O_RDONLY);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(lseek(fd, static_cast<off_t>(offset), SEEK_SET), static_cast<off_t>(offset));
    return fd;
}

TEST(ReportHalves, GiveWhatReadingInOrderGives) {
    if (!spinning_pays()) GTEST_SKIP() << "one processor: files are inspected in order";
    test::TempDir dir;
    const std::string path = dir / "large";
    for (const Layout& layout : layouts()) {
        test::write_file(path, layout.bytes);
        for (const Target target : TARGETS) {
            // From the start, and from where a caller left the descriptor.
            for (const std::uint64_t start : {std::uint64_t{0}, std::uint64_t{1000}}) {
                const std::string what = std::string(layout.name) + ", target " +
                                         std::to_string(static_cast<int>(target)) + ", from " +
                                         std::to_string(start);
                const int fd = open_at(path, start);
                ExampleCollector collector(layout.wanted);
                FileInspection inspected;
                ASSERT_TRUE(inspect_in_halves(fd, static_cast<std::int64_t>(SIZE), target,
                                              layout.wanted, collector, inspected, SMALLEST))
                    << what;
                EXPECT_EQ(inspected.error, 0) << what;
                EXPECT_EQ(lseek(fd, 0, SEEK_CUR), static_cast<off_t>(SIZE)) << what;
                close(fd);
                expect_same(
                    read_back(collector, inspected.result, layout.wanted),
                    in_order(std::string_view(layout.bytes).substr(start), target, layout.wanted),
                    what);
            }
            if (layout.wanted > SPOOL_AFTER) break;  // once is enough for the slow case
        }
    }
}

// The second half's thread is started on another processor than the
// caller's when the caller may use another; limited to one processor, the
// file may be left to reading in order (the processor count follows the
// set). Either way the result is the same, and the caller's own set of
// processors is left as it was.
TEST(ReportHalves, RunWhateverProcessorsTheCallerMayUse) {
    if (!spinning_pays()) GTEST_SKIP() << "one processor: files are inspected in order";
    const std::vector<test::ProcessorSet> cases = test::every_processor_and_one();
    const cpu_set_t all = cases.front().allowed;
    test::TempDir dir;
    const std::string path = dir / "large";
    const Layout layout = layouts().front();
    test::write_file(path, layout.bytes);
    for (const auto& c : cases) {
        ASSERT_EQ(sched_setaffinity(0, sizeof c.allowed, &c.allowed), 0) << c.name;
        const int fd = open_at(path, 0);
        ExampleCollector collector(layout.wanted);
        FileInspection inspected;
        const bool cut = inspect_in_halves(fd, static_cast<std::int64_t>(SIZE), Target::utf8,
                                           layout.wanted, collector, inspected, SMALLEST);
        close(fd);
        EXPECT_TRUE(test::allowed_exactly(c.allowed)) << c.name;
        ASSERT_EQ(sched_setaffinity(0, sizeof all, &all), 0);
        if (CPU_COUNT(&c.allowed) > 1) {
            EXPECT_TRUE(cut) << c.name;
        }
        if (cut) {
            expect_same(read_back(collector, inspected.result, layout.wanted),
                        in_order(layout.bytes, Target::utf8, layout.wanted), c.name);
        }
    }
}

// Files that are not cut: small ones, and those without a byte below 0x80
// near the middle; nothing is read or collected, the descriptor stays.
TEST(ReportHalves, LeaveFilesWithoutACutToReadingInOrder) {
    test::TempDir dir;
    const struct {
        const char* name;
        std::string bytes;
    } cases[] = {
        {"small", repeat("caf\xC3\xA9\n", SIZE).substr(0, static_cast<std::size_t>(SMALLEST) - 1)},
        {"no byte below 0x80 near the middle",
         repeat("line\n", MIDDLE - 5000) + repeat("\xC3\xA9", SIZE)},
    };
    for (const auto& c : cases) {
        const std::string path = dir / "f";
        const std::string bytes = c.bytes.substr(0, std::min(c.bytes.size(), SIZE));
        test::write_file(path, bytes);
        const int fd = open_at(path, 0);
        ExampleCollector collector(10);
        FileInspection inspected;
        EXPECT_FALSE(inspect_in_halves(fd, static_cast<std::int64_t>(bytes.size()), Target::latin1,
                                       10, collector, inspected, SMALLEST))
            << c.name;
        EXPECT_EQ(lseek(fd, 0, SEEK_CUR), 0) << c.name;
        EXPECT_EQ(collector.count(), 0U) << c.name;
        close(fd);
    }
}

}  // namespace
}  // namespace textmend::report
