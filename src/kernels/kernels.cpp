// Choosing the kernel set: the best the processor runs, or the one
// TEXTMEND_KERNELS names. The sets' tables are in their own folders.
#include "kernels/kernels.hpp"

#include <cstdlib>
#include <cstring>

namespace textmend {

namespace {

const Kernels& table_of(KernelSet set) noexcept {
#ifdef TEXTMEND_HAVE_AVX2_PATH
    if (set == KernelSet::avx2) return AVX2_KERNELS;
    if (set == KernelSet::avx512) return AVX512_KERNELS;
#endif
    (void)set;
    return PORTABLE_KERNELS;
}

// The sets by name.
constexpr struct {
    const char* name;
    KernelSet set;
} SET_NAMES[] = {
    {"portable", KernelSet::portable},
    {"avx2", KernelSet::avx2},
    {"avx512", KernelSet::avx512},
};

}  // namespace

namespace detail {

// Constant-initialised, so that even a conversion made while other static
// objects are set up finds it (empty, then chosen).
constinit std::atomic<const Kernels*> active_kernels{nullptr};

const Kernels& choose_kernels() noexcept {
    const Kernels& chosen =
        table_of(choose_kernel_set(std::getenv("TEXTMEND_KERNELS"), best_supported_kernel_set()));
    const Kernels* expected = nullptr;
    // Whoever chose first wins; all choose the same.
    active_kernels.compare_exchange_strong(expected, &chosen, std::memory_order_relaxed);
    return *active_kernels.load(std::memory_order_relaxed);
}

}  // namespace detail

// Each set needs every extension its target attribute names (avx2/ops.hpp,
// avx512/ops.hpp); the processor's support of the AVX and AVX-512 registers
// by the system is part of what __builtin_cpu_supports tells.
KernelSet best_supported_kernel_set() noexcept {
#ifdef TEXTMEND_HAVE_AVX2_PATH
    if (!__builtin_cpu_supports("avx2") || !__builtin_cpu_supports("popcnt"))
        return KernelSet::portable;
    const bool avx512 = __builtin_cpu_supports("bmi2") && __builtin_cpu_supports("avx512f") &&
                        __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512bw") &&
                        __builtin_cpu_supports("avx512vbmi") &&
                        __builtin_cpu_supports("avx512vbmi2");
    return avx512 ? KernelSet::avx512 : KernelSet::avx2;
#else
    return KernelSet::portable;
#endif
}

KernelRequest kernel_request_outcome(const char* requested, KernelSet best_supported) noexcept {
    if (requested == nullptr || *requested == '\0') return KernelRequest::none;
    for (const auto& named : SET_NAMES) {
        if (std::strcmp(requested, named.name) == 0) {
            return named.set <= best_supported ? KernelRequest::granted
                                               : KernelRequest::unsupported;
        }
    }
    return KernelRequest::unknown;
}

KernelSet choose_kernel_set(const char* requested, KernelSet best_supported) noexcept {
    if (kernel_request_outcome(requested, best_supported) != KernelRequest::granted)
        return best_supported;  // an unknown or unsupported set is ignored
    for (const auto& named : SET_NAMES) {
        if (std::strcmp(requested, named.name) == 0) return named.set;
    }
    return best_supported;
}

bool kernel_set_supported(KernelSet set) noexcept {
    return set <= best_supported_kernel_set();
}

bool use_kernel_set(KernelSet set) noexcept {
    if (!kernel_set_supported(set)) return false;
    detail::active_kernels.store(&table_of(set), std::memory_order_relaxed);
    return true;
}

}  // namespace textmend
