#include "cli/mapped_file.hpp"

#ifndef _WIN32
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace textmend {

#ifdef _WIN32

bool mapped_file_open(MappedFile&, int, std::int64_t, std::size_t) {
    return false;
}
void mapped_file_close(MappedFile&) {}
const std::uint8_t* mapped_file_view(void*, std::int64_t, std::size_t, std::size_t*) {
    return nullptr;
}

#else

bool mapped_file_open(MappedFile& m, int fd, std::int64_t size, std::size_t window) {
    const long page = sysconf(_SC_PAGESIZE);
    if (page <= 0 || size <= 0) return false;
    m = MappedFile{fd, size, window, static_cast<std::size_t>(page), nullptr, 0};
    return true;
}

void mapped_file_close(MappedFile& m) {
    if (m.base != nullptr) munmap(m.base, m.length);
    m.base = nullptr;
    m.length = 0;
}

namespace {

// Looks the file's size up again. Returns 0, or -1 with errno set when it
// cannot be had or the file has shrunk.
int refresh_size(MappedFile& m) {
    struct stat st {};
    if (fstat(m.fd, &st) != 0) return -1;
    const auto now = static_cast<std::int64_t>(st.st_size);
    if (now < m.size) {
        errno = EIO;
        return -1;
    }
    m.size = now;
    return 0;
}

}  // namespace

const std::uint8_t* mapped_file_view(void* context, std::int64_t offset, std::size_t min_length,
                                     std::size_t* length) {
    MappedFile& m = *static_cast<MappedFile*>(context);
    std::int64_t stop =
        offset + static_cast<std::int64_t>(min_length > m.window ? min_length : m.window);
    if (stop > m.size && refresh_size(m) != 0) return nullptr;
    if (offset >= m.size) {
        // Nothing left: keep what is mapped, so that the caller's window stays valid.
        *length = 0;
        static const std::uint8_t nothing = 0;
        return m.base != nullptr ? m.base : &nothing;
    }
    const std::int64_t start = offset - offset % static_cast<std::int64_t>(m.page_size);
    if (stop > m.size) stop = m.size;
    const auto map_length = static_cast<std::size_t>(stop - start);
    int flags = MAP_PRIVATE;
#ifdef MAP_POPULATE
    flags |= MAP_POPULATE;  // one call instead of a page fault every few pages
#endif
    void* mapped = mmap(nullptr, map_length, PROT_READ, flags, m.fd, static_cast<off_t>(start));
    if (mapped == MAP_FAILED) return nullptr;
    mapped_file_close(m);
    m.base = static_cast<std::uint8_t*>(mapped);
    m.length = map_length;
    *length = static_cast<std::size_t>(stop - offset);
    return m.base + (offset - start);
}

#endif

}  // namespace textmend
