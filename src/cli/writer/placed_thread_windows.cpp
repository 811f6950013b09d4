#include <new>
#include <system_error>
#include <thread>

#include "cli/writer/placed_thread.hpp"

namespace textmend {

namespace {

static_assert(sizeof(std::thread) <= PlacedThread::SYSTEM_SIZE &&
              alignof(std::thread) <= alignof(std::max_align_t));

std::thread& thread_in(unsigned char* system) {
    return *std::launder(reinterpret_cast<std::thread*>(system));
}

}  // namespace

// Where a new thread starts is left to the system here.
void PlacedThread::run(PlacedThread& self) {
    self.work_(self.context_);
}

bool PlacedThread::start(Work work, void* context) {
    if (started_) return true;
    work_ = work;
    context_ = context;
    try {
        new (system_) std::thread([this] { run(*this); });
    } catch (const std::system_error&) {
        return false;
    }
    started_ = true;
    return true;
}

void PlacedThread::join() {
    if (!started_) return;
    std::thread& thread = thread_in(system_);
    thread.join();
    thread.~thread();
    started_ = false;
}

}  // namespace textmend
