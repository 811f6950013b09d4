// The entries of the walk on their way: files are judged and repaired by a
// few worker threads at once, and come back in walk order, so that what is
// printed does not depend on how many work.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "tree/repair.hpp"
#include "tree/walk.hpp"

namespace textmend::tree {

struct Job {
    Entry entry;
    Outcome outcome;
    bool done = false;
};

class JobWindow {
public:
    // At most capacity entries on their way at once, files worked on by
    // workers threads (none: the caller works on them, see help_one).
    JobWindow(std::size_t capacity, unsigned workers, RepairSettings settings);
    ~JobWindow();
    JobWindow(const JobWindow&) = delete;
    JobWindow& operator=(const JobWindow&) = delete;

    // A file goes to the workers; an entry the walk judged itself (skipped
    // or failed) is done at once.
    void add(Entry entry);
    [[nodiscard]] bool full();
    [[nodiscard]] bool empty();

    // Takes the first entry added and not taken yet, when it is done,
    // waiting for it up to wait. False when it is not done (or none is left).
    [[nodiscard]] bool take_done(Job& job, std::chrono::milliseconds wait);

    // Works on the next file no worker has taken, on the calling thread;
    // false when there is none. The thread that walks helps this way instead
    // of sleeping while the window is full: on a virtual machine, waking a
    // thread for every file would cost more than most files take.
    [[nodiscard]] bool help_one();

private:
    void work();
    // The next job for a worker, or nullptr; call with the lock held.
    [[nodiscard]] Job* next_job();
    void finish(Job& job, Outcome outcome);

    std::size_t capacity_;
    RepairSettings settings_;
    std::mutex mutex_;
    std::condition_variable work_ready_;
    std::condition_variable job_done_;
    std::deque<Job> jobs_;     // in walk order
    std::uint64_t first_ = 0;  // the number of jobs_.front() in walk order
    std::uint64_t next_ = 0;   // the number of the next job for a worker
    bool closing_ = false;
    std::vector<std::thread> workers_;
    std::vector<std::uint8_t> helper_block_;  // the calling thread's, for help_one
};

}  // namespace textmend::tree
