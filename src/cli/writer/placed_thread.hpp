// A thread started on a processor other than its maker's, where another is
// allowed. A new thread is otherwise queued on its maker's processor, and
// the system may leave it waiting there for milliseconds while another
// processor is idle (on a 2-core virtual machine, a third of the runs): two
// threads meant to work at once would take turns. Once running, the thread
// may move to any allowed processor again. Like a new std::thread, it
// inherits its maker's signal mask. On Windows it is a std::thread.
#pragma once

#include <cstddef>

namespace textmend {

class PlacedThread {
public:
    using Work = void (*)(void* context);

    PlacedThread() = default;
    PlacedThread(const PlacedThread&) = delete;
    PlacedThread& operator=(const PlacedThread&) = delete;
    ~PlacedThread() { join(); }

    // Starts work(context) on a new thread. False, with nothing started,
    // when the system gives no thread; true at once when one is running.
    [[nodiscard]] bool start(Work work, void* context);
    // Whether a thread was started and not yet joined.
    [[nodiscard]] bool joinable() const { return started_; }
    // Waits for the work to end; nothing when no thread was started.
    void join();

    // Room for the system's own handle and the processors it may use.
    static constexpr std::size_t SYSTEM_SIZE = 160;

private:
    static void run(PlacedThread& self);

    Work work_ = nullptr;
    void* context_ = nullptr;
    bool started_ = false;
    alignas(std::max_align_t) unsigned char system_[SYSTEM_SIZE] = {};
};

}  // namespace textmend
