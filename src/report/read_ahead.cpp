#include "report/read_ahead.hpp"

#include <cerrno>

#include "cli/file_layer.hpp"

namespace textmend::report {

// Room for bytes bytes: one read while inputs are read on this thread, the
// whole ring once one is read ahead. Taken when first needed, so that a
// run over small files does not fill in memory it never uses.
void ReadAhead::reserve(std::size_t bytes) {
    if (ring_bytes_ >= bytes) return;
    if (pages_.allocate(bytes)) {
        heap_.reset();
        ring_ = pages_.data();
    } else {
        heap_.reset(new std::uint8_t[bytes]);
        ring_ = heap_.get();
    }
    ring_bytes_ = bytes;
}

ReadAhead::~ReadAhead() {
    if (!thread_.joinable()) return;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        quit_ = true;
    }
    filled_or_freed_.notify_all();
    thread_.join();
}

bool ReadAhead::start_thread() {
    if (thread_.joinable()) return true;
    if (thread_failed_) return false;
    spin_ = spinning_pays();
    // Without a thread the inputs are read on this one.
    thread_failed_ =
        !thread_.start([](void* reader) { static_cast<ReadAhead*>(reader)->work(); }, this);
    return !thread_failed_;
}

void ReadAhead::start(int fd, std::int64_t size) {
    ended_ = false;
    ahead_ = (size < 0 || size > AHEAD_FROM) && start_thread();
    reserve(ahead_ ? SLOTS * BLOCK_SIZE : OWN_READ_SIZE);
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        fd_ = fd;
        size_ = size;
        read_ = 0;
        head_ = 0;
        filled_ = 0;
        reading_ = ahead_;
    }
    if (ahead_) filled_or_freed_.notify_all();
}

// Reads one block of at most size bytes into the slot; the last block of
// the input is empty, or ends at the size a regular file had (a file that
// grew meanwhile is read on). Whether it ends the input.
bool ReadAhead::read_into(std::size_t slot, std::size_t size) {
    std::uint8_t* into = slot_data(slot);
    int fd = fd_;
    const std::int64_t n = fd_read(&fd, into, size);
    const std::size_t got = n > 0 ? static_cast<std::size_t>(n) : 0;
    read_ += static_cast<std::int64_t>(got);
    sizes_[slot] = got;
    errors_[slot] = n >= 0 ? 0 : errno != 0 ? errno : EIO;
    return got == 0 || (size_ >= 0 && read_ >= size_ && got < size);
}

ReadAhead::Block ReadAhead::next() {
    if (ended_) return {nullptr, 0, 0};
    if (!ahead_) {
        ended_ = read_into(0, OWN_READ_SIZE);
        return {slot_data(0), sizes_[0], errors_[0]};
    }
    std::unique_lock<std::mutex> lock(mutex_);
    filled_or_freed_.wait(
        lock, [this] { return filled_ > 0; }, spin_);
    ended_ = ends_[head_];
    return {slot_data(head_), sizes_[head_], errors_[head_]};
}

void ReadAhead::release() {
    if (!ahead_) return;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        head_ = (head_ + 1) % SLOTS;
        --filled_;
    }
    filled_or_freed_.notify_all();
}

// The thread: fills free slots while it has an input, one read at a time
// outside the lock. A block that ends the input (empty, short at the size,
// or an error) ends its reading.
void ReadAhead::work() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        // Between inputs it sleeps; within one it may spin.
        filled_or_freed_.wait(
            lock, [this] { return quit_ || (reading_ && filled_ < SLOTS); }, spin_ && reading_);
        if (quit_) return;
        const std::size_t slot = (head_ + filled_) % SLOTS;
        lock.unlock();
        const bool ends = read_into(slot, BLOCK_SIZE);
        lock.lock();
        ends_[slot] = ends;
        ++filled_;
        if (ends) reading_ = false;
        filled_or_freed_.notify_all();
    }
}

}  // namespace textmend::report
