// End-to-end tests of textmend-report: statuses, standard input, several
// files with one unreadable, exact JSON and text reports, and output sizes
// equal to what textmend writes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "support/run_program.hpp"

namespace textmend::test {
namespace {

RunResult run_report(const std::vector<std::string>& args, const RunOptions& base = {}) {
    RunOptions options = base;
    options.program = TEXTMEND_REPORT_BINARY;
    return run_textmend(args, options);
}

std::string first_line(const std::string& text) {
    return text.substr(0, text.find('\n'));
}

TEST(ReportProgram, StatusTellsCleanNotCleanAndUnreadable) {
    TempDir dir;
    write_file(dir / "clean", "plain ASCII\n");
    write_file(dir / "mixed", "caf\xC3\xA9 and caf\xE9\n");
    const struct {
        std::vector<std::string> files;
        int status;
    } cases[] = {
        {{"clean"}, 0},
        {{"clean", "mixed"}, 1},
        {{"missing", "mixed"}, 2},
        {{"mixed", "missing", "clean"}, 2},
        {{"."}, 2},  // a directory
    };
    for (const auto& c : cases) {
        RunOptions in_dir;
        in_dir.cwd = dir.path;
        const RunResult r = run_report(c.files, in_dir);
        EXPECT_EQ(r.status, c.status) << c.files[0];
    }
    RunOptions in_dir;
    in_dir.cwd = dir.path;
    const RunResult r = run_report({"mixed", "missing", ".", "clean"}, in_dir);
    EXPECT_EQ(r.err,
              "textmend-report: missing: No such file or directory\n"
              "textmend-report: .: Is a directory\n");
    EXPECT_EQ(r.out,
              "mixed: 1 to change, first at line 1, column 4\n"
              "  line 1, column 4: change c3 a9 to e9: caf[\xC3\xA9] and caf\xC3\xA9\n"
              "clean: clean\n");
}

TEST(ReportProgram, StandardInputWithDashOrNoFile) {
    const std::string text = "\xE2\x82\xAC 5\n";
    RunOptions piped;
    piped.stdin_data = &text;
    for (const std::vector<std::string>& args : {std::vector<std::string>{"--json", "-w"},
                                                 std::vector<std::string>{"--json", "-w", "-"}}) {
        const RunResult r = run_report(args, piped);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out,
                  "{\"file\":\"-\",\"target\":\"windows-1252\",\"bytes_in\":6,\"bytes_out\":4,"
                  "\"changed\":1,\"kept\":0,\"double\":0,\"clean\":false,\"examples\":[{\"offset\":"
                  "0,\"line\":1,"
                  "\"column\":1,\"kind\":\"changed\",\"bytes\":\"e282ac\"}]}\n");
    }
}

TEST(ReportProgram, JsonOfEveryTargetWithExamplesLimited) {
    TempDir dir;
    write_file(dir / "f", "a\n\xC3\xA9\xE2\x82\xAC\x81\xE9\n");
    const struct {
        const char* flag;
        const char* line;
    } cases[] = {
        {"",
         "{\"file\":\"f\",\"target\":\"latin1\",\"bytes_in\":10,\"bytes_out\":9,\"changed\":1,"
         "\"kept\":1,\"double\":0,\"clean\":false,\"examples\":[{\"offset\":2,\"line\":2,"
         "\"column\":1,"
         "\"kind\":\"changed\",\"bytes\":\"c3a9\"}]}"},
        {"-w",
         "{\"file\":\"f\",\"target\":\"windows-1252\",\"bytes_in\":10,\"bytes_out\":7,"
         "\"changed\":2,\"kept\":1,\"double\":0,\"clean\":false,\"examples\":[{\"offset\":2,"
         "\"line\":2,"
         "\"column\":1,\"kind\":\"changed\",\"bytes\":\"c3a9\"}]}"},
        {"-u",
         "{\"file\":\"f\",\"target\":\"utf-8\",\"bytes_in\":10,\"bytes_out\":11,\"changed\":1,"
         "\"kept\":1,\"double\":0,\"clean\":false,\"examples\":[{\"offset\":7,\"line\":2,"
         "\"column\":6,"
         "\"kind\":\"kept\",\"bytes\":\"81\"}]}"},
    };
    for (const auto& c : cases) {
        RunOptions in_dir;
        in_dir.cwd = dir.path;
        std::vector<std::string> args = {"--json", "--max-examples", "1", "f"};
        if (*c.flag != '\0') args.insert(args.begin(), c.flag);
        const RunResult r = run_report(args, in_dir);
        EXPECT_EQ(r.status, 1) << c.flag;
        EXPECT_EQ(r.out, std::string(c.line) + "\n") << c.flag;
    }
}

// Names are written in JSON so that every line is valid JSON: control
// characters and quotes escaped, bytes that are not UTF-8 as \udcXX.
// Runs of text encoded twice are counted once, as runs, in every target;
// the status stays the conversion's: with -u such text is clean.
TEST(ReportProgram, DoubleEncodedRunsCountedApart) {
    TempDir dir;
    write_file(dir / "f", "caf\xC3\x83\xC2\xA9 and caf\xC3\xA9\n");
    RunOptions in_dir;
    in_dir.cwd = dir.path;
    const struct {
        std::vector<std::string> option;
        int status;
        const char* json;
        const char* text;
    } cases[] = {
        {{},
         1,
         "{\"file\":\"f\",\"target\":\"latin1\",\"bytes_in\":18,\"bytes_out\":15,\"changed\":1,"
         "\"kept\":0,\"double\":1,\"clean\":false,\"examples\":[{\"offset\":3,\"line\":1,"
         "\"column\":4,\"kind\":\"double\",\"bytes\":\"c383c2a9\",\"becomes\":\"e9\"},"
         "{\"offset\":15,\"line\":1,\"column\":16,\"kind\":\"changed\",\"bytes\":\"c3a9\"}]}\n",
         "f: 1 to change, 1 looks double-encoded, first at line 1, column 4\n"
         "  line 1, column 4: double-encoded c3 83 c2 a9 would undo to e9: "
         "caf[\xC3\x83\xC2\xA9] and caf\xC3\xA9\n"
         "  line 1, column 16: change c3 a9 to e9: caf\xC3\x83\xC2\xA9 and caf[\xC3\xA9]\n"},
        {{"-u"},
         0,
         "{\"file\":\"f\",\"target\":\"utf-8\",\"bytes_in\":18,\"bytes_out\":18,\"changed\":0,"
         "\"kept\":0,\"double\":1,\"clean\":true,\"examples\":[{\"offset\":3,\"line\":1,"
         "\"column\":4,\"kind\":\"double\",\"bytes\":\"c383c2a9\",\"becomes\":\"c3a9\"}]}\n",
         "f: clean, 1 looks double-encoded, first at line 1, column 4\n"
         "  line 1, column 4: double-encoded c3 83 c2 a9 would undo to c3 a9: "
         "caf[\xC3\x83\xC2\xA9] and caf\xC3\xA9\n"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = c.option;
        args.push_back("f");
        const RunResult text = run_report(args, in_dir);
        EXPECT_EQ(text.status, c.status) << c.text;
        EXPECT_EQ(text.out, c.text);
        args.insert(args.begin(), "--json");
        const RunResult json = run_report(args, in_dir);
        EXPECT_EQ(json.status, c.status) << c.json;
        EXPECT_EQ(json.out, c.json);
    }
}

TEST(ReportProgram, OddNamesInJson) {
    TempDir dir;
    const std::string name = "caf\xE9 \"quoted\"\t\xC3\xA9";
    write_file(dir / name, "ok\n");
    RunOptions in_dir;
    in_dir.cwd = dir.path;
    const RunResult r = run_report({"--json", "--max-examples=0", name}, in_dir);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(first_line(r.out),
              "{\"file\":\"caf\\udce9 \\\"quoted\\\"\\u0009\xC3\xA9\",\"target\":\"latin1\","
              "\"bytes_in\":3,\"bytes_out\":3,\"changed\":0,\"kept\":0,\"double\":0,\"clean\":true,"
              "\"examples\":[]}");
}

// Names in the text report: control bytes (C0 and C1) as octal escapes, and
// a backslash doubled, so that an escape in the report always stands for a
// byte: a file named \001 is not the file named with the byte 01.
TEST(ReportProgram, OddNamesInText) {
    TempDir dir;
    const struct {
        std::string name, shown;
    } cases[] = {
        {"back\\001slash", "back\\\\001slash"},
        {"byte\001one", "byte\\001one"},
        {"csi\x9B[2J", "csi\\233[2J"},
        {"csi\xC2\x9B[2J", "csi\\302\\233[2J"},
        {"caf\xC3\xA9 caf\xE9", "caf\xC3\xA9 caf\xE9"},
    };
    for (const auto& c : cases) {
        write_file(dir / c.name, "ok\n");
        RunOptions in_dir;
        in_dir.cwd = dir.path;
        const RunResult r = run_report({c.name, c.name + ".missing"}, in_dir);
        EXPECT_EQ(r.out, c.shown + ": clean\n") << c.shown;
        EXPECT_EQ(r.err, "textmend-report: " + c.shown + ".missing: No such file or directory\n")
            << c.shown;
    }
}

// Occurrences of text in the file at path, read a block at a time.
std::uint64_t count_in_file(const std::string& path, const std::string& text) {
    std::ifstream file(path, std::ios::binary);
    std::string carry, block(1 << 20, '\0');
    std::uint64_t count = 0;
    while (file.read(block.data(), static_cast<std::streamsize>(block.size())) ||
           file.gcount() > 0) {
        std::string window = carry + block.substr(0, static_cast<std::size_t>(file.gcount()));
        for (std::size_t at = window.find(text); at != std::string::npos;
             at = window.find(text, at + 1))
            ++count;
        carry =
            window.size() >= text.size() ? window.substr(window.size() - text.size() + 1) : window;
    }
    return count;
}

// However many places are asked for, memory stays bounded (the places wait
// in a temporary file until the counts are known), and every one is written.
TEST(ReportProgram, ManyPlacesInBoundedMemory) {
    if (std::getenv("TEXTMEND_TEST_WRAPPER") != nullptr || UNDER_ADDRESS_SANITIZER)
        GTEST_SKIP() << "the memory measured would be the wrapper's or the sanitizer's";
    TempDir dir;
    std::string input;
    const std::uint64_t places = 1200000;
    for (std::uint64_t i = 0; i < places / 60; ++i)
        input += std::string(60, '\xE9') + "\n";
    write_file(dir / "latin1", input);
    const struct {
        const char* name;
        std::vector<std::string> options;
        const char* per_place;
    } cases[] = {
        {"JSON, 2^64 - 1 places",
         {"--json", "--max-examples", "18446744073709551615"},
         "{\"offset\":"},
        {"text, a million places", {"--max-examples", "1000000"}, "\n  line "},
    };
    for (const auto& c : cases) {
        const std::string out = dir / "report";
        const int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        RunOptions to_file;
        to_file.descriptors = {{fd, 1}};
        std::vector<std::string> args = {"-u"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        args.push_back(dir / "latin1");
        const RunResult r = run_report(args, to_file);
        close(fd);
        EXPECT_EQ(r.status, 1) << c.name << r.err;
        EXPECT_LT(r.peak_rss_kib, 64 * 1024) << c.name;
        const std::uint64_t wanted =
            std::string(c.name).find("million") != std::string::npos ? 1000000 : places;
        EXPECT_EQ(count_in_file(out, c.per_place), wanted) << c.name;
    }
}

// bytes_out is exactly the size textmend writes for the same file.
TEST(ReportProgram, OutputSizeIsWhatTextmendWrites) {
    const std::string sample = std::string(TEXTMEND_SOURCE_DIR) + "/examples/mixed.txt";
    TempDir dir;
    for (const char* flag : {"", "-w", "-u"}) {
        std::vector<std::string> convert = {sample, dir / "out"};
        std::vector<std::string> report = {"--json", sample};
        if (*flag != '\0') {
            convert.insert(convert.begin(), flag);
            report.insert(report.begin(), flag);
        }
        ASSERT_EQ(run_textmend(convert).status, 0);
        const std::string line = run_report(report).out;
        const std::string size = std::to_string(read_file(dir / "out").size());
        EXPECT_NE(line.find(",\"bytes_out\":" + size + ","), std::string::npos) << flag << line;
    }
}

// A file of 64 MiB and more is inspected in halves at once (where there are
// two processors), a pipe in order: the reports are the same, with examples
// from both halves.
TEST(ReportProgram, LargeFileReportsAsThePipeOfItsBytes) {
    std::string lines;
    while (lines.size() < 30 << 20)
        lines += "plain line " + std::to_string(lines.size()) + "\n";
    const std::string findings =
        std::string(5000, 'x') + "caf\xC3\xA9 \xE9t\xE9 \x93q\x94 \xE2\x82\xAC\n\x81";
    const std::string text =
        lines.substr(0, 10 << 20) + findings + lines + lines.substr(0, 26 << 20) + findings;
    TempDir dir;
    const std::string path = dir / "large";
    write_file(path, text);
    RunOptions piped;
    piped.stdin_data = &text;
    for (const auto& flags : {std::vector<std::string>{"-u", "--json"},
                              std::vector<std::string>{"-w", "--max-examples=20"}}) {
        std::vector<std::string> args = flags;
        args.push_back(path);
        const RunResult from_file = run_report(args);
        args.back() = "-";
        const RunResult from_pipe = run_report(args, piped);
        EXPECT_EQ(from_file.status, 1) << flags[0];
        EXPECT_EQ(from_pipe.status, 1) << flags[0];
        std::string expected = from_pipe.out;
        const std::size_t name = expected.find('-');
        ASSERT_NE(name, std::string::npos);
        expected.replace(name, 1, path);
        EXPECT_EQ(from_file.out, expected) << flags[0];
    }
}

// The second line of --version names the kernel set; a request in
// TEXTMEND_KERNELS that cannot be granted is warned about, one that can is
// not; the report itself is the same. textmend-tree likewise.
TEST(ReportProgram, KernelSetOnTheVersionAndRequestsWarnedAbout) {
    const std::string text = "caf\xC3\xA9\n";
    const struct {
        const char* program;
        const char* value;
        const char* warning;  // after "PROGRAM: TEXTMEND_KERNELS="
    } cases[] = {
        {TEXTMEND_REPORT_BINARY, "portable", nullptr},
        {TEXTMEND_REPORT_BINARY, "sse9", "sse9 names no kernel set; using "},
        {TEXTMEND_REPORT_BINARY, "avx\x1B", "avx\\033 names no kernel set; using "},
        {TEXTMEND_TREE_BINARY, "avx2x", "avx2x names no kernel set; using "},
        {TEXTMEND_TREE_BINARY, "", nullptr},
    };
    RunOptions piped;
    piped.stdin_data = &text;
    const std::string expected_report = run_report({"-"}, piped).out;
    for (const auto& c : cases) {
        RunOptions options;
        options.program = c.program;
        options.environment = {{"TEXTMEND_KERNELS", c.value}};
        const std::string name =
            std::string(c.program).substr(std::string(c.program).rfind('/') + 1);
        const RunResult version = run_textmend({"--version"}, options);
        EXPECT_EQ(version.status, 0) << c.value;
        const std::string second = version.out.substr(version.out.find('\n') + 1);
        const std::string active = std::strcmp(c.value, "portable") == 0 ? "portable" : "";
        EXPECT_EQ(second.rfind("kernels: " + active, 0), 0U) << second;
        EXPECT_EQ(second.back(), '\n');
        const std::string set = second.substr(9, second.size() - 10);
        const std::string warning =
            c.warning == nullptr ? "" : name + ": TEXTMEND_KERNELS=" + c.warning + set + "\n";
        EXPECT_EQ(version.err, warning) << c.value;
        if (c.program == std::string(TEXTMEND_REPORT_BINARY)) {
            options.stdin_data = &text;
            const RunResult report = run_textmend({"-"}, options);
            EXPECT_EQ(report.out, expected_report) << c.value;
            EXPECT_EQ(report.err, warning) << c.value;
        }
    }
}

TEST(ReportProgram, HelpVersionAndWrongOptions) {
    const RunResult help = run_report({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(first_line(help.out),
              "Usage: textmend-report [-w | -u] [--json] [--max-examples N] [--] [FILE...]");
    EXPECT_EQ(help.err, "");
    const RunResult version = run_report({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.rfind("textmend-report ", 0), 0U);
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--bogus"}, std::vector<std::string>{"-w", "-u", "f"}}) {
        const RunResult wrong = run_report(args);
        EXPECT_EQ(wrong.status, 2) << args[0];
        EXPECT_EQ(wrong.out, "");
        EXPECT_EQ(wrong.err.substr(wrong.err.find('\n') + 1), help.out) << args[0];
    }
    EXPECT_EQ(first_line(run_report({"--bogus\x1B"}).err),
              "textmend-report: unknown option '--bogus\\033'");
}

// Colour only on a terminal: run under `script`, which gives the program one.
TEST(ReportProgram, ColourOnATerminalOnly) {
    if (!have_command("script")) GTEST_SKIP() << "needs script (util-linux) for a terminal";
    TempDir dir;
    write_file(dir / "f", "caf\xC3\xA9\n");
    const RunResult piped = run_report({dir / "f"});
    EXPECT_EQ(piped.out.find('\x1B'), std::string::npos);
    RunOptions options;
    options.program = "script";
    const RunResult on_terminal = run_textmend(
        {"-qec", std::string("TERM=xterm " TEXTMEND_REPORT_BINARY " ") + dir / "f", "/dev/null"},
        options);
    EXPECT_NE(on_terminal.out.find("\x1B[1;31m"), std::string::npos) << on_terminal.out;
}

}  // namespace
}  // namespace textmend::test
