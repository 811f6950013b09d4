// The engine's kernels: the loops that look at many bytes at a time, in one
// table per instruction set (each set a folder beside this file, with its
// table in table.cpp), chosen once. Everything else in the engine is written
// once and calls these through kernels().
//
// Every block kernel works on whole blocks while a block and the bytes a
// sequence in it may reach lie before its limit, and returns the lead
// position (and output position) where the stepwise code, a run or a
// sequence at a time, goes on; the portable set has no blocks and returns
// where it started. The scanners find the next byte of interest.
#pragma once

#include <atomic>
#include <cstdint>

#include "convert/bulk.hpp"
#include "convert/byte_tables.hpp"
#include "convert/inspect.hpp"
#include "kernels/simd_support.hpp"
#include "textmend/textmend.hpp"

namespace textmend {

enum class KernelSet {
    portable,  // 64-bit words, for every processor (and every Windows build)
    avx2,      // 32-byte vectors, for x86-64 processors that have AVX2
    avx512,    // 64-byte blocks with AVX-512 (BW, VBMI, VBMI2) and BMI2; AVX2's scanners
};

struct Kernels {
    KernelSet set;
    const char* name;
    // First byte in [p, end) with the high bit set, or end.
    const std::uint8_t* (*find_non_ascii)(const std::uint8_t* p, const std::uint8_t* end);
    // First byte in [p, end) that is a member of leads, or end.
    const std::uint8_t* (*find_candidate_lead)(const std::uint8_t* p, const std::uint8_t* end,
                                               const CandidateLeads& leads);
    // First place in [p, end) where a run of text encoded twice may start
    // (may_start_double_run on it and the two bytes after it), or end.
    const std::uint8_t* (*find_double_run_start)(const std::uint8_t* p, const std::uint8_t* end);
    BulkProgress (*blocks_to_latin1)(const std::uint8_t* p, const std::uint8_t* lead_end,
                                     std::uint8_t* out, OutputMode mode);
    BulkProgress (*blocks_to_utf8)(const std::uint8_t* p, const std::uint8_t* lead_end,
                                   std::uint8_t* out);
    // The last bytes of an input, [p, end), converted (any mode) as the
    // input's end, with the bytes of the result written exactly: nothing past
    // them, nothing read past end. May stop early, at a lead position, and
    // leave the rest to the padded copy that the sets without it (null here)
    // convert all last bytes from.
    BulkProgress (*last_blocks)(const std::uint8_t* p, const std::uint8_t* end, std::uint8_t* out,
                                OutputMode mode);
    // Stops early, at a lead position where a change may start.
    const std::uint8_t* (*unchanged_blocks)(const std::uint8_t* p, const std::uint8_t* lead_end,
                                            OutputMode mode);
    const std::uint8_t* (*inspect_blocks)(InspectState& state, const std::uint8_t* p,
                                          const std::uint8_t* end);
    // The output's growth over the blocks; moves p on.
    std::int64_t (*growth_of_blocks)(const std::uint8_t*& p, const std::uint8_t* end,
                                     OutputMode mode);
};

// Each set's table, defined in its folder (kernels/portable, kernels/avx2,
// kernels/avx512).
extern const Kernels PORTABLE_KERNELS;
#ifdef TEXTMEND_HAVE_AVX2_PATH
extern const Kernels AVX2_KERNELS;
extern const Kernels AVX512_KERNELS;
#endif

// What became of the set TEXTMEND_KERNELS asks for (KernelRequest is the
// public header's).
[[nodiscard]] KernelRequest kernel_request_outcome(const char* requested,
                                                   KernelSet best_supported) noexcept;

// The set the environment variable TEXTMEND_KERNELS names ("portable",
// "avx2", "avx512") when the processor supports it, else the best it
// supports. Each set needs what the one before it needs and more, so best
// supported tells which are.
[[nodiscard]] KernelSet choose_kernel_set(const char* requested, KernelSet best_supported) noexcept;

// The widest set this processor runs.
[[nodiscard]] KernelSet best_supported_kernel_set() noexcept;

[[nodiscard]] bool kernel_set_supported(KernelSet set) noexcept;

// Makes set the active one, for tests and fuzz targets that run the engine
// with each set; false (and nothing changed) when the processor cannot run
// it. Not to be called while conversions run on other threads.
bool use_kernel_set(KernelSet set) noexcept;

namespace detail {
extern std::atomic<const Kernels*> active_kernels;
const Kernels& choose_kernels() noexcept;
}  // namespace detail

// The active table: chosen at first use, then one load.
[[nodiscard]] inline const Kernels& kernels() noexcept {
    const Kernels* active = detail::active_kernels.load(std::memory_order_relaxed);
    return active != nullptr ? *active : detail::choose_kernels();
}

}  // namespace textmend
