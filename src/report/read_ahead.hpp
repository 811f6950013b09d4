// Reading an input in blocks, on a second thread while the blocks read
// before are inspected, so that an inspection costs little more than the
// reading. A ring of a few blocks keeps memory constant. Small regular files
// are read on the calling thread: handing them over would cost more than
// it saves.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>

#include "cli/file_layer.hpp"

namespace textmend::report {

class ReadAhead {
public:
    // Bytes read at a time, and blocks in the ring: large blocks, so that
    // the reading thread hands over seldom (smaller ones measured slower:
    // 128 KiB blocks took 1.25 times as long as `wc -l` on ASCII text, 1 MiB
    // ones 1.02 times), and a few of them, 4 MiB in all.
    static constexpr std::size_t BLOCK_SIZE = 1024 * 1024;
    static constexpr std::size_t SLOTS = 4;
    // A regular file read in order (smaller than the report's halves, or
    // one that cannot be halved) of at most this many bytes is read on the
    // calling thread, OWN_READ_SIZE bytes at a time: starting the thread and
    // filling in the ring cost more than reading ahead saves below that (a
    // 16 MiB file of prose took 1.8 times as long as `wc -l` read ahead, 1.5
    // times read here; at 32 MiB random bytes read ahead gained, at 60 MiB
    // all), and a read of that size is still in the core's cache when
    // inspected (1 MiB reads made 16 MiB 1.1 times slower).
    static constexpr std::int64_t AHEAD_FROM = 24 * 1024 * 1024;
    static constexpr std::size_t OWN_READ_SIZE = 256 * 1024;

    struct Block {
        const std::uint8_t* data;
        std::size_t size;  // 0 at the end of the input, and on an error
        int error;         // the errno of a read that failed, else 0
    };

    ReadAhead() = default;
    ~ReadAhead();
    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;

    // Starts on the input fd, read from where it stands. size is the size of
    // a regular file (a read that reaches it is the last), -1 for any other
    // input. Each input is read to its end or error before the next starts.
    void start(int fd, std::int64_t size);

    // The next block, valid until release(); an empty one after the block
    // that ends the input (empty itself, or short at the regular file's
    // size, or failed), and until the next start().
    [[nodiscard]] Block next();
    void release();

private:
    void reserve(std::size_t bytes);
    bool read_into(std::size_t slot, std::size_t size);
    void work();
    bool start_thread();

    [[nodiscard]] std::uint8_t* slot_data(std::size_t slot) const {
        return ring_ + slot * BLOCK_SIZE;
    }

    // The ring in whole pages (huge ones where the system gives them: a few
    // faults instead of a thousand), else from the heap.
    PageMemory pages_;
    std::unique_ptr<std::uint8_t[]> heap_;
    std::uint8_t* ring_ = nullptr;
    std::size_t ring_bytes_ = 0;
    int fd_ = -1;
    std::int64_t size_ = -1;
    std::int64_t read_ = 0;  // bytes of the input read so far
    bool ahead_ = false;     // this input is read by the thread
    bool ended_ = false;     // the caller has had the block that ends it
    bool thread_failed_ = false;

    // The ring, shared with the thread under mutex_: slots head_ ..
    // head_ + filled_ - 1 hold blocks the caller has not released.
    std::mutex mutex_;
    SpinningCondition filled_or_freed_;
    bool spin_ = false;  // the threads wait for each other spinning first
    std::size_t head_ = 0;
    std::size_t filled_ = 0;
    bool reading_ = false;  // the thread has an input to read on
    bool quit_ = false;
    std::size_t sizes_[SLOTS] = {};
    int errors_[SLOTS] = {};
    bool ends_[SLOTS] = {};
    PlacedThread thread_;
};

}  // namespace textmend::report
