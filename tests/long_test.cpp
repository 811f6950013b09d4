// An input of more than 2 GiB: a sparse file (zero bytes, which are ASCII)
// with mixed text at its end. Offsets past 2^31 must work in every mode.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "support/files.hpp"
#include "support/model.hpp"

namespace textmend::test {
namespace {

TEST(LongInput, MoreThanTwoGigabytes) {
    const std::string tail = read_file(std::string(TEXTMEND_SOURCE_DIR) + "/examples/mixed.txt");
    const long long zeros = (2LL << 30) + 12345;
    TempDir dir;
    const std::string in = dir / "sparse";
    const int fd = open(in.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(pwrite(fd, tail.data(), tail.size(), zeros), static_cast<ssize_t>(tail.size()));
    close(fd);

    for (const OutputMode mode : {MODE_LATIN1, MODE_CP1252, MODE_UTF8}) {
        const char* flag = mode == MODE_CP1252 ? "-w" : "-u";  // not passed for MODE_LATIN1
        int pipe_fds[2];
        ASSERT_EQ(pipe(pipe_fds), 0);
        const pid_t pid = fork();
        if (pid == 0) {
            dup2(pipe_fds[1], 1);
            close(pipe_fds[0]);
            if (mode == MODE_LATIN1) {
                execl(TEXTMEND_BINARY, TEXTMEND_BINARY, in.c_str(), "/dev/stdout", nullptr);
            } else {
                execl(TEXTMEND_BINARY, TEXTMEND_BINARY, flag, in.c_str(), "/dev/stdout", nullptr);
            }
            _exit(127);
        }
        close(pipe_fds[1]);
        // Read everything: zeros first, then the converted text.
        static char buffer[1 << 20];
        long long seen = 0, first_nonzero = -1;
        std::string converted;
        for (ssize_t got; (got = read(pipe_fds[0], buffer, sizeof buffer)) > 0; seen += got) {
            for (ssize_t i = 0; i < got; ++i) {
                if (first_nonzero < 0 && buffer[i] != 0) first_nonzero = seen + i;
            }
            if (seen + got > zeros) {
                const long long from = seen >= zeros ? 0 : zeros - seen;
                converted.append(buffer + from, static_cast<std::size_t>(got - from));
            }
        }
        close(pipe_fds[0]);
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << flag;
        const std::string expected = model_convert(tail, mode);
        EXPECT_EQ(seen, zeros + static_cast<long long>(expected.size())) << flag;
        EXPECT_EQ(first_nonzero, zeros) << flag;
        EXPECT_TRUE(converted == expected) << flag;
    }
}

}  // namespace
}  // namespace textmend::test
