// Page memory on POSIX systems: an anonymous mapping, on Linux aligned for
// and marked as transparent huge pages, and filled in at once.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>

#include "cli/writer/page_memory.hpp"

namespace textmend {

namespace {

// The size of a transparent huge page on x86-64 and most other 64-bit
// systems; where it differs, the memory is merely aligned more than needed.
constexpr std::size_t HUGE_PAGE = 2 * 1024 * 1024;

std::size_t page_size() {
    const long size = sysconf(_SC_PAGESIZE);
    return size > 0 ? static_cast<std::size_t>(size) : 4096;
}

std::size_t round_up(std::size_t n, std::size_t multiple) {
    return (n + multiple - 1) / multiple * multiple;
}

// Maps size bytes starting on a HUGE_PAGE boundary: maps enough to find one
// and gives back what lies before and after. nullptr when there is no memory.
std::uint8_t* map_aligned(std::size_t size) {
    const std::size_t reach = size + HUGE_PAGE;
    void* const mapped =
        mmap(nullptr, reach, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) return nullptr;
    auto* const start = static_cast<std::uint8_t*>(mapped);
    const auto address = reinterpret_cast<std::uintptr_t>(start);
    const std::size_t head = round_up(address, HUGE_PAGE) - address;
    if (head > 0) munmap(start, head);
    const std::size_t tail = reach - head - size;
    if (tail > 0) munmap(start + head + size, tail);
    return start + head;
}

}  // namespace

bool PageMemory::allocate(std::size_t size) {
    release();
    const std::size_t mapped = round_up(size, page_size());
    std::uint8_t* const memory = map_aligned(mapped);
    if (memory == nullptr) return false;
#ifdef MADV_HUGEPAGE
    // Advice only: a system without huge pages keeps small ones.
    (void)madvise(memory, mapped, MADV_HUGEPAGE);
#endif
#ifdef MADV_POPULATE_WRITE
    // Linux 5.14 and later; older kernels refuse it and the pages come at
    // first touch as usual.
    (void)madvise(memory, mapped, MADV_POPULATE_WRITE);
#endif
    data_ = memory;
    size_ = mapped;
    return true;
}

void PageMemory::release() {
    if (data_ != nullptr) munmap(data_, size_);
    data_ = nullptr;
    size_ = 0;
}

}  // namespace textmend
