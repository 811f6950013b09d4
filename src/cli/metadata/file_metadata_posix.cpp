#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <new>

#include "cli/metadata/file_metadata.hpp"

namespace textmend {

namespace {

struct Ownership {
    bool owner_kept;
    bool group_kept;
};

Ownership give_ownership(int to, const struct stat& from, const struct stat& now) {
    if (now.st_uid == from.st_uid && now.st_gid == from.st_gid) return {true, true};
    if (fchown(to, from.st_uid, from.st_gid) == 0) return {true, true};
    const bool group_kept =
        now.st_gid == from.st_gid || fchown(to, static_cast<uid_t>(-1), from.st_gid) == 0;
    return {now.st_uid == from.st_uid, group_kept};
}

// Access control lists: losing one changes who may read the file.
bool is_acl(const char* name) {
    return std::strcmp(name, "system.posix_acl_access") == 0 ||
           std::strcmp(name, "system.nfs4_acl") == 0;
}

// Reasons an attribute may not be set by this caller here: it is skipped.
bool may_not_set(int error) {
    return error == EPERM || error == EACCES || error == ENOTSUP || error == EOPNOTSUPP ||
           error == EINVAL;
}

std::unique_ptr<char[]> allocate(std::size_t size) {
    return std::unique_ptr<char[]>(new (std::nothrow) char[size == 0 ? 1 : size]);
}

int copy_attribute(int from, int to, const char* name) {
    const bool acl = is_acl(name);
    ssize_t size = fgetxattr(from, name, nullptr, 0);
    if (size < 0) return errno == ENODATA ? 0 : errno;  // ENODATA: removed meanwhile
    const std::unique_ptr<char[]> value = allocate(static_cast<std::size_t>(size));
    if (value == nullptr) return ENOMEM;
    size = fgetxattr(from, name, value.get(), static_cast<std::size_t>(size));
    if (size < 0) return errno == ENODATA ? 0 : errno;
    if (fsetxattr(to, name, value.get(), static_cast<std::size_t>(size), 0) == 0) return 0;
    const int error = errno;
    if (acl) return error;
    return may_not_set(error) ? 0 : error;
}

int copy_extended_attributes(int from, int to) {
    ssize_t size = flistxattr(from, nullptr, 0);
    if (size < 0) return errno == ENOTSUP || errno == EOPNOTSUPP ? 0 : errno;
    if (size == 0) return 0;
    const std::unique_ptr<char[]> names = allocate(static_cast<std::size_t>(size));
    if (names == nullptr) return ENOMEM;
    size = flistxattr(from, names.get(), static_cast<std::size_t>(size));
    if (size < 0) return errno;
    for (const char* name = names.get(); name < names.get() + size; name += std::strlen(name) + 1) {
        if (const int error = copy_attribute(from, to, name); error != 0) return error;
    }
    return 0;
}

}  // namespace

int copy_file_metadata(int from, int to) {
    struct stat original {
    }, now{};
    if (fstat(from, &original) != 0 || fstat(to, &now) != 0) return errno;
    auto mode = static_cast<mode_t>(original.st_mode & 07777);
    const Ownership kept = give_ownership(to, original, now);
    if (!kept.owner_kept) mode &= static_cast<mode_t>(~S_ISUID);
    if (!kept.group_kept) mode &= static_cast<mode_t>(~(S_ISGID | S_IRWXG));
    if (const int error = copy_extended_attributes(from, to); error != 0) return error;
    return fchmod(to, mode) == 0 ? 0 : errno;
}

}  // namespace textmend
