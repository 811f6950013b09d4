// A buffer followed by a page that may not be touched: a write past its end
// faults at once (POSIX only).
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <new>

namespace textmend::test {

class GuardedBuffer {
public:
    explicit GuardedBuffer(std::size_t size) {
        const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
        pages_ = (size + page - 1) / page * page;
        mapped_ = mmap(nullptr, pages_ + page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS,
                       -1, 0);
        if (mapped_ == MAP_FAILED) throw std::bad_alloc();
        (void)mprotect(static_cast<char*>(mapped_) + pages_, page, PROT_NONE);
        data_ = static_cast<char*>(mapped_) + pages_ - size;
        length_ = pages_ + page;
    }
    ~GuardedBuffer() { munmap(mapped_, length_); }
    GuardedBuffer(const GuardedBuffer&) = delete;
    GuardedBuffer& operator=(const GuardedBuffer&) = delete;
    [[nodiscard]] char* data() const { return data_; }

private:
    void* mapped_ = nullptr;
    std::size_t pages_ = 0;
    std::size_t length_ = 0;
    char* data_ = nullptr;
};

}  // namespace textmend::test
