#include "cli/interrupt/interrupt.hpp"

#include "cli/interrupt/pending_file.hpp"

namespace textmend {

volatile std::sig_atomic_t pending_armed = 0;
IncompleteFile pending_file{};
std::atomic<bool> handlers_installed{false};

void remove_on_signal(const IncompleteFile& file) {
    if (!handlers_installed) return;
    pending_file = file;
    pending_armed = 1;
}

void keep_on_signal() {
    if (handlers_installed) pending_armed = 0;
}

}  // namespace textmend
