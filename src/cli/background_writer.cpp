#include "cli/background_writer.hpp"

#include "convert/output_stream.hpp"

#include <cassert>
#include <cerrno>
#include <new>
#include <system_error>

#ifndef _WIN32
#include <pthread.h>
#include <signal.h>
#endif

namespace textmend {

namespace {

#ifndef _WIN32
// What the writer thread starts with: every signal held back, so that the
// ones sent to the process reach the converting thread, where the handlers
// expect them; but not those its own work raises: a fault, and SIGPIPE and
// SIGXFSZ from a write, which act as they would with one thread.
sigset_t writer_signal_mask() {
    sigset_t set;
    sigfillset(&set);
    for (const int own :
         {SIGBUS, SIGSEGV, SIGFPE, SIGILL, SIGTRAP, SIGABRT, SIGSYS, SIGPIPE, SIGXFSZ})
        sigdelset(&set, own);
    return set;
}
#endif

}  // namespace

BackgroundWriter::~BackgroundWriter() {
    stop();
}

bool BackgroundWriter::start(ByteSink sink) {
    assert(!thread_.joinable());
    if (memory_ == nullptr) {
        memory_.reset(new (std::nothrow) std::uint8_t[WRITER_BUFFERS * WRITER_BUFFER_SIZE]);
        if (memory_ == nullptr) return false;
    }
    sink_ = sink;
    // A new thread inherits the mask of the one that creates it.
#ifndef _WIN32
    const sigset_t held = writer_signal_mask();
    sigset_t saved;
    pthread_sigmask(SIG_SETMASK, &held, &saved);
#endif
    bool started = true;
    try {
        thread_ = std::thread(&BackgroundWriter::write_buffers, this);
    } catch (const std::system_error&) {
        started = false;
    }
#ifndef _WIN32
    pthread_sigmask(SIG_SETMASK, &saved, nullptr);
#endif
    return started;
}

ByteSink BackgroundWriter::sink() {
    return ByteSink{nullptr, this, exchange};
}

std::uint8_t* BackgroundWriter::first_buffer() {
    const std::lock_guard lock(mutex_);
    return buffer(handed_);
}

std::uint8_t* BackgroundWriter::buffer(std::uint64_t k) const {
    return memory_.get() + (k % WRITER_BUFFERS) * WRITER_BUFFER_SIZE;
}

std::uint8_t* BackgroundWriter::exchange(void* context, std::uint8_t* filled, std::size_t n) {
    auto& writer = *static_cast<BackgroundWriter*>(context);
    assert(n <= WRITER_BUFFER_SIZE);
    (void)filled;  // always the buffer the writer gave out last
    return writer.hand_over(n);
}

std::uint8_t* BackgroundWriter::hand_over(std::size_t n) {
    std::unique_lock lock(mutex_);
    if (error_ == 0) {
        lengths_[handed_ % WRITER_BUFFERS] = n;
        ++handed_;
        work_ready_.notify_one();
        // The next buffer is free once the one that used it last is written.
        work_done_.wait(lock,
                        [this] { return handed_ < written_ + WRITER_BUFFERS || error_ != 0; });
    }
    if (error_ != 0) {
        errno = error_;
        return nullptr;
    }
    return buffer(handed_);
}

void BackgroundWriter::write_buffers() {
    std::unique_lock lock(mutex_);
    for (;;) {
        work_ready_.wait(lock, [this] { return written_ < handed_ || stopping_; });
        if (stopping_) return;
        const std::uint64_t k = written_;
        const bool dropped = error_ != 0;
        lock.unlock();
        const int failed =
            dropped ? 0 : sink_write_all(sink_, buffer(k), lengths_[k % WRITER_BUFFERS]);
        lock.lock();
        if (failed != 0) error_ = failed;
        ++written_;
        work_done_.notify_all();
    }
}

int BackgroundWriter::drain() {
    std::unique_lock lock(mutex_);
    work_done_.wait(lock, [this] { return written_ == handed_; });
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
    handed_ = 0;
    written_ = 0;
    error_ = 0;
}

}  // namespace textmend
