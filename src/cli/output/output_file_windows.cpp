// Output files on Windows: binary mode, the volume and file index as the
// file's identity, and ReplaceFile to put a converted file in place (it
// keeps the replaced file's ACL, attributes and creation time).
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "cli/interrupt/interrupt.hpp"
#include "cli/output/output_file.hpp"
#include "cli/output/output_file_platform.hpp"

namespace textmend {

namespace {

const char TEMP_NAME[] = ".textmend-XXXXXX";

bool identity_of_path(const char* path, FileIdentity& id) {
    const HANDLE handle = CreateFileA(path, FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION info{};
    const BOOL known = GetFileInformationByHandle(handle, &info);
    CloseHandle(handle);
    id = FileIdentity{info.dwVolumeSerialNumber,
                      (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
    return known != 0;
}

bool names_input(const char* path, const InputFile& input) {
    FileIdentity id;
    return input.is_regular && identity_of_path(path, id) && id == input.id;
}

// temp_path = directory of path + TEMP_NAME, then made unique.
bool make_temp_path(OutputFile& out) {
    const char* slash = std::strrchr(out.path, '\\');
    const char* other = std::strrchr(out.path, '/');
    if (slash == nullptr || (other != nullptr && other > slash)) slash = other;
    if (slash == nullptr) return false;
    const std::size_t dir_length = static_cast<std::size_t>(slash - out.path) + 1;
    if (dir_length + sizeof TEMP_NAME > sizeof out.temp_path) return false;
    std::memcpy(out.temp_path, out.path, dir_length);
    std::memcpy(out.temp_path + dir_length, TEMP_NAME, sizeof TEMP_NAME);
    return _mktemp_s(out.temp_path, std::strlen(out.temp_path) + 1) == 0;
}

// In place: the caller must be allowed to write the file itself, as for a
// plain output (a read-only file stays as it is).
bool open_in_place(const char* path, OutputFile& out) {
    if (_access(path, 2) != 0) return false;
    if (_fullpath(out.path, path, sizeof out.path) == nullptr || !make_temp_path(out)) return false;
    out.kind = OutputKind::in_place;
    SignalHold hold;
    out.fd = _open(out.temp_path, _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
    if (out.fd < 0) {
        out.temp_path[0] = '\0';
        return false;
    }
    remove_on_signal(IncompleteFile{out.fd, out.temp_path});
    return true;
}

bool open_by_name(const char* path, OutputFile& out) {
    out.kind = OutputKind::file;
    SignalHold hold;
    out.fd = _open(path, _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY, _S_IREAD | _S_IWRITE);
    if (out.fd < 0) return false;
    struct _stat64 st {};
    if (_fstat64(out.fd, &st) == 0 && (st.st_mode & _S_IFMT) == _S_IFREG &&
        _fullpath(out.path, path, sizeof out.path) != nullptr) {
        out.remove_on_failure = true;
        remove_on_signal(IncompleteFile{out.fd, out.path});
    }
    return true;
}

}  // namespace

OutputRequest request_output(const char* path, const char* input_path) {
    OutputRequest request;
    request.path = path;
    request.same_path_as_input = std::strcmp(path, input_path) == 0;
    return request;
}

bool open_output_on_platform(const OutputRequest& request, const InputFile& input,
                             OutputFile& out) {
    if (names_input(request.path, input)) return open_in_place(request.path, out);
    if (request.same_path_as_input) {
        errno = EBUSY;  // the name led to another file a moment ago
        return false;
    }
    return open_by_name(request.path, out);
}

bool open_in_place_at_on_platform(const FilePlace& place, const InputFile& input, OutputFile& out) {
    if (!names_input(place.path, input)) {
        errno = EBUSY;
        return false;
    }
    return open_in_place(place.path, out);
}

std::int64_t output_file_size(const OutputFile& out) {
    return _filelengthi64(out.fd);
}

bool rewind_output_file(OutputFile& out) {
    return _chsize_s(out.fd, 0) == 0 && _lseeki64(out.fd, 0, SEEK_SET) == 0;
}

ReplaceOutcome replace_input(OutputFile& out, InputFile& input, std::int64_t consumed,
                             FileFailure& failure) {
    if (_commit(out.fd) != 0) return fail_with_errno(failure);
    const std::int64_t size = input_file_size(input);
    if (size < 0) return fail_with_errno(failure);
    if (size < consumed) return fail_with_change(failure, FileChange::truncated);
    if (size > consumed) return ReplaceOutcome::input_grew;
    if (!names_input(out.path, input)) return fail_with_change(failure, FileChange::replaced);
    // Windows cannot replace a file that is open.
    close_input_file(input);
    {
        SignalHold hold;
        const int closed = _close(out.fd);
        out.fd = -1;
        remove_on_signal(IncompleteFile{-1, out.temp_path});
        if (closed != 0) return fail_with_errno(failure);
    }
    if (!ReplaceFileA(out.path, out.temp_path, nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr,
                      nullptr) &&
        !MoveFileExA(out.temp_path, out.path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        return fail_with_error(failure, EACCES);
    }
    keep_on_signal();
    out.temp_path[0] = '\0';
    return ReplaceOutcome::replaced;
}

int close_output_file(OutputFile& out) {
    SignalHold hold;
    const int error = _close(out.fd) == 0 ? 0 : errno;
    out.fd = -1;
    if (error == 0) {
        keep_on_signal();
        out.remove_on_failure = false;
    }
    return error;
}

void discard_output_file(OutputFile& out) {
    if (out.kind == OutputKind::file && out.remove_on_failure) {
        remove_incomplete_file(IncompleteFile{out.fd, out.path});
    } else if (out.kind == OutputKind::in_place && out.temp_path[0] != '\0') {
        remove_incomplete_file(IncompleteFile{out.fd, out.temp_path});
    } else if (out.fd >= 0) {
        _close(out.fd);
    }
    keep_on_signal();
    out.fd = -1;
    out.remove_on_failure = false;
    out.temp_path[0] = '\0';
}

}  // namespace textmend
