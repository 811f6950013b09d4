// A condition variable whose waiters may watch for a change for a short
// while before they sleep. The writer thread and the converting thread each
// wait for the other about once per buffer, typically for less than a tenth
// of a millisecond. Sleeping there costs more than the wait: the processor
// goes idle, and waking it takes the scheduler (on a virtual machine, the
// host too) far longer than spinning would, now and then milliseconds. So
// where each thread has a processor of its own, a waiter spins first.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include <thread>

#if defined(__x86_64__) || defined(__i386__) || defined(_M_X64)
#include <immintrin.h>
#endif
#ifdef __linux__
#include <sched.h>
#endif

namespace textmend {

// Whether two threads can run at once, each on a processor of its own:
// only then does a thread gain by spinning while it waits for the other.
inline bool spinning_pays() {
#ifdef __linux__
    cpu_set_t allowed;
    if (sched_getaffinity(0, sizeof allowed, &allowed) == 0) return CPU_COUNT(&allowed) > 1;
#endif
    return std::thread::hardware_concurrency() > 1;
}

// How long a waiter spins at most before it sleeps.
inline constexpr std::chrono::microseconds SPIN_BEFORE_SLEEP{200};

class SpinningCondition {
public:
    // Both after the change they announce, made under the waiters' mutex.
    void notify_one() {
        changes_.fetch_add(1, std::memory_order_release);
        condition_.notify_one();
    }
    void notify_all() {
        changes_.fetch_add(1, std::memory_order_release);
        condition_.notify_all();
    }

    // Waits until ready() holds, with lock held on the mutex that guards what
    // ready() reads; spins first for up to SPIN_BEFORE_SLEEP when spin is set.
    template <class Ready>
    void wait(std::unique_lock<std::mutex>& lock, Ready ready, bool spin) {
        if (spin && !ready()) spin_until(lock, ready);
        condition_.wait(lock, ready);
    }

private:
    // Watches the count of changes without the lock, and tests ready() under
    // it after each change, until it holds or the time is up.
    template <class Ready>
    void spin_until(std::unique_lock<std::mutex>& lock, Ready ready) {
        const auto deadline = std::chrono::steady_clock::now() + SPIN_BEFORE_SLEEP;
        do {
            const std::uint64_t seen = changes_.load(std::memory_order_relaxed);
            lock.unlock();
            const bool changed = watch(seen, deadline);
            lock.lock();
            if (!changed) return;
        } while (!ready());
    }

    // Whether the count of changes moved on from seen before the deadline.
    bool watch(std::uint64_t seen, std::chrono::steady_clock::time_point deadline) const {
        for (unsigned i = 1;; ++i) {
            if (changes_.load(std::memory_order_acquire) != seen) return true;
            relax();
            // The clock is read now and then only: it costs more than a pause.
            if (i % 64 == 0) {
                if (std::chrono::steady_clock::now() > deadline) return false;
                // The other thread may share this processor (the scheduler
                // puts a new thread beside its maker at first): spinning
                // would take the time it needs to make the change.
                std::this_thread::yield();
            }
        }
    }

    static void relax() {
#if defined(__x86_64__) || defined(__i386__) || defined(_M_X64)
        _mm_pause();
#endif
    }

    std::condition_variable condition_;
    std::atomic<std::uint64_t> changes_{0};
};

}  // namespace textmend
