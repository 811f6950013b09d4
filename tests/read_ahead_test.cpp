// textmend-report's reading ahead: every byte handed over in order, from
// the calling thread or the second one, and errors in their place. Run
// under ThreadSanitizer too (label threads).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <random>
#include <string>
#include <thread>

#include "report/read_ahead.hpp"
#include "support/files.hpp"

namespace textmend::report {
namespace {

// Everything the reader hands over, in order, and the error that ended it.
struct ReadBack {
    std::string bytes;
    int error = 0;
    std::size_t blocks = 0;
};

ReadBack read_all(ReadAhead& reader, int fd, std::int64_t size) {
    ReadBack back;
    reader.start(fd, size);
    for (;;) {
        const ReadAhead::Block block = reader.next();
        back.bytes.append(reinterpret_cast<const char*>(block.data), block.size);
        back.error = block.error;
        back.blocks += block.size > 0 ? 1 : 0;
        reader.release();
        if (block.size == 0) break;
    }
    return back;
}

// One reader for inputs of every kind, one after another, as the program
// uses it: small files read on the calling thread, large ones and pipes on
// the second; every byte in order, whatever the size against the blocks
// and the ring.
TEST(ReportReadAhead, HandsOverEveryByteInOrderForEveryKindOfInput) {
    test::TempDir dir;
    std::mt19937_64 rng(42);
    ReadAhead reader;
    const std::size_t block = ReadAhead::BLOCK_SIZE;
    for (const std::size_t size :
         {std::size_t{0}, std::size_t{1}, ReadAhead::OWN_READ_SIZE + 1, block - 1, block, block + 1,
          std::size_t(ReadAhead::AHEAD_FROM),
          std::size_t(ReadAhead::AHEAD_FROM) + ReadAhead::SLOTS * block * 3 + 17}) {
        std::string bytes(size, '\0');
        for (char& c : bytes)
            c = static_cast<char>(rng());
        const std::string path = dir / "f";
        test::write_file(path, bytes);
        const int fd = open(path.c_str(), O_RDONLY);
        ASSERT_GE(fd, 0);
        const ReadBack back = read_all(reader, fd, static_cast<std::int64_t>(size));
        close(fd);
        EXPECT_EQ(back.error, 0) << size;
        EXPECT_TRUE(back.bytes == bytes) << size << " bytes read back as " << back.bytes.size();
        const std::size_t read_size = static_cast<std::int64_t>(size) > ReadAhead::AHEAD_FROM
                                          ? block
                                          : ReadAhead::OWN_READ_SIZE;
        EXPECT_EQ(back.blocks, (size + read_size - 1) / read_size) << size;

        // The same bytes through a pipe, written in uneven pieces while
        // they are read.
        int pipe_fds[2];
        ASSERT_EQ(pipe(pipe_fds), 0);
        std::thread writer([&] {
            for (std::size_t at = 0; at < bytes.size();) {
                const std::size_t n = std::min<std::size_t>(bytes.size() - at, 1 + rng() % 70000);
                if (write(pipe_fds[1], bytes.data() + at, n) != static_cast<ssize_t>(n)) break;
                at += n;
            }
            close(pipe_fds[1]);
        });
        const ReadBack piped = read_all(reader, pipe_fds[0], -1);
        writer.join();
        close(pipe_fds[0]);
        EXPECT_EQ(piped.error, 0);
        EXPECT_TRUE(piped.bytes == bytes) << "pipe, " << size;
    }
}

// A read that fails ends the input with its errno, on either thread; the
// reader goes on with the next input.
TEST(ReportReadAhead, AFailedReadEndsTheInputWithItsError) {
    test::TempDir dir;
    ReadAhead reader;
    for (const std::int64_t size : {std::int64_t{100}, std::int64_t{-1}}) {
        const int fd = open(dir.path.c_str(), O_RDONLY | O_DIRECTORY);
        ASSERT_GE(fd, 0);
        const ReadBack back = read_all(reader, fd, size);
        close(fd);
        EXPECT_EQ(back.error, EISDIR) << size;
        EXPECT_EQ(back.bytes, "");
    }
    test::write_file(dir / "after", "still read");
    const int fd = open((dir / "after").c_str(), O_RDONLY);
    EXPECT_EQ(read_all(reader, fd, -1).bytes, "still read");
    close(fd);
}

}  // namespace
}  // namespace textmend::report
