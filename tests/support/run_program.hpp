// Running the built textmend binary from end-to-end tests.
#pragma once

#include <sys/types.h>

#include <string>
#include <utility>
#include <vector>

#include "support/files.hpp"

namespace textmend::test {

// Whether this build (the tests and the programs alike) runs under
// AddressSanitizer, whose runtime needs /proc and much memory of its own.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool UNDER_ADDRESS_SANITIZER = true;
#elif defined(__has_feature)
inline constexpr bool UNDER_ADDRESS_SANITIZER = __has_feature(address_sanitizer);
#else
inline constexpr bool UNDER_ADDRESS_SANITIZER = false;
#endif

struct RunResult {
    int status;  // exit status, or 128 + signal number
    std::string out;
    std::string err;
    long peak_rss_kib = 0;  // the program's peak memory (a wrapper's, under one)
};

struct RunOptions {
    std::string cwd;                          // working directory; empty for the test's own
    int cwd_fd = -1;                          // or a directory to enter by descriptor (any depth)
    const std::string* stdin_data = nullptr;  // fed through a pipe when set
    int uid = -1;               // run as this user (and group) when not -1; needs root
    std::string program{};      // the binary to run; empty for the one just built
    long file_size_limit = -1;  // RLIMIT_FSIZE in bytes when not -1 (SIGXFSZ left as it is)
    // (descriptor here, number in the program): handed over; a number 1
    // replaces the pipe that standard output is otherwise read from.
    std::vector<std::pair<int, int>> descriptors{};
    std::vector<int> closed_descriptors{};  // closed before the program starts
    std::vector<int> ignored_signals{};     // set to SIG_IGN before the program starts
    std::vector<std::pair<std::string, std::string>> environment{};  // set (or replaced) for it
};

RunResult run_textmend(const std::vector<std::string>& args, const RunOptions& options = {});

// Whether the programs run under TEXTMEND_TEST_WRAPPER (valgrind, say).
bool under_wrapper();

// How many times to run a race against another user: `full` in an optimised
// build; an eighth in a sanitizer build, whose programs start many times
// slower (the optimised build runs the race in full, this one looks for
// memory errors on its paths); 8 under a wrapper.
int race_rounds(int full);

// Starts the program and returns at once. Its standard error goes to
// err_path, its standard output to /dev/null unless options hand over 1;
// stdin_data is not supported here.
pid_t start_textmend(const std::vector<std::string>& args, const RunOptions& options,
                     const std::string& err_path);

// Waits for a started program: its exit status, or 128 + signal number.
int wait_for_exit(pid_t pid);

// Waits until the started program has written at least bytes (as counted
// in /proc/PID/io); false when it ended before that.
bool wait_until_written(pid_t pid, long long bytes);

// A copy of the program that every user may run (the build tree may be in
// a private folder), in dir, which is opened to everybody.
std::string program_for_everybody(const TempDir& dir);

// Whether a command can be found on PATH.
bool have_command(const std::string& name);

}  // namespace textmend::test
