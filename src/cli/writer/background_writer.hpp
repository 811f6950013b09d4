// Writing a conversion's output on a thread of its own. Writing a large file
// costs the kernel as much as converting it costs us (the bytes are copied
// into the page cache), so the two go on at once, on two cores: the
// converting thread fills one buffer while this thread writes the ones
// filled before, in order.
//
// The writer is an exchanging ByteSink (see byte_io.hpp): the output stream
// hands it a full buffer and gets an empty one back, waiting only when every
// buffer is still to be written. When writing leaves it time, it converts
// too: the converting thread offers it the input it has not converted yet
// (it is the output stream's StretchTaker), and while the writer has no more
// than the task at work to do, it takes the next stretch of that input, so
// the two share the conversion as well as the work. Buffers
// and stretches are written in the order they were handed over. The first
// failed write is kept; the writer then drops what is still handed to it and
// the next exchange fails with that errno, so that the conversion stops.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>

#include "cli/writer/page_memory.hpp"
#include "cli/writer/placed_thread.hpp"
#include "cli/writer/spinning_condition.hpp"
#include "convert/byte_io.hpp"
#include "convert/stretch_taker.hpp"
#include "textmend/target.hpp"

namespace textmend {

// Buffers in flight, and the size of each: a few, so that neither thread
// waits for the other while the memory stays small.
inline constexpr std::size_t WRITER_BUFFERS = 4;
inline constexpr std::size_t WRITER_BUFFER_SIZE = 256 * 1024;

// Stretches of input the writer holds: one at work, one waiting.
inline constexpr std::size_t WRITER_STRETCHES = 2;

// The stretches the writer takes: at most STRETCH_MAX bytes, cut just after
// a byte below 0x80 among the last STRETCH_CUT_SEARCH of them, and at least
// STRETCH_MIN bytes long: a shorter one is converted where it is rather
// than copied over.
inline constexpr std::size_t STRETCH_MIN = 32 * 1024;
inline constexpr std::size_t STRETCH_MAX = 128 * 1024;
inline constexpr std::size_t STRETCH_CUT_SEARCH = 4096;

// How much of the input offered the writer would take (see above); 0 when
// it is too short or holds no cut where one is looked for.
[[nodiscard]] std::size_t stretch_length(const std::uint8_t* src, std::size_t available);

class BackgroundWriter {
public:
    BackgroundWriter() = default;
    ~BackgroundWriter();
    BackgroundWriter(const BackgroundWriter&) = delete;
    BackgroundWriter& operator=(const BackgroundWriter&) = delete;

    // Starts the thread that writes to sink. The thread takes no signal that
    // can be blocked: signals sent to the process go to the other threads.
    // False, with nothing started, when the memory or the thread cannot be had.
    [[nodiscard]] bool start(ByteSink sink);

    // The exchanging sink to give the output stream, and the buffer (of
    // WRITER_BUFFER_SIZE bytes) it starts with; and the taker to set as the
    // stream's, so that the writer converts stretches too.
    [[nodiscard]] ByteSink sink();
    [[nodiscard]] StretchTaker taker();
    [[nodiscard]] std::uint8_t* first_buffer();

    // Waits until every buffer handed over is written. Returns the errno of
    // the first failed write, or 0.
    [[nodiscard]] int drain();

    // Drops what is not yet written and ends the thread. The destructor does
    // it too; after stop the writer can be started again.
    void stop();

private:
    // What the writer does next: write a buffer, or convert a stretch and
    // write the result.
    struct Task {
        bool stretch;
        std::size_t length;
        Target target;
    };
    // Tasks waiting or at work: every buffer but the converter's, and the stretches.
    static constexpr std::size_t TASKS = WRITER_BUFFERS + WRITER_STRETCHES;

    static std::uint8_t* exchange(void* context, std::uint8_t* filled, std::size_t n);
    static std::size_t offer(void* context, std::uint8_t* filled, std::size_t n,
                             const std::uint8_t* src, std::size_t available, Target target,
                             std::uint8_t** next);
    [[nodiscard]] bool has_work_waiting() const;
    void queue_buffer(std::size_t n);
    std::uint8_t* next_free_buffer(std::unique_lock<std::mutex>& lock);
    void work();
    [[nodiscard]] int carry_out(const Task& task, std::uint64_t k);
    std::uint8_t* buffer(std::uint64_t k) const;
    std::uint8_t* stretch_input(std::uint64_t k) const;
    std::uint8_t* stretch_output(std::uint64_t k) const;

    ByteSink sink_{};
    PageMemory memory_;  // the buffers, then the stretches' slots
    PlacedThread thread_;
    bool spin_ = false;  // the threads wait for each other spinning first

    // Buffer k (counting from 0 over the whole run) is buffer(k % WRITER_BUFFERS),
    // stretch k is held in slot k % WRITER_STRETCHES, and task k is
    // tasks_[k % TASKS]. Buffers buffers_handed_ .. are the converter's;
    // tasks tasks_done_ .. tasks_queued_ - 1 wait for the writer or are at
    // work. All below is guarded by mutex_, except that the converting
    // thread reads the counts only it changes without it.
    std::mutex mutex_;
    SpinningCondition work_ready_;  // tasks_queued_ grew, or stopping_
    SpinningCondition work_done_;   // tasks_done_ grew
    Task tasks_[TASKS] = {};
    std::uint64_t tasks_queued_ = 0;
    std::uint64_t tasks_done_ = 0;
    std::uint64_t buffers_handed_ = 0;
    std::uint64_t buffers_written_ = 0;
    std::uint64_t stretches_handed_ = 0;
    std::uint64_t stretches_started_ = 0;
    int error_ = 0;
    bool stopping_ = false;
};

}  // namespace textmend
