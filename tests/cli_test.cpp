// End-to-end tests: the built program on real files, pipes and devices.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "support/bytes.hpp"
#include "support/model.hpp"
#include "support/random_text.hpp"
#include "support/run_program.hpp"

namespace textmend::test {
namespace {

const std::string USAGE =
    "This is a simple, specialised UTF8 to Latin1 converter.\n"
    "Unlike general purpose converters like glyphmill, it can\n"
    "reliably convert textfiles in languages like German, French\n"
    "Spanish etc. in which part of the text is in ISO-8859-1\n"
    "(Latin1) and part in UTF8. It does this by detecting what\n"
    "is probably UTF8 and what is certainly not.\n"
    "Optionally (-w), it also support Windows code page\n"
    "1252, instead of plain ISO8859-1.\n"
    "\n"
    "Optionally (-u), the output is UTF8, not ISO8859-1 or Windows 1252.\n"
    "\n"
    "Usage:\ttextmend [-w] infile outfile\n"
    "or:\ttextmend [-u] infile outfile\n"
    "\n";

const char* const MODE_FLAGS[] = {"", "-w", "-u"};
const OutputMode MODES[] = {MODE_LATIN1, MODE_CP1252, MODE_UTF8};

std::vector<std::string> with_mode(const char* flag, const std::string& in,
                                   const std::string& out) {
    if (*flag == '\0') return {in, out};
    return {flag, in, out};
}

unsigned permissions_of(const std::string& path) {
    struct stat st {};
    stat(path.c_str(), &st);
    return st.st_mode & 07777;
}

TEST(CommandLine, WrongCommandLinesPrintUsageAndCreateNothing) {
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"in.txt"},
        {"-x", "in.txt", "out.txt"},
        {"-W", "in.txt", "out.txt"},
        {"-w", "-u", "in.txt", "out.txt"},
        {"in.txt", "out.txt", "extra"},
        {"-u", "in.txt", "out.txt", "extra"},
    };
    for (const auto& args : cases) {
        TempDir dir;
        write_file(dir / "in.txt", "caf\xC3\xA9\n");
        const RunResult r = run_textmend(args, {dir.path});
        EXPECT_EQ(r.status, 1) << args.size();
        EXPECT_EQ(r.err, USAGE);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(list_dir(dir.path), std::vector<std::string>{"in.txt"});
    }
}

