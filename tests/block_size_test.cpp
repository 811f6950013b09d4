#include <gtest/gtest.h>

#include <random>
#include <string>

#include "support/bytes.hpp"
#include "support/convert_memory.hpp"
#include "support/model.hpp"
#include "support/random_text.hpp"

namespace textmend {
namespace {

using test::Engine;
using test::StreamShape;

std::size_t pick(std::mt19937_64& rng, std::size_t low, std::size_t high) {
    return std::uniform_int_distribution<std::size_t>(low, high)(rng);
}

// The output must not depend on how the input arrives or which engine runs:
// tiny blocks put a block boundary inside nearly every look-ahead, short
// reads from the source do the same for a pipe, and small output buffers
// make the bulk path stop and flush often. Every result is checked against an
// independent model.
TEST(BlockSize, EveryEngineBlockAndBufferSizeAgreesWithTheModel) {
    std::mt19937_64 rng(20261208);
    const std::size_t blocks[] = {1, 2, 3, 5, 7, 64, 128 * 1024};
    for (int round = 0; round < 200; ++round) {
        const std::string input = test::random_mixed_bytes(rng, pick(rng, 0, 600));
        for (OutputMode mode : {MODE_LATIN1, MODE_CP1252, MODE_UTF8}) {
            const std::string expected = test::model_convert(input, mode);
            for (std::size_t block : blocks) {
                for (Engine engine : {Engine::BULK, Engine::BYTEWISE}) {
                    StreamShape shape;
                    shape.read_block = block;
                    shape.source_chunk = pick(rng, 0, 4);
                    shape.output_buffer = pick(rng, 0, 1) ? 256 : pick(rng, 1, 300);
                    shape.view = pick(rng, 0, 1) == 1;
                    ASSERT_EQ(test::to_hex(test::convert_bytes(input, mode, engine, shape)),
                              test::to_hex(expected))
                        << "mode " << mode << ", block " << block << ", chunk "
                        << shape.source_chunk << ", output buffer " << shape.output_buffer
                        << ", bulk " << (engine == Engine::BULK) << ", input "
                        << test::to_hex(input);
                }
            }
        }
    }
}

// Large inputs cross many windows of the normal size.
TEST(BlockSize, LargeInputsAcrossManyWindows) {
    std::mt19937_64 rng(99);
    const std::string input = test::random_mixed_bytes(rng, 1 << 20);
    for (OutputMode mode : {MODE_LATIN1, MODE_CP1252, MODE_UTF8}) {
        const std::string expected = test::model_convert(input, mode);
        for (std::size_t block : {std::size_t{4093}, std::size_t{128 * 1024}}) {
            for (bool view : {false, true}) {
                StreamShape shape;
                shape.read_block = block;
                shape.source_chunk = view ? block : 0;
                shape.output_buffer = 1000;
                shape.view = view;
                EXPECT_TRUE(test::convert_bytes(input, mode, Engine::BULK, shape) == expected)
                    << "mode " << mode << ", block " << block << ", view " << view;
            }
        }
        EXPECT_TRUE(test::convert_bytes(input, mode, Engine::BYTEWISE) == expected)
            << "mode " << mode;
    }
}

}  // namespace
}  // namespace textmend
