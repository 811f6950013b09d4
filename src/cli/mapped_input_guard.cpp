#include "cli/mapped_input_guard.hpp"

#include "convert/byte_loop.hpp"

#ifndef _WIN32
#include <csetjmp>
#include <csignal>
#endif

namespace textmend {

#ifdef _WIN32

// Windows builds read their input; nothing is mapped.
bool convert_guarding_mapped_input(InputStream& in, OutputStream& out, OutputMode mode) {
    convert_stream(in, out, mode);
    return true;
}

#else

namespace {

// The handler can only reach the place to go back to through a global.
sigjmp_buf conversion_abandoned;

extern "C" void on_bus_error(int) {
    siglongjmp(conversion_abandoned, 1);
}

}  // namespace

bool convert_guarding_mapped_input(InputStream& in, OutputStream& out, OutputMode mode) {
    struct sigaction action {
    }, previous{};
    action.sa_handler = on_bus_error;
    sigemptyset(&action.sa_mask);
    sigaction(SIGBUS, &action, &previous);
    // The streams live with the caller; the only local set after this point
    // is volatile, so it keeps its value across a jump back.
    volatile bool completed = false;
    if (sigsetjmp(conversion_abandoned, 1) == 0) {
        convert_stream(in, out, mode);
        completed = true;
    }
    sigaction(SIGBUS, &previous, nullptr);
    return completed;
}

#endif

}  // namespace textmend
