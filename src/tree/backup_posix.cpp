#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>

#include "tree/backup.hpp"

namespace textmend::tree {

namespace {

bool same_file(const struct stat& st, const InputFile& input) {
    return static_cast<std::uint64_t>(st.st_dev) == input.id.device &&
           static_cast<std::uint64_t>(st.st_ino) == input.id.inode;
}

// ".textmend-backup-" and twelve hex digits: a name nobody else uses.
std::string temporary_name() {
    unsigned char random[6] = {};
    if (getrandom(random, sizeof random, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof random)) {
        const auto seed = static_cast<unsigned>(getpid());
        for (std::size_t i = 0; i < sizeof random; ++i)
            random[i] = static_cast<unsigned char>(seed >> (i * 5));
    }
    char name[32];
    std::snprintf(name, sizeof name, ".textmend-backup-%02x%02x%02x%02x%02x%02x", random[0],
                  random[1], random[2], random[3], random[4], random[5]);
    return name;
}

// Links the open file under name in the folder: through /proc, so that it is
// the file held open even if its name was swapped meanwhile; without /proc
// by its name, checked afterwards.
int link_open_file(const FilePlace& place, const InputFile& input, const std::string& name) {
    char proc_path[32];
    std::snprintf(proc_path, sizeof proc_path, "/proc/self/fd/%d", input.fd);
    if (linkat(AT_FDCWD, proc_path, place.dir_fd, name.c_str(), AT_SYMLINK_FOLLOW) == 0) return 0;
    if (errno != ENOENT && errno != ENOTDIR) return errno;
    if (linkat(place.dir_fd, place.name, place.dir_fd, name.c_str(), 0) != 0) return errno;
    struct stat st {};
    if (fstatat(place.dir_fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
        same_file(st, input)) {
        return 0;
    }
    unlinkat(place.dir_fd, name.c_str(), 0);
    return EBUSY;
}

}  // namespace

int make_backup(const FilePlace& place, const InputFile& input, const std::string& backup_name) {
    if (backup_name.size() > NAME_MAX) return ENAMETOOLONG;
    struct stat existing {};
    if (fstatat(place.dir_fd, backup_name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0 &&
        (!S_ISREG(existing.st_mode) || existing.st_uid != geteuid())) {
        return EEXIST;
    }
    const std::string temporary = temporary_name();
    if (const int error = link_open_file(place, input, temporary); error != 0) return error;
    if (renameat(place.dir_fd, temporary.c_str(), place.dir_fd, backup_name.c_str()) != 0) {
        const int error = errno;
        unlinkat(place.dir_fd, temporary.c_str(), 0);
        return error;
    }
    return 0;
}

void drop_backup(const FilePlace& place, const InputFile& input, const std::string& backup_name) {
    struct stat st {};
    if (fstatat(place.dir_fd, backup_name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
        same_file(st, input)) {
        unlinkat(place.dir_fd, backup_name.c_str(), 0);
    }
}

}  // namespace textmend::tree
