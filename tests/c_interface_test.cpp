// The C interface: every wrong argument is a status, nothing is written past
// the capacity given, a buffer of the size a call reports is enough, and the
// results are the model's, whole and in pieces.
#include <gtest/gtest.h>
#include <textmend/textmend.h>
#include <textmend/textmend.hpp>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "support/bytes.hpp"
#include "support/guarded_buffer.hpp"
#include "support/model.hpp"
#include "support/random_text.hpp"

namespace textmend {
namespace {

const textmend_target C_TARGETS[] = {TEXTMEND_LATIN1, TEXTMEND_WINDOWS1252, TEXTMEND_UTF8};
const auto NOT_A_TARGET = static_cast<textmend_target>(0);

std::string model(const std::string& input, textmend_target target) {
    return test::model_convert(input, static_cast<Target>(target));
}

TEST(CInterface, WrongArgumentsAreAStatusAndChangeNothing) {
    char out[64] = {};
    std::size_t result = 99;
    textmend_stream* stream = nullptr;
    ASSERT_EQ(textmend_stream_new(TEXTMEND_UTF8, &stream), TEXTMEND_OK);
    std::uint64_t in = 0;
    std::uint64_t written = 0;
    textmend_inspection inspection{};
    textmend_stream* refused = stream;
    const struct {
        const char* call;
        textmend_status status;
    } calls[] = {
        {"convert: no input", textmend_convert(nullptr, 3, TEXTMEND_UTF8, out, 64, &result)},
        {"convert: no output", textmend_convert("abc", 3, TEXTMEND_UTF8, nullptr, 64, &result)},
        {"convert: no result", textmend_convert("abc", 3, TEXTMEND_UTF8, out, 64, nullptr)},
        {"convert: target", textmend_convert("abc", 3, NOT_A_TARGET, out, 64, &result)},
        {"converted_size: no input", textmend_converted_size(nullptr, 1, TEXTMEND_UTF8, &result)},
        {"converted_size: target", textmend_converted_size("a", 1, NOT_A_TARGET, &result)},
        {"converted_size: no result", textmend_converted_size("a", 1, TEXTMEND_UTF8, nullptr)},
        {"stream_new: target", textmend_stream_new(NOT_A_TARGET, &refused)},
        {"stream_new: no handle", textmend_stream_new(TEXTMEND_UTF8, nullptr)},
        {"feed: no stream", textmend_stream_feed(nullptr, "a", 1, out, 64, &result)},
        {"feed: no piece", textmend_stream_feed(stream, nullptr, 1, out, 64, &result)},
        {"feed: no output", textmend_stream_feed(stream, "a", 1, nullptr, 64, &result)},
        {"feed: no result", textmend_stream_feed(stream, "a", 1, out, 64, nullptr)},
        {"finish: no stream", textmend_stream_finish(nullptr, out, 64, &result)},
        {"finish: no output", textmend_stream_finish(stream, nullptr, 64, &result)},
        {"counts: no stream", textmend_stream_counts(nullptr, &in, &written)},
        {"counts: no place", textmend_stream_counts(stream, nullptr, &written)},
        {"inspect: no input", textmend_inspect(nullptr, 2, TEXTMEND_UTF8, &inspection)},
        {"inspect: target", textmend_inspect("ab", 2, NOT_A_TARGET, &inspection)},
        {"inspect: no result", textmend_inspect("ab", 2, TEXTMEND_UTF8, nullptr)},
    };
    for (const auto& c : calls)
        EXPECT_EQ(c.status, TEXTMEND_WRONG_ARGUMENT) << c.call;
    EXPECT_EQ(result, 99U);
    EXPECT_EQ(std::string(out, sizeof out), std::string(sizeof out, '\0'));
    EXPECT_EQ(refused, nullptr);  // a refused handle is cleared
    textmend_stream_free(stream);

    textmend_stream* fresh = nullptr;
    ASSERT_EQ(textmend_stream_new(TEXTMEND_LATIN1, &fresh), TEXTMEND_OK);
    ASSERT_EQ(textmend_stream_counts(fresh, &in, &written), TEXTMEND_OK);
    EXPECT_EQ(in + written, 0U);
    textmend_stream_free(fresh);
    textmend_stream_free(nullptr);
}

TEST(CInterface, NoBytesMayComeWithNullPointers) {
    std::size_t result = 99;
    EXPECT_EQ(textmend_convert(nullptr, 0, TEXTMEND_UTF8, nullptr, 0, &result), TEXTMEND_OK);
    EXPECT_EQ(result, 0U);
    EXPECT_EQ(textmend_converted_size(nullptr, 0, TEXTMEND_LATIN1, &result), TEXTMEND_OK);
    EXPECT_EQ(result, 0U);
    // An empty piece as a null pointer, with and without held bytes.
    textmend_stream* stream = nullptr;
    ASSERT_EQ(textmend_stream_new(TEXTMEND_UTF8, &stream), TEXTMEND_OK);
    EXPECT_EQ(textmend_stream_feed(stream, nullptr, 0, nullptr, 0, &result), TEXTMEND_OK);
    EXPECT_EQ(result, 0U);
    EXPECT_EQ(textmend_stream_feed(stream, "\xc3", 1, nullptr, 0, &result), TEXTMEND_OK);
    EXPECT_EQ(result, 0U);  // held back: the next piece may complete it
    EXPECT_EQ(textmend_stream_feed(stream, nullptr, 0, nullptr, 0, &result), TEXTMEND_OK);
    char out[8];
    EXPECT_EQ(textmend_stream_finish(stream, out, sizeof out, &result), TEXTMEND_OK);
    EXPECT_EQ(std::string(out, result), "\xc3\x83");
    textmend_stream_free(stream);
    StreamInspector inspector(Target::utf8);
    inspector.feed("\xc3", 1);
    inspector.feed(nullptr, 0);
    EXPECT_EQ(inspector.finish().changed, 1U);
    // Asking for the size: no room at all.
    EXPECT_EQ(textmend_convert("caf\xe9", 4, TEXTMEND_UTF8, nullptr, 0, &result),
              TEXTMEND_BUFFER_TOO_SMALL);
    EXPECT_EQ(result, 5U);
}

TEST(CInterface, VersionStatusTextsAndBounds) {
    EXPECT_STREQ(textmend_version(), version());
    EXPECT_STREQ(textmend_status_text(TEXTMEND_OK), "ok");
    EXPECT_STREQ(textmend_status_text(TEXTMEND_WRONG_ARGUMENT), "wrong argument");
    EXPECT_STREQ(textmend_status_text(TEXTMEND_BUFFER_TOO_SMALL), "buffer too small");
    EXPECT_STREQ(textmend_status_text(TEXTMEND_OUT_OF_MEMORY), "out of memory");
    for (const textmend_target target : C_TARGETS) {
        EXPECT_EQ(textmend_max_converted_size(1000, target),
                  max_converted_size(1000, static_cast<Target>(target)));
        EXPECT_EQ(textmend_max_converted_size(SIZE_MAX / 2, target) == 0, target == TEXTMEND_UTF8);
        EXPECT_EQ(textmend_max_converted_size(SIZE_MAX, target), 0U);
    }
    EXPECT_EQ(textmend_max_converted_size(10, NOT_A_TARGET), 0U);
}

// The C cut is the C++ one; no bytes may come with a null pointer.
TEST(CInterface, SafeCutIsTheLibrarys) {
    EXPECT_EQ(textmend_safe_cut(nullptr, 0), 0U);
    for (const std::string input : {"", "\xC3", "caf\xC3\xA9", "a\nb\xE2\x82", "\x80\x81"}) {
        EXPECT_EQ(textmend_safe_cut(input.data(), input.size()),
                  safe_cut(input.data(), input.size()))
            << input;
    }
    EXPECT_EQ(textmend_safe_cut("a\nb\xE2\x82", 5), 3U);
}

// With options: the C++ conversion with the same options, the room needed
// told, and an unknown option refused.
TEST(CInterface, ConvertWithUndoesDoubleEncodingAsTheLibraryDoes) {
    const std::string input = "caf\xC3\x83\xC2\xA9 d\xC3\x83\xC2\xA9j\xC3\x83\xC2\xA0\n\xC3\xA9\n";
    for (const textmend_target target : C_TARGETS) {
        for (const unsigned options : {0U, unsigned{TEXTMEND_UNDO_DOUBLE_ENCODING}}) {
            std::string expected(max_converted_size(input.size(), static_cast<Target>(target)),
                                 '\0');
            const CheckedConversion done =
                convert(input.data(), input.size(), expected.data(), expected.size(),
                        static_cast<Target>(target),
                        ConversionOptions{.undo_double_encoding = options != 0});
            expected.resize(done.size);
            std::string out(expected.size(), '\0');
            std::size_t n = 0;
            EXPECT_EQ(textmend_convert_with(input.data(), input.size(), target, options, out.data(),
                                            out.size() - 1, &n),
                      TEXTMEND_BUFFER_TOO_SMALL);
            EXPECT_EQ(n, expected.size());
            ASSERT_EQ(textmend_convert_with(input.data(), input.size(), target, options, out.data(),
                                            out.size(), &n),
                      TEXTMEND_OK);
            EXPECT_EQ(out.substr(0, n), expected);
        }
    }
    std::size_t n = 0;
    char out[64];
    EXPECT_EQ(textmend_convert_with("a", 1, TEXTMEND_UTF8, 2, out, sizeof out, &n),
              TEXTMEND_WRONG_ARGUMENT);
    std::string undone(64, '\0');
    ASSERT_EQ(
        textmend_convert_with(input.data(), input.size(), TEXTMEND_UTF8,
                              TEXTMEND_UNDO_DOUBLE_ENCODING, undone.data(), undone.size(), &n),
        TEXTMEND_OK);
    EXPECT_EQ(undone.substr(0, n), "caf\xC3\xA9 d\xC3\xA9j\xC3\xA0\n\xC3\xA9\n");
}

// Random inputs of 0 to 10,000 bytes: the size asked for first, then the
// conversion into exactly that many bytes before a guard page, and one byte
// less refused without a byte written.
TEST(CInterface, WholeConversionsFitTheSizeTheyReport) {
    std::mt19937_64 rng(5150);
    for (int round = 0; round < 150; ++round) {
        const std::size_t length = round < 40
                                       ? static_cast<std::size_t>(round)
                                       : std::uniform_int_distribution<std::size_t>(0, 10000)(rng);
        const std::string input = test::random_mixed_bytes(rng, length);
        for (const textmend_target target : C_TARGETS) {
            const std::string expected = model(input, target);
            std::size_t needed = 0;
            const textmend_status asked =
                textmend_convert(input.data(), input.size(), target, nullptr, 0, &needed);
            ASSERT_EQ(asked, expected.empty() ? TEXTMEND_OK : TEXTMEND_BUFFER_TOO_SMALL);
            ASSERT_EQ(needed, expected.size());
            std::size_t sized = 0;
            ASSERT_EQ(textmend_converted_size(input.data(), input.size(), target, &sized),
                      TEXTMEND_OK);
            ASSERT_EQ(sized, needed);

            const test::GuardedBuffer exact(needed);
            std::size_t written = 0;
            ASSERT_EQ(textmend_convert(input.data(), input.size(), target, exact.data(), needed,
                                       &written),
                      TEXTMEND_OK);
            ASSERT_EQ(written, needed);
            ASSERT_EQ(test::to_hex(std::string(exact.data(), written)), test::to_hex(expected));

            if (needed > 0) {
                std::string short_buffer(needed - 1, '\x5a');
                ASSERT_EQ(textmend_convert(input.data(), input.size(), target, short_buffer.data(),
                                           short_buffer.size(), &written),
                          TEXTMEND_BUFFER_TOO_SMALL);
                EXPECT_EQ(written, needed);
                EXPECT_EQ(short_buffer, std::string(needed - 1, '\x5a'));
            }

            textmend_inspection found{};
            ASSERT_EQ(textmend_inspect(input.data(), input.size(), target, &found), TEXTMEND_OK);
            const Inspection cxx = inspect(input, static_cast<Target>(target));
            EXPECT_EQ(found.bytes_in, input.size());
            EXPECT_EQ(found.bytes_out, expected.size());
            EXPECT_EQ(found.changed, cxx.changed);
            EXPECT_EQ(found.kept, cxx.kept);
        }
    }
}

// Feeds a piece the way a careful caller does: asks with no room first,
// then gives exactly the room reported, before a guard page. A refused
// call must leave the stream as it was.
std::string feed_exactly(textmend_stream* stream, const std::string& piece) {
    std::size_t needed = 0;
    const textmend_status asked =
        textmend_stream_feed(stream, piece.data(), piece.size(), nullptr, 0, &needed);
    if (asked == TEXTMEND_OK) {
        EXPECT_EQ(needed, 0U);
        return "";
    }
    EXPECT_EQ(asked, TEXTMEND_BUFFER_TOO_SMALL);
    const test::GuardedBuffer room(needed);
    std::size_t written = 0;
    EXPECT_EQ(
        textmend_stream_feed(stream, piece.data(), piece.size(), room.data(), needed, &written),
        TEXTMEND_OK);
    EXPECT_EQ(written, needed);
    return std::string(room.data(), written);
}

std::string finish_exactly(textmend_stream* stream) {
    std::size_t needed = 0;
    if (textmend_stream_finish(stream, nullptr, 0, &needed) == TEXTMEND_OK) return "";
    const test::GuardedBuffer room(needed);
    std::size_t written = 0;
    EXPECT_EQ(textmend_stream_finish(stream, room.data(), needed, &written), TEXTMEND_OK);
    EXPECT_EQ(written, needed);
    return std::string(room.data(), written);
}

TEST(CInterface, StreamsInPiecesFitTheRoomTheyReportAndGiveTheWhole) {
    std::mt19937_64 rng(6262);
    for (int round = 0; round < 120; ++round) {
        const std::size_t length = std::uniform_int_distribution<std::size_t>(0, 10000)(rng);
        const std::string input = test::random_mixed_bytes(rng, length);
        const std::size_t piece_max = round % 3 == 0 ? 9 : 3000;
        for (const textmend_target target : C_TARGETS) {
            textmend_stream* stream = nullptr;
            ASSERT_EQ(textmend_stream_new(target, &stream), TEXTMEND_OK);
            std::string output;
            for (std::size_t at = 0; at < input.size();) {
                const std::size_t n =
                    std::min(input.size() - at,
                             std::uniform_int_distribution<std::size_t>(1, piece_max)(rng));
                output += feed_exactly(stream, input.substr(at, n));
                at += n;
            }
            output += finish_exactly(stream);
            ASSERT_EQ(test::to_hex(output), test::to_hex(model(input, target)))
                << "target " << target;
            std::uint64_t in = 0;
            std::uint64_t out = 0;
            ASSERT_EQ(textmend_stream_counts(stream, &in, &out), TEXTMEND_OK);
            EXPECT_EQ(in, input.size());
            EXPECT_EQ(out, output.size());

            // With the quick bound as room, the same in one piece.
            std::vector<char> room(textmend_max_converted_size(input.size(), target) + 1);
            std::size_t written = 0;
            ASSERT_EQ(textmend_stream_feed(stream, input.data(), input.size(), room.data(),
                                           room.size(), &written),
                      TEXTMEND_OK);
            std::string again(room.data(), written);
            again += finish_exactly(stream);
            EXPECT_EQ(again, output);
            textmend_stream_free(stream);
        }
    }
}

}  // namespace
}  // namespace textmend
