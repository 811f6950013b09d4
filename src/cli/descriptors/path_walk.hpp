// Finding a file by its path one part at a time, from directory descriptors,
// so that every symbolic link on the way is looked at before it is followed.
//
// The kernel follows any link in a path. Run by root over folders that other
// users can write, that lets a user point a directory of the path at a
// root-only folder (or swap a directory for such a link while the run
// looks), and root would read or write there. Here each part is opened
// relative to the directory reached so far without following links, and a
// link is followed only when the caller's effective user or root owns it:
// only they could have made it. Every step starts from a descriptor, so a
// name swapped after it was passed cannot redirect the walk. POSIX systems
// only (path_walk_posix.cpp); on Windows nothing here is defined.
#pragma once

#include <cstddef>

namespace textmend {

// What the walk does with a trusted link in /proc (such as /proc/self/fd/0)
// that is the path's last part. Its text names what it leads to only when
// that is a file with a path; the kernel itself follows it to anything, a
// pipe or a deleted file too.
enum class ProcLink {
    by_text,       // followed by its text, like any other link
    by_the_kernel  // left as the last part, for the caller to open with following
};

// Room for a name of one part and its terminating zero (NAME_MAX + 1).
inline constexpr std::size_t WALKED_NAME_SIZE = 256;

struct WalkedPath {
    int dir_fd = -1;                   // the directory holding name, opened with O_PATH
    char name[WALKED_NAME_SIZE] = {};  // the last part: not a link, unless kernel_link
    bool kernel_link = false;          // name is a trusted /proc link left to the kernel
};

// Whether a symbolic link owned by owner may be followed: the caller's
// effective user or root made it.
[[nodiscard]] bool is_trusted_link_owner(unsigned owner) noexcept;

// Walks path. Every part but the last must lead to a directory; the last is
// a file of any kind but a directory, or does not exist (yet). Links in any
// part are followed while trusted, at most 40. False with errno set: EACCES
// for a link another user owns, EISDIR when the path leads to a directory,
// and what the kernel says otherwise; out holds no descriptor then.
[[nodiscard]] bool walk_path(const char* path, ProcLink proc_link, WalkedPath& out);

// Walks path the same way to a directory: every part, the last too, must
// lead to one ("." and a final slash are fine). Its descriptor (O_PATH), or
// -1 with errno set (ENOTDIR when the path leads to a file).
[[nodiscard]] int walk_to_directory(const char* path);

void close_walked_path(WalkedPath& path);

}  // namespace textmend
