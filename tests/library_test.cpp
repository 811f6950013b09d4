// The public library API: whole buffers, pieces of any size, statistics,
// and several threads at once, against the model.
#include <gtest/gtest.h>
#include <textmend/textmend.hpp>

#include <random>
#include <string>
#include <thread>
#include <vector>

#include "support/bytes.hpp"
#if defined(__unix__)
#include "support/guarded_buffer.hpp"
#endif
#include "support/model.hpp"
#include "support/random_text.hpp"

namespace textmend {
namespace {

const Target TARGETS[] = {Target::latin1, Target::windows1252, Target::utf8};

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
            const std::string expected = test::model_convert(input, target);
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

// A short input, and the last bytes of any input, are converted from a
// padded copy: every input of up to two bytes, and random ones of every
// length around the block sizes, against the model.
TEST(Library, ShortInputsAndTheLastBytesOfInputsGiveTheModelsResult) {
    std::vector<std::string> inputs = {""};
    for (int a = 0; a < 256; ++a) {
        inputs.emplace_back(1, static_cast<char>(a));
        for (int b = 0; b < 256; ++b)
            inputs.push_back({static_cast<char>(a), static_cast<char>(b)});
    }
    std::mt19937_64 rng(33);
    for (std::size_t length = 3; length <= 140; ++length) {
        for (int round = 0; round < 40; ++round)
            inputs.push_back(test::random_mixed_bytes(rng, length));
    }
    for (const std::string& input : inputs) {
        for (Target target : TARGETS) {
            std::string out;
            convert_append(input, out, target);
            ASSERT_EQ(test::to_hex(out), test::to_hex(test::model_convert(input, target)))
                << test::to_hex(input);
        }
    }
}

// Pieces cut just after bytes below 0x80, converted separately, join to the
// conversion of the whole: what splitting a file over machines relies on.
TEST(Library, PiecesCutAfterBytesBelow0x80ConvertSeparately) {
    std::mt19937_64 rng(25);
    for (int round = 0; round < 300; ++round) {
        const std::string input = test::random_mixed_bytes(rng, round * 53 % 4000);
        std::vector<std::size_t> cuts;  // positions just after a byte below 0x80
        for (std::size_t at = 1; at < input.size(); ++at) {
            if (static_cast<unsigned char>(input[at - 1]) < 0x80 && rng() % 8 == 0) {
                cuts.push_back(at);
            }
        }
        cuts.push_back(input.size());
        for (Target target : TARGETS) {
            std::string whole;
            convert_append(input, whole, target);
            std::string joined;
            std::size_t from = 0;
            for (std::size_t to : cuts) {
                std::string piece;  // a fresh conversion for each piece
                convert_append(std::string_view(input).substr(from, to - from), piece, target);
                joined += piece;
                from = to;
            }
            ASSERT_EQ(test::to_hex(joined), test::to_hex(whole))
                << cuts.size() << " pieces of " << test::to_hex(input);
        }
    }
}

// safe_cut finds the last place such a cut may be made, and only that.
TEST(Library, SafeCutIsJustAfterTheLastByteBelow0x80) {
    const struct {
        std::string input;
        std::size_t cut;
    } cases[] = {
        {"", 0},
        {"\xC3", 0},
        {"\xC3\xA9\xE2\x82\xAC\xFF", 0},
        {"a", 1},
        {"caf\xC3\xA9", 3},
        {"\n\xE2\x82", 1},
        {"x\x7F\x80", 2},
        {std::string("ab\0\xC3", 4), 3},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(safe_cut(c.input.data(), c.input.size()), c.cut) << test::to_hex(c.input);
    }

    std::mt19937_64 rng(31);
    for (int round = 0; round < 300; ++round) {
        const std::string input = test::random_mixed_bytes(rng, round * 29 % 3000);
        const std::size_t cut = safe_cut(input.data(), input.size());
        for (std::size_t at = cut; at < input.size(); ++at) {
            ASSERT_GE(static_cast<unsigned char>(input[at]), 0x80) << test::to_hex(input);
        }
        if (cut > 0) {
            ASSERT_LT(static_cast<unsigned char>(input[cut - 1]), 0x80);
        }
        for (Target target : TARGETS) {
            std::string whole, joined;
            convert_append(input, whole, target);
            convert_append(std::string_view(input).substr(0, cut), joined, target);
            std::string rest;
            convert_append(std::string_view(input).substr(cut), rest, target);
            ASSERT_EQ(test::to_hex(joined + rest), test::to_hex(whole)) << test::to_hex(input);
        }
    }
}

// A cut after a high byte does not have that property: it can split a
// sequence, whose halves are then judged as single bytes.
// A piece is held back only from just after its last byte below 0x80: what
// comes before is decided, so a line fed whole comes out whole at once.
// How a piece ends, and how many of its last bytes a stream converter must
// hold back: only a lead byte followed by fewer continuation bytes than its
// sequence needs. The default mode and -w take 5- and 6-byte forms (and C0,
// C1, F5..F7 as leads); -u takes sequences of up to four bytes from C2..F4.
struct PieceEnding {
    const char* piece;
    std::size_t held_single_byte;  // default mode and -w
    std::size_t held_utf8;
};

const PieceEnding PIECE_ENDINGS[] = {
    {"hello world\n", 0, 0},
    {"line1 K\xe4se\n", 0, 0},
    {"caf\xc3\xa9", 0, 0},               // a whole sequence
    {"caf\xc3", 1, 1},                   // a lead byte alone
    {"x\xe2\x82", 2, 2},                 // three-byte sequence, one byte short
    {"\xe2\x82\xac", 0, 0},              // ... complete
    {"\xf0\x9f\x98", 3, 3},              // four-byte sequence, one byte short
    {"\xf0\x9f\x98\x80", 0, 0},          // ... complete
    {"\xf4\x90\x80", 3, 3},              // F4: a lead with -u too
    {"\xf8\x88\x80\x80", 4, 0},          // five-byte form: no lead with -u
    {"\xfc\x84\x80\x80\x80", 5, 0},      // six-byte form, one byte short
    {"\xfc\x84\x80\x80\x80\x80", 0, 0},  // ... complete
    {"\xe9\xe9\xe9 \xf8\x88\x80", 3, 0},
    {"\xc3\xa9\xc3\xa9 \xe2", 1, 1},
    {"\xe4\xe4", 1, 1},      // the first is decided by the second
    {"\xe4\x41\x80", 0, 0},  // a lead cut off by ASCII; a stray byte
    {"\x80\x80\x80", 0, 0},  // continuation bytes with no lead
    {"\xc3\xa9\x80", 0, 0},  // a whole sequence, then a stray byte
    {"\xc0", 1, 0},          // C0: a lead in the default mode only
    {"\xf5\x80", 2, 0},
    {"\xed\xa0", 2, 2},
    {"\xfe\xff", 0, 0},
};

TEST(Library, StreamHoldsBackOnlyASequenceTheNextPieceMayComplete) {
    for (const PieceEnding& ending : PIECE_ENDINGS) {
        const std::string piece = ending.piece;
        for (Target target : TARGETS) {
            const std::size_t held =
                target == Target::utf8 ? ending.held_utf8 : ending.held_single_byte;
            StreamConverter converter = stream_converter(target);
            std::string out;
            stream_feed(converter, piece, out);
            EXPECT_EQ(converter.held_count(), held) << test::to_hex(piece);
            // What was written is final: the conversion of the bytes before
            // the held ones, whatever comes after them.
            EXPECT_EQ(test::to_hex(out), test::to_hex(test::model_convert(
                                             piece.substr(0, piece.size() - held), target)));
            stream_finish(converter, out);
            EXPECT_EQ(test::to_hex(out), test::to_hex(test::model_convert(piece, target)));
            // And the held bytes are joined with the next piece.
            for (const std::string next : {"\x80\x80\x80\x80\x80", "\x41", "\xa9"}) {
                StreamConverter fed = stream_converter(target);
                std::string joined;
                stream_feed(fed, piece, joined);
                stream_feed(fed, next, joined);
                stream_finish(fed, joined);
                EXPECT_EQ(test::to_hex(joined),
                          test::to_hex(test::model_convert(piece + next, target)));
            }
        }
    }
}

void count_finding(const Finding&, void* context) {
    ++*static_cast<std::size_t*>(context);
}

// A stream inspector reports every unit before the bytes it holds back as
// soon as the piece is fed, and the rest when the input ends.
TEST(Library, StreamInspectorHoldsBackOnlyASequenceTheNextPieceMayComplete) {
    for (const PieceEnding& ending : PIECE_ENDINGS) {
        const std::string piece = ending.piece;
        for (Target target : TARGETS) {
            const std::size_t held =
                target == Target::utf8 ? ending.held_utf8 : ending.held_single_byte;
            const Inspection decided = inspect(piece.substr(0, piece.size() - held), target);
            std::size_t found = 0;
            StreamInspector inspector(target, 100, count_finding, &found);
            inspector.feed(piece);
            EXPECT_EQ(found, decided.changed + decided.kept) << test::to_hex(piece);
            const Inspection whole = inspector.finish();
            const Inspection expected = inspect(piece, target);
            EXPECT_EQ(found, expected.changed + expected.kept) << test::to_hex(piece);
            EXPECT_EQ(whole.bytes_out, expected.bytes_out);
        }
    }
}

TEST(Library, PiecesCutAfterAHighByteMayNotJoinToTheWhole) {
    const std::string input = "caf\xC3\xA9";
    std::string whole;
    convert_append(input, whole, Target::utf8);
    std::string joined;
    convert_append(input.substr(0, 4), joined, Target::utf8);
    convert_append(input.substr(4), joined, Target::utf8);
    EXPECT_EQ(test::to_hex(whole), test::to_hex("caf\xC3\xA9"));
    EXPECT_EQ(test::to_hex(joined), test::to_hex("caf\xC3\x83\xC2\xA9"));
}

// The raw interface writes nothing past the room it asks for.
TEST(Library, RawBufferStaysWithinItsRoom) {
    std::mt19937_64 rng(22);
    const std::string input = test::random_mixed_bytes(rng, 1000);
    for (Target target : TARGETS) {
        const std::size_t room = max_converted_size(input.size(), target);
        std::vector<std::uint8_t> out(room + 32, 0xEE);
        const std::size_t n = convert(input.data(), input.size(), out.data(), target);
        ASSERT_EQ(n, converted_size(input, target));
        EXPECT_EQ(std::string(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(n)),
                  test::model_convert(input, target));
        for (std::size_t i = room; i < out.size(); ++i)
            ASSERT_EQ(out[i], 0xEE) << i;
        std::vector<std::uint8_t> appended{1, 2};
        convert_append(reinterpret_cast<const std::uint8_t*>(input.data()), input.size(), appended,
                       target);
        EXPECT_EQ(appended.size(), 2 + n);
    }
}

#if defined(__unix__)
// A buffer of exactly converted_size() bytes is enough for every whole
// conversion: the vector kernels' whole-register stores never reach past it.
TEST(Library, AnExactBufferIsEnoughForEveryWholeConversion) {
    std::mt19937_64 rng(41);
    const std::string units[] = {
        "x", "\xe9", "\xc3\xa9", "\xe2\x82\xac", "\x80", "\xf0\x9f\x98\x80"};
    for (int round = 0; round < 400; ++round) {
        const std::size_t length = round < 100
                                       ? static_cast<std::size_t>(round)
                                       : std::uniform_int_distribution<std::size_t>(0, 10000)(rng);
        std::string input;
        if (round % 2 == 0) {
            input = test::random_mixed_bytes(rng, length);
        } else {  // runs of one kind, which the kernels take a whole block at a time
            while (input.size() < length)
                input += units[rng() % std::size(units)];
        }
        for (Target target : TARGETS) {
            const std::string expected = test::model_convert(input, target);
            const std::size_t exact = converted_size(input.data(), input.size(), target);
            ASSERT_EQ(exact, expected.size());
            const test::GuardedBuffer plain(exact);
            ASSERT_EQ(convert(input.data(), input.size(), plain.data(), target), exact);
            ASSERT_EQ(test::to_hex(std::string(plain.data(), exact)), test::to_hex(expected));
            const test::GuardedBuffer checked(exact);
            const CheckedConversion done =
                convert(input.data(), input.size(), checked.data(), exact, target);
            ASSERT_TRUE(done.fits);
            ASSERT_EQ(std::string(checked.data(), exact), expected);
        }
    }
}

// The last bytes of an input are read where they lie: an input that ends
// just before a page that cannot be read, with a unit at each offset near
// the ends of blocks and of the input (cut short by the end where it
// reaches past it), alone and after a pair that
// crosses the first block's end, converts as the model does into exactly
// its room. The lengths lie around the blocks and where the last bytes
// begin to follow a bulk conversion.
TEST(Library, TheLastBytesAreReadUpToTheirEndAndWrittenUpToTheResultsEnd) {
    const std::string units[] = {"\xc3\xa9", "\xc2\x85", "\xe2\x82\xac", "\xf0\x9f\x98\x80",
                                 "\xe9",     "\x80",     "\xc3",         "\xed\xa0\x80"};
    const std::size_t lengths[] = {1,   2,   3,   63,  64,  65,  66,  127, 128, 129,
                                   130, 191, 192, 193, 390, 391, 392, 393, 394, 457};
    for (const std::size_t length : lengths) {
        const test::GuardedBuffer input(length);
        for (const std::string& unit : units) {
            for (std::size_t at = 0; at < length; ++at) {
                // Offsets near the start, the ends of blocks and the end.
                if (at % 64 > 4 && at % 64 < 60 && length - at > 8) continue;
                for (const bool pair_across_blocks : {false, true}) {
                    std::string text(length, 'a');
                    if (pair_across_blocks && length > 66) text.replace(63, 2, "\xc3\xa9");
                    text.replace(at, std::min(unit.size(), length - at),
                                 unit.substr(0, length - at));
                    std::copy(text.begin(), text.end(), input.data());
                    for (Target target : TARGETS) {
                        const std::string expected = test::model_convert(text, target);
                        const test::GuardedBuffer out(expected.size());
                        ASSERT_EQ(convert(input.data(), length, out.data(), target),
                                  expected.size())
                            << test::to_hex(text) << " to " << target_name(target);
                        ASSERT_EQ(test::to_hex(std::string(out.data(), expected.size())),
                                  test::to_hex(expected))
                            << "to " << target_name(target);
                    }
                }
            }
        }
    }
}
#endif

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

// The exact size, and a conversion into a buffer of a given capacity that
// never writes past it: enough room gives the model's result, one byte less
// gives nothing but the room needed.
TEST(Library, ExactSizeAndCheckedCapacity) {
    std::mt19937_64 rng(25);
    for (int round = 0; round < 60; ++round) {
        const std::string input = test::random_mixed_bytes(rng, round * 211 % 9000);
        for (Target target : TARGETS) {
            const std::string expected = test::model_convert(input, target);
            ASSERT_EQ(converted_size(input, target), expected.size());
            // A piece at a time (the first two), straight into the room with
            // the converters' slack (64 bytes), and with max_converted_size.
            const std::size_t capacities[] = {expected.size(), expected.size() + 1,
                                              expected.size() + 64,
                                              max_converted_size(input.size(), target)};
            for (const std::size_t capacity : capacities) {
                std::vector<std::uint8_t> out(capacity + 80, 0xEE);
                ConversionStats stats;
                const CheckedConversion r =
                    convert(input.data(), input.size(), out.data(), capacity, target, &stats);
                ASSERT_TRUE(r.fits) << capacity;
                EXPECT_EQ(r.size, expected.size());
                EXPECT_TRUE(std::string(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(
                                                                       r.size)) == expected);
                EXPECT_EQ(stats.bytes_out, expected.size());
                for (std::size_t i = capacity; i < out.size(); ++i)
                    ASSERT_EQ(out[i], 0xEE) << "written past the capacity at " << i;
            }
            if (expected.empty()) continue;
            std::vector<std::uint8_t> small(expected.size() - 1 + 80, 0xEE);
            ConversionStats untouched;
            const CheckedConversion r = convert(input.data(), input.size(), small.data(),
                                                expected.size() - 1, target, &untouched);
            EXPECT_FALSE(r.fits);
            EXPECT_EQ(r.size, expected.size());
            EXPECT_EQ(untouched.bytes_in, 0U);
            for (std::size_t i = expected.size() - 1; i < small.size(); ++i)
                ASSERT_EQ(small[i], 0xEE) << "written past the capacity at " << i;
        }
    }
}

// Converters made by default, by their target, or by the 1.0 factory, fed
// through the string and the vector overloads, agree with the model; a
// default-constructed converter is Latin-1 and holds nothing.
TEST(Library, ConvertersAreSafeByConstruction) {
    std::mt19937_64 rng(26);
    const std::string input = test::random_mixed_bytes(rng, 5000);
    StreamConverter by_default;
    EXPECT_EQ(by_default.target, Target::latin1);
    EXPECT_EQ(by_default.held_count(), 0U);
    EXPECT_EQ(by_default.stats.bytes_in, 0U);
    for (Target target : TARGETS) {
        const std::string expected = test::model_convert(input, target);
        StreamConverter made =
            target == Target::latin1 ? StreamConverter{} : StreamConverter{target};
        StreamConverter factory = stream_converter(target);
        std::string into_string;
        std::vector<std::uint8_t> into_vector;
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(input.data());
        for (std::size_t at = 0; at < input.size(); at += 777) {
            const std::size_t n = std::min<std::size_t>(777, input.size() - at);
            stream_feed(made, std::string_view(input).substr(at, n), into_string);
            stream_feed(factory, bytes + at, n, into_vector);
        }
        stream_finish(made, into_string);
        stream_finish(factory, into_vector);
        EXPECT_TRUE(into_string == expected);
        EXPECT_TRUE(std::string(into_vector.begin(), into_vector.end()) == expected);
        EXPECT_EQ(factory.stats.bytes_out, expected.size());
    }
}

TEST(Library, VersionMatchesTheHeader) {
    const std::string header_version = std::to_string(TEXTMEND_VERSION_MAJOR) + "." +
                                       std::to_string(TEXTMEND_VERSION_MINOR) + "." +
                                       std::to_string(TEXTMEND_VERSION_PATCH);
    EXPECT_EQ(std::string(version()), header_version);
}

// Each target's name reads back as the target; other spellings are not
// names (the Python package accepts them through Python's codecs).
TEST(Library, TargetNamesReadBack) {
    for (const TargetName& entry : TARGET_NAMES) {
        Target target = entry.target == Target::utf8 ? Target::latin1 : Target::utf8;
        EXPECT_TRUE(parse_target(target_name(entry.target), target)) << entry.name;
        EXPECT_EQ(target, entry.target) << entry.name;
    }
    for (const char* other : {"", "UTF-8", "utf8", "latin-1", "Latin1", "cp1252", "utf-8 ", "u"}) {
        Target target = Target::windows1252;
        EXPECT_FALSE(parse_target(other, target)) << other;
        EXPECT_EQ(target, Target::windows1252) << other;
    }
}

#ifdef TEXTMEND_HAS_SPAN
TEST(Library, SpansWithCpp20) {
    const std::string text = "caf\xC3\xA9 \xE2\x82\xAC";
    const std::vector<std::uint8_t> input(text.begin(), text.end());
    std::vector<std::uint8_t> out(converted_size(input, Target::windows1252));
    const CheckedConversion r = convert(input, out, Target::windows1252);
    EXPECT_TRUE(r.fits);
    EXPECT_EQ(test::to_hex(std::string(out.begin(), out.end())), "63 61 66 E9 20 80");
    std::vector<Finding> findings(4);
    std::size_t stored = 0;
    const Inspection what = inspect(input, Target::latin1, findings, &stored);
    EXPECT_EQ(what.changed, 1U);
    EXPECT_EQ(what.kept, 1U);
    EXPECT_EQ(stored, 2U);
}
#endif

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
