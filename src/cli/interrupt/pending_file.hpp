// What the signal handlers of interrupt_posix.cpp and interrupt_windows.cpp
// share with the registration in interrupt.cpp. The handler can only reach
// the file through globals. pending_file is written only while the signals
// are held, so the handler never sees it half-written.
#pragma once

#include <atomic>
#include <csignal>

#include "cli/output/incomplete_file.hpp"

namespace textmend {

extern volatile std::sig_atomic_t pending_armed;  // pending_file is to be removed
extern IncompleteFile pending_file;

// Files are registered only while the program's handlers are installed: a
// library caller (the Python module, on many threads) registers nothing.
extern std::atomic<bool> handlers_installed;

}  // namespace textmend
