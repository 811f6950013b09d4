// What happens to one file of the tree: it is read once and inspected, and
// converted in place only when the conversion would change it, with every
// guarantee of textmend FILE FILE.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "cli/file_layer.hpp"
#include "textmend/textmend.hpp"
#include "tree/walk.hpp"

namespace textmend::tree {

enum class Action {
    repaired,      // converted in place
    would_repair,  // --dry-run: would have been converted
    clean,         // nothing to change, nothing outside the target: untouched
    unchanged,     // only characters the target lacks: converting changes nothing
    binary,        // holds a byte 00: left alone
    skipped,       // not a regular file: left alone
    failed,        // could not be read or converted: left as it was
    interrupted,   // stopped by a signal before it was done: left as it was
};

struct Outcome {
    Action action = Action::clean;
    const char* reason = "";  // skipped: what it is
    int error = 0;            // failed: errno, unless changed_by_other
    bool changed_by_other = false;
    FileChange change = FileChange::replaced;
    bool inspected = false;  // counts holds the file's inspection
    Inspection counts;       // of the conversion, of the text as undoing leaves it
    UndoTally undone;        // what undoing text encoded twice would undo
    std::uint64_t bytes_read = 0;
};

struct RepairSettings {
    Target target = Target::latin1;
    bool dry_run = false;
    bool binary = false;
    std::string backup_suffix;
    const std::atomic<bool>* stop = nullptr;  // set: leave the file as it is, now
    bool undo_double = false;                 // also undo text encoded twice
};

// Bytes read at a time to inspect a file.
inline constexpr std::size_t INSPECT_BLOCK = UNDO_BLOCK_SIZE;

// The buffer a job lends repair_file: a block, and the line before it that
// undoing holds back.
inline constexpr std::size_t REPAIR_BUFFER_SIZE = UNDO_STORAGE_SIZE;

// Judges and repairs the file of entry (kind file); block is the caller's
// buffer of REPAIR_BUFFER_SIZE bytes.
[[nodiscard]] Outcome repair_file(const Entry& entry, const RepairSettings& settings,
                                  std::uint8_t* block);

}  // namespace textmend::tree
