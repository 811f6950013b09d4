// A line on a terminal that tells how far a long run is: files done, files
// found so far, bytes read and the rate. Redrawn at most ten times a second
// and cleared at the end; only when standard error is a terminal.
#pragma once

#include <chrono>
#include <cstdint>

namespace textmend::tree {

class Progress {
public:
    explicit Progress(bool wanted);
    ~Progress();
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    void update(std::uint64_t done, std::uint64_t found, std::uint64_t bytes);
    // Takes the line away, before anything else is printed on the terminal.
    void clear();

private:
    bool shown_ = false;
    bool enabled_;
    std::chrono::steady_clock::time_point start_;
    std::chrono::steady_clock::time_point last_{};
};

}  // namespace textmend::tree
