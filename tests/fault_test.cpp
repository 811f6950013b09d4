// Reads and writes that fail part-way, injected into a whole run of the
// program (in this process): the failure is reported with status 4, and no
// incomplete output, temporary file or damaged original is left behind.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "cli/command/run.hpp"
#include "cli/file_conversion.hpp"
#include "support/fault_plan.hpp"
#include "support/random_text.hpp"
#include "support/run_program.hpp"

namespace textmend {
namespace {

using test::FaultPlan;

struct Outcome {
    int status;
    std::string err;
};

// Runs the program in this process with the plan; captures standard error.
Outcome run_with_faults(const std::vector<std::string>& args, FaultPlan& plan) {
    std::vector<const char*> argv{"textmend"};
    for (const std::string& a : args)
        argv.push_back(a.c_str());
    test::TempDir capture;
    const int saved = dup(2);
    const int file = open((capture / "err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(file, 2);
    close(file);
    const IoHooks hooks = test::fault_hooks(plan);
    const int status = run_textmend(static_cast<int>(argv.size()), argv.data(), &hooks);
    std::fflush(stderr);
    dup2(saved, 2);
    close(saved);
    return {status, test::read_file(capture / "err")};
}

std::string sample_input(std::size_t length = 500000) {
    std::mt19937_64 rng(17);
    return test::random_mixed_bytes(rng, length);
}

// Inputs of both sizes: one converted on one thread, one large enough to be
// written on a thread of its own.
const std::size_t INPUT_SIZES[] = {500000, WRITER_THREAD_AT_LEAST + 500000};

TEST(Faults, ReadFailingPartWayLeavesNoOutput) {
    for (const std::size_t size : INPUT_SIZES) {
        const std::string input = sample_input(size);
        for (const std::int64_t limit : {0, 1, 7, 131072, 300000}) {
            for (const char* mode : {"-w", "-u"}) {
                test::TempDir dir;
                test::write_file(dir / "in", input);
                FaultPlan plan;
                plan.read_limit = limit;
                const Outcome r = run_with_faults({mode, dir / "in", dir / "out"}, plan);
                EXPECT_EQ(r.status, 4) << limit << mode;
                EXPECT_EQ(r.err,
                          "Cannot read input file " + (dir / "in") + ": Input/output error\n");
                EXPECT_EQ(test::list_dir(dir.path), std::vector<std::string>{"in"})
                    << limit << mode;
            }
        }
    }
}

TEST(Faults, WriteFailingPartWayLeavesNoOutput) {
    for (const std::size_t size : INPUT_SIZES) {
        const std::string input = sample_input(size);
        for (const std::int64_t limit : {0, 1, 131071, 400000}) {
            test::TempDir dir;
            test::write_file(dir / "in", input);
            FaultPlan plan;
            plan.write_limit = limit;
            const Outcome r = run_with_faults({"-u", dir / "in", dir / "out"}, plan);
            EXPECT_EQ(r.status, 4) << limit;
            EXPECT_EQ(r.err,
                      "Cannot write output file " + (dir / "out") + ": No space left on device\n");
            EXPECT_EQ(test::list_dir(dir.path), std::vector<std::string>{"in"}) << limit;
        }
    }
}

TEST(Faults, InPlaceRunFailingPartWayKeepsTheOriginal) {
    for (const std::size_t size : INPUT_SIZES) {
        const std::string input = sample_input(size);
        const struct {
            std::int64_t read_limit, write_limit;
            const char* reason;
        } cases[] = {{200000, -1, "Cannot read input file "},
                     {-1, 300000, "Cannot write output file "}};
        for (const auto& c : cases) {
            test::TempDir dir;
            test::write_file(dir / "f", input);
            FaultPlan plan;
            plan.read_limit = c.read_limit;
            plan.write_limit = c.write_limit;
            const Outcome r = run_with_faults({"-u", dir / "f", dir / "f"}, plan);
            EXPECT_EQ(r.status, 4);
            EXPECT_EQ(r.err.rfind(c.reason + (dir / "f") + ": ", 0), 0U) << r.err;
            EXPECT_TRUE(test::read_file(dir / "f") == input);
            EXPECT_EQ(test::list_dir(dir.path), std::vector<std::string>{"f"});
        }
    }
}

// A failed run removes the incomplete output only while its name still
// refers to the file the run wrote, and empties that file first, so that no
// other name of it keeps half a result.
TEST(Faults, FailedRunRemovesOnlyTheFileItWroteAndEmptiesItFirst) {
    const std::string input = sample_input();
    const struct {
        const char* name;
        void (*meanwhile)(const test::TempDir& dir);
        std::vector<std::string> left;
        const char* other_content;  // of the one other file left
    } cases[] = {
        {"another file put under the output's name",
         [](const test::TempDir& dir) {
             test::write_file(dir / "theirs", "another program's file");
             rename((dir / "theirs").c_str(), (dir / "out").c_str());
         },
         {"in", "out"},
         "another program's file"},
        {"a second hard link to the output",
         [](const test::TempDir& dir) { link((dir / "out").c_str(), (dir / "second").c_str()); },
         {"in", "second"},
         ""},
    };
    for (const auto& c : cases) {
        test::TempDir dir;
        test::write_file(dir / "in", input);
        FaultPlan plan;
        plan.write_limit = 300000;
        plan.before_write_fails = [&] { c.meanwhile(dir); };
        const Outcome r = run_with_faults({"-u", dir / "in", dir / "out"}, plan);
        EXPECT_EQ(r.status, 4) << c.name;
        EXPECT_EQ(test::list_dir(dir.path), c.left) << c.name;
        EXPECT_EQ(test::read_file(dir / c.left[1]), c.other_content) << c.name;
    }
}

// The same hooks without faults change nothing: a run through them gives the
// program's normal result.
TEST(Faults, HooksWithoutFaultsConvertNormally) {
    test::TempDir dir;
    test::write_file(dir / "in", "caf\xC3\xA9 \xE9t\xE9\n");
    FaultPlan plan;
    const Outcome r = run_with_faults({dir / "in", dir / "out"}, plan);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(test::read_file(dir / "out"), "caf\xE9 \xE9t\xE9\n");
}

}  // namespace
}  // namespace textmend
