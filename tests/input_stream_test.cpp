#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "convert/input_stream.hpp"
#include "support/memory_io.hpp"

namespace textmend {
namespace {

struct Fixture {
    std::string data;
    MemorySource source;
    std::vector<std::uint8_t> storage;
    InputStream in{};

    Fixture(std::string bytes, std::size_t block, std::size_t chunk)
        : data(std::move(bytes)),
          source{reinterpret_cast<const std::uint8_t*>(data.data()), data.size(), 0, chunk},
          storage(input_storage_size(block)) {
        input_init(in, memory_source(&source), storage.data(), block);
    }
};

std::string digits(std::size_t n) {
    std::string s;
    for (std::size_t i = 0; i < n; ++i)
        s.push_back(static_cast<char>('0' + i % 10));
    return s;
}

// From every position, read ahead up to six bytes (across block boundaries and
// past the end) and seek back: the next byte is always the one after the
// saved position, for several block and chunk sizes.
TEST(InputStream, SeekBackAfterLookAheadFromEveryPosition) {
    const std::string data = digits(300);
    for (std::size_t block : {1, 2, 3, 5, 7, 64, 4096}) {
        for (std::size_t chunk : {0, 1, 3}) {
            Fixture f(data, block, chunk);
            for (std::size_t i = 0; i < data.size(); ++i) {
                ASSERT_EQ(input_read_byte(f.in), static_cast<unsigned char>(data[i]));
                const std::int64_t saved = input_tell(f.in);
                ASSERT_EQ(saved, static_cast<std::int64_t>(i + 1));
                for (int k = 0; k < 6; ++k)
                    input_read_byte(f.in);
                ASSERT_TRUE(input_seek(f.in, saved)) << "block " << block << " at " << i;
            }
            EXPECT_EQ(input_read_byte(f.in), END_OF_INPUT);
            EXPECT_EQ(f.in.error, 0);
        }
    }
}

TEST(InputStream, EndOfInputIsRepeatableAndRewindable) {
    Fixture f("ab", 1, 0);
    EXPECT_EQ(input_read_byte(f.in), 'a');
    EXPECT_EQ(input_read_byte(f.in), 'b');
    EXPECT_EQ(input_read_byte(f.in), END_OF_INPUT);
    EXPECT_EQ(input_read_byte(f.in), END_OF_INPUT);
    ASSERT_TRUE(input_seek(f.in, 1));
    EXPECT_EQ(input_read_byte(f.in), 'b');
    EXPECT_EQ(input_read_byte(f.in), END_OF_INPUT);
}

TEST(InputStream, SeekOutsideTheWindowIsRefusedAndChangesNothing) {
    Fixture f(digits(1000), 16, 0);
    for (int i = 0; i < 500; ++i)
        input_read_byte(f.in);
    EXPECT_FALSE(input_seek(f.in, 10));
    EXPECT_FALSE(input_seek(f.in, 900));
    EXPECT_EQ(input_tell(f.in), 500);
    EXPECT_EQ(input_read_byte(f.in), '0');
}

TEST(InputStream, FillMakesLookAheadAvailableAcrossShortReads) {
    Fixture f(digits(100), 3, 1);
    EXPECT_EQ(input_fill(f.in, 10), 10U);
    EXPECT_EQ(input_read_byte(f.in), '0');
    Fixture tail(digits(4), 3, 1);
    EXPECT_EQ(input_fill(tail.in, 10), 4U);  // the input ends first
}

std::int64_t fail_after_five(void* context, std::uint8_t* dst, std::size_t n) {
    int& left = *static_cast<int*>(context);
    if (left == 0) {
        errno = EIO;
        return -1;
    }
    const int count = n < static_cast<std::size_t>(left) ? static_cast<int>(n) : left;
    for (int i = 0; i < count; ++i)
        dst[i] = 'x';
    left -= count;
    return count;
}

TEST(InputStream, FailedReadEndsTheInputAndKeepsTheError) {
    int left = 5;
    std::vector<std::uint8_t> storage(input_storage_size(2));
    InputStream in{};
    input_init(in, ByteSource{fail_after_five, &left}, storage.data(), 2);
    int count = 0;
    while (input_read_byte(in) != END_OF_INPUT)
        ++count;
    EXPECT_EQ(count, 5);
    EXPECT_EQ(in.error, EIO);
}

}  // namespace
}  // namespace textmend
