// One whole run of textmend-tree: command line, walk, repairs, output and
// exit status. main() is only this.
#pragma once

namespace textmend::tree {

// Exit statuses.
inline constexpr int TREE_DONE = 0;    // every entry repaired, clean or left alone by rule
inline constexpr int TREE_FAILED = 1;  // an entry failed (the others were still done)
inline constexpr int TREE_USAGE = 2;   // a wrong command line

[[nodiscard]] int run_tree(int argc, const char* const* argv);

}  // namespace textmend::tree
