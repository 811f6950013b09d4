#include "cli/interrupt.hpp"

#include <csignal>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace textmend {

namespace {

// The process has one temporary file at most; the handler can only reach it
// through a global.
volatile std::sig_atomic_t armed = 0;
const char* temp_path = nullptr;

const int SIGNALS[] = {
    SIGINT,
    SIGTERM,
#ifndef _WIN32
    SIGHUP,
#endif
};

extern "C" void remove_and_reraise(int signal_number) {
#ifdef _WIN32
    if (armed) _unlink(temp_path);
#else
    if (armed) unlink(temp_path);
#endif
    std::signal(signal_number, SIG_DFL);
    std::raise(signal_number);
}

#ifndef _WIN32
void set_held(bool held) {
    sigset_t set;
    sigemptyset(&set);
    for (int s : SIGNALS)
        sigaddset(&set, s);
    sigprocmask(held ? SIG_BLOCK : SIG_UNBLOCK, &set, nullptr);
}
#else
void set_held(bool) {}
#endif

// A signal the caller chose to ignore (nohup, a background job) stays ignored.
void catch_unless_ignored(int s) {
    if (std::signal(s, remove_and_reraise) == SIG_IGN) std::signal(s, SIG_IGN);
}

}  // namespace

void hold_interrupts() {
    set_held(true);
}

void release_interrupts(const char* path) {
    if (path != nullptr) {
        temp_path = path;
        armed = 1;
        for (int s : SIGNALS)
            catch_unless_ignored(s);
    }
    set_held(false);
}

void keep_on_interrupt() {
    armed = 0;
}

}  // namespace textmend
