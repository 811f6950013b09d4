// The writer thread: output handed over a buffer at a time arrives complete
// and in order whatever the sink does, stretches of input it takes are
// converted and written in their place, a failed write stops the conversion
// with its errno, and whole file conversions through it give the bytes of a
// conversion without it, failures included. CI runs these under
// ThreadSanitizer too (the tsan preset).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "cli/file_conversion.hpp"
#include "cli/writer/background_writer.hpp"
#include "cli/writer/spinning_condition.hpp"
#include "convert/output_stream.hpp"
#include "support/fault_plan.hpp"
#include "support/files.hpp"
#include "support/model.hpp"
#include "support/random_text.hpp"

namespace textmend {
namespace {

// A sink for the writer thread: what it was given, how it takes it.
struct TestSink {
    std::string written;
    std::size_t most_per_call = SIZE_MAX;  // short writes, as a nearly full pipe makes
    bool yield = false;                    // gives the converting thread a chance to run
    std::int64_t fail_after = -1;          // fails with ENOSPC once this much is written
    int calls_after_failure = 0;
};

std::int64_t test_write(void* context, const std::uint8_t* src, std::size_t n) {
    TestSink& sink = *static_cast<TestSink*>(context);
    if (sink.yield) sched_yield();
    if (sink.fail_after >= 0) {
        const auto left = static_cast<std::size_t>(sink.fail_after) - sink.written.size();
        if (left == 0) {
            ++sink.calls_after_failure;
            errno = ENOSPC;
            return -1;
        }
        if (n > left) n = left;
    }
    if (n > sink.most_per_call) n = sink.most_per_call;
    sink.written.append(reinterpret_cast<const char*>(src), n);
    return static_cast<std::int64_t>(n);
}

const std::uint8_t* bytes_of(const std::string& s) {
    return reinterpret_cast<const std::uint8_t*>(s.data());
}

// Writes text through an output stream on a writer thread, in pieces of
// random size and by every way the stream offers; returns the stream's error.
int write_through_thread(const std::string& text, TestSink& sink, std::mt19937_64& rng) {
    BackgroundWriter writer;
    EXPECT_TRUE(writer.start(ByteSink{test_write, &sink}));
    OutputStream out{};
    output_init(out, writer.sink(), writer.first_buffer(), WRITER_BUFFER_SIZE);
    std::size_t at = 0;
    while (at < text.size() && out.error == 0) {
        const std::size_t longest[] = {1, 100, WRITER_BUFFER_SIZE / 2, 3 * WRITER_BUFFER_SIZE};
        std::size_t n = std::uniform_int_distribution<std::size_t>(1, longest[rng() % 4])(rng);
        if (n > text.size() - at) n = text.size() - at;
        switch (rng() % 3) {
            case 0:
                for (std::size_t i = 0; i < n; ++i)
                    output_write_byte(out, static_cast<std::uint8_t>(text[at + i]));
                break;
            case 1:
                output_write_block(out, bytes_of(text) + at, n);
                break;
            default:
                output_write_direct(out, bytes_of(text) + at, n);
                break;
        }
        at += n;
    }
    output_flush(out);
    const int error = writer.drain();
    return out.error != 0 ? out.error : error;
}

TEST(WriterThread, OutputArrivesCompleteAndInOrderWhateverTheSinkDoes) {
    std::mt19937_64 rng(3);
    const struct {
        const char* name;
        std::size_t most_per_call;
        bool yield;
        std::size_t length;
    } cases[] = {
        {"nothing", SIZE_MAX, false, 0},
        {"less than a buffer", SIZE_MAX, false, 1000},
        {"exactly one buffer", SIZE_MAX, false, WRITER_BUFFER_SIZE},
        {"many buffers", SIZE_MAX, false, 9 * WRITER_BUFFER_SIZE + 17},
        {"short writes", 4093, false, 3 * WRITER_BUFFER_SIZE + 1},
        {"a slow sink", 65536, true, 5 * WRITER_BUFFER_SIZE},
    };
    for (const auto& c : cases) {
        std::string text(c.length, '\0');
        for (char& ch : text)
            ch = static_cast<char>(rng());
        TestSink sink;
        sink.most_per_call = c.most_per_call;
        sink.yield = c.yield;
        EXPECT_EQ(write_through_thread(text, sink, rng), 0) << c.name;
        EXPECT_TRUE(sink.written == text) << c.name;
    }
}

TEST(WriterThread, FailedWriteStopsTheStreamWithItsErrnoAndNothingFollows) {
    std::mt19937_64 rng(4);
    const std::string text(12 * WRITER_BUFFER_SIZE, 'x');
    for (const std::int64_t limit :
         {std::int64_t{0}, std::int64_t{1}, std::int64_t{WRITER_BUFFER_SIZE - 1},
          std::int64_t{WRITER_BUFFER_SIZE}, std::int64_t{3 * WRITER_BUFFER_SIZE + 5}}) {
        TestSink sink;
        sink.fail_after = limit;
        EXPECT_EQ(write_through_thread(text, sink, rng), ENOSPC) << limit;
        EXPECT_EQ(sink.written.size(), static_cast<std::size_t>(limit));
        // The buffers handed over after the failure are dropped, not written.
        EXPECT_EQ(sink.calls_after_failure, 1) << limit;
    }
}

TEST(WriterThread, StopsWithBuffersStillToWriteAndStartsAgain) {
    TestSink sink;
    sink.yield = true;
    sink.most_per_call = 512;
    BackgroundWriter writer;
    ASSERT_TRUE(writer.start(ByteSink{test_write, &sink}));
    OutputStream out{};
    output_init(out, writer.sink(), writer.first_buffer(), WRITER_BUFFER_SIZE);
    const std::string first(3 * WRITER_BUFFER_SIZE, 'a');
    output_write_block(out, bytes_of(first), first.size());
    writer.stop();  // must not wait for what is still to be written
    EXPECT_TRUE(first.compare(0, sink.written.size(), sink.written) == 0);

    sink.written.clear();
    ASSERT_TRUE(writer.start(ByteSink{test_write, &sink}));
    output_init(out, writer.sink(), writer.first_buffer(), WRITER_BUFFER_SIZE);
    const std::string second = "after a restart";
    output_write_block(out, bytes_of(second), second.size());
    output_flush(out);
    EXPECT_EQ(writer.drain(), 0);
    EXPECT_EQ(sink.written, second);
}

// A waiter sees the change it waits for whether it comes at once, while it
// spins, or after it has gone to sleep; and a change that does not make it
// ready does not end its wait.
TEST(WriterThread, AWaiterSeesTheChangeWhenItComesWhileSpinningOrAsleep) {
    using std::chrono::microseconds;
    for (const bool spin : {false, true}) {
        for (const microseconds delay :
             {microseconds{0}, SPIN_BEFORE_SLEEP / 4, 20 * SPIN_BEFORE_SLEEP}) {
            std::mutex mutex;
            SpinningCondition condition;
            int value = 0;
            std::thread changer([&] {
                for (const int step : {1, 2}) {
                    std::this_thread::sleep_for(delay);
                    const std::lock_guard lock(mutex);
                    value = step;
                    condition.notify_one();
                }
            });
            std::unique_lock lock(mutex);
            condition.wait(
                lock, [&value] { return value == 2; }, spin);
            EXPECT_EQ(value, 2) << spin << " " << delay.count();
            lock.unlock();
            changer.join();
        }
    }
}

// ---------------------------------------------------------------------------
// Stretches of input converted by the writer thread

const OutputMode MODES[] = {MODE_LATIN1, MODE_CP1252, MODE_UTF8};

// A sink whose writes wait until the test opens the gate, so that the writer
// thread is busy while the converting thread offers it more.
struct GatedSink {
    TestSink sink;
    std::atomic<bool> open{false};
};

std::int64_t gated_write(void* context, const std::uint8_t* src, std::size_t n) {
    GatedSink& gated = *static_cast<GatedSink*>(context);
    while (!gated.open.load())
        std::this_thread::yield();
    return test_write(&gated.sink, src, n);
}

// Output stream on a writer thread that converts stretches too.
void start_taking_writer(BackgroundWriter& writer, OutputStream& out) {
    output_init(out, writer.sink(), writer.first_buffer(), WRITER_BUFFER_SIZE);
    out.taker = writer.taker();
}

// Offers input to the writer and converts what it leaves, as the engine
// does; returns the count of bytes the writer took.
std::size_t offer_then_convert(OutputStream& out, const std::string& input, OutputMode mode) {
    const std::size_t taken = output_offer(out, bytes_of(input), input.size(), mode);
    const std::string rest = test::model_convert(input.substr(taken), mode);
    output_write_block(out, bytes_of(rest), rest.size());
    return taken;
}

TEST(WriterThread, OfferedStretchesAreConvertedAndWrittenInTheirPlace) {
    std::mt19937_64 rng(7);
    for (const OutputMode mode : MODES) {
        GatedSink gated;
        BackgroundWriter writer;
        ASSERT_TRUE(writer.start(ByteSink{gated_write, &gated}));
        OutputStream out{};
        start_taking_writer(writer, out);
        const std::string head = test::random_mixed_bytes(rng, 1000);
        const std::string middle = test::random_mixed_bytes(rng, 3000);
        const std::string tail = test::random_mixed_bytes(rng, 20);
        const std::string first = test::random_mixed_bytes(rng, STRETCH_MAX + 5000);
        const std::string second = test::random_mixed_bytes(rng, STRETCH_MIN + 5000);

        output_write_block(out, bytes_of(head), head.size());
        std::string stretch = first;
        const std::size_t taken = output_offer(out, bytes_of(stretch), stretch.size(), mode);
        EXPECT_GT(taken, STRETCH_MAX - STRETCH_CUT_SEARCH);
        ASSERT_LE(taken, STRETCH_MAX);
        stretch.assign(stretch.size(), '\xC3');  // the writer took a copy
        const std::string rest = test::model_convert(first.substr(taken), mode);
        output_write_block(out, bytes_of(rest), rest.size());
        output_write_block(out, bytes_of(middle), middle.size());
        // The writer is still writing head, with the first stretch waiting:
        // it takes no second one.
        EXPECT_EQ(output_offer(out, bytes_of(second), second.size(), mode), 0U);
        gated.open = true;
        output_flush(out);
        ASSERT_EQ(writer.drain(), 0);
        // Idle again, it does.
        EXPECT_GT(offer_then_convert(out, second, mode), STRETCH_MIN);
        output_write_block(out, bytes_of(tail), tail.size());
        output_flush(out);
        EXPECT_EQ(writer.drain(), 0);
        EXPECT_EQ(out.error, 0);
        const std::string expected = head + test::model_convert(first, mode) + middle +
                                     test::model_convert(second, mode) + tail;
        EXPECT_TRUE(gated.sink.written == expected) << static_cast<int>(mode);
    }
}

// A writer with a write waiting behind the one at work is the slower
// thread already: it takes a stretch only with at most one task to do.
TEST(WriterThread, AWriterWithWritesWaitingTakesNoStretch) {
    std::mt19937_64 rng(10);
    for (const int buffers_before : {0, 1, 2, 3}) {
        GatedSink gated;
        BackgroundWriter writer;
        ASSERT_TRUE(writer.start(ByteSink{gated_write, &gated}));
        OutputStream out{};
        start_taking_writer(writer, out);
        std::string expected;
        for (int i = 0; i < buffers_before; ++i) {
            const std::string piece = test::random_mixed_bytes(rng, 1000);
            output_write_block(out, bytes_of(piece), piece.size());
            output_flush(out);  // the first is held at the gate, the others wait
            expected += piece;
        }
        const std::string input = test::random_mixed_bytes(rng, STRETCH_MIN + 8000);
        const bool taken = offer_then_convert(out, input, MODE_UTF8) > 0;
        EXPECT_EQ(taken, buffers_before <= 1) << buffers_before;
        expected += test::model_convert(input, MODE_UTF8);
        gated.open = true;
        output_flush(out);
        EXPECT_EQ(writer.drain(), 0);
        EXPECT_TRUE(gated.sink.written == expected) << buffers_before;
    }
}

// What the writer takes of the input offered: a prefix of STRETCH_MIN to
// STRETCH_MAX bytes ending just after a byte below 0x80 found among the last
// STRETCH_CUT_SEARCH, or nothing.
TEST(WriterThread, TakesAStretchCutAfterAnAsciiByteOrNothing) {
    struct Case {
        const char* what;
        std::size_t available;
        std::vector<std::size_t> ascii_at;  // every other byte is 0xC3
        std::size_t expected;
    };
    const std::size_t last_searched = STRETCH_MAX - STRETCH_CUT_SEARCH;
    const Case cases[] = {
        {"too short", STRETCH_MIN - 1, {STRETCH_MIN - 2}, 0},
        {"shortest", STRETCH_MIN + 1, {STRETCH_MIN}, STRETCH_MIN + 1},
        {"cut before the shortest", STRETCH_MIN + 100, {STRETCH_MIN - 1}, 0},
        {"no byte below 0x80", 3 * STRETCH_MAX, {}, 0},
        {"longest", 3 * STRETCH_MAX, {10, STRETCH_MAX - 1, STRETCH_MAX}, STRETCH_MAX},
        {"last of several",
         STRETCH_MIN + 3000,
         {STRETCH_MIN + 5, STRETCH_MIN + 2000},
         STRETCH_MIN + 2001},
        {"first byte searched",
         3 * STRETCH_MAX,
         {last_searched - 1, last_searched},
         last_searched + 1},
        {"only before the search", 3 * STRETCH_MAX, {last_searched - 1}, 0},
        {"only after the longest", 3 * STRETCH_MAX, {STRETCH_MAX}, 0},
    };
    for (const Case& c : cases) {
        std::string input(c.available, '\xC3');
        for (const std::size_t at : c.ascii_at)
            input[at] = '\n';
        EXPECT_EQ(stretch_length(bytes_of(input), input.size()), c.expected) << c.what;
    }
}

TEST(WriterThread, AFailedWriteOfAStretchStopsTheStream) {
    std::mt19937_64 rng(8);
    const std::string input = test::random_mixed_bytes(rng, 100000);
    const std::size_t taken = stretch_length(bytes_of(input), input.size());
    ASSERT_GT(taken, 0U);
    const std::string converted = test::model_convert(input.substr(0, taken), MODE_UTF8);
    TestSink sink;
    sink.fail_after = 10 + static_cast<std::int64_t>(converted.size()) / 2;
    BackgroundWriter writer;
    ASSERT_TRUE(writer.start(ByteSink{test_write, &sink}));
    OutputStream out{};
    start_taking_writer(writer, out);
    output_write_block(out, bytes_of(std::string(10, 'h')), 10);
    ASSERT_EQ(output_offer(out, bytes_of(input), input.size(), MODE_UTF8), taken);
    EXPECT_EQ(writer.drain(), ENOSPC);
    // What follows is refused with the write's errno, and nothing more is written.
    EXPECT_EQ(output_offer(out, bytes_of(input), input.size(), MODE_UTF8), taken);
    EXPECT_EQ(out.error, ENOSPC);
    EXPECT_EQ(output_offer(out, bytes_of(input), input.size(), MODE_UTF8), 0U);
    EXPECT_EQ(sink.written.size(), static_cast<std::size_t>(sink.fail_after));
    EXPECT_TRUE(sink.written ==
                std::string(10, 'h') + converted.substr(0, sink.written.size() - 10));
}

// ---------------------------------------------------------------------------
// Whole files through the writer thread

ConversionSettings forcing_thread(bool as_program) {
    ConversionSettings settings;
    settings.as_program = as_program;
    settings.writer_thread_at_least = 0;  // whatever the size
    return settings;
}

// Mapped (as the program) or read (as a library caller), to a new file or
// in place: the same bytes as the model.
TEST(WriterThread, FilesConvertToTheSameBytesAsWithoutIt) {
    std::mt19937_64 rng(5);
    for (const std::size_t length : {std::size_t{0}, std::size_t{1}, std::size_t{5000},
                                     WRITER_BUFFER_SIZE - 1, std::size_t{3 << 20}}) {
        const std::string input = test::random_mixed_bytes(rng, length);
        for (const OutputMode mode : MODES) {
            const std::string expected = test::model_convert(input, mode);
            for (const bool as_program : {false, true}) {
                for (const bool in_place : {false, true}) {
                    test::TempDir dir;
                    test::write_file(dir / "in", input);
                    const std::string out = in_place ? dir / "in" : dir / "out";
                    const ConversionOutcome r = convert_file((dir / "in").c_str(), out.c_str(),
                                                             mode, forcing_thread(as_program));
                    EXPECT_EQ(r.status, ExitStatus::converted);
                    EXPECT_TRUE(test::read_file(out) == expected)
                        << length << " bytes, mode " << static_cast<int>(mode)
                        << (as_program ? " mapped" : " read") << (in_place ? " in place" : "");
                }
            }
        }
    }
}

// Inputs where the places a stretch may end (before a byte below 0x80) are
// scarce, far apart or next to cut sequences: the same bytes as converting
// in one piece.
TEST(WriterThread, StretchesHandedOffEndOnlyWhereNoSequenceReachesAcross) {
    std::mt19937_64 rng(9);
    const auto repeated = [](const std::string& unit, std::size_t length) {
        std::string s;
        while (s.size() < length)
            s += unit;
        return s;
    };
    const auto high_bytes = [&rng](std::size_t n) {
        std::string s(n, '\0');
        for (char& c : s)
            c = static_cast<char>(0x80 | (rng() & 0x7F));
        return s;
    };
    const std::size_t length = 3 << 19;
    const struct {
        const char* name;
        std::string input;
    } cases[] = {
        {"no byte below 0x80 for 300000 bytes",
         repeated("\xC3\xA9", 300000) + test::random_mixed_bytes(rng, length)},
        {"one every 5000 bytes", repeated(high_bytes(4999) + "x", length)},
        {"one every 3000 bytes", repeated(high_bytes(2999) + "x", length)},
        {"a cut sequence before each", repeated("\xE2\x82 \xF0\x9F\x98 \xC3", length)},
        {"whole sequences before each", repeated("\xE2\x82\xAC\xC3\xA9"
                                                 "a",
                                                 length)},
    };
    for (const auto& c : cases) {
        for (const OutputMode mode : MODES) {
            test::TempDir dir;
            test::write_file(dir / "in", c.input);
            const ConversionOutcome r = convert_file((dir / "in").c_str(), (dir / "out").c_str(),
                                                     mode, forcing_thread(true));
            EXPECT_EQ(r.status, ExitStatus::converted);
            EXPECT_TRUE(test::read_file(dir / "out") == test::model_convert(c.input, mode))
                << c.name << ", mode " << static_cast<int>(mode);
        }
    }
}

// Reads and writes that fail at random places, on both threads' sides: the
// failure is the run's, and nothing is left behind.
TEST(WriterThread, FailuresAtRandomPlacesLeaveNothingBehind) {
    std::mt19937_64 rng(6);
    const std::string input = test::random_mixed_bytes(rng, 2 << 20);
    for (int round = 0; round < 24; ++round) {
        // Every mode, so that stretches converted by the writer fail too.
        const OutputMode mode = MODES[round % 3];
        const auto output_size = static_cast<std::int64_t>(test::model_convert(input, mode).size());
        const bool reading_fails = round % 2 == 0;
        const auto limit = static_cast<std::int64_t>(rng() % (3 << 20));
        test::FaultPlan plan;
        plan.read_limit = reading_fails ? limit : -1;
        plan.write_limit = reading_fails ? -1 : limit;
        const IoHooks hooks = test::fault_hooks(plan);
        ConversionSettings settings = forcing_thread(false);
        settings.hooks = &hooks;
        test::TempDir dir;
        test::write_file(dir / "in", input);
        const bool in_place = round % 4 < 2;
        const std::string out = in_place ? dir / "in" : dir / "out";
        const ConversionOutcome r = convert_file((dir / "in").c_str(), out.c_str(), mode, settings);
        const bool reaches_limit =
            limit < (reading_fails ? static_cast<std::int64_t>(input.size()) : output_size);
        if (!reaches_limit) {
            EXPECT_EQ(r.status, ExitStatus::converted) << round;
            continue;
        }
        EXPECT_EQ(r.status, ExitStatus::io_failed) << round;
        EXPECT_EQ(r.failed, reading_fails ? FailedStep::read : FailedStep::write) << round;
        EXPECT_EQ(r.error, reading_fails ? EIO : ENOSPC) << round;
        EXPECT_EQ(test::list_dir(dir.path), std::vector<std::string>{"in"}) << round;
        EXPECT_TRUE(test::read_file(dir / "in") == input) << round;
    }
}

}  // namespace
}  // namespace textmend
