// Finding the next byte that needs a closer look, many bytes at a time: with
// AVX2 where the processor has it (checked once per call, at run time), else
// eight bytes at a time in a 64-bit word.
#pragma once

#include <cstdint>

#include "convert/byte_tables.hpp"

namespace textmend {

// Whether this build has the AVX2 code and the processor can run it.
bool cpu_has_avx2();

// First byte in [p, end) with the high bit set, or end.
const std::uint8_t* find_non_ascii(const std::uint8_t* p, const std::uint8_t* end);

// First byte in [p, end) that is a member of leads, or end.
const std::uint8_t* find_candidate_lead(const std::uint8_t* p, const std::uint8_t* end,
                                        const CandidateLeads& leads);

// The same two searches without vector instructions, for processors without
// AVX2 and for tests that compare the two.
const std::uint8_t* find_non_ascii_portable(const std::uint8_t* p, const std::uint8_t* end);
const std::uint8_t* find_candidate_lead_portable(const std::uint8_t* p, const std::uint8_t* end,
                                                 const CandidateLeads& leads);

}  // namespace textmend
