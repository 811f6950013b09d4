#include "tree/run.hpp"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <thread>

#include "cli/file_layer.hpp"
#include "names/escaped_name.hpp"
#include "tree/jobs.hpp"
#include "tree/options.hpp"
#include "tree/output.hpp"
#include "tree/progress.hpp"
#include "tree/system.hpp"
#include "tree/walk.hpp"

namespace textmend::tree {

namespace {

// SIGINT and SIGTERM stop the run: the walk goes no further, files at work
// are left as they were, the summary of what was done is printed, and the
// process then ends by the signal.
std::atomic<bool> stop{false};
volatile std::sig_atomic_t stopping_signal = 0;

static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

extern "C" void on_stopping_signal(int signal_number) {
    stopping_signal = signal_number;
    stop.store(true, std::memory_order_relaxed);
}

const int STOPPING_SIGNALS[] = {SIGINT, SIGTERM};

// Installs the handlers for as long as it lives; a signal the caller chose
// to ignore stays ignored.
class StopSignals {
public:
    StopSignals() {
        for (std::size_t i = 0; i < std::size(STOPPING_SIGNALS); ++i) {
            previous_[i] = std::signal(STOPPING_SIGNALS[i], on_stopping_signal);
            if (previous_[i] == SIG_IGN) std::signal(STOPPING_SIGNALS[i], SIG_IGN);
        }
    }
    ~StopSignals() {
        for (std::size_t i = 0; i < std::size(STOPPING_SIGNALS); ++i)
            std::signal(STOPPING_SIGNALS[i], previous_[i]);
    }
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

private:
    using Handler = void (*)(int);
    Handler previous_[std::size(STOPPING_SIGNALS)] = {};
};

// Ends the process by the signal that stopped the run, as it would have
// ended without the handler.
[[noreturn]] void end_by(int signal_number) {
    std::signal(signal_number, SIG_DFL);
    std::raise(signal_number);
    std::_Exit(128 + signal_number);
}

struct Run {
    const TreeOptions& options;
    PrintSettings print;
    Tally tally;
    std::uint64_t found = 0;
    Progress progress;
};

// Prints the entries that are done, in walk order, waiting up to wait for
// the first of them.
void print_done(Run& run, JobWindow& window, std::chrono::milliseconds wait) {
    Job job;
    while (window.take_done(job, wait)) {
        wait = std::chrono::milliseconds(0);
        run.tally.count(job.outcome);
        run.progress.clear();
        print_outcome(stdout, job.entry.shown, job.outcome, run.print);
    }
    run.progress.update(run.tally.entries(), run.found, run.tally.bytes);
}

constexpr std::chrono::milliseconds NO_WAIT{0};
constexpr std::chrono::milliseconds WAIT{100};

// Makes room in the window, or empties it: prints what is done, works on a
// file itself while one is waiting, and sleeps only when every file left is
// at work on another thread.
void make_room(Run& run, JobWindow& window, bool until_empty) {
    for (;;) {
        print_done(run, window, NO_WAIT);
        if (until_empty ? window.empty() : !window.full()) return;
        if (!window.help_one()) print_done(run, window, WAIT);
    }
}

void walk_path(Run& run, JobWindow& window, TreeWalk& walk, const char* path) {
    walk.start(path);
    Entry entry;
    while (!stop.load(std::memory_order_relaxed) && walk.next(entry)) {
        ++run.found;
        make_room(run, window, false);
        window.add(std::move(entry));
    }
}

int print_usage_error(const std::string& error) {
    std::fputs("textmend-tree: ", stderr);
    write_escaped_name(stderr, error.c_str());
    std::fputs("\n", stderr);
    std::fputs(USAGE, stderr);
    return TREE_USAGE;
}

// Standard output must have taken everything.
bool output_written() {
    if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return true;
    std::fprintf(stderr, "textmend-tree: cannot write to standard output: %s\n",
                 std::strerror(errno != 0 ? errno : EIO));
    return false;
}

int walk_all(const TreeOptions& options) {
    const auto started = std::chrono::steady_clock::now();
    const EntryFilter filter(options.include, options.exclude);
    TreeWalk walk(WalkRules{&filter, options.backup_suffix, options.one_file_system});
    Run run{options,
            PrintSettings{options.json, options.quiet, options.dry_run, options.undo_double},
            {},
            0,
            Progress(!options.quiet && !options.json)};
    RepairSettings settings{options.target,        options.dry_run, options.binary,
                            options.backup_suffix, &stop,           options.undo_double};
    const unsigned jobs = options.jobs > 0 ? options.jobs : processors_available();
    {
        // The walking thread is one of the jobs (see make_room).
        JobWindow window(16 * static_cast<std::size_t>(jobs) + 64, jobs - 1, settings);
        for (const char* path : options.paths) {
            if (stop.load(std::memory_order_relaxed)) break;
            walk_path(run, window, walk, path);
        }
        make_room(run, window, true);
    }
    run.progress.clear();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    print_summary(stdout, run.tally, seconds, run.print);
    const bool written = output_written();
    if (stopping_signal != 0) end_by(stopping_signal);
    return run.tally.failed > 0 || !written ? TREE_FAILED : TREE_DONE;
}

}  // namespace

int run_tree(int argc, const char* const* argv) {
    const CommandLine cl = parse_command_line(argc, argv);
    switch (cl.request) {
        case Request::help:
            std::fputs(USAGE, stdout);
            return output_written() ? TREE_DONE : TREE_FAILED;
        case Request::version:
            warn_about_kernel_request("textmend-tree");
            std::puts("textmend-tree " TEXTMEND_VERSION_STRING);
            print_kernel_set(stdout);
            return output_written() ? TREE_DONE : TREE_FAILED;
        case Request::wrong:
            return print_usage_error(cl.error);
        case Request::run:
            break;
    }
    warn_about_kernel_request("textmend-tree");
    open_missing_standard_descriptors();
    const StopSignals signals;
    return walk_all(cl.options);
}

}  // namespace textmend::tree
