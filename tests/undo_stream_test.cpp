// Undoing text encoded twice in a stream: through the undoing source the
// conversion gives what undoing the whole input in memory gives, however
// the input arrives in pieces and however long its lines are; and an
// in-place run that finds bytes appended after its first round judges the
// line they complete as a whole.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>
#include <textmend/textmend.hpp>

#include <string>
#include <vector>

#include "cli/file_conversion.hpp"
#include "convert/byte_loop.hpp"
#include "convert/undo_double_stream.hpp"
#include "support/convert_memory.hpp"
#include "support/double_corpus.hpp"
#include "support/files.hpp"
#include "support/memory_io.hpp"

namespace textmend {
namespace {

using test::Misreading;

const Target TARGETS[] = {Target::latin1, Target::windows1252, Target::utf8};

std::string undone_in_memory(const std::string& input, Target target) {
    return test::converted(input, target, true);
}

struct StreamResult {
    std::string converted;
    UndoTally tally;
};

// Converts input through an undoing source that reads it chunk bytes at a
// time (0: all there is).
StreamResult undone_in_stream(const std::string& input, Target target, std::size_t chunk) {
    MemorySource memory{reinterpret_cast<const std::uint8_t*>(input.data()), input.size(), 0,
                        chunk};
    std::vector<std::uint8_t> undo_storage(UNDO_STORAGE_SIZE);
    std::vector<std::uint8_t> in_storage(input_storage_size(INPUT_BLOCK_SIZE));
    std::vector<std::uint8_t> out_storage(64 * 1024);
    UndoingSource undoing{};
    StreamResult result;
    InputStream in{};
    OutputStream out{};
    input_init(in, undoing_source(undoing, memory_source(&memory), undo_storage.data()),
               in_storage.data(), INPUT_BLOCK_SIZE);
    output_init(out, ByteSink{test::string_write, &result.converted}, out_storage.data(),
                out_storage.size());
    convert_stream(in, out, target);
    output_flush(out);
    EXPECT_EQ(in.error, 0);
    result.tally = undoing.undoer.tally;
    return result;
}

// A line of n bytes (its newline included) of damaged prose.
std::string damaged_line_of(std::size_t n) {
    const std::string words = test::encode_again("Grüße aus Köln, l’été. ", Misreading::latin1);
    std::string line;
    while (line.size() + words.size() < n)
        line += words;
    return line + std::string(n - 1 - line.size(), 'x') + "\n";
}

TEST(UndoStream, ConvertingThroughItMatchesUndoingTheWhole) {
    std::string corpus;
    for (const test::CorpusLine& line : test::damaged_corpus())
        corpus += line.text + "\n";
    corpus += test::joined(test::legitimate_lines());
    const std::string damaged_end = test::encode_again("cafè crème", Misreading::windows1252);
    const struct {
        const char* name;
        std::string text;
    } inputs[] = {
        {"corpora", corpus},
        {"no newline at the end", corpus + damaged_end},
        // Lines at, and just over, the longest that is undone; and one far
        // longer, which the stream must hand on before it ends.
        {"long lines", damaged_line_of(DOUBLE_LINE_MAX) + damaged_line_of(DOUBLE_LINE_MAX + 1) +
                           corpus + damaged_line_of(3 * DOUBLE_LINE_MAX) + damaged_end},
        {"one long line without newline", damaged_line_of(2 * DOUBLE_LINE_MAX) + damaged_end},
        {"empty", ""},
    };
    for (const auto& [name, text] : inputs) {
        for (const Target target : TARGETS) {
            const std::string expected = undone_in_memory(text, target);
            for (const std::size_t chunk :
                 {std::size_t{0}, std::size_t{1} << 16, std::size_t{977}, std::size_t{3}}) {
                if (chunk == 3 && text.size() > 300000) continue;  // slow, and nothing new
                const StreamResult got = undone_in_stream(text, target, chunk);
                EXPECT_TRUE(got.converted == expected) << name << ", pieces of " << chunk;
            }
        }
    }
}

TEST(UndoStream, CountsTheLinesAndRunsItUndoes) {
    std::string damaged;
    int damaged_lines = 0;
    for (const test::CorpusLine& line : test::damaged_corpus()) {
        damaged += line.text + "\n";
        damaged_lines += line.encodings > 1 ? 1 : 0;
    }
    const StreamResult undone = undone_in_stream(damaged, Target::utf8, 4096);
    EXPECT_EQ(undone.tally.lines, static_cast<std::uint64_t>(damaged_lines));
    // Every run shortens the text: by at least two bytes in UTF-8.
    EXPECT_GE(undone.tally.runs, undone.tally.lines);
    EXPECT_LE(undone.tally.runs, (damaged.size() - undone.converted.size()) / 2);
    const StreamResult legitimate =
        undone_in_stream(test::joined(test::legitimate_lines()), Target::utf8, 4096);
    EXPECT_EQ(legitimate.tally.lines, 0U);
    EXPECT_EQ(legitimate.tally.runs, 0U);
}

// An input hook that appends to the file once, when the first round has
// read it to its end, so that the in-place run goes round again.
struct AppendAtEnd {
    ByteSource real;
    std::string path, appended;
    bool done = false;
};

std::int64_t read_then_append(void* context, std::uint8_t* dst, std::size_t n) {
    auto& a = *static_cast<AppendAtEnd*>(context);
    const std::int64_t got = a.real.read(a.real.context, dst, n);
    if (got == 0 && !a.done) {
        a.done = true;
        const int fd = open(a.path.c_str(), O_WRONLY | O_APPEND);
        EXPECT_EQ(write(fd, a.appended.data(), a.appended.size()),
                  static_cast<ssize_t>(a.appended.size()));
        close(fd);
    }
    return got;
}

ByteSource append_hook(ByteSource real, void* context) {
    auto& a = *static_cast<AppendAtEnd*>(context);
    a.real = real;
    return ByteSource{read_then_append, &a};
}

ByteSink unchanged_sink(ByteSink real, void*) {
    return real;
}

TEST(UndoStream, InPlaceRunJudgesALineCompletedByAppendedBytesAsAWhole) {
    const std::string run = test::encode_again("café", Misreading::latin1);
    const struct {
        const char* name;
        std::string original, appended;
    } cases[] = {
        {"after a newline", "first " + run + "\n", "then " + run + "\n"},
        // Alone, the first half would be undone; the real é that follows
        // shows the line is not damage.
        {"in a line", "first\nhalf " + run + " x", "y caf\xC3\xA9\n"},
        {"completing a run", "first\n" + run.substr(0, 3), run.substr(3) + "\n"},
        // Undoing shortens one line by as much as converting the Latin-1
        // bytes of the next lengthens the file: the same size, yet changed.
        {"as long as before", "a\n", run + "\n\xE9\xE9\n"},
    };
    for (const auto& c : cases) {
        test::TempDir dir;
        const std::string path = dir / "f";
        test::write_file(path, c.original);
        AppendAtEnd append{{}, path, c.appended};
        const IoHooks hooks{append_hook, unchanged_sink, &append};
        ConversionSettings settings;
        settings.hooks = &hooks;
        settings.undo_double = true;
        const ConversionOutcome done =
            convert_file(path.c_str(), path.c_str(), MODE_UTF8, settings);
        EXPECT_EQ(done.failed, FailedStep::none) << c.name;
        EXPECT_TRUE(append.done) << c.name;
        EXPECT_TRUE(test::read_file(path) ==
                    undone_in_memory(c.original + c.appended, Target::utf8))
            << c.name << ": " << test::read_file(path);
    }
}

}  // namespace
}  // namespace textmend
