// Opening, finishing and abandoning the output file on Windows. The same
// rules as elsewhere: an output that is the input itself is written to a
// temporary file beside it and moved over it only when everything succeeded.
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "cli/interrupt.hpp"
#include "cli/output_file.hpp"

namespace textmend {

static const char TEMP_NAME[] = ".textmend-XXXXXX";

static int names_input(const char* path, const InputFile& input) {
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

static int open_in_place(const char* path, OutputFile& out) {
    if (_fullpath(out.target_path, path, sizeof out.target_path) == nullptr || !make_temp_path(out))
        return 0;
    hold_interrupts();
    out.fd = _open(out.temp_path, _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
    release_interrupts(out.fd < 0 ? nullptr : out.temp_path);
    if (out.fd < 0) return 0;
    out.in_place = 1;
    return 1;
}

int open_output_file(const char* path, const InputFile& input, OutputFile& out) {
    out.fd = -1;
    out.in_place = 0;
    out.remove_on_failure = 0;
    out.target_path[0] = '\0';
    out.temp_path[0] = '\0';
    if (names_input(path, input)) return open_in_place(path, out);

    out.fd = _open(path, _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY, _S_IREAD | _S_IWRITE);
    if (out.fd < 0) return 0;
    struct _stat64 st {};
    if (_fstat64(out.fd, &st) == 0 && (st.st_mode & _S_IFMT) == _S_IFREG &&
        _fullpath(out.target_path, path, sizeof out.target_path) != nullptr) {
        out.remove_on_failure = 1;
    }
    return 1;
}

int commit_output_file(OutputFile& out) {
    const int closed = _close(out.fd);
    out.fd = -1;
    int error = closed == 0 ? 0 : errno;
    if (error == 0 && out.in_place) {
        if (!MoveFileExA(out.temp_path, out.target_path, MOVEFILE_REPLACE_EXISTING)) error = EACCES;
        if (error == 0) keep_on_interrupt();
    }
    if (error != 0) discard_output_file(out);
    return error;
}

void discard_output_file(OutputFile& out) {
    if (out.fd >= 0) _close(out.fd);
    out.fd = -1;
    if (out.in_place) {
        _unlink(out.temp_path);
        keep_on_interrupt();
    } else if (out.remove_on_failure) {
        _unlink(out.target_path);
    }
    out.in_place = 0;
    out.remove_on_failure = 0;
}

}  // namespace textmend
