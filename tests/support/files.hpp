// Temporary directories and whole-file reads and writes for tests.
#pragma once

#include <string>
#include <vector>

namespace textmend::test {

// A fresh empty directory under TMPDIR (or /tmp), or in memory (/dev/shm,
// where there is one) for tests of many files that a disk would make slow;
// removed with its contents when the object goes away.
struct TempDir {
    enum class Where { temporary, in_memory };
    std::string path;
    explicit TempDir(Where where = Where::temporary);
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
