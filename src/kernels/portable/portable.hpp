// The portable kernels: 64-bit words, for every processor. They have no
// blocks: the block entries of their table return where they start, and the
// stepwise code does all. The other sets' scanners end with these.
#pragma once

#include <cstdint>

#include "convert/byte_tables.hpp"

namespace textmend {

const std::uint8_t* find_non_ascii_portable(const std::uint8_t* p, const std::uint8_t* end);
const std::uint8_t* find_candidate_lead_portable(const std::uint8_t* p, const std::uint8_t* end,
                                                 const CandidateLeads& leads);
const std::uint8_t* find_double_run_start_portable(const std::uint8_t* p, const std::uint8_t* end);

}  // namespace textmend
