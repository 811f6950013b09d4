// Output files on Windows: binary mode, the volume and file index as the
// file's identity, and MoveFileEx to put a converted file in place.
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "cli/interrupt.hpp"
#include "cli/output_file_platform.hpp"

namespace textmend::platform {

static const char TEMP_NAME[] = ".textmend-XXXXXX";

int names_input(const char* path, const InputFile& input) {
    if (!input.is_regular) return 0;
    const HANDLE handle = CreateFileA(path, FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return 0;
    BY_HANDLE_FILE_INFORMATION info{};
    const BOOL known = GetFileInformationByHandle(handle, &info);
    CloseHandle(handle);
    const unsigned long long index =
        (static_cast<unsigned long long>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    return known && info.dwVolumeSerialNumber == input.device && index == input.inode;
}

// temp_path = directory of target_path + TEMP_NAME, then made unique.
static int make_temp_path(OutputFile& out) {
    const char* slash = std::strrchr(out.target_path, '\\');
    const char* other = std::strrchr(out.target_path, '/');
    if (slash == nullptr || (other != nullptr && other > slash)) slash = other;
    if (slash == nullptr) return 0;
    const std::size_t dir_length = static_cast<std::size_t>(slash - out.target_path) + 1;
    if (dir_length + sizeof TEMP_NAME > sizeof out.temp_path) return 0;
    std::memcpy(out.temp_path, out.target_path, dir_length);
    std::memcpy(out.temp_path + dir_length, TEMP_NAME, sizeof TEMP_NAME);
    return _mktemp_s(out.temp_path, std::strlen(out.temp_path) + 1) == 0;
}

int create_temp_beside(const char* path, const InputFile&, OutputFile& out) {
    if (_fullpath(out.target_path, path, sizeof out.target_path) == nullptr || !make_temp_path(out))
        return 0;
    hold_interrupts();
    out.fd = _open(out.temp_path, _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
    release_interrupts(out.fd < 0 ? nullptr : out.temp_path);
    return out.fd < 0 ? 0 : 1;
}

int open_for_writing(const char* path, OutputFile& out) {
    out.fd = _open(path, _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY, _S_IREAD | _S_IWRITE);
    if (out.fd < 0) return 0;
    struct _stat64 st {};
    if (_fstat64(out.fd, &st) != 0 || (st.st_mode & _S_IFMT) != _S_IFREG) return 1;
    return _fullpath(out.target_path, path, sizeof out.target_path) != nullptr ? 2 : 1;
}

int close_file(int fd) {
    return _close(fd) == 0 ? 0 : errno;
}

int replace_file(const char* from, const char* to) {
    return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING) ? 0 : EACCES;
}

void remove_file(const char* path) {
    _unlink(path);
}

}  // namespace textmend::platform
