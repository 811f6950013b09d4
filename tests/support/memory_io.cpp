#include "support/memory_io.hpp"

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

const std::uint8_t* memory_view(void* context, std::int64_t offset, std::size_t min_length,
                                std::size_t* length) {
    const MemorySource& m = *static_cast<const MemorySource*>(context);
    const auto start = static_cast<std::size_t>(offset);
    std::size_t count = start < m.size ? m.size - start : 0;
    const std::size_t limit = m.chunk > min_length ? m.chunk : min_length;
    if (m.chunk != 0 && count > limit) count = limit;
    *length = count;
    return m.data + (start < m.size ? start : m.size);
}

}  // namespace textmend
