// Memory for the buffers of a large conversion, taken from the system in
// whole pages rather than from the heap.
//
// The first touch of each fresh page costs a fault: for the writer thread's
// 2 MiB that was about 500 faults and 4-5 ms a run on the development
// machine (a virtual machine, where each fault also reaches the host), about
// 6 % of converting 256 MiB. On Linux the memory starts on a 2 MiB boundary
// and is marked for transparent huge pages, and is filled in by one call
// before use: where the system has huge pages enabled for such memory
// (`madvise`, the usual setting, or `always`), the first 2 MiB are a single
// page, taken (zeroed) in about 0.15 ms; elsewhere the small pages are still
// taken in one call instead of one fault each, in about half the time.
#pragma once

#include <cstddef>
#include <cstdint>

namespace textmend {

class PageMemory {
public:
    PageMemory() = default;
    ~PageMemory() { release(); }
    PageMemory(const PageMemory&) = delete;
    PageMemory& operator=(const PageMemory&) = delete;

    // Takes size bytes (more than 0), zeroed, in place of what it held.
    // False, holding nothing, when the system has none to give.
    [[nodiscard]] bool allocate(std::size_t size);

    // Gives the memory back; allocate may be called again.
    void release();

    [[nodiscard]] std::uint8_t* data() const { return data_; }
    [[nodiscard]] std::size_t size() const { return size_; }

private:
    std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
};

}  // namespace textmend
