#include "cli/input_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace textmend {

int open_input_file(const char* path, InputFile& in) {
    in.fd = open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (in.fd < 0) return 0;
    struct stat st {};
    if (fstat(in.fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        close(in.fd);
        in.fd = -1;
        return 0;
    }
    in.is_regular = S_ISREG(st.st_mode) ? 1 : 0;
    in.device = static_cast<unsigned long long>(st.st_dev);
    in.inode = static_cast<unsigned long long>(st.st_ino);
    in.permissions = static_cast<unsigned>(st.st_mode & 07777);
    in.size = static_cast<long long>(st.st_size);
    in.owner = static_cast<unsigned>(st.st_uid);
    in.group = static_cast<unsigned>(st.st_gid);
    return 1;
}

void close_input_file(InputFile& in) {
    if (in.fd >= 0) close(in.fd);
    in.fd = -1;
}

}  // namespace textmend
