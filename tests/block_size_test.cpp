#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "support/bytes.hpp"
#include "support/convert_memory.hpp"
#include "support/model.hpp"
#include "support/random_text.hpp"

#include "convert/byte_loop.hpp"

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
                    shape.live = !shape.view && pick(rng, 0, 1) == 1;
                    ASSERT_EQ(test::to_hex(test::convert_bytes(input, mode, engine, shape)),
                              test::to_hex(expected))
                        << "mode " << mode << ", block " << block << ", chunk "
                        << shape.source_chunk << ", live " << shape.live << ", output buffer "
                        << shape.output_buffer << ", bulk " << (engine == Engine::BULK)
                        << ", input " << test::to_hex(input);
                }
            }
        }
    }
}

// How many of the last bytes of a piece a sequence the next piece may
// complete holds: a lead byte followed only by continuation bytes, fewer
// than it needs. -u takes leads C2..F4 only, the other modes C0..FD.
std::size_t unfinished_bytes(const std::string& text, OutputMode mode) {
    const auto needs = [mode](unsigned char lead) -> std::size_t {
        if (mode == MODE_UTF8) {
            if (lead < 0xC2 || lead > 0xF4) return 0;
            return lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        }
        if (lead < 0xC0 || lead > 0xFD) return 0;
        return lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : lead < 0xF8 ? 4 : lead < 0xFC ? 5 : 6;
    };
    for (std::size_t k = 1; k <= 5 && k <= text.size(); ++k) {
        const auto lead = static_cast<unsigned char>(text[text.size() - k]);
        if (needs(lead) > k) return k;
        if ((lead & 0xC0) != 0x80) return 0;
    }
    return 0;
}

// A live source given in pieces: before every read after the first, the
// output must hold what the pieces so far decide, and nothing else.
struct LivePieces {
    const std::vector<std::string>* pieces;
    std::size_t next = 0;
    std::string given;
    const std::string* output;
    OutputMode mode;
    std::string fault;
};

std::int64_t read_piece(void* context, std::uint8_t* dst, std::size_t n) {
    LivePieces& live = *static_cast<LivePieces*>(context);
    if (live.next > 0 && live.fault.empty()) {
        const std::size_t held = unfinished_bytes(live.given, live.mode);
        const std::string decided =
            test::model_convert(live.given.substr(0, live.given.size() - held), live.mode);
        if (*live.output != decided) {
            live.fault = "after " + test::to_hex(live.given) + ": " + test::to_hex(*live.output) +
                         ", expected " + test::to_hex(decided);
        }
    }
    if (live.next == live.pieces->size()) return 0;
    const std::string& piece = (*live.pieces)[live.next++];
    if (piece.size() > n) std::abort();  // the pieces are smaller than any read
    std::memcpy(dst, piece.data(), piece.size());
    live.given += piece;
    return static_cast<std::int64_t>(piece.size());
}

TEST(BlockSize, LiveSourceWritesWhatEachReadDecidesBeforeTheNext) {
    std::mt19937_64 rng(20261210);
    for (int round = 0; round < 300; ++round) {
        std::vector<std::string> pieces;
        for (std::size_t n = pick(rng, 1, 8); n > 0; --n)
            pieces.push_back(test::random_mixed_bytes(rng, pick(rng, 1, 40)));
        std::string input;
        for (const std::string& piece : pieces)
            input += piece;
        for (OutputMode mode : {MODE_LATIN1, MODE_CP1252, MODE_UTF8}) {
            const std::string whole = test::model_convert(input, mode);
            std::string output;
            LivePieces live{&pieces, 0, "", &output, mode, ""};
            std::vector<std::uint8_t> in_storage(input_storage_size(64));
            std::vector<std::uint8_t> out_storage(4096);
            InputStream in{};
            OutputStream out{};
            input_init(in, ByteSource{read_piece, &live}, in_storage.data(), 64);
            in.live = true;
            output_init(out, ByteSink{test::string_write, &output}, out_storage.data(),
                        out_storage.size());
            convert_stream(in, out, mode);
            output_flush(out);
            ASSERT_EQ(live.fault, "") << "mode " << mode;
            ASSERT_EQ(test::to_hex(output), test::to_hex(whole)) << "mode " << mode;
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
