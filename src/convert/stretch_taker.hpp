// Another thread that converts stretches of the input beside the one that
// converts the stream: the output's writer thread, which has time to spare
// when writing is quicker than converting. The taker decides how much it
// takes and when; the stream only offers what it has not converted yet.
#pragma once

#include <cstddef>
#include <cstdint>

#include "textmend/target.hpp"

namespace textmend {

// Offers the input not converted yet, [src, src + available). The taker
// may take a prefix of it that converts on its own as within the whole
// input (it ends at a safe_cut), to convert and write after the n bytes at
// filled, which it takes as an exchanging sink does. Returns the count of
// bytes taken: 0 when it takes none (filled stays the caller's); otherwise
// *next is the buffer to fill next, or nullptr with errno set once a write
// has failed. src may be reused as soon as it returns.
using OfferFunction = std::size_t (*)(void* context, std::uint8_t* filled, std::size_t n,
                                      const std::uint8_t* src, std::size_t available, Target target,
                                      std::uint8_t** next);

struct StretchTaker {
    OfferFunction offer = nullptr;
    void* context = nullptr;
};

}  // namespace textmend
