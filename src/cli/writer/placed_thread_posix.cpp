#include <pthread.h>
#include <sched.h>

#include <new>

#include "cli/writer/placed_thread.hpp"

namespace textmend {

namespace {

struct System {
    pthread_t thread;
    cpu_set_t allowed;  // the processors the maker may use
    bool placed;        // started away from its maker's processor
};

static_assert(sizeof(System) <= PlacedThread::SYSTEM_SIZE &&
              alignof(System) <= alignof(std::max_align_t));

// Sets attributes to start the thread on any allowed processor but the
// caller's; false when there is no other or the system does not say.
bool place_elsewhere(pthread_attr_t& attributes, cpu_set_t& allowed) {
    const int here = sched_getcpu();
    if (here < 0 || sched_getaffinity(0, sizeof allowed, &allowed) != 0 ||
        CPU_COUNT(&allowed) < 2 || !CPU_ISSET(static_cast<std::size_t>(here), &allowed))
        return false;
    cpu_set_t others = allowed;
    CPU_CLR(static_cast<std::size_t>(here), &others);
    return pthread_attr_setaffinity_np(&attributes, sizeof others, &others) == 0;
}

}  // namespace

void PlacedThread::run(PlacedThread& self) {
    const System& system = *std::launder(reinterpret_cast<const System*>(self.system_));
    // Free to move again, should the other processor get busy.
    if (system.placed) (void)sched_setaffinity(0, sizeof system.allowed, &system.allowed);
    self.work_(self.context_);
}

bool PlacedThread::start(Work work, void* context) {
    if (started_) return true;
    work_ = work;
    context_ = context;
    System& system = *new (system_) System{};
    pthread_attr_t attributes;
    if (pthread_attr_init(&attributes) != 0) return false;
    system.placed = place_elsewhere(attributes, system.allowed);
    started_ = pthread_create(
                   &system.thread, &attributes,
                   [](void* self) -> void* {
                       run(*static_cast<PlacedThread*>(self));
                       return nullptr;
                   },
                   this) == 0;
    (void)pthread_attr_destroy(&attributes);
    return started_;
}

void PlacedThread::join() {
    if (!started_) return;
    (void)pthread_join(std::launder(reinterpret_cast<System*>(system_))->thread, nullptr);
    started_ = false;
}

}  // namespace textmend
