// Reads and writes that fail after so many bytes, put between a run and its
// files through the run's I/O hooks.
#pragma once

#include <cstdint>
#include <functional>

#include "cli/file_conversion.hpp"

namespace textmend::test {

// How a run's reads and writes fail: after so many bytes (-1: never).
struct FaultPlan {
    std::int64_t read_limit = -1;
    std::int64_t write_limit = -1;
    ByteSource real_input{};
    ByteSink real_output{};
    std::int64_t bytes_read = 0;
    std::int64_t bytes_written = 0;
    std::function<void()> before_write_fails{};  // what another program does first
};

// Hooks that put plan between a run and its files: reads fail with EIO,
// writes with ENOSPC, once their limit is reached.
IoHooks fault_hooks(FaultPlan& plan);

}  // namespace textmend::test
