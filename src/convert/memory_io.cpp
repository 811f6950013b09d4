#include "convert/memory_io.hpp"

#include <cstring>

namespace textmend {

std::int64_t memory_read(void* context, std::uint8_t* dst, std::size_t n) {
    MemorySource& m = *static_cast<MemorySource*>(context);
    std::size_t count = m.size - m.pos;
    if (count > n) count = n;
    if (m.chunk != 0 && count > m.chunk) count = m.chunk;
    if (count > 0) std::memcpy(dst, m.data + m.pos, count);
    m.pos += count;
    return static_cast<std::int64_t>(count);
}

}  // namespace textmend
