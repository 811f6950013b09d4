#include "convert/kernels.hpp"

#include <cstdlib>
#include <cstring>

#include "convert/inspect_blocks.hpp"
#include "convert/scan.hpp"
#include "convert/simd_support.hpp"

namespace textmend {

namespace {

BulkProgress no_blocks_to_latin1(const std::uint8_t* p, const std::uint8_t*, std::uint8_t* out,
                                 OutputMode) {
    return {p, out};
}

BulkProgress no_blocks_to_utf8(const std::uint8_t* p, const std::uint8_t*, std::uint8_t* out) {
    return {p, out};
}

const std::uint8_t* no_unchanged_blocks(const std::uint8_t* p, const std::uint8_t*, OutputMode) {
    return p;
}

const std::uint8_t* no_inspect_blocks(InspectState&, const std::uint8_t* p, const std::uint8_t*) {
    return p;
}

std::int64_t no_growth_blocks(const std::uint8_t*&, const std::uint8_t*, OutputMode) {
    return 0;
}

constexpr Kernels PORTABLE_KERNELS = {
    KernelSet::portable,          "portable",          find_non_ascii_portable,
    find_candidate_lead_portable, no_blocks_to_latin1, no_blocks_to_utf8,
    no_unchanged_blocks,          no_inspect_blocks,   no_growth_blocks,
};

#ifdef TEXTMEND_HAVE_AVX2_PATH
constexpr Kernels AVX2_KERNELS = {
    KernelSet::avx2,
    "avx2",
    find_non_ascii_avx2,
    find_candidate_lead_avx2,
    bulk_blocks_to_latin1_avx2,
    bulk_blocks_to_utf8_avx2,
    bulk_blocks_unchanged_avx2,
    inspect_blocks_avx2,
    growth_of_blocks_avx2,
};

constexpr Kernels AVX512_KERNELS = {
    KernelSet::avx512,
    "avx512",
    find_non_ascii_avx2,
    find_candidate_lead_avx2,
    bulk_blocks_to_latin1_avx512,
    bulk_blocks_to_utf8_avx512,
    bulk_blocks_unchanged_avx512,
    inspect_blocks_avx512,
    growth_of_blocks_avx2,
};
#endif

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

KernelSet best_supported_kernel_set() noexcept {
#ifdef TEXTMEND_HAVE_AVX2_PATH
    if (!__builtin_cpu_supports("avx2")) return KernelSet::portable;
    const bool vbmi2 = __builtin_cpu_supports("avx512vbmi2") &&
                       __builtin_cpu_supports("avx512vbmi") && __builtin_cpu_supports("avx512vl") &&
                       __builtin_cpu_supports("avx512bw");
    return vbmi2 ? KernelSet::avx512 : KernelSet::avx2;
#else
    return KernelSet::portable;
#endif
}

KernelSet choose_kernel_set(const char* requested, KernelSet best_supported) noexcept {
    if (requested == nullptr) return best_supported;
    for (const auto& named : SET_NAMES) {
        if (std::strcmp(requested, named.name) == 0 && named.set <= best_supported)
            return named.set;
    }
    return best_supported;  // an unknown or unsupported set is ignored
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
