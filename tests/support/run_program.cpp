#include "support/run_program.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
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

// The command line: TEXTMEND_TEST_WRAPPER (say, "valgrind
// --error-exitcode=99 -q") runs the program under another one; its words
// are separated by spaces.
std::vector<std::string> command_words(const std::vector<std::string>& args,
                                       const RunOptions& options) {
    std::vector<std::string> words;
    if (const char* wrapper = std::getenv("TEXTMEND_TEST_WRAPPER")) {
        std::istringstream split(wrapper);
        for (std::string w; split >> w;)
            words.push_back(w);
    }
    words.push_back(options.program.empty() ? std::string(TEXTMEND_BINARY) : options.program);
    words.insert(words.end(), args.begin(), args.end());
    return words;
}

bool hands_over(const RunOptions& options, int number) {
    return std::any_of(options.descriptors.begin(), options.descriptors.end(),
                       [number](const auto& d) { return d.second == number; });
}

// In the child: sets up what options ask for, then runs the program.
[[noreturn]] void exec_program(std::vector<std::string> words, const RunOptions& options) {
    if (!options.cwd.empty() && chdir(options.cwd.c_str()) != 0) _exit(126);
    if (options.cwd_fd >= 0 && fchdir(options.cwd_fd) != 0) _exit(126);
    const rlimit no_core{0, 0};  // SIGQUIT would leave a core file otherwise
    setrlimit(RLIMIT_CORE, &no_core);
    if (options.file_size_limit != -1) {
        const rlimit limit{static_cast<rlim_t>(options.file_size_limit),
                           static_cast<rlim_t>(options.file_size_limit)};
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(124);
    }
    for (const int s : options.ignored_signals)
        signal(s, SIG_IGN);
    for (const auto& [name, value] : options.environment)
        if (setenv(name.c_str(), value.c_str(), 1) != 0) _exit(123);
    // Each descriptor is first moved out of the way, so that handing one
    // over cannot overwrite another that is still to be handed over.
    std::vector<std::pair<int, int>> moved;
    for (const auto& [from, to] : options.descriptors)
        moved.emplace_back(fcntl(from, F_DUPFD, 100), to);
    for (const auto& [from, to] : moved) {
        dup2(from, to);
        close(from);
    }
    for (const int fd : options.closed_descriptors)
        close(fd);
    if (options.uid != -1) {
        const auto id = static_cast<uid_t>(options.uid);
        if (setgroups(0, nullptr) != 0 || setgid(id) != 0 || setuid(id) != 0) _exit(125);
    }
    std::vector<char*> argv;
    for (std::string& w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
}

}  // namespace

bool under_wrapper() {
    return std::getenv("TEXTMEND_TEST_WRAPPER") != nullptr;
}

int race_rounds(int full) {
    if (under_wrapper()) return 8;
#ifdef TEXTMEND_SANITIZED
    return full / 8 > 8 ? full / 8 : 8;
#else
    return full;
#endif
}

RunResult run_textmend(const std::vector<std::string>& args, const RunOptions& options) {
    int out_pipe[2], err_pipe[2], in_pipe[2] = {-1, -1};
    // Close-on-exec, so that no end of them reaches the program unasked.
    if (pipe2(out_pipe, O_CLOEXEC) != 0 || pipe2(err_pipe, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe");
    }
    if (options.stdin_data != nullptr && pipe2(in_pipe, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe");
    }
    const std::vector<std::string> words = command_words(args, options);

    const pid_t pid = fork();
    if (pid == 0) {
        if (in_pipe[0] >= 0) {
            dup2(in_pipe[0], 0);
            close(in_pipe[1]);
        }
        if (!hands_over(options, 1)) dup2(out_pipe[1], 1);
        dup2(err_pipe[1], 2);
        close(out_pipe[0]);
        close(err_pipe[0]);
        exec_program(words, options);
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
    rusage usage{};
    while (wait4(pid, &wstatus, 0, &usage) < 0 && errno == EINTR) {
    }
    result.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
    result.peak_rss_kib = usage.ru_maxrss;
    return result;
}

pid_t start_textmend(const std::vector<std::string>& args, const RunOptions& options,
                     const std::string& err_path) {
    const std::vector<std::string> words = command_words(args, options);
    const pid_t pid = fork();
    if (pid == 0) {
        const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        const int null = open("/dev/null", O_RDWR | O_CLOEXEC);
        dup2(err, 2);
        dup2(null, 0);
        if (!hands_over(options, 1)) dup2(null, 1);
        exec_program(words, options);
    }
    return pid;
}

int wait_for_exit(pid_t pid) {
    int wstatus = 0;
    while (waitpid(pid, &wstatus, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
}

bool wait_until_written(pid_t pid, long long bytes) {
    const std::string io = "/proc/" + std::to_string(pid) + "/io";
    for (;;) {
        std::ifstream f(io);
        std::string key;
        long long value = 0;
        while (f >> key >> value) {
            if (key == "wchar:" && value >= bytes) return true;
        }
        // A process that has ended (a zombie still has the file) is done.
        // Its state follows the name, which is in parentheses.
        const std::string stat = read_file("/proc/" + std::to_string(pid) + "/stat");
        const std::size_t name_end = stat.rfind(')');
        if (name_end == std::string::npos || stat.compare(name_end, 3, ") Z") == 0) return false;
        usleep(100);
    }
}

std::string program_for_everybody(const TempDir& dir) {
    chmod(dir.path.c_str(), 0755);
    const std::string copy = dir / "textmend-program";
    write_file(copy, read_file(TEXTMEND_BINARY));
    chmod(copy.c_str(), 0755);
    return copy;
}

bool have_command(const std::string& name) {
    return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

}  // namespace textmend::test
