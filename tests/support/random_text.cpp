#include "support/random_text.hpp"

namespace textmend::test {

namespace {

unsigned pick(std::mt19937_64& rng, unsigned low, unsigned high) {
    return std::uniform_int_distribution<unsigned>(low, high)(rng);
}

// A sequence of the form lead + n-1 continuation bytes, perhaps overlong,
// perhaps of 5 or 6 bytes, perhaps cut short or with one byte spoiled.
std::string random_sequence(std::mt19937_64& rng) {
    static const unsigned leads[][2] = {
        {0xC0, 0xDF}, {0xE0, 0xEF}, {0xF0, 0xF7}, {0xF8, 0xFB}, {0xFC, 0xFD}};
    const unsigned kind = pick(rng, 0, 9) < 7 ? pick(rng, 0, 1) : pick(rng, 2, 4);
    std::string s(1, static_cast<char>(pick(rng, leads[kind][0], leads[kind][1])));
    const unsigned n = kind + 2;
    for (unsigned i = 1; i < n; ++i)
        s.push_back(static_cast<char>(pick(rng, 0x80, 0xBF)));
    const unsigned damage = pick(rng, 0, 9);
    if (damage == 0) s.resize(pick(rng, 1, n - 1));
    if (damage == 1) s[pick(rng, 1, n - 1)] = static_cast<char>(pick(rng, 0, 0xFF));
    return s;
}

}  // namespace

std::string random_mixed_bytes(std::mt19937_64& rng, std::size_t length) {
    std::string out;
    while (out.size() < length) {
        switch (pick(rng, 0, 5)) {
            case 0:
            case 1:
                out.push_back(static_cast<char>(pick(rng, 0x20, 0x7E)));
                break;
            case 2:
                out.push_back(static_cast<char>(pick(rng, 0x80, 0xFF)));
                break;
            case 3:
                out.push_back(static_cast<char>(pick(rng, 0, 0xFF)));
                break;
            default:
                out += random_sequence(rng);
                break;
        }
    }
    out.resize(length);
    return out;
}

}  // namespace textmend::test
