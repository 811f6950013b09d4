// Running the built textmend binary from end-to-end tests.
#pragma once

#include <string>
#include <vector>

#include "support/files.hpp"

namespace textmend::test {

struct RunResult {
    int status;  // exit status, or 128 + signal number
    std::string out;
    std::string err;
};

struct RunOptions {
    std::string cwd;                          // working directory; empty for the test's own
    const std::string* stdin_data = nullptr;  // fed through a pipe when set
    int uid = -1;               // run as this user (and group) when not -1; needs root
    std::string program{};      // the binary to run; empty for the one just built
    long file_size_limit = -1;  // RLIMIT_FSIZE in bytes when not -1: larger writes fail
};

RunResult run_textmend(const std::vector<std::string>& args, const RunOptions& options = {});

}  // namespace textmend::test
