#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "cli/descriptors/descriptor_name.hpp"
#include "cli/descriptors/input_file.hpp"
#include "cli/descriptors/path_walk.hpp"

namespace textmend {

namespace {

constexpr int READ_FLAGS = O_RDONLY | O_CLOEXEC | O_NOCTTY;

// Whether a user other than root may write the directory st describes.
bool others_may_write(const struct stat& dir) {
    return (dir.st_mode & (S_IWGRP | S_IWOTH)) != 0 ||
           (dir.st_uid != 0 && (dir.st_mode & S_IWUSR) != 0);
}

// A second name that another user may have given a file of someone else's
// (where the kernel does not forbid it, fs.protected_hardlinks = 0) to have
// root copy it out: a regular file of more than one link, owned by another
// user than its directory's owner, in a directory other users may write.
bool may_be_planted_link(const struct stat& file, int dir_fd) {
    if (!S_ISREG(file.st_mode) || file.st_nlink <= 1) return false;
    struct stat dir {};
    if (fstat(dir_fd, &dir) != 0) return true;
    return file.st_uid != dir.st_uid && others_may_write(dir);
}

// The file behind in.fd, opened just now (st: its status): a directory is
// no input, and neither is root's input through a planted hard link (dir_fd:
// the directory it was found in, or -1 when that need not be asked).
bool take_opened_file(InputFile& in, int dir_fd) {
    struct stat st {};
    int error = 0;
    if (fstat(in.fd, &st) != 0)
        error = errno;
    else if (S_ISDIR(st.st_mode))
        error = EISDIR;
    else if (dir_fd >= 0 && may_be_planted_link(st, dir_fd))
        error = EACCES;
    if (error != 0) {
        close_input_file(in);
        errno = error;
        return false;
    }
    in.is_regular = S_ISREG(st.st_mode);
    in.id =
        FileIdentity{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
    in.size = static_cast<std::int64_t>(st.st_size);
    return true;
}

// Root's input: the path walked part by part, links followed only when root
// owns them, and a planted hard link refused (EACCES).
bool open_as_root(const char* path, InputFile& in) {
    WalkedPath walked;
    if (!walk_path(path, ProcLink::by_the_kernel, walked)) return false;
    in.fd = openat(walked.dir_fd, walked.name, READ_FLAGS | (walked.kernel_link ? 0 : O_NOFOLLOW));
    const bool taken = in.fd >= 0 && take_opened_file(in, walked.dir_fd);
    const int error = errno;
    close_walked_path(walked);
    errno = error;
    return taken;
}

}  // namespace

bool open_input_file(const char* path, InputFile& in) {
    if (geteuid() == 0) return open_as_root(path, in);
    in.fd = open(path, READ_FLAGS);
    return in.fd >= 0 && take_opened_file(in, -1);
}

bool open_input_file_at(const FilePlace& place, InputFile& in) {
    in.fd = openat(place.dir_fd, place.name, READ_FLAGS | O_NOFOLLOW | O_NONBLOCK);
    return in.fd >= 0 && take_opened_file(in, geteuid() == 0 ? place.dir_fd : -1);
}

std::int64_t input_file_size(const InputFile& in) {
    struct stat st {};
    if (fstat(in.fd, &st) != 0) return -1;
    return static_cast<std::int64_t>(st.st_size);
}

int input_file_byte_at(const InputFile& in, std::int64_t offset) {
    unsigned char byte = 0;
    return pread(in.fd, &byte, 1, static_cast<off_t>(offset)) == 1 ? byte : -1;
}

bool input_file_seek(const InputFile& in, std::int64_t offset) {
    return lseek(in.fd, static_cast<off_t>(offset), SEEK_SET) == static_cast<off_t>(offset);
}

int input_at_hand_descriptor(const InputFile& in, const char* path) {
    const int named = descriptor_named_by(path);
    struct stat st {};
    if (in.is_regular || named < 0 || fstat(named, &st) != 0) return in.fd;
    const FileIdentity id{static_cast<std::uint64_t>(st.st_dev),
                          static_cast<std::uint64_t>(st.st_ino)};
    return id == in.id ? named : in.fd;
}

void close_input_file(InputFile& in) {
    if (in.fd >= 0) close(in.fd);
    in.fd = -1;
}

}  // namespace textmend