TEST(CommandLine, WideIsTheWindowsOption) {
    TempDir dir;
    write_file(dir / "in", "\xE2\x82\xAC");
    const RunResult r = run_textmend({"-wide", dir / "in", dir / "out"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(to_hex(read_file(dir / "out")), "80");
}

TEST(CommandLine, WithTwoArgumentsAnOptionIsAFileName) {
    TempDir dir;
    write_file(dir / "-w", "\xC3\xA9");
    const RunResult r = run_textmend({"-w", "out"}, {dir.path});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(to_hex(read_file(dir / "out")), "E9");
}

TEST(Files, MissingInputReportsAndLeavesOutputUntouched) {
    TempDir dir;
    const RunResult r = run_textmend({"missing.txt", "out.txt"}, {dir.path});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "Cannot open input file missing.txt\n\n" + USAGE);
    EXPECT_FALSE(file_exists(dir / "out.txt"));
}

TEST(Files, DirectoryAsInputIsAnInputThatCannotBeOpened) {
    TempDir dir;
    write_file(dir / "out.txt", "keep me");
    const RunResult r = run_textmend({dir.path, dir / "out.txt"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "Cannot open input file " + dir.path + "\n\n" + USAGE);
    EXPECT_EQ(read_file(dir / "out.txt"), "keep me");
}

TEST(Files, OutputThatCannotBeOpened) {
    TempDir dir;
    write_file(dir / "in.txt", "abc");
    mkdir((dir / "sub").c_str(), 0755);
    for (const std::string& out : {dir / "no/such/dir/out.txt", dir / "sub"}) {
        const RunResult r = run_textmend({"-u", dir / "in.txt", out});
        EXPECT_EQ(r.status, 3) << out;
        EXPECT_EQ(r.err, "Cannot open output file " + out + "\n\n" + USAGE);
    }
}

// Names are written as given, except control bytes, which are escaped so that
// a name cannot send escape sequences to the terminal.
TEST(Files, NamesAreWrittenAsGivenWithControlBytesEscaped) {
    const struct {
        std::string name, shown;
    } cases[] = {
        {"100% %s %n \xE9.txt", "100% %s %n \xE9.txt"},
        {"red\033[31mname", "red\\033[31mname"},
        {"tab\tnew\nline", "tab\\011new\\012line"},
        {"\x01start and end\x7F", "\\001start and end\\177"},
        {"back\\slash", "back\\slash"},
        // C1 controls: a lone 9B starts an escape sequence on an 8-bit
        // terminal, and so does U+009B in UTF-8; other high bytes and UTF-8
        // (continuation bytes 80..9F within it too) are written as they are.
        {"lone\x9B[31mcsi", "lone\\233[31mcsi"},
        {"utf8\xC2\x9B[31mcsi", "utf8\\302\\233[31mcsi"},
        {"\x80\x9F\xA0\xFF", "\\200\\237\xA0\xFF"},
        {"euro \xE2\x82\xAC caf\xC3\xA9 \xF0\x9F\x98\x80",
         "euro \xE2\x82\xAC caf\xC3\xA9 \xF0\x9F\x98\x80"},
        {"cut \xE2\x82 short", "cut \xE2\\202 short"},
        {"overlong \xE0\x82\x9B", "overlong \xE0\\202\\233"},
    };
    TempDir dir;
    for (const auto& c : cases) {
        const RunResult r = run_textmend({c.name, "out.txt"}, {dir.path});
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.err, "Cannot open input file " + c.shown + "\n\n" + USAGE) << c.shown;
    }
}

// The failure can show at the first write, a later one, or only when the
// buffer is flushed at the end (one byte): status 4 every time.
TEST(Files, WriteFailureToAFullDevice) {
    TempDir dir;
    for (const std::size_t size : {std::size_t{1}, std::size_t{100} << 10, std::size_t{10} << 20}) {
        write_file(dir / "in", std::string(size, 'a'));
        for (const char* flag : MODE_FLAGS) {
            const RunResult r = run_textmend(with_mode(flag, dir / "in", "/dev/full"));
            EXPECT_EQ(r.status, 4) << size << flag;
            EXPECT_EQ(r.err, "Cannot write output file /dev/full: No space left on device\n");
        }
    }
}

// Output into a pipe whose reader has gone: the run ends at once, killed by
// SIGPIPE as any filter is, or, where SIGPIPE is ignored, with status 4.
TEST(Files, PipeWhoseReaderHasGone) {
    TempDir dir;
    std::mt19937_64 rng(8);
    write_file(dir / "in", random_mixed_bytes(rng, 20 << 20));
    for (const bool ignore_sigpipe : {false, true}) {
        int pipe_fds[2];
        ASSERT_EQ(pipe(pipe_fds), 0);
        const int err = open((dir / "err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const pid_t pid = fork();
        if (pid == 0) {
            if (ignore_sigpipe) signal(SIGPIPE, SIG_IGN);
            dup2(pipe_fds[1], 1);
            dup2(err, 2);
            close(pipe_fds[0]);
            execl(TEXTMEND_BINARY, TEXTMEND_BINARY, "-u", (dir / "in").c_str(), "/dev/stdout",
                  nullptr);
            _exit(127);
        }
        close(err);
        close(pipe_fds[1]);
        char first[10];
        EXPECT_EQ(read(pipe_fds[0], first, sizeof first), 10);
        close(pipe_fds[0]);
        int status = 0;
        for (int waited = 0; waited < 1000 && waitpid(pid, &status, WNOHANG) == 0; ++waited)
            usleep(10000);
        if (waitpid(pid, nullptr, WNOHANG) == 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
            FAIL() << "still running 10 s after its reader went away";
        }
        if (ignore_sigpipe) {
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 4) << status;
            EXPECT_EQ(read_file(dir / "err"),
                      "Cannot write output file /dev/stdout: Broken pipe\n");
        } else {
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGPIPE) << status;
        }
    }
}

TEST(Files, ReadFailureIsReportedAndTheOutputRemoved) {
    TempDir dir;
    // Reading a process's own memory at offset 0 fails with EIO.
    const RunResult r = run_textmend({"/proc/self/mem", dir / "out"});
    EXPECT_EQ(r.status, 4);
    EXPECT_EQ(r.err, "Cannot read input file /proc/self/mem: Input/output error\n");
    EXPECT_FALSE(file_exists(dir / "out"));
}

// A file-size limit (ulimit -f) is a failed write, on one thread and when a
// large output is written on a thread of its own alike.
TEST(Files, WriteFailureToAFileRemovesTheIncompleteOutput) {
    for (const std::size_t size : {std::size_t{400000}, std::size_t{5 << 20}}) {
        TempDir dir;
        write_file(dir / "in", std::string(size, 'x'));
        RunOptions limited;
        limited.file_size_limit = 200000;
        const RunResult r = run_textmend({dir / "in", dir / "out"}, limited);
        EXPECT_EQ(r.status, 4) << size;
        EXPECT_EQ(r.err, "Cannot write output file " + (dir / "out") + ": File too large\n");
        EXPECT_EQ(list_dir(dir.path), std::vector<std::string>{"in"}) << size;
    }
}

// A large input is mapped, not read. When another program truncates it
// during the run, the pages that went away are a failed read, not a crash.
TEST(Files, InputTruncatedDuringTheRunIsAReadFailure) {
    TempDir dir;
    std::mt19937_64 rng(5);
    std::string input(96 << 20, '\0');
    for (char& c : input)
        c = static_cast<char>(rng());
    bool cut_in_time = false;
    for (int attempt = 0; attempt < 5 && !cut_in_time; ++attempt) {
        write_file(dir / "in", input);
        const pid_t pid = fork();
        if (pid == 0) {
            const int err = open((dir / "err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(err, 2);
            execl(TEXTMEND_BINARY, TEXTMEND_BINARY, "-u", (dir / "in").c_str(),
                  (dir / "out").c_str(), nullptr);
            _exit(127);
        }
        while (!file_exists(dir / "out") && waitpid(pid, nullptr, WNOHANG) == 0)
            usleep(100);
        truncate((dir / "in").c_str(), 1000);
        int status = 0;
        waitpid(pid, &status, 0);
        cut_in_time = WIFEXITED(status) && WEXITSTATUS(status) == 4;
        if (!cut_in_time) {
            // It finished first (status 0): the race is lost, not a fault.
            ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        }
    }
    ASSERT_TRUE(cut_in_time);
    EXPECT_EQ(read_file(dir / "err"),
              "Cannot read input file " + (dir / "in") + ": Input/output error\n");
    EXPECT_FALSE(file_exists(dir / "out"));
}

// Files of sysfs report a size (a page) that says nothing of what they
// hold: reading one ends early, which is its end, not a truncation.
TEST(Files, PseudoFileEndsWhereItsContentEnds) {
    const char* const candidates[] = {"/sys/kernel/mm/transparent_hugepage/enabled",
                                      "/sys/devices/system/cpu/online", "/sys/power/state"};
    std::string path;
    for (const char* candidate : candidates) {
        struct stat st {};
        if (stat(candidate, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0 &&
            access(candidate, R_OK) == 0 &&
            read_file(candidate).size() < static_cast<std::size_t>(st.st_size)) {
            path = candidate;
            break;
        }
    }
    if (path.empty()) GTEST_SKIP() << "no sysfs file that holds less than its size says";
    TempDir dir;
    const RunResult r = run_textmend({"-u", path, dir / "out"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(read_file(dir / "out") == model_convert(read_file(path), MODE_UTF8));
}

TEST(Conversion, EmptyAndAsciiFilesAreUnchangedInEveryMode) {
    TempDir dir;
    std::string ascii;
    for (int i = 0; i < 5000; ++i)
        ascii.push_back(static_cast<char>(i % 128));
    for (const std::string& content : {std::string(), ascii}) {
        write_file(dir / "in", content);
        for (const char* flag : MODE_FLAGS) {
            const RunResult r = run_textmend(with_mode(flag, dir / "in", dir / "out"));
            EXPECT_EQ(r.status, 0);
            EXPECT_EQ(r.err, "");
            EXPECT_EQ(r.out, "");
            EXPECT_EQ(read_file(dir / "out"), content) << flag;
        }
    }
}

// Inputs of odd shapes, through a file and through a pipe (/dev/stdin), in
// every mode, against the model.
TEST(Conversion, OddInputs) {
    std::mt19937_64 rng(9);
    std::string high_only(300000, '\0');
    for (char& c : high_only)
        c = static_cast<char>(0x80 | (rng() & 0x7F));
    std::string long_line(3 << 20, 'x');
    for (std::size_t i = 1000; i < long_line.size(); i += 4099)
        long_line.replace(i, 2, "\xC3\xA9");
    const struct {
        const char* name;
        std::string bytes;
    } cases[] = {
        {"NUL bytes", std::string("a\0\xC3\0\xA9\0\xE9\0\0", 9)},
        {"only high bytes", high_only},
        {"a 3 MiB line", long_line},
        {"ends in a 2-byte sequence", "caf\xC3"},
        {"ends in a 3-byte sequence", "price \xE2\x82"},
        {"ends in a 4-byte sequence", "smile \xF0\x9F\x98"},
        {"ends in a 6-byte form", "x\xFC\x84\x80\x80\x80"},
        {"CR LF and 1A", "line\r\nnext\r\n\x1A"},
    };
    TempDir dir;
    for (const auto& c : cases) {
        write_file(dir / "in", c.bytes);
        for (int m = 0; m < 3; ++m) {
            const std::string expected = model_convert(c.bytes, MODES[m]);
            const RunResult file_run =
                run_textmend(with_mode(MODE_FLAGS[m], dir / "in", dir / "out"));
            EXPECT_EQ(file_run.status, 0) << c.name;
            EXPECT_TRUE(read_file(dir / "out") == expected) << c.name << " " << MODE_FLAGS[m];
            RunOptions piped;
            piped.stdin_data = &c.bytes;
            const RunResult pipe_run =
                run_textmend(with_mode(MODE_FLAGS[m], "/dev/stdin", "/dev/stdout"), piped);
            EXPECT_EQ(pipe_run.status, 0) << c.name;
            EXPECT_TRUE(pipe_run.out == expected)
                << c.name << " " << MODE_FLAGS[m] << " through a pipe";
        }
    }
}

// Long stretches that need no change are written straight from the mapped
// input, to a file, a pipe or in place, with the changes between them in the
// right places.
TEST(Conversion, LongUnchangedStretchesAroundChanges) {
    std::string input(6 << 20, 'x');
    for (std::size_t i = 0; i + 3 < input.size(); i += (1 << 20) - 7)
        input.replace(i, 3, "\xE9\xC3\xA9");
    TempDir dir;
    write_file(dir / "in", input);
    for (int m = 0; m < 3; ++m) {
        const std::string expected = model_convert(input, MODES[m]);
        ASSERT_NE(expected, input);
        const RunResult to_file = run_textmend(with_mode(MODE_FLAGS[m], dir / "in", dir / "out"));
        EXPECT_EQ(to_file.status, 0);
        EXPECT_TRUE(read_file(dir / "out") == expected) << MODE_FLAGS[m];
        const RunResult to_pipe = run_textmend(with_mode(MODE_FLAGS[m], dir / "in", "/dev/stdout"));
        EXPECT_EQ(to_pipe.status, 0);
        EXPECT_TRUE(to_pipe.out == expected) << MODE_FLAGS[m] << " to a pipe";
        write_file(dir / "same", input);
        EXPECT_EQ(run_textmend(with_mode(MODE_FLAGS[m], dir / "same", dir / "same")).status, 0);
        EXPECT_TRUE(read_file(dir / "same") == expected) << MODE_FLAGS[m] << " in place";
    }
}

// The program on a large random file, through the real file streams, against
// the model; the same input through a pipe (/dev/stdin) and a FIFO gives the
// same output.
TEST(Conversion, FilesPipesAndFifosGiveTheModelsOutput) {
    TempDir dir;
    std::mt19937_64 rng(7);
    const std::string input = random_mixed_bytes(rng, 700000);
    write_file(dir / "in", input);
    mkfifo((dir / "fifo").c_str(), 0600);
    for (int m = 0; m < 3; ++m) {
        const std::string expected = model_convert(input, MODES[m]);
        const RunResult file_run = run_textmend(with_mode(MODE_FLAGS[m], dir / "in", dir / "out"));
        ASSERT_EQ(file_run.status, 0);
        EXPECT_TRUE(read_file(dir / "out") == expected) << MODE_FLAGS[m];

        RunOptions piped;
        piped.stdin_data = &input;
        const RunResult pipe_run =
            run_textmend(with_mode(MODE_FLAGS[m], "/dev/stdin", dir / "out"), piped);
        ASSERT_EQ(pipe_run.status, 0);
        EXPECT_TRUE(read_file(dir / "out") == expected) << MODE_FLAGS[m];

        const pid_t writer = fork();
        if (writer == 0) {
            write_file(dir / "fifo", input);
            _exit(0);
        }
        const RunResult fifo_run =
            run_textmend(with_mode(MODE_FLAGS[m], dir / "fifo", dir / "out"));
        waitpid(writer, nullptr, 0);
        ASSERT_EQ(fifo_run.status, 0);
        EXPECT_TRUE(read_file(dir / "out") == expected) << MODE_FLAGS[m];
    }
}

// Reads from fd until out holds want bytes or timeout_ms have passed.
void read_for(int fd, std::string& out, std::size_t want, int timeout_ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (out.size() < want) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd request{fd, POLLIN, 0};
        if (left.count() <= 0 || poll(&request, 1, static_cast<int>(left.count())) <= 0) return;
        char buffer[4096];
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got <= 0) return;
        out.append(buffer, static_cast<std::size_t>(got));
    }
}

// Pieces written into a pipe one at a time, each ending one way, and how
// many of their last bytes may still be completed by the next (default
// mode and -w, then -u): all the rest must come out before the next piece.
struct LivePiece {
    const char* bytes;
    std::size_t held_single_byte;
    std::size_t held_utf8;
};

const LivePiece LIVE_PIECES[] = {
    {"line1 K\xe4se\n", 0, 0},   {"caf\xc3", 1, 1},      {"\xa9 ok\n", 0, 0},
    {"x\xfc\x84\x80\x80", 4, 0}, {"\x80\x80 y\n", 0, 0}, {"\xe2\x82", 2, 2},
};

// Reading a pipe, the program writes what a piece decides while the writer
// pauses (here: before the test writes the next piece), not when the input
// ends; only the bytes of a sequence the next piece may complete wait.
TEST(Conversion, PipedInputComesOutAsSoonAsItIsDecided) {
    TempDir dir;
    ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
    for (int m = 0; m < 3; ++m) {
        // Standard input as the shell makes it, and a named FIFO, which is
        // read another way.
        for (const bool named : {false, true}) {
            int in[2];
            int out[2];
            // Close-on-exec: the program must not hold the test's ends, or its
            // input would never end.
            ASSERT_EQ(pipe2(in, O_CLOEXEC), 0);
            ASSERT_EQ(pipe2(out, O_CLOEXEC), 0);
            RunOptions options;
            options.descriptors = {{out[1], 1}};
            if (!named) options.descriptors.push_back({in[0], 0});
            const pid_t pid = start_textmend(
                with_mode(MODE_FLAGS[m], named ? dir / "fifo" : "/dev/stdin", "/dev/stdout"),
                options, dir / "err");
            close(in[0]);
            close(out[1]);
            if (named) {
                close(in[1]);
                in[1] = open((dir / "fifo").c_str(), O_WRONLY | O_CLOEXEC);
                ASSERT_GE(in[1], 0);
            }
            // A first line waited for as long as the program may take to
            // start (under valgrind, seconds); the pieces after it are timed.
            std::string written = "start\n";
            std::string received;
            ASSERT_EQ(write(in[1], written.data(), written.size()), 6);
            read_for(out[0], received, written.size(), 20000);
            ASSERT_EQ(received, written);
            for (const LivePiece& piece : LIVE_PIECES) {
                ASSERT_EQ(write(in[1], piece.bytes, std::strlen(piece.bytes)),
                          static_cast<ssize_t>(std::strlen(piece.bytes)));
                written += piece.bytes;
                const std::size_t held =
                    MODES[m] == MODE_UTF8 ? piece.held_utf8 : piece.held_single_byte;
                const std::string expected =
                    model_convert(written.substr(0, written.size() - held), MODES[m]);
                read_for(out[0], received, expected.size(), 100);
                ASSERT_EQ(to_hex(received), to_hex(expected))
                    << MODE_FLAGS[m] << (named ? " FIFO" : " pipe") << " after "
                    << to_hex(piece.bytes);
            }
            close(in[1]);
            const std::string whole = model_convert(written, MODES[m]);
            read_for(out[0], received, whole.size() + 1, 10000);
            close(out[0]);
            EXPECT_EQ(wait_for_exit(pid), 0);
            EXPECT_EQ(to_hex(received), to_hex(whole)) << MODE_FLAGS[m];
        }
    }
}

// In place: the output names the input by some spelling or link. The file
// gets the converted content, keeps its permission bits, links stay links,
// and no temporary file is left.
TEST(InPlace, EverySpellingOfTheSameFile) {
    const std::string original =
        "Stra\xC3\x9F"
        "e \xE9t\xE9 \xE2\x80\x9Cquoted\xE2\x80\x9D\n";
    const struct {
        const char* name;
        const char* output;  // relative to the directory; "ABS" for the absolute path
    } cases[] = {{"same path", "f.txt"},
                 {"dot slash", "./f.txt"},
                 {"absolute", "ABS"},
                 {"via subdirectory", "sub/../f.txt"},
                 {"symbolic link", "link.txt"}};
    for (const auto& c : cases) {
        TempDir dir;
        mkdir((dir / "sub").c_str(), 0755);
        write_file(dir / "f.txt", original);
        chmod((dir / "f.txt").c_str(), 0640);
        symlink("f.txt", (dir / "link.txt").c_str());
        const std::string out = std::string(c.output) == "ABS" ? dir / "f.txt" : c.output;
        const RunResult r = run_textmend({"-w", "f.txt", out}, {dir.path});
        EXPECT_EQ(r.status, 0) << c.name;
        EXPECT_EQ(r.err, "") << c.name;
        EXPECT_EQ(to_hex(read_file(dir / "f.txt")), to_hex(model_convert(original, MODE_CP1252)))
            << c.name;
        EXPECT_EQ(permissions_of(dir / "f.txt"), 0640U) << c.name;
        char target[64] = {};
        EXPECT_GT(readlink((dir / "link.txt").c_str(), target, sizeof target - 1), 0) << c.name;
        EXPECT_STREQ(target, "f.txt");
        EXPECT_EQ(list_dir(dir.path), (std::vector<std::string>{"f.txt", "link.txt", "sub"}))
            << c.name;
    }
}

TEST(InPlace, HardLinkOutputIsReplacedAndTheOtherNameKeepsTheOriginal) {
    TempDir dir;
    const std::string original = "\xE9t\xC3\xA9";
    write_file(dir / "a", original);
    chmod((dir / "a").c_str(), 0604);
    link((dir / "a").c_str(), (dir / "b").c_str());
    const RunResult r = run_textmend({"-u", dir / "a", dir / "b"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(read_file(dir / "a"), original);
    EXPECT_EQ(to_hex(read_file(dir / "b")), "C3 A9 74 C3 A9");
    EXPECT_EQ(permissions_of(dir / "b"), 0604U);
    EXPECT_EQ(list_dir(dir.path), (std::vector<std::string>{"a", "b"}));
}

TEST(InPlace, InputFromStdinRedirectedFromTheOutputFile) {
    TempDir dir;
    write_file(dir / "f", "\xC3\xA9");
    const pid_t pid = fork();
    if (pid == 0) {
        // stdin opened on the very file that is named as the output.
        const int fd = open((dir / "f").c_str(), O_RDONLY);
        dup2(fd, 0);
        execl(TEXTMEND_BINARY, TEXTMEND_BINARY, "/dev/stdin", (dir / "f").c_str(), nullptr);
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(to_hex(read_file(dir / "f")), "E9");
}

TEST(InPlace, WriteFailureLeavesTheOriginalAndNoTemporaryFile) {
    TempDir dir;
    std::mt19937_64 rng(3);
    const std::string original = random_mixed_bytes(rng, 400000);
    write_file(dir / "f", original);
    RunOptions limited;
    limited.file_size_limit = 200000;
    const RunResult r = run_textmend({"-u", dir / "f", dir / "f"}, limited);
    EXPECT_EQ(r.status, 4);
    EXPECT_EQ(r.err, "Cannot write output file " + (dir / "f") + ": File too large\n");
    EXPECT_TRUE(read_file(dir / "f") == original);
    EXPECT_EQ(list_dir(dir.path), std::vector<std::string>{"f"});
}

// A run interrupted while it writes the temporary file leaves no trace of
// it and dies by the signal; the original is untouched.
TEST(InPlace, InterruptedRunRemovesTheTemporaryFile) {
    TempDir dir;
    std::string original(32 << 20, '\xE9');
    write_file(dir / "f", original);
    bool interrupted = false;
    for (int attempt = 0; attempt < 5 && !interrupted; ++attempt) {
        const pid_t pid = start_textmend({"-u", dir / "f", dir / "f"}, {}, dir.path + "-err");
        if (wait_until_written(pid, 1 << 20)) kill(pid, SIGTERM);
        const int status = wait_for_exit(pid);
        interrupted = status == 128 + SIGTERM;
        if (!interrupted) write_file(dir / "f", original);  // it finished first: try again
    }
    unlink((dir.path + "-err").c_str());
    ASSERT_TRUE(interrupted);
    EXPECT_EQ(list_dir(dir.path), std::vector<std::string>{"f"});
    EXPECT_TRUE(read_file(dir / "f") == original);
}

TEST(InPlace, UnwritableDirectoryMeansTheTemporaryFileCannotBeCreated) {
    TempDir dir;
    mkdir((dir / "ro").c_str(), 0755);
    write_file(dir / "ro/f", "\xC3\xA9");
    chmod((dir / "ro").c_str(), 0555);
    // Root may write into any directory, so as root the program runs as
    // nobody: from a copy here, since the build tree may not be open to
    // nobody (a clone in a private temporary folder is not).
    RunOptions options;
    if (geteuid() == 0) {
        options.program = program_for_everybody(dir);
        options.uid = 65534;
    }
    const RunResult r = run_textmend({dir / "ro/f", dir / "ro/f"}, options);
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.err, "Cannot open output file " + (dir / "ro/f") + "\n\n" + USAGE);
    EXPECT_EQ(read_file(dir / "ro/f"), "\xC3\xA9");
}

TEST(Examples, ShippedSampleConvertsAsTheModelSays) {
    const std::string sample = read_file(std::string(TEXTMEND_SOURCE_DIR) + "/examples/mixed.txt");
    ASSERT_GT(sample.size(), 500U);
    TempDir dir;
    for (int m = 0; m < 3; ++m) {
        const RunResult r = run_textmend(with_mode(
            MODE_FLAGS[m], std::string(TEXTMEND_SOURCE_DIR) + "/examples/mixed.txt", dir / "out"));
        ASSERT_EQ(r.status, 0);
        EXPECT_TRUE(read_file(dir / "out") == model_convert(sample, MODES[m])) << MODE_FLAGS[m];
    }
}

}  // namespace
}  // namespace textmend::test
