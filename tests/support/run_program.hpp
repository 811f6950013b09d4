// Running the built textmend binary from end-to-end tests.
#pragma once

#include <string>
#include <vector>

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
    long file_size_limit = -1;  // RLIMIT_FSIZE in bytes when not -1: larger writes fail
};

RunResult run_textmend(const std::vector<std::string>& args, const RunOptions& options = {});

// A fresh empty directory under TMPDIR (or /tmp), removed with its contents
// when the object goes away.
struct TempDir {
    std::string path;
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string operator/(const std::string& name) const { return path + "/" + name; }
};

std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& bytes);
bool file_exists(const std::string& path);
// The names in a directory, sorted, without "." and "..".
std::vector<std::string> list_dir(const std::string& path);

}  // namespace textmend::test
