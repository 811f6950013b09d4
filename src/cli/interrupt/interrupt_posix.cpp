#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include "cli/interrupt/interrupt.hpp"
#include "cli/interrupt/pending_file.hpp"

namespace textmend {

namespace {

const int INTERRUPTING_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM};
constexpr int SIGNAL_COUNT = sizeof INTERRUPTING_SIGNALS / sizeof INTERRUPTING_SIGNALS[0];

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
    if (pending_armed) remove_incomplete_file(pending_file);
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

static_assert(sizeof(sigset_t) <= SignalHold::SAVED_MASK_SIZE &&
              alignof(sigset_t) <= alignof(std::max_align_t));

}  // namespace

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
    pending_armed = 0;
}

// The calling thread's mask: the program has one thread, a library caller
// may have many.
SignalHold::SignalHold() {
    const sigset_t set = interrupting_set();
    pthread_sigmask(SIG_BLOCK, &set, reinterpret_cast<sigset_t*>(saved_));
}

SignalHold::~SignalHold() {
    pthread_sigmask(SIG_SETMASK, reinterpret_cast<const sigset_t*>(saved_), nullptr);
}

}  // namespace textmend
