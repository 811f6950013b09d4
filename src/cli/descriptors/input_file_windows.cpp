// Opening the input file on Windows: binary mode, and the volume and file
// index stand for device and inode.
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <cstdio>

#include "cli/descriptors/input_file.hpp"

namespace textmend {

bool open_input_file(const char* path, InputFile& in) {
    in.fd = _open(path, _O_RDONLY | _O_BINARY);
    if (in.fd < 0) return false;
    struct _stat64 st {};
    if (_fstat64(in.fd, &st) != 0 || (st.st_mode & _S_IFMT) == _S_IFDIR) {
        close_input_file(in);
        return false;
    }
    in.is_regular = (st.st_mode & _S_IFMT) == _S_IFREG;
    BY_HANDLE_FILE_INFORMATION info{};
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(in.fd));
    if (in.is_regular && GetFileInformationByHandle(handle, &info)) {
        in.id = FileIdentity{
            info.dwVolumeSerialNumber,
            (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
    } else {
        in.is_regular = false;  // cannot be recognised as the output: never converted in place
    }
    in.size = static_cast<std::int64_t>(st.st_size);
    return true;
}

// The walk that found the file did not enter a reparse point (a link or a
// junction) to get there.
bool open_input_file_at(const FilePlace& place, InputFile& in) {
    return open_input_file(place.path, in);
}

std::int64_t input_file_size(const InputFile& in) {
    return _filelengthi64(in.fd);
}

int input_file_byte_at(const InputFile& in, std::int64_t offset) {
    unsigned char byte = 0;
    if (_lseeki64(in.fd, offset, SEEK_SET) != offset || _read(in.fd, &byte, 1) != 1) return -1;
    return byte;
}

bool input_file_seek(const InputFile& in, std::int64_t offset) {
    return _lseeki64(in.fd, offset, SEEK_SET) == offset;
}

int input_at_hand_descriptor(const InputFile& in, const char*) {
    return in.fd;
}

void close_input_file(InputFile& in) {
    if (in.fd >= 0) _close(in.fd);
    in.fd = -1;
}

}  // namespace textmend
