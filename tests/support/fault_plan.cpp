#include "support/fault_plan.hpp"

#include <cerrno>
#include <utility>

namespace textmend::test {

namespace {

std::int64_t failing_read(void* context, std::uint8_t* dst, std::size_t n) {
    FaultPlan& plan = *static_cast<FaultPlan*>(context);
    if (plan.read_limit >= 0) {
        const std::int64_t left = plan.read_limit - plan.bytes_read;
        if (left <= 0) {
            errno = EIO;
            return -1;
        }
        if (static_cast<std::int64_t>(n) > left) n = static_cast<std::size_t>(left);
    }
    const std::int64_t got = plan.real_input.read(plan.real_input.context, dst, n);
    if (got > 0) plan.bytes_read += got;
    return got;
}

std::int64_t failing_write(void* context, const std::uint8_t* src, std::size_t n) {
    FaultPlan& plan = *static_cast<FaultPlan*>(context);
    if (plan.write_limit >= 0) {
        const std::int64_t left = plan.write_limit - plan.bytes_written;
        if (left <= 0) {
            if (plan.before_write_fails) std::exchange(plan.before_write_fails, nullptr)();
            errno = ENOSPC;
            return -1;
        }
        if (static_cast<std::int64_t>(n) > left) n = static_cast<std::size_t>(left);
    }
    const std::int64_t put = plan.real_output.write(plan.real_output.context, src, n);
    if (put > 0) plan.bytes_written += put;
    return put;
}

ByteSource wrap_input(ByteSource real, void* context) {
    static_cast<FaultPlan*>(context)->real_input = real;
    return ByteSource{failing_read, context};
}

ByteSink wrap_output(ByteSink real, void* context) {
    static_cast<FaultPlan*>(context)->real_output = real;
    return ByteSink{failing_write, context};
}

}  // namespace

IoHooks fault_hooks(FaultPlan& plan) {
    return IoHooks{wrap_input, wrap_output, &plan};
}

}  // namespace textmend::test
