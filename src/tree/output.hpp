// What textmend-tree prints: a line per entry that matters (or a JSON object
// per entry), errors on standard error, and a summary at the end.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "tree/repair.hpp"

namespace textmend::tree {

struct Tally {
    std::uint64_t repaired = 0;
    std::uint64_t would_repair = 0;
    std::uint64_t clean = 0;
    std::uint64_t unchanged = 0;
    std::uint64_t binary = 0;
    std::uint64_t skipped = 0;
    std::uint64_t failed = 0;
    std::uint64_t bytes = 0;  // read from the files looked at

    void count(const Outcome& outcome);
    [[nodiscard]] std::uint64_t entries() const;
};

struct PrintSettings {
    bool json = false;
    bool quiet = false;
    bool dry_run = false;
    bool undo_double = false;  // tell the runs undone too
};

// Prints what became of one entry (shown: its path as given): a line, a JSON
// object or nothing, and for a failure its message on standard error.
void print_outcome(std::FILE* out, const std::string& shown, const Outcome& outcome,
                   const PrintSettings& settings);

// "1204 files: 37 repaired, 1158 clean, 2 unchanged, 5 binary, 2 skipped,
// 0 failed (48.2 MiB in 0.41 s)", or the same as a JSON object.
void print_summary(std::FILE* out, const Tally& tally, double seconds,
                   const PrintSettings& settings);

// Why it failed, in words.
[[nodiscard]] std::string failure_reason(const Outcome& outcome);

}  // namespace textmend::tree
