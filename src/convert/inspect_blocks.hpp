// What the inspection's block kernels (kernels/avx2, kernels/avx512) share
// with the unit walk: they count the units of whole blocks with vector
// operations, the same counts as the unit walk, block for block, and walk a
// block with a finding still to be reported unit by unit.
#pragma once

#include <bit>
#include <cstdint>

#include "convert/byte_tables.hpp"
#include "convert/inspect.hpp"
#include "encoding/target_byte.hpp"
#include "encoding/utf8.hpp"

namespace textmend {

// The default mode and -w: of the sequences whose leads are marked in
// lanes (bit i for p[i], a 32- or 64-bit mask), those that change, decoded
// one by one: the few whose lead is a candidate but not C0..C3. Adds them
// to changed, and the bytes the output loses to shrink.
template <typename Lanes>
inline void count_decoded_changes(const std::uint8_t* p, Lanes lanes, OutputMode mode,
                                  std::int64_t& changed, std::int64_t& shrink) {
    for (; lanes != 0; lanes &= lanes - 1) {
        const std::uint8_t* lead = p + __builtin_ctzll(lanes);
        const std::int32_t n = PERMISSIVE_LENGTHS[*lead];
        if (target_byte(utf8_decode_at(lead, n), mode) >= 0) {
            ++changed;
            shrink += n - 1;
        }
    }
}

// The growth kernels (converted_size) of the default mode and -w: takes off
// growth the bytes the output loses to the sequences started by the
// candidate leads marked in lanes, decoded one by one. A lead here is not
// known to start a sequence, so its continuation bytes are checked first.
template <typename Lanes>
inline void subtract_candidate_shrink(const std::uint8_t* p, Lanes lanes, OutputMode mode,
                                      std::int64_t& growth) {
    for (; lanes != 0; lanes &= lanes - 1) {
        const std::uint8_t* lead = p + std::countr_zero(lanes);
        const std::int32_t n = PERMISSIVE_LENGTHS[*lead];
        if (utf8_continues(lead, n) && target_byte(utf8_decode_at(lead, n), mode) >= 0)
            growth -= n - 1;
    }
}

// The unit walk over the units that start in [p, lead_end), with the bytes
// up to end readable: returns the first lead position at or after lead_end
// (or where it stopped for want of bytes when the input goes on).
const std::uint8_t* inspect_units(InspectState& state, const std::uint8_t* p,
                                  const std::uint8_t* lead_end, const std::uint8_t* end,
                                  bool input_ends);

}  // namespace textmend
