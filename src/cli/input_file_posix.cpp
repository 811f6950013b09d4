#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "cli/input_file.hpp"

namespace textmend {

bool open_input_file(const char* path, InputFile& in) {
    in.fd = open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (in.fd < 0) return false;
    struct stat st {};
    if (fstat(in.fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        close_input_file(in);
        return false;
    }
    in.is_regular = S_ISREG(st.st_mode);
    in.id =
        FileIdentity{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
    in.size = static_cast<std::int64_t>(st.st_size);
    return true;
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

void close_input_file(InputFile& in) {
    if (in.fd >= 0) close(in.fd);
    in.fd = -1;
}

}  // namespace textmend
