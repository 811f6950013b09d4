// The AVX-512 kernels: 64-byte blocks, for processors with AVX-512 F, VL,
// BW, VBMI and VBMI2, BMI2 and POPCNT (ops.hpp's target). The set's scanners
// (but the one for runs of text encoded twice) are AVX2's. Called through
// kernels() only.
#pragma once

#include "kernels/simd_support.hpp"

#ifdef TEXTMEND_HAVE_AVX2_PATH

#include <cstdint>

#include "convert/bulk.hpp"
#include "convert/inspect.hpp"

namespace textmend {

// As their AVX2 counterparts (kernels/avx2/avx2.hpp), 64 bytes at a time.
BulkProgress bulk_blocks_to_latin1_avx512(const std::uint8_t* p, const std::uint8_t* lead_end,
                                          std::uint8_t* out, OutputMode mode);
BulkProgress bulk_blocks_to_utf8_avx512(const std::uint8_t* p, const std::uint8_t* lead_end,
                                        std::uint8_t* out);
// The last bytes of an input, any mode (the kernels' table, last_blocks).
BulkProgress last_blocks_avx512(const std::uint8_t* p, const std::uint8_t* end, std::uint8_t* out,
                                OutputMode mode);
// -u alone: last_blocks_avx512 goes to it.
BulkProgress last_blocks_to_utf8_avx512(const std::uint8_t* p, const std::uint8_t* end,
                                        std::uint8_t* out);
const std::uint8_t* bulk_blocks_unchanged_avx512(const std::uint8_t* p,
                                                 const std::uint8_t* lead_end, OutputMode mode);
// -u alone: bulk_blocks_unchanged_avx512 goes to it.
const std::uint8_t* unchanged_utf8_blocks_avx512(const std::uint8_t* p,
                                                 const std::uint8_t* lead_end);
// The output's growth over the blocks (the kernels' table, growth_of_blocks).
std::int64_t growth_of_blocks_avx512(const std::uint8_t*& p, const std::uint8_t* end,
                                     OutputMode mode);
// -u alone: growth_of_blocks_avx512 goes to it.
std::int64_t utf8_growth_of_blocks_avx512(const std::uint8_t*& p, const std::uint8_t* end);
// The default mode and -w: growth_of_blocks_avx512 goes to it.
std::int64_t single_byte_growth_of_blocks_avx512(const std::uint8_t*& p, const std::uint8_t* end,
                                                 OutputMode mode);
const std::uint8_t* inspect_blocks_avx512(InspectState& state, const std::uint8_t* p,
                                          const std::uint8_t* end);
// First place in [p, end) where a run of text encoded twice may start, or end.
const std::uint8_t* find_double_run_start_avx512(const std::uint8_t* p, const std::uint8_t* end);

}  // namespace textmend

#endif
