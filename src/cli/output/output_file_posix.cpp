// Output files on POSIX systems.
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "cli/descriptors/descriptor_name.hpp"
#include "cli/interrupt/interrupt.hpp"
#include "cli/metadata/file_metadata.hpp"
#include "cli/output/output_file.hpp"
#include "cli/output/output_file_platform.hpp"
#include "cli/output/output_location.hpp"

namespace textmend {

namespace {

// Tries this many random names before giving up on a temporary file.
constexpr int TEMP_NAME_ATTEMPTS = 100;

FileIdentity identity_of(const struct stat& st) {
    return FileIdentity{static_cast<std::uint64_t>(st.st_dev),
                        static_cast<std::uint64_t>(st.st_ino)};
}

// ".textmend-" and six random letters and digits.
void make_temp_name(char (&name)[TEMP_NAME_SIZE]) {
    static const char PREFIX[] = ".textmend-";
    static const char ALPHABET[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    constexpr std::size_t RANDOM_LENGTH = 6;
    static_assert(sizeof PREFIX + RANDOM_LENGTH <= TEMP_NAME_SIZE);
    unsigned char random[RANDOM_LENGTH];
    if (getrandom(random, sizeof random, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof random)) {
        // No entropy yet (early boot): the name need only be unlikely, as
        // O_EXCL and linkat refuse a name that exists.
        static unsigned counter = 0;
        const auto seed = static_cast<unsigned>(std::time(nullptr)) ^
                          (static_cast<unsigned>(getpid()) << 8) ^ (++counter * 2654435761U);
        for (std::size_t i = 0; i < sizeof random; ++i)
            random[i] = static_cast<unsigned char>(seed >> (i * 5));
    }
    std::memcpy(name, PREFIX, sizeof PREFIX - 1);
    for (std::size_t i = 0; i < RANDOM_LENGTH; ++i)
        name[sizeof PREFIX - 1 + i] = ALPHABET[random[i] % (sizeof ALPHABET - 1)];
    name[sizeof PREFIX - 1 + RANDOM_LENGTH] = '\0';
}

IncompleteFile incomplete_output(const OutputFile& out) {
    return IncompleteFile{out.fd, out.dir_fd, out.name, out.id};
}

IncompleteFile incomplete_temp(const OutputFile& out) {
    return IncompleteFile{out.fd, out.dir_fd, out.temp_name, out.id};
}

void take_location(OutputLocation& loc, OutputFile& out) {
    out.dir_fd = loc.dir_fd;
    out.dir_syncable = loc.dir_syncable;
    std::memcpy(out.name, loc.name, sizeof out.name);
    loc.dir_fd = -1;
}

// The caller's descriptor, written as it is: a duplicate, so that closing it
// reports a deferred write error without closing the caller's descriptor.
bool open_descriptor(int fd, OutputFile& out) {
    const int flags = fcntl(fd, F_GETFL);
    if (flags == -1 || (flags & O_ACCMODE) == O_RDONLY || (flags & O_PATH) != 0) {
        errno = EBADF;
        return false;
    }
    out.kind = OutputKind::descriptor;
    out.fd = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    return out.fd >= 0;
}

// Records a regular file that fd opened (created or truncated) for removal
// if the run fails. Call under a SignalHold.
void track_if_regular(OutputFile& out) {
    struct stat st {};
    if (fstat(out.fd, &st) != 0 || !S_ISREG(st.st_mode)) return;
    out.id = identity_of(st);
    out.remove_on_failure = true;
    remove_on_signal(incomplete_output(out));
}

// In a sticky directory that every user may write (/tmp), a file or FIFO
// that another user made there in advance would hand them the output: a
// file they can read, a FIFO they listen on. So an existing output owned by
// neither the caller nor the directory's owner is refused (EACCES), before
// it is opened; one the caller or the directory's owner owns cannot be
// swapped by others there. A missing one must still be missing when it is
// created (O_EXCL in create_flags), or nobody could tell whose it is. The
// kernel refuses such files only where fs.protected_regular and
// fs.protected_fifos are set; this holds whatever they are.
bool may_write_in_shared_directory(const OutputFile& out, int& create_flags) {
    struct stat dir {};
    if (fstat(out.dir_fd, &dir) != 0) return false;
    if ((dir.st_mode & S_ISVTX) == 0 || (dir.st_mode & S_IWOTH) == 0) return true;
    struct stat st {};
    if (fstatat(out.dir_fd, out.name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno != ENOENT) return false;
        create_flags |= O_EXCL;
        return true;
    }
    if (st.st_uid == geteuid() || st.st_uid == dir.st_uid) return true;
    errno = EACCES;
    return false;
}

// A plain output, created or truncated. It is opened without waiting, so
// that signals are held only for an instant; a FIFO that has no reader yet
// is then opened again, waiting for one with signals free.
bool open_by_name(OutputFile& out) {
    int flags = O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC;
    if (!may_write_in_shared_directory(out, flags)) return false;
    out.kind = OutputKind::file;
    {
        SignalHold hold;
        out.fd = openat(out.dir_fd, out.name, flags | O_NONBLOCK, 0666);
        if (out.fd >= 0) track_if_regular(out);
    }
    if (out.fd >= 0) return fcntl(out.fd, F_SETFL, fcntl(out.fd, F_GETFL) & ~O_NONBLOCK) == 0;
    if (errno != ENXIO) return false;
    out.fd = openat(out.dir_fd, out.name, flags, 0666);
    if (out.fd < 0) return false;
    SignalHold hold;
    track_if_regular(out);
    return true;
}

// An unnamed file in out's directory (O_TMPFILE), named only once it is
// complete, so that not even SIGKILL leaves it behind. Naming it later goes
// through /proc/self/fd; where that does not lead to it, false (and a named
// temporary file is used instead).
bool open_unnamed_temp(OutputFile& out) {
#ifdef O_TMPFILE
    out.fd = openat(out.dir_fd, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (out.fd < 0) return false;
    char proc_path[32];
    std::snprintf(proc_path, sizeof proc_path, "/proc/self/fd/%d", out.fd);
    struct stat st {
    }, seen{};
    if (fstat(out.fd, &st) == 0 && stat(proc_path, &seen) == 0 &&
        identity_of(st) == identity_of(seen)) {
        out.id = identity_of(st);
        return true;
    }
    close(out.fd);
    out.fd = -1;
#else
    (void)out;
#endif
    return false;
}

bool open_named_temp(OutputFile& out) {
    for (int attempt = 0; attempt < TEMP_NAME_ATTEMPTS; ++attempt) {
        make_temp_name(out.temp_name);
        out.fd = openat(out.dir_fd, out.temp_name,
                        O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0600);
        if (out.fd >= 0) {
            struct stat st {};
            (void)fstat(out.fd, &st);
            out.id = identity_of(st);
            remove_on_signal(incomplete_temp(out));
            return true;
        }
        if (errno != EEXIST) break;
    }
    out.temp_name[0] = '\0';
    return false;
}

// Whether the new file can be given the input's owner: the caller owns the
// input, or may hand a file of its own to another user (root). Tried on the
// new file itself, which nobody else sees yet.
bool can_keep_owner(const OutputFile& out, const InputFile& input) {
    struct stat st {};
    if (fstat(input.fd, &st) != 0) return false;
    return st.st_uid == geteuid() || fchown(out.fd, st.st_uid, static_cast<gid_t>(-1)) == 0;
}

// In place: the caller must be allowed to write the file itself, as for a
// plain output, and must be able to keep its owner: a user who may write
// another user's file (by its group or an ACL) would otherwise make the file
// theirs, and its owner could lose access to it. The result goes to a
// temporary file beside the input.
bool open_in_place(OutputFile& out, const InputFile& input) {
    if (faccessat(out.dir_fd, out.name, W_OK, AT_EACCESS | AT_SYMLINK_NOFOLLOW) != 0) return false;
    out.kind = OutputKind::in_place;
    SignalHold hold;
    if (!open_unnamed_temp(out) && !open_named_temp(out)) return false;
    if (can_keep_owner(out, input)) return true;
    errno = EPERM;
    return false;
}

// Whether loc's name is the regular file input is.
bool names_input(const OutputFile& out, const InputFile& input) {
    struct stat st {};
    return input.is_regular && fstatat(out.dir_fd, out.name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
           S_ISREG(st.st_mode) && identity_of(st) == input.id;
}

bool open_path(const char* path, bool same_path_as_input, const InputFile& input, OutputFile& out) {
    OutputLocation loc;
    if (!find_output_location(path, loc)) return false;
    take_location(loc, out);
    if (names_input(out, input)) return open_in_place(out, input);
    if (same_path_as_input) {
        // The name led to another file than the input a moment ago: it was
        // swapped meanwhile. Writing either would not be what was asked.
        errno = EBUSY;
        return false;
    }
    return open_by_name(out);
}

// Gives the temporary file a name beside the file it replaces. Call under
// a SignalHold.
bool name_temp(OutputFile& out) {
    char proc_path[32];
    std::snprintf(proc_path, sizeof proc_path, "/proc/self/fd/%d", out.fd);
    for (int attempt = 0; attempt < TEMP_NAME_ATTEMPTS; ++attempt) {
        make_temp_name(out.temp_name);
        if (linkat(AT_FDCWD, proc_path, out.dir_fd, out.temp_name, AT_SYMLINK_FOLLOW) == 0) {
            remove_on_signal(incomplete_temp(out));
            return true;
        }
        if (errno != EEXIST) break;
    }
    out.temp_name[0] = '\0';
    return false;
}

void close_descriptor(int& fd) {
    if (fd >= 0) close(fd);
    fd = -1;
}

}  // namespace

OutputRequest request_output(const char* path, const char* input_path) {
    OutputRequest request;
    request.path = path;
    request.same_path_as_input = std::strcmp(path, input_path) == 0;
    const int fd = descriptor_named_by(path);
    if (fd >= 0 && fcntl(fd, F_GETFD) != -1) {
        request.descriptor = fd;
    } else if (fd >= 0) {
        request.names_closed_descriptor = true;
    }
    return request;
}

bool open_output_on_platform(const OutputRequest& request, const InputFile& input,
                             OutputFile& out) {
    if (request.names_closed_descriptor) {
        errno = EBADF;
        return false;
    }
    if (request.descriptor < 0)
        return open_path(request.path, request.same_path_as_input, input, out);
    struct stat st {};
    if (fstat(request.descriptor, &st) == 0 && input.is_regular && S_ISREG(st.st_mode) &&
        identity_of(st) == input.id) {
        // The caller's descriptor is the input file itself: in place, found
        // through the name the descriptor has.
        char proc_path[32];
        std::snprintf(proc_path, sizeof proc_path, "/proc/self/fd/%d", request.descriptor);
        return open_path(proc_path, true, input, out);
    }
    return open_descriptor(request.descriptor, out);
}

bool open_in_place_at_on_platform(const FilePlace& place, const InputFile& input, OutputFile& out) {
    const std::size_t length = std::strlen(place.name);
    if (length > NAME_MAX) {
        errno = ENAMETOOLONG;
        return false;
    }
    out.dir_fd = fcntl(place.dir_fd, F_DUPFD_CLOEXEC, 3);
    if (out.dir_fd < 0) return false;
    // The walker opened the directory to read it, so it can be flushed.
    out.dir_syncable = true;
    std::memcpy(out.name, place.name, length + 1);
    if (!names_input(out, input)) {
        errno = EBUSY;
        return false;
    }
    return open_in_place(out, input);
}

std::int64_t output_file_size(const OutputFile& out) {
    struct stat st {};
    return fstat(out.fd, &st) == 0 ? static_cast<std::int64_t>(st.st_size) : -1;
}

bool rewind_output_file(OutputFile& out) {
    return ftruncate(out.fd, 0) == 0 && lseek(out.fd, 0, SEEK_SET) == 0;
}

ReplaceOutcome replace_input(OutputFile& out, InputFile& input, std::int64_t consumed,
                             FileFailure& failure) {
    if (const int error = copy_file_metadata(input.fd, out.fd); error != 0) {
        return fail_with_error(failure, error);
    }
    if (fsync(out.fd) != 0) return fail_with_errno(failure);
    {
        SignalHold hold;
        if (!names_input(out, input)) return fail_with_change(failure, FileChange::replaced);
        const std::int64_t size = input_file_size(input);
        if (size < 0) return fail_with_errno(failure);
        if (size < consumed) return fail_with_change(failure, FileChange::truncated);
        if (size > consumed) return ReplaceOutcome::input_grew;
        if (out.temp_name[0] == '\0' && !name_temp(out)) return fail_with_errno(failure);
        if (renameat(out.dir_fd, out.temp_name, out.dir_fd, out.name) != 0) {
            return fail_with_errno(failure);
        }
        keep_on_signal();
        out.temp_name[0] = '\0';
        // Flushed already: closing cannot report a write error any more.
        close_descriptor(out.fd);
    }
    // The new name reaches stable storage with the directory.
    if (out.dir_syncable && fsync(out.dir_fd) != 0) return fail_with_errno(failure);
    close_descriptor(out.dir_fd);
    return ReplaceOutcome::replaced;
}

int close_output_file(OutputFile& out) {
    SignalHold hold;
    const int error = close(out.fd) == 0 ? 0 : errno;
    out.fd = -1;
    if (error == 0) {
        keep_on_signal();
        out.remove_on_failure = false;
        close_descriptor(out.dir_fd);
    }
    return error;
}

void discard_output_file(OutputFile& out) {
    {
        SignalHold hold;
        if (out.kind == OutputKind::file && out.remove_on_failure) {
            remove_incomplete_file(incomplete_output(out));
        } else if (out.kind == OutputKind::in_place && out.temp_name[0] != '\0') {
            remove_incomplete_file(incomplete_temp(out));
        }
        keep_on_signal();
    }
    // An unnamed temporary file goes with its last descriptor.
    close_descriptor(out.fd);
    close_descriptor(out.dir_fd);
    out.remove_on_failure = false;
    out.temp_name[0] = '\0';
}

}  // namespace textmend
