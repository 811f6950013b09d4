// Keeping a repaired file's original: NAME+SUFFIX becomes another name of
// the original file (a hard link) before the file is replaced, so that the
// original stays whole on disk under that name and costs no copy.
#pragma once

#include <string>

#include "cli/file_layer.hpp"

namespace textmend::tree {

// Makes backup_name, in the folder of place, another name of the file input
// holds open. An existing backup of the caller's own is replaced at once
// (renamed over); one of another user is refused (EEXIST). Returns 0 or an
// errno value.
[[nodiscard]] int make_backup(const FilePlace& place, const InputFile& input,
                              const std::string& backup_name);

// Takes the backup made back: the file was not replaced after all. Only
// while backup_name still refers to the file input holds open.
void drop_backup(const FilePlace& place, const InputFile& input, const std::string& backup_name);

}  // namespace textmend::tree
