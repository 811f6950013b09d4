// Output files on POSIX systems.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cli/interrupt.hpp"
#include "cli/output_file_platform.hpp"

namespace textmend::platform {

static const char TEMP_NAME[] = ".textmend-XXXXXX";

int names_input(const char* path, const InputFile& input) {
    struct stat st {};
    if (!input.is_regular || stat(path, &st) != 0) return 0;
    return S_ISREG(st.st_mode) && static_cast<unsigned long long>(st.st_dev) == input.device &&
           static_cast<unsigned long long>(st.st_ino) == input.inode;
}

// temp_path = directory of target_path + "/" + TEMP_NAME. target_path is
// absolute (from realpath), so it holds at least one slash.
static int make_temp_template(OutputFile& out) {
    const char* slash = std::strrchr(out.target_path, '/');
    const std::size_t dir_length = static_cast<std::size_t>(slash - out.target_path) + 1;
    if (dir_length + sizeof TEMP_NAME > sizeof out.temp_path) return 0;
    std::memcpy(out.temp_path, out.target_path, dir_length);
    std::memcpy(out.temp_path + dir_length, TEMP_NAME, sizeof TEMP_NAME);
    return 1;
}

int create_temp_beside(const char* path, const InputFile& input, OutputFile& out) {
    // The file a symbolic link points to is replaced; the link stays a link.
    if (realpath(path, out.target_path) == nullptr || !make_temp_template(out)) return 0;
    hold_interrupts();
    out.fd = mkostemp(out.temp_path, O_CLOEXEC);
    release_interrupts(out.fd < 0 ? nullptr : out.temp_path);
    if (out.fd < 0) return 0;
    // The owner can be kept only with the right to give files away; the group
    // and the permission bits are what matter for a user's own files.
    if (fchown(out.fd, input.owner, input.group) != 0) {
        (void)fchown(out.fd, static_cast<uid_t>(-1), input.group);
    }
    if (fchmod(out.fd, static_cast<mode_t>(input.permissions)) != 0) {
        close(out.fd);
        out.fd = -1;
        unlink(out.temp_path);
        keep_on_interrupt();
        return 0;
    }
    return 1;
}

int open_for_writing(const char* path, OutputFile& out) {
    out.fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOCTTY, 0666);
    if (out.fd < 0) return 0;
    struct stat st {};
    if (fstat(out.fd, &st) != 0 || !S_ISREG(st.st_mode)) return 1;
    // Remember the file itself, not a symbolic link to it, for removal. A path
    // too long to keep whole is never shortened: that could name another file.
    if (realpath(path, out.target_path) != nullptr) return 2;
    const std::size_t length = std::strlen(path);
    if (length >= sizeof out.target_path) return 1;
    std::memcpy(out.target_path, path, length + 1);
    return 2;
}

int close_file(int fd) {
    return close(fd) == 0 ? 0 : errno;
}

int replace_file(const char* from, const char* to) {
    return rename(from, to) == 0 ? 0 : errno;
}

void remove_file(const char* path) {
    unlink(path);
}

}  // namespace textmend::platform
