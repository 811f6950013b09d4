// Random inputs for differential tests, biased towards what is hard: high
// bytes, sequences cut short, overlong and 5-/6-byte forms, and text that
// mixes UTF-8 with Latin-1 and Windows-1252.
#pragma once

#include <cstdint>
#include <random>
#include <string>

namespace textmend::test {

std::string random_mixed_bytes(std::mt19937_64& rng, std::size_t length);

}  // namespace textmend::test
