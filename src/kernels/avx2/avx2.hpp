// The AVX2 kernels: 32-byte blocks, for x86-64 processors with AVX2 (and
// POPCNT). Called through kernels() only, and only when the processor has
// what their target attribute names (ops.hpp).
#pragma once

#include "kernels/simd_support.hpp"

#ifdef TEXTMEND_HAVE_AVX2_PATH

#include <cstdint>

#include "convert/bulk.hpp"
#include "convert/byte_tables.hpp"
#include "convert/inspect.hpp"

namespace textmend {

// First byte in [p, end) with the high bit set, or end.
const std::uint8_t* find_non_ascii_avx2(const std::uint8_t* p, const std::uint8_t* end);
// First byte in [p, end) that is a member of leads, or end.
const std::uint8_t* find_candidate_lead_avx2(const std::uint8_t* p, const std::uint8_t* end,
                                             const CandidateLeads& leads);
// First place in [p, end) where a run of text encoded twice may start, or end.
const std::uint8_t* find_double_run_start_avx2(const std::uint8_t* p, const std::uint8_t* end);

// Whole 32-byte blocks while a block and its look-ahead lie before lead_end,
// stopping at a lead position for the stepwise code to go on from.
BulkProgress bulk_blocks_to_latin1_avx2(const std::uint8_t* p, const std::uint8_t* lead_end,
                                        std::uint8_t* out, OutputMode mode);
BulkProgress bulk_blocks_to_utf8_avx2(const std::uint8_t* p, const std::uint8_t* lead_end,
                                      std::uint8_t* out);
// Stops at the end of the blocks, or early at a lead position where a change
// may start.
const std::uint8_t* bulk_blocks_unchanged_avx2(const std::uint8_t* p, const std::uint8_t* lead_end,
                                               OutputMode mode);

// Counts whole blocks from the lead position p on while a block and the
// bytes a sequence in it may reach lie before end, into state, counting the
// lines of the blocks too while findings are to be reported; a block the
// vectors cannot count, or with a finding to report, is walked unit by unit.
// Returns the lead position it stopped at.
const std::uint8_t* inspect_blocks_avx2(InspectState& state, const std::uint8_t* p,
                                        const std::uint8_t* end);

// How many bytes the conversion writes more (or, negative, fewer) than it
// reads for the whole blocks from the lead position p on, while a block and
// the bytes a sequence in it may reach lie before end; *p is moved to the
// lead position after them. Only the changes are looked at: it is faster
// than counting units.
std::int64_t growth_of_blocks_avx2(const std::uint8_t*& p, const std::uint8_t* end,
                                   OutputMode mode);

}  // namespace textmend

#endif
