// The public library API: whole buffers, pieces of any size, statistics,
// and several threads at once, against the model.
#include <gtest/gtest.h>
#include <textmend/textmend.hpp>

#include <random>
#include <string>
#include <thread>
#include <vector>

#include "support/bytes.hpp"
#include "support/model.hpp"
#include "support/random_text.hpp"

namespace textmend {
namespace {

const Target TARGETS[] = {Target::latin1, Target::windows1252, Target::utf8};

OutputMode mode_of(Target t) {
    return static_cast<OutputMode>(static_cast<int>(t));
}

std::string stream_in_pieces(const std::string& input, Target target, std::mt19937_64& rng,
                             std::size_t largest_piece, ConversionStats* stats = nullptr) {
    StreamConverter converter = stream_converter(target);
    std::string out;
    for (std::size_t at = 0; at < input.size();) {
        const std::size_t n = std::min(
            input.size() - at, std::uniform_int_distribution<std::size_t>(0, largest_piece)(rng));
        stream_feed(converter, std::string_view(input).substr(at, n), out);
        at += n;
    }
    stream_finish(converter, out);
    if (stats != nullptr) *stats = converter.stats;
    return out;
}

TEST(Library, WholeBuffersAndPiecesOfAnySizeGiveTheModelsResult) {
    std::mt19937_64 rng(21);
    for (int round = 0; round < 150; ++round) {
        const std::string input = test::random_mixed_bytes(rng, round * 37 % 3000);
        for (Target target : TARGETS) {
            const std::string expected = test::model_convert(input, mode_of(target));
            std::string whole = "prefix:";
            convert_append(input, whole, target);
            ASSERT_EQ(whole, "prefix:" + expected);
            for (std::size_t largest : {1, 3, 9, 64, 5000}) {
                ASSERT_EQ(test::to_hex(stream_in_pieces(input, target, rng, largest)),
                          test::to_hex(expected))
                    << "pieces up to " << largest << ", input " << test::to_hex(input);
            }
        }
    }
}

// The raw interface writes nothing past the room it asks for.
TEST(Library, RawBufferStaysWithinItsRoom) {
    std::mt19937_64 rng(22);
    const std::string input = test::random_mixed_bytes(rng, 1000);
    for (Target target : TARGETS) {
        const std::size_t room = max_converted_size(input.size(), target);
        std::vector<std::uint8_t> out(room + 32, 0xEE);
        const std::size_t n = convert(input.data(), input.size(), out.data(), target);
        EXPECT_EQ(std::string(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(n)),
                  test::model_convert(input, mode_of(target)));
        for (std::size_t i = room; i < out.size(); ++i)
            ASSERT_EQ(out[i], 0xEE) << i;
        std::vector<std::uint8_t> appended{1, 2};
        convert_append(reinterpret_cast<const std::uint8_t*>(input.data()), input.size(), appended,
                       target);
        EXPECT_EQ(appended.size(), 2 + n);
    }
}

TEST(Library, StatisticsTellWhetherTheInputNeededRepair) {
    const struct {
        const char* input;
        Target target;
        bool changed;
    } cases[] = {
        {"plain ASCII", Target::utf8, false},
        {"caf\xC3\xA9", Target::utf8, false},
        {"caf\xC3\xA9", Target::latin1, true},
        {"caf\xE9", Target::latin1, false},
        {"caf\xE9", Target::utf8, true},
        {"\xE2\x82\xAC", Target::latin1, false},
        {"\xE2\x82\xAC", Target::windows1252, true},
        {"\x81\x8D", Target::utf8, false},
    };
    std::mt19937_64 rng(23);
    for (const auto& c : cases) {
        ConversionStats whole;
        std::string out;
        convert_append(c.input, out, c.target, &whole);
        EXPECT_EQ(whole.changed(), c.changed) << c.input;
        EXPECT_EQ(whole.bytes_in, std::string(c.input).size());
        EXPECT_EQ(whole.bytes_out, out.size());
        ConversionStats streamed;
        stream_in_pieces(c.input, c.target, rng, 2, &streamed);
        EXPECT_EQ(streamed.bytes_in, whole.bytes_in) << c.input;
        EXPECT_EQ(streamed.bytes_out, whole.bytes_out) << c.input;
    }
}

// Separate converters on separate threads give what one thread gives.
TEST(Library, SeveralThreadsAtOnce) {
    std::mt19937_64 rng(24);
    std::vector<std::string> inputs;
    for (int i = 0; i < 8; ++i)
        inputs.push_back(test::random_mixed_bytes(rng, 200000));
    std::vector<std::string> expected;
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        std::string out;
        convert_append(inputs[i], out, TARGETS[i % 3]);
        expected.push_back(out);
    }
    std::vector<std::string> results(inputs.size());
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        threads.emplace_back([&, i] {
            std::mt19937_64 local(i);
            for (int repeat = 0; repeat < 5; ++repeat) {
                results[i] = stream_in_pieces(inputs[i], TARGETS[i % 3], local, 4096);
                if (results[i] != expected[i]) return;
            }
        });
    }
    for (std::thread& t : threads)
        t.join();
    for (std::size_t i = 0; i < inputs.size(); ++i)
        EXPECT_TRUE(results[i] == expected[i]) << i;
}

}  // namespace
}  // namespace textmend
