#include "support/run_program.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace textmend::test {

namespace {

std::string drain(int fd) {
    std::string s;
    char buf[65536];
    for (;;) {
        const ssize_t got = read(fd, buf, sizeof buf);
        if (got > 0) {
            s.append(buf, static_cast<std::size_t>(got));
        } else if (got == 0 || errno != EINTR) {
            return s;
        }
    }
}

}  // namespace

RunResult run_textmend(const std::vector<std::string>& args, const RunOptions& options) {
    int out_pipe[2], err_pipe[2], in_pipe[2] = {-1, -1};
    if (pipe(out_pipe) != 0 || pipe(err_pipe) != 0) throw std::runtime_error("pipe");
    if (options.stdin_data != nullptr && pipe(in_pipe) != 0) throw std::runtime_error("pipe");
    // TEXTMEND_TEST_WRAPPER (say, "valgrind --error-exitcode=99 -q") runs the
    // program under another one; words are separated by spaces.
    std::vector<std::string> words;
    if (const char* wrapper = std::getenv("TEXTMEND_TEST_WRAPPER")) {
        std::istringstream split(wrapper);
        for (std::string w; split >> w;)
            words.push_back(w);
    }
    words.push_back(options.program.empty() ? std::string(TEXTMEND_BINARY) : options.program);
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);

    const pid_t pid = fork();
    if (pid == 0) {
        if (!options.cwd.empty() && chdir(options.cwd.c_str()) != 0) _exit(126);
        if (options.file_size_limit != -1) {
            // Writes past the limit then fail with EFBIG instead of raising SIGXFSZ.
            signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{static_cast<rlim_t>(options.file_size_limit),
                               static_cast<rlim_t>(options.file_size_limit)};
            if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(124);
        }
        if (options.uid != -1) {
            const auto id = static_cast<uid_t>(options.uid);
            if (setgid(id) != 0 || setuid(id) != 0) _exit(125);
        }
        if (in_pipe[0] >= 0) {
            dup2(in_pipe[0], 0);
            close(in_pipe[1]);
        }
        dup2(out_pipe[1], 1);
        dup2(err_pipe[1], 2);
        close(out_pipe[0]);
        close(err_pipe[0]);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    close(out_pipe[1]);
    close(err_pipe[1]);
    std::thread feeder;
    if (in_pipe[0] >= 0) {
        close(in_pipe[0]);
        feeder = std::thread([fd = in_pipe[1], data = options.stdin_data] {
            std::size_t done = 0;
            while (done < data->size()) {
                const ssize_t put = write(fd, data->data() + done, data->size() - done);
                if (put <= 0) break;
                done += static_cast<std::size_t>(put);
            }
            close(fd);
        });
    }
    std::string err;
    std::thread err_reader([&] { err = drain(err_pipe[0]); });
    RunResult result{};
    result.out = drain(out_pipe[0]);
    err_reader.join();
    result.err = err;
    if (feeder.joinable()) feeder.join();
    close(out_pipe[0]);
    close(err_pipe[0]);
    int wstatus = 0;
    waitpid(pid, &wstatus, 0);
    result.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
    return result;
}

}  // namespace textmend::test
