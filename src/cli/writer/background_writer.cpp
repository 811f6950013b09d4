#include "cli/writer/background_writer.hpp"

#include <cassert>
#include <cerrno>
#include <cstring>

#include "cli/writer/thread_signals.hpp"
#include "convert/output_stream.hpp"
#include "textmend/textmend.hpp"

namespace textmend {

namespace {

// Room for what a stretch of input becomes, in the widest target.
constexpr std::size_t STRETCH_OUTPUT_SIZE = max_converted_size(STRETCH_MAX, Target::utf8);

constexpr std::size_t BUFFERS_SIZE = WRITER_BUFFERS * WRITER_BUFFER_SIZE;
constexpr std::size_t STRETCH_SLOT_SIZE = STRETCH_MAX + STRETCH_OUTPUT_SIZE;

}  // namespace

std::size_t stretch_length(const std::uint8_t* src, std::size_t available) {
    if (available < STRETCH_MIN) return 0;
    const std::size_t window = available < STRETCH_MAX ? available : STRETCH_MAX;
    const std::size_t from =
        window - STRETCH_MIN > STRETCH_CUT_SEARCH ? window - STRETCH_CUT_SEARCH : STRETCH_MIN;
    const std::size_t cut = safe_cut(src + from, window - from);
    return cut == 0 ? 0 : from + cut;
}

BackgroundWriter::~BackgroundWriter() {
    stop();
}

bool BackgroundWriter::start(ByteSink sink) {
    assert(!thread_.joinable());
    if (memory_.data() == nullptr &&
        !memory_.allocate(BUFFERS_SIZE + WRITER_STRETCHES * STRETCH_SLOT_SIZE))
        return false;
    sink_ = sink;
    spin_ = spinning_pays();
    const MaskForNewThread mask;
    return thread_.start([](void* writer) { static_cast<BackgroundWriter*>(writer)->work(); },
                         this);
}

ByteSink BackgroundWriter::sink() {
    return ByteSink{nullptr, this, exchange};
}

StretchTaker BackgroundWriter::taker() {
    return StretchTaker{offer, this};
}

std::uint8_t* BackgroundWriter::first_buffer() {
    const std::lock_guard lock(mutex_);
    return buffer(buffers_handed_);
}

std::uint8_t* BackgroundWriter::buffer(std::uint64_t k) const {
    return memory_.data() + (k % WRITER_BUFFERS) * WRITER_BUFFER_SIZE;
}

std::uint8_t* BackgroundWriter::stretch_input(std::uint64_t k) const {
    return memory_.data() + BUFFERS_SIZE + (k % WRITER_STRETCHES) * STRETCH_SLOT_SIZE;
}

std::uint8_t* BackgroundWriter::stretch_output(std::uint64_t k) const {
    return stretch_input(k) + STRETCH_MAX;
}

std::uint8_t* BackgroundWriter::exchange(void* context, std::uint8_t* filled, std::size_t n) {
    auto& writer = *static_cast<BackgroundWriter*>(context);
    assert(n <= WRITER_BUFFER_SIZE);
    (void)filled;  // always the buffer the writer gave out last
    std::unique_lock lock(writer.mutex_);
    if (writer.error_ == 0) writer.queue_buffer(n);
    return writer.next_free_buffer(lock);
}

std::size_t BackgroundWriter::offer(void* context, std::uint8_t* filled, std::size_t n,
                                    const std::uint8_t* src, std::size_t available, Target target,
                                    std::uint8_t** next) {
    auto& writer = *static_cast<BackgroundWriter*>(context);
    assert(n <= WRITER_BUFFER_SIZE);
    (void)filled;
    const std::size_t length = stretch_length(src, available);
    if (length == 0) return 0;
    // Only this thread changes stretches_handed_, so it may read it unlocked;
    // the slot it names is free while no stretch waits (one may be at work,
    // in the other slot).
    const std::uint64_t k = writer.stretches_handed_;
    {
        const std::lock_guard lock(writer.mutex_);
        if (writer.stretches_started_ != k || writer.has_work_waiting()) return 0;
    }
    std::memcpy(writer.stretch_input(k), src, length);
    std::unique_lock lock(writer.mutex_);
    if (writer.error_ == 0) {
        if (n > 0) writer.queue_buffer(n);
        writer.tasks_[writer.tasks_queued_ % TASKS] = Task{true, length, target};
        ++writer.tasks_queued_;
        ++writer.stretches_handed_;
        writer.work_ready_.notify_one();
    }
    *next = writer.next_free_buffer(lock);
    return length;
}

// Whether more than one task is still to be done, so that at least one
// waits behind the one at work. The writer takes a stretch only when none
// does: converting it then fills time it would otherwise spend idle, while
// a writer with writes waiting is the slower of the two threads already.
// Under mutex_.
bool BackgroundWriter::has_work_waiting() const {
    return tasks_queued_ - tasks_done_ > 1;
}

// Queues the converter's buffer, n bytes long, to be written. Under mutex_.
void BackgroundWriter::queue_buffer(std::size_t n) {
    tasks_[tasks_queued_ % TASKS] = Task{false, n, Target::latin1};
    ++tasks_queued_;
    ++buffers_handed_;
    work_ready_.notify_one();
}

// The buffer the converter fills next, once the one that used it last is
// written; nullptr with errno set after a failed write.
std::uint8_t* BackgroundWriter::next_free_buffer(std::unique_lock<std::mutex>& lock) {
    work_done_.wait(
        lock, [this] { return buffers_handed_ < buffers_written_ + WRITER_BUFFERS || error_ != 0; },
        spin_);
    if (error_ != 0) {
        errno = error_;
        return nullptr;
    }
    return buffer(buffers_handed_);
}

void BackgroundWriter::work() {
    std::unique_lock lock(mutex_);
    for (;;) {
        work_ready_.wait(
            lock, [this] { return tasks_done_ < tasks_queued_ || stopping_; }, spin_);
        if (stopping_) return;
        const Task task = tasks_[tasks_done_ % TASKS];
        const std::uint64_t k = task.stretch ? stretches_started_++ : buffers_written_;
        const bool dropped = error_ != 0;
        lock.unlock();
        const int failed = dropped ? 0 : carry_out(task, k);
        lock.lock();
        if (failed != 0) error_ = failed;
        if (!task.stretch) ++buffers_written_;
        ++tasks_done_;
        work_done_.notify_all();
    }
}

// Writes buffer k, or converts stretch k and writes what it becomes.
int BackgroundWriter::carry_out(const Task& task, std::uint64_t k) {
    if (!task.stretch) return sink_write_all(sink_, buffer(k), task.length);
    const std::size_t n = convert(stretch_input(k), task.length, stretch_output(k), task.target);
    return sink_write_all(sink_, stretch_output(k), n);
}

int BackgroundWriter::drain() {
    std::unique_lock lock(mutex_);
    work_done_.wait(
        lock, [this] { return tasks_done_ == tasks_queued_; }, false);
    return error_;
}

void BackgroundWriter::stop() {
    if (!thread_.joinable()) return;
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    work_ready_.notify_all();
    thread_.join();
    const std::lock_guard lock(mutex_);
    stopping_ = false;
    tasks_queued_ = 0;
    tasks_done_ = 0;
    buffers_handed_ = 0;
    buffers_written_ = 0;
    stretches_handed_ = 0;
    stretches_started_ = 0;
    error_ = 0;
}

}  // namespace textmend
