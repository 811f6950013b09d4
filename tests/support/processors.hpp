// Sets of processors for tests of threads on POSIX systems.
#pragma once

#include <sched.h>

#include <vector>

namespace textmend::test {

struct ProcessorSet {
    const char* name;
    cpu_set_t allowed;
};

// The processors the calling thread may use (none when the system does not
// say).
inline cpu_set_t allowed_processors() {
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) != 0) CPU_ZERO(&set);
    return set;
}

// Every processor the calling thread may use, and the one it runs on alone.
inline std::vector<ProcessorSet> every_processor_and_one() {
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(static_cast<std::size_t>(sched_getcpu()), &one);
    return {{"every processor", allowed_processors()}, {"the caller's processor alone", one}};
}

// Whether the calling thread may use exactly the processors of set.
inline bool allowed_exactly(const cpu_set_t& set) {
    const cpu_set_t allowed = allowed_processors();
    return CPU_EQUAL(&allowed, &set) != 0;
}

}  // namespace textmend::test
