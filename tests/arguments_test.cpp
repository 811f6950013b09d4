#include <gtest/gtest.h>

#include <vector>

#include "cli/command/arguments.hpp"
#include "cli/descriptors/descriptor_name.hpp"

namespace textmend {
namespace {

struct Case {
    std::vector<const char*> args;  // after the program name
    int valid;
    OutputMode mode;
    const char* input;
    const char* output;
};

TEST(ParseCommandLine, OptionOnlyFirstAndOnlyWithThreeOrMoreArguments) {
    const Case cases[] = {
        {{}, 0, MODE_LATIN1, nullptr, nullptr},
        {{"in"}, 0, MODE_LATIN1, nullptr, nullptr},
        {{"in", "out"}, 1, MODE_LATIN1, "in", "out"},
        {{"-w", "in", "out"}, 1, MODE_CP1252, "in", "out"},
        {{"-u", "in", "out"}, 1, MODE_UTF8, "in", "out"},
        {{"-wide", "in", "out"}, 1, MODE_CP1252, "in", "out"},
        {{"-ux", "in", "out"}, 1, MODE_UTF8, "in", "out"},
        {{"-w", "out"}, 1, MODE_LATIN1, "-w", "out"},  // two arguments: no option looked for
        {{"-x", "in", "out"}, 0, MODE_LATIN1, nullptr, nullptr},
        {{"-W", "in", "out"}, 0, MODE_LATIN1, nullptr, nullptr},
        {{"-", "in", "out"}, 0, MODE_LATIN1, nullptr, nullptr},
        {{"-w", "-u", "in", "out"}, 0, MODE_CP1252, nullptr, nullptr},
        {{"in", "out", "extra"}, 0, MODE_LATIN1, nullptr, nullptr},
        {{"-w", "in", "out", "extra"}, 0, MODE_CP1252, nullptr, nullptr},
        {{"in", "-w", "out"}, 0, MODE_LATIN1, nullptr, nullptr},
    };
    for (const Case& c : cases) {
        std::vector<const char*> argv{"textmend"};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        const CommandLine cl = parse_command_line(static_cast<int>(argv.size()), argv.data());
        EXPECT_EQ(cl.valid, c.valid) << argv.size();
        if (!c.valid) continue;
        EXPECT_EQ(cl.mode, c.mode);
        EXPECT_STREQ(cl.input_path, c.input);
        EXPECT_STREQ(cl.output_path, c.output);
    }
}

}  // namespace
}  // namespace textmend

namespace textmend {
namespace {

TEST(DescriptorNames, OnlyTheUsualSpellingsNameADescriptor) {
    const struct {
        const char* path;
        int fd;
    } cases[] = {
        {"/dev/stdin", 0},
        {"/dev/stdout", 1},
        {"/dev/stderr", 2},
        {"/dev/fd/0", 0},
        {"/dev/fd/17", 17},
        {"/proc/self/fd/3", 3},
        {"/dev/fd/007", 7},
        {"/dev/fd/", -1},
        {"/dev/fd/1x", -1},
        {"/dev/fd/-1", -1},
        {"/dev/fd/99999999999", -1},
        {"/dev/stdout/", -1},
        {"/dev/stdoutx", -1},
        {"dev/stdout", -1},
        {"/proc/1/fd/1", -1},
        {"/dev/./stdout", -1},
        {"out.txt", -1},
        {"", -1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(descriptor_named_by(c.path), c.fd) << c.path;
}

}  // namespace
}  // namespace textmend
