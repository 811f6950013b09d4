// Page memory on Windows: committed pages from VirtualAlloc.
#include <windows.h>

#include "cli/writer/page_memory.hpp"

namespace textmend {

bool PageMemory::allocate(std::size_t size) {
    release();
    void* const memory = VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    if (memory == nullptr) return false;
    data_ = static_cast<std::uint8_t*>(memory);
    size_ = size;
    return true;
}

void PageMemory::release() {
    if (data_ != nullptr) VirtualFree(data_, 0, MEM_RELEASE);
    data_ = nullptr;
    size_ = 0;
}

}  // namespace textmend
