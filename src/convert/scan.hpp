// Finding the next byte that needs a closer look, many bytes at a time,
// through the active kernels (kernels/kernels.hpp): 32-byte vectors with
// AVX2, else eight bytes at a time in a 64-bit word.
#pragma once

#include <cstdint>

#include "convert/byte_tables.hpp"
#include "kernels/kernels.hpp"

namespace textmend {

// First byte in [p, end) with the high bit set, or end.
inline const std::uint8_t* find_non_ascii(const std::uint8_t* p, const std::uint8_t* end) {
    return kernels().find_non_ascii(p, end);
}

// First byte in [p, end) that is a member of leads, or end.
inline const std::uint8_t* find_candidate_lead(const std::uint8_t* p, const std::uint8_t* end,
                                               const CandidateLeads& leads) {
    return kernels().find_candidate_lead(p, end, leads);
}

}  // namespace textmend
