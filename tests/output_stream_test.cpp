#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "convert/output_stream.hpp"
#include "support/convert_memory.hpp"

namespace textmend {
namespace {

// Accepts at most three bytes per call, like a pipe that is nearly full.
std::int64_t short_writes(void* context, const std::uint8_t* src, std::size_t n) {
    return test::string_write(context, src, n < 3 ? n : 3);
}

TEST(OutputStream, BytesAndBlocksArriveInOrderThroughShortWrites) {
    std::string written;
    std::uint8_t storage[8];
    OutputStream out{};
    output_init(out, ByteSink{short_writes, &written}, storage, sizeof storage);
    std::string expected;
    const std::string block = "0123456789abcdefghij";  // longer than the buffer
    for (int round = 0; round < 5; ++round) {
        output_write_byte(out, 'A' + round);
        expected.push_back(static_cast<char>('A' + round));
        output_write_block(out, reinterpret_cast<const std::uint8_t*>(block.data()),
                           static_cast<std::size_t>(round * 4 + 1));
        expected += block.substr(0, static_cast<std::size_t>(round * 4 + 1));
    }
    output_flush(out);
    EXPECT_EQ(out.error, 0);
    EXPECT_EQ(written, expected);
}

std::int64_t disk_full(void*, const std::uint8_t*, std::size_t) {
    errno = ENOSPC;
    return -1;
}

TEST(OutputStream, FirstFailureIsKeptAndLaterBytesAreDropped) {
    std::uint8_t storage[4];
    OutputStream out{};
    output_init(out, ByteSink{disk_full, nullptr}, storage, sizeof storage);
    output_write_byte(out, 'a');
    EXPECT_EQ(out.error, 0);  // still buffered
    output_flush(out);
    EXPECT_EQ(out.error, ENOSPC);
    for (int i = 0; i < 100; ++i)
        output_write_byte(out, 'b');
    output_flush(out);
    EXPECT_EQ(out.error, ENOSPC);
}

std::int64_t writes_nothing(void*, const std::uint8_t*, std::size_t) {
    return 0;
}

TEST(OutputStream, SinkThatMakesNoProgressIsAFailure) {
    std::uint8_t storage[4];
    OutputStream out{};
    output_init(out, ByteSink{writes_nothing, nullptr}, storage, sizeof storage);
    output_write_byte(out, 'a');
    output_flush(out);
    EXPECT_NE(out.error, 0);
}

}  // namespace
}  // namespace textmend
