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
#endif

bool avx2_supported() noexcept {
#ifdef TEXTMEND_HAVE_AVX2_PATH
    return __builtin_cpu_supports("avx2");
#else
    return false;
#endif
}

const Kernels& table_of(KernelSet set) noexcept {
#ifdef TEXTMEND_HAVE_AVX2_PATH
    if (set == KernelSet::avx2) return AVX2_KERNELS;
#endif
    (void)set;
    return PORTABLE_KERNELS;
}

}  // namespace

namespace detail {

// Constant-initialised, so that even a conversion made while other static
// objects are set up finds it (empty, then chosen).
constinit std::atomic<const Kernels*> active_kernels{nullptr};

const Kernels& choose_kernels() noexcept {
    const Kernels& chosen =
        table_of(choose_kernel_set(std::getenv("TEXTMEND_KERNELS"), avx2_supported()));
    const Kernels* expected = nullptr;
    // Whoever chose first wins; all choose the same.
    active_kernels.compare_exchange_strong(expected, &chosen, std::memory_order_relaxed);
    return *active_kernels.load(std::memory_order_relaxed);
}

}  // namespace detail

KernelSet choose_kernel_set(const char* requested, bool avx2_available) noexcept {
    const KernelSet best = avx2_available ? KernelSet::avx2 : KernelSet::portable;
    if (requested == nullptr) return best;
    if (std::strcmp(requested, "portable") == 0) return KernelSet::portable;
    if (std::strcmp(requested, "avx2") == 0 && avx2_available) return KernelSet::avx2;
    return best;  // an unknown or unsupported set is ignored
}

bool kernel_set_supported(KernelSet set) noexcept {
    return set == KernelSet::portable || avx2_supported();
}

bool use_kernel_set(KernelSet set) noexcept {
    if (!kernel_set_supported(set)) return false;
    detail::active_kernels.store(&table_of(set), std::memory_order_relaxed);
    return true;
}

}  // namespace textmend
