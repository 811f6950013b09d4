#include "cli/interrupt.hpp"

#include <csignal>

#ifndef _WIN32
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
#ifndef _WIN32
    if (armed) unlink(temp_path);
#endif
    std::signal(signal_number, SIG_DFL);
    std::raise(signal_number);
}

}  // namespace

void remove_on_interrupt(const char* path) {
    temp_path = path;
    armed = 1;
    for (int s : SIGNALS)
        std::signal(s, remove_and_reraise);
}

void keep_on_interrupt() {
    armed = 0;
}

}  // namespace textmend
