// A regular file shown through memory mappings of a window at a time, so that
// converting it needs no copy from the page cache into a buffer. Only the
// current window is mapped, which keeps the memory the process holds small
// whatever the size of the file.
#pragma once

#include <cstddef>
#include <cstdint>

#include "convert/byte_io.hpp"

namespace textmend {

// Bytes mapped at a time by default.
inline constexpr std::size_t MAPPED_WINDOW_SIZE = 1024 * 1024;

struct MappedFile {
    int fd;
    std::int64_t size;   // the file's size as last seen: the view ends there
    std::size_t window;  // bytes mapped at a time
    std::size_t page_size;
    std::uint8_t* base;  // the current mapping, or nullptr
    std::size_t length;  // its length
};

// Prepares to map the open regular file fd of the given size. False where
// files cannot be mapped (then read the file instead).
[[nodiscard]] bool mapped_file_open(MappedFile& m, int fd, std::int64_t size,
                                    std::size_t window = MAPPED_WINDOW_SIZE);

// Removes the current mapping; the descriptor stays open.
void mapped_file_close(MappedFile& m);

// The view of a ByteSource. Where a view would reach past the size last
// seen, the size is looked up again, so that bytes another program appends
// meanwhile are read too, as a read() loop would read them. A file that has
// shrunk since is a failed read (EIO): the bytes already taken from it are no
// longer its content.
const std::uint8_t* mapped_file_view(void* context, std::int64_t offset, std::size_t min_length,
                                     std::size_t* length);

inline ByteSource mapped_file_source(MappedFile* m) {
    return ByteSource{nullptr, m, mapped_file_view};
}

}  // namespace textmend
