#include <gtest/gtest.h>

#include <random>
#include <string>

#include "support/bytes.hpp"
#include "support/convert_memory.hpp"
#include "support/model.hpp"
#include "support/random_text.hpp"

namespace textmend {
namespace {

// The output must not depend on how the input arrives: tiny blocks put a block
// boundary inside nearly every look-ahead, and short reads from the source do
// the same for a pipe. Every result is checked against an independent model.
TEST(BlockSize, OutputIsTheSameForEveryBlockSizeAndAgreesWithTheModel) {
    std::mt19937_64 rng(20261208);
    const std::size_t blocks[] = {1, 2, 3, 5, 7, 64, 128 * 1024};
    for (int round = 0; round < 200; ++round) {
        const std::size_t length = std::uniform_int_distribution<std::size_t>(0, 600)(rng);
        const std::string input = test::random_mixed_bytes(rng, length);
        for (OutputMode mode : {MODE_LATIN1, MODE_CP1252, MODE_UTF8}) {
            const std::string expected = test::model_convert(input, mode);
            for (std::size_t block : blocks) {
                const std::size_t chunk = std::uniform_int_distribution<std::size_t>(0, 4)(rng);
                ASSERT_EQ(test::to_hex(test::convert_bytes(input, mode, block, chunk)),
                          test::to_hex(expected))
                    << "mode " << mode << ", block " << block << ", chunk " << chunk << ", input "
                    << test::to_hex(input);
            }
        }
    }
}

}  // namespace
}  // namespace textmend
