// Opening the input file on Windows: binary mode, and the volume and file
// index stand for device and inode.
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include "cli/input_file.hpp"

namespace textmend {

int open_input_file(const char* path, InputFile& in) {
    in.fd = _open(path, _O_RDONLY | _O_BINARY);
    if (in.fd < 0) return 0;
    struct _stat64 st {};
    if (_fstat64(in.fd, &st) != 0 || (st.st_mode & _S_IFMT) == _S_IFDIR) {
        _close(in.fd);
        in.fd = -1;
        return 0;
    }
    in.is_regular = (st.st_mode & _S_IFMT) == _S_IFREG ? 1 : 0;
    BY_HANDLE_FILE_INFORMATION info{};
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(in.fd));
    if (in.is_regular && GetFileInformationByHandle(handle, &info)) {
        in.device = info.dwVolumeSerialNumber;
        in.inode =
            (static_cast<unsigned long long>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    } else {
        in.is_regular = 0;  // cannot be recognised as the output: never converted in place
    }
    in.permissions = 0;
    in.size = static_cast<long long>(st.st_size);
    in.owner = 0;
    in.group = 0;
    return 1;
}

void close_input_file(InputFile& in) {
    if (in.fd >= 0) _close(in.fd);
    in.fd = -1;
}

}  // namespace textmend
