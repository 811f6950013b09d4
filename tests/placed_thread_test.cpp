// A thread started on another processor than its maker's: it runs its work
// once, free to use every processor its maker may use, with its maker's
// signal mask, and leaves its maker's own processors alone.
#include <gtest/gtest.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>

#include <vector>

#include "cli/writer/placed_thread.hpp"
#include "support/processors.hpp"

namespace textmend {
namespace {

// What the work saw of its own thread.
struct Seen {
    int runs = 0;
    cpu_set_t allowed{};
    sigset_t mask{};
};

void look(void* seen) {
    Seen& s = *static_cast<Seen*>(seen);
    ++s.runs;
    EXPECT_EQ(sched_getaffinity(0, sizeof s.allowed, &s.allowed), 0);
    EXPECT_EQ(pthread_sigmask(SIG_SETMASK, nullptr, &s.mask), 0);
}

TEST(PlacedThread, RunsOnceWithTheProcessorsAndSignalMaskOfItsMaker) {
    const std::vector<test::ProcessorSet> cases = test::every_processor_and_one();
    const cpu_set_t all = cases.front().allowed;
    sigset_t held;
    sigemptyset(&held);
    sigaddset(&held, SIGUSR2);
    sigset_t before;
    ASSERT_EQ(pthread_sigmask(SIG_BLOCK, &held, &before), 0);
    for (const auto& c : cases) {
        ASSERT_EQ(sched_setaffinity(0, sizeof c.allowed, &c.allowed), 0) << c.name;
        Seen seen;
        {
            PlacedThread thread;
            ASSERT_TRUE(thread.start(look, &seen)) << c.name;
            EXPECT_TRUE(thread.joinable()) << c.name;
            thread.join();
            EXPECT_FALSE(thread.joinable()) << c.name;
        }
        EXPECT_TRUE(test::allowed_exactly(c.allowed)) << c.name << ": the maker's processors";
        ASSERT_EQ(sched_setaffinity(0, sizeof all, &all), 0);
        EXPECT_EQ(seen.runs, 1) << c.name;
        EXPECT_TRUE(CPU_EQUAL(&seen.allowed, &c.allowed)) << c.name << ": the thread's processors";
        EXPECT_EQ(sigismember(&seen.mask, SIGUSR2), 1) << c.name;
    }
    ASSERT_EQ(pthread_sigmask(SIG_SETMASK, &before, nullptr), 0);
}

// A thread not joined by hand is joined when it goes: its work has ended.
TEST(PlacedThread, IsJoinedWhenItGoes) {
    Seen seen;
    {
        PlacedThread thread;
        ASSERT_TRUE(thread.start(look, &seen));
    }
    EXPECT_EQ(seen.runs, 1);
}

}  // namespace
}  // namespace textmend
