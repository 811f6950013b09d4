#include "cli/interrupt.hpp"

#include <csignal>

#include <atomic>

#ifndef _WIN32
#include <pthread.h>
#include <unistd.h>
#endif

namespace textmend {

namespace {

const int INTERRUPTING_SIGNALS[] = {
    SIGINT, SIGTERM,
#ifndef _WIN32
    SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM,
#endif
};
constexpr int SIGNAL_COUNT = sizeof INTERRUPTING_SIGNALS / sizeof INTERRUPTING_SIGNALS[0];

// The handler can only reach the file through globals. pending is written
// only while the signals are held, so the handler never sees it half-written.
volatile std::sig_atomic_t armed = 0;
IncompleteFile pending{};

// Files are registered only while the program's handlers are installed: a
// library caller (the Python module, on many threads) registers nothing.
std::atomic<bool> handlers_installed{false};

#ifndef _WIN32

struct sigaction previous_actions[SIGNAL_COUNT];
struct sigaction previous_file_size_action;

sigset_t interrupting_set() {
    sigset_t set;
    sigemptyset(&set);
    for (const int s : INTERRUPTING_SIGNALS)
        sigaddset(&set, s);
    return set;
}

extern "C" void remove_and_end(int signal_number) {
    if (armed) remove_incomplete_file(pending);
    // End as the signal would have ended the process without this handler.
    struct sigaction default_action {};
    default_action.sa_handler = SIG_DFL;
    sigemptyset(&default_action.sa_mask);
    sigaction(signal_number, &default_action, nullptr);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, signal_number);
    sigprocmask(SIG_UNBLOCK, &only, nullptr);
    raise(signal_number);
    _exit(128 + signal_number);  // not reached: the signal's default is to end the process
}

#else

using Handler = void (*)(int);
Handler previous_handlers[SIGNAL_COUNT];

extern "C" void remove_and_end(int signal_number) {
    if (armed) remove_incomplete_file(pending);
    std::signal(signal_number, SIG_DFL);
    std::raise(signal_number);
}

#endif

}  // namespace

#ifndef _WIN32

SignalHandlers::SignalHandlers() {
    struct sigaction action {};
    action.sa_handler = remove_and_end;
    action.sa_mask = interrupting_set();  // one handler at a time
    for (int i = 0; i < SIGNAL_COUNT; ++i) {
        sigaction(INTERRUPTING_SIGNALS[i], nullptr, &previous_actions[i]);
        if (previous_actions[i].sa_handler != SIG_IGN) {
            sigaction(INTERRUPTING_SIGNALS[i], &action, nullptr);
        }
    }
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGXFSZ, &ignore, &previous_file_size_action);
    handlers_installed = true;
}

SignalHandlers::~SignalHandlers() {
    handlers_installed = false;
    for (int i = 0; i < SIGNAL_COUNT; ++i)
        sigaction(INTERRUPTING_SIGNALS[i], &previous_actions[i], nullptr);
    sigaction(SIGXFSZ, &previous_file_size_action, nullptr);
    armed = 0;
}

// The calling thread's mask: the program has one thread, a library caller
// may have many.
SignalHold::SignalHold() {
    const sigset_t set = interrupting_set();
    pthread_sigmask(SIG_BLOCK, &set, &saved_);
}

SignalHold::~SignalHold() {
    pthread_sigmask(SIG_SETMASK, &saved_, nullptr);
}

#else

SignalHandlers::SignalHandlers() {
    for (int i = 0; i < SIGNAL_COUNT; ++i) {
        previous_handlers[i] = std::signal(INTERRUPTING_SIGNALS[i], remove_and_end);
        if (previous_handlers[i] == SIG_IGN) std::signal(INTERRUPTING_SIGNALS[i], SIG_IGN);
    }
    handlers_installed = true;
}

SignalHandlers::~SignalHandlers() {
    handlers_installed = false;
    for (int i = 0; i < SIGNAL_COUNT; ++i)
        std::signal(INTERRUPTING_SIGNALS[i], previous_handlers[i]);
    armed = 0;
}

// Windows delivers these signals on another thread and has no signal mask.
SignalHold::SignalHold() {}
SignalHold::~SignalHold() {}

#endif

void remove_on_signal(const IncompleteFile& file) {
    if (!handlers_installed) return;
    pending = file;
    armed = 1;
}

void keep_on_signal() {
    if (handlers_installed) armed = 0;
}

}  // namespace textmend
