#include "tree/jobs.hpp"

#include <utility>

namespace textmend::tree {

namespace {

Outcome outcome_of_walk(const Entry& entry) {
    Outcome outcome;
    outcome.action = entry.kind == EntryKind::skipped ? Action::skipped : Action::failed;
    outcome.reason = entry.reason;
    outcome.error = entry.error;
    return outcome;
}

}  // namespace

JobWindow::JobWindow(std::size_t capacity, unsigned workers, RepairSettings settings)
    : capacity_(capacity), settings_(std::move(settings)) {
    for (unsigned i = 0; i < workers; ++i)
        workers_.emplace_back([this] { work(); });
}

JobWindow::~JobWindow() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        closing_ = true;
    }
    work_ready_.notify_all();
    for (std::thread& worker : workers_)
        worker.join();
}

void JobWindow::add(Entry entry) {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        Job& job = jobs_.emplace_back();
        if (entry.kind != EntryKind::file) {
            job.outcome = outcome_of_walk(entry);
            job.done = true;
        }
        job.entry = std::move(entry);
    }
    work_ready_.notify_one();
}

bool JobWindow::full() {
    const std::lock_guard<std::mutex> lock(mutex_);
    return jobs_.size() >= capacity_;
}

bool JobWindow::empty() {
    const std::lock_guard<std::mutex> lock(mutex_);
    return jobs_.empty();
}

bool JobWindow::take_done(Job& job, std::chrono::milliseconds wait) {
    std::unique_lock<std::mutex> lock(mutex_);
    const auto front_done = [this] { return !jobs_.empty() && jobs_.front().done; };
    // Not even a timed wait of nothing: that is a system call every time.
    if (!front_done() && (wait.count() == 0 || !job_done_.wait_for(lock, wait, front_done))) {
        return false;
    }
    job = std::move(jobs_.front());
    jobs_.pop_front();
    ++first_;
    return true;
}

// Files are taken in walk order. A job's place in the deque stays valid
// while it is worked on: only done jobs leave it, from the front.
Job* JobWindow::next_job() {
    if (next_ < first_) next_ = first_;
    while (next_ < first_ + jobs_.size() && jobs_[next_ - first_].done)
        ++next_;
    if (next_ == first_ + jobs_.size()) return nullptr;
    return &jobs_[next_++ - first_];
}

void JobWindow::finish(Job& job, Outcome outcome) {
    const std::lock_guard<std::mutex> lock(mutex_);
    job.outcome = std::move(outcome);
    job.done = true;
    job_done_.notify_all();
}

bool JobWindow::help_one() {
    Job* job = nullptr;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        job = next_job();
    }
    if (job == nullptr) return false;
    if (helper_block_.empty()) helper_block_.resize(REPAIR_BUFFER_SIZE);
    finish(*job, repair_file(job->entry, settings_, helper_block_.data()));
    return true;
}

void JobWindow::work() {
    std::vector<std::uint8_t> block(REPAIR_BUFFER_SIZE);
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        if (Job* job = next_job()) {
            lock.unlock();
            finish(*job, repair_file(job->entry, settings_, block.data()));
            lock.lock();
            continue;
        }
        if (closing_) return;
        work_ready_.wait(lock);
    }
}

}  // namespace textmend::tree
