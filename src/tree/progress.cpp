#include "tree/progress.hpp"

#include <cinttypes>
#include <cstdio>

#include "tree/system.hpp"

namespace textmend::tree {

namespace {

constexpr auto REDRAW_EVERY = std::chrono::milliseconds(100);

}  // namespace

Progress::Progress(bool wanted)
    : enabled_(wanted && standard_error_is_terminal()), start_(std::chrono::steady_clock::now()) {}

Progress::~Progress() {
    clear();
}

void Progress::update(std::uint64_t done, std::uint64_t found, std::uint64_t bytes) {
    if (!enabled_) return;
    const auto now = std::chrono::steady_clock::now();
    if (shown_ && now - last_ < REDRAW_EVERY) return;
    last_ = now;
    const double seconds = std::chrono::duration<double>(now - start_).count();
    const double mib = static_cast<double>(bytes) / (1024.0 * 1024.0);
    std::fprintf(stderr, "\r\033[K%" PRIu64 " of %" PRIu64 " files, %.1f MiB, %.0f MiB/s", done,
                 found, mib, seconds > 0 ? mib / seconds : 0.0);
    std::fflush(stderr);
    shown_ = true;
}

void Progress::clear() {
    if (!shown_) return;
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    shown_ = false;
}

}  // namespace textmend::tree
