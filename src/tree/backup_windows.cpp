// Backups on Windows: a hard link made under a temporary name, then moved
// over NAME+SUFFIX.
#include <windows.h>

#include <cerrno>

#include "tree/backup.hpp"

namespace textmend::tree {

namespace {

bool same_file(const std::string& path, const InputFile& input) {
    const HANDLE handle = CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION info{};
    const bool same =
        GetFileInformationByHandle(handle, &info) && info.dwVolumeSerialNumber == input.id.device &&
        ((static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow) ==
            input.id.inode;
    CloseHandle(handle);
    return same;
}

}  // namespace

int make_backup(const FilePlace& place, const InputFile& input, const std::string& backup_name) {
    const std::string temporary = backup_name + ".textmend-new";
    if (!CreateHardLinkA(temporary.c_str(), place.path, nullptr)) return EACCES;
    if (!same_file(temporary, input) ||
        !MoveFileExA(temporary.c_str(), backup_name.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        DeleteFileA(temporary.c_str());
        return EACCES;
    }
    return 0;
}

void drop_backup(const FilePlace&, const InputFile& input, const std::string& backup_name) {
    if (same_file(backup_name, input)) DeleteFileA(backup_name.c_str());
}

}  // namespace textmend::tree
