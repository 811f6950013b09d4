// Times textmend against `cat in > out` (copying the file) and iconv on the
// corpora that textmend_make_corpus wrote, and textmend-report (--json and
// text) against `wc -l` and against converting, running the commands in
// turn, forth and back, round by round, and prints Markdown tables: ratios
// to cat first, the report's time as ratios to `wc -l` and to converting,
// then times, speeds and peak memory. Run it through bench/run.sh.
//
// Three floors: cat copying the input; cat copying a file of the output's
// size (textmend's own output, made once before the rounds): whatever the
// conversion costs, the output's bytes must be written; and as many bytes
// copied from the input the way cat copies (copy_file_range, by this
// program run as `--copy IN OUT N`). The last reads the same file as
// textmend: on a virtual machine the same bytes may copy faster or slower
// from one file than from another, which moves the second floor.
//
// The corpora are made by a separate program so that this one stays small:
// a child's peak RSS counts the parent's memory it was forked from.
//
//   textmend_file_bench --textmend BIN --report BIN --work DIR --out DIR [--runs N]
//                       [--only CORPUS] [--against BIN]
//   textmend_file_bench --copy IN OUT N
//   textmend_file_bench --kernels
//
// --kernels prints the name of the kernel set the engine runs on this
// processor (TEXTMEND_KERNELS taken into account, as the programs do), for
// the provenance of a results file.
//
// --against BIN runs another textmend (a previous version, say) in every
// round next to this one, on the same files, and prints this one's time
// as a ratio to it: paired round by round, such a ratio holds steadier than
// the ratios to cat when the machine's speed swings.
//
// With TEXTMEND_BENCH_TRACE set in the environment, every run's time is
// printed on standard error as it happens.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "corpus.hpp"  // corpus names only
#include "textmend/textmend.hpp"

namespace {

using textmend::bench::CorpusKind;

struct Options {
    std::string textmend;
    std::string report;
    std::string work_dir;
    std::string out_dir;
    int runs = 9;
    std::string only;     // one corpus by name; empty for all
    std::string against;  // another textmend to compare with; empty for none
};

struct Command {
    std::string label;
    std::vector<std::string> argv;  // IN and OUT stand for the file names
    bool output_on_stdout;          // cat: OUT is its standard output
    int highest_success = 0;        // textmend-report: 1 means not clean
    std::string output_floor{};     // textmend: the label of cat copying its output
    std::string copy_floor{};       // textmend: the label of the copy of its output's size
    std::string paired_with{};      // textmend: the label of the --against run of its mode
};

struct Sample {
    double seconds;
    long peak_rss_kib;
};

// Median, lowest and highest of ratios taken round by round.
struct Ratio {
    double median, low, high;
};

struct Row {
    std::string corpus;
    std::string label;
    double median_seconds;  // of the rounds' means
    double mb_per_second;
    double median_run_seconds;  // of every single run, forth and back
    double input_mb;
    Ratio to_input;   // to cat of the input
    Ratio to_output;  // to cat of the output
    Ratio to_copy;    // to the copy of the output's size from the input
    Ratio to_pair;    // to the --against run
    Ratio to_wc;      // to wc -l on the input
    long peak_rss_kib;
};

// The textmend runs and the cat of their outputs, per mode.
struct Mode {
    const char* flag;  // nullptr for the default mode
    const char* label;
    const char* floor_label;
    const char* output_copy;  // stands for the file holding this mode's output
    const char* against_label;
    const char* copy_label;
    const char* output_size;  // stands for the size of this mode's output
};
const Mode MODES[] = {
    {nullptr, "textmend", "cat (default output)", "OUTPUT_DEFAULT", "against",
     "copy (default output's size)", "SIZE_DEFAULT"},
    {"-w", "textmend -w", "cat (-w output)", "OUTPUT_W", "against -w", "copy (-w output's size)",
     "SIZE_W"},
    {"-u", "textmend -u", "cat (-u output)", "OUTPUT_U", "against -u", "copy (-u output's size)",
     "SIZE_U"},
};

struct Files {
    std::string in;
    std::string out;
    std::vector<std::string> output_copies;  // per mode, in MODES order
    std::vector<std::string> output_sizes;   // per mode, in bytes
};

// This program, run again as `--copy IN OUT N`.
std::string self_path() {
    char path[4096];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return "textmend_file_bench";
    return std::string(path, static_cast<std::size_t>(n));
}

// Runs one command with fork/exec, no shell: wall time and peak RSS.
Sample run_once(const Command& cmd, const Files& files) {
    const std::string& in = files.in;
    const std::string& out = files.out;
    // The previous output is freed before the clock starts (unlink frees a
    // tmpfs file's pages at once). No pause after it: on a virtual machine a
    // processor left idle goes back to the host, and runs started on one were
    // slower and far more often slowed again (textmend-report, which writes
    // nothing: 0.30-0.48 s after a 100 ms pause, 0.25-0.35 s without).
    unlink(out.c_str());
    std::vector<std::string> args;
    for (const std::string& a : cmd.argv) {
        std::string arg = a == "IN" ? in : a == "OUT" ? out : a;
        for (std::size_t m = 0; m < std::size(MODES); ++m) {
            if (a == MODES[m].output_copy) arg = files.output_copies[m];
            if (a == MODES[m].output_size && m < files.output_sizes.size())
                arg = files.output_sizes[m];
        }
        args.push_back(arg);
    }
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        if (cmd.output_on_stdout) {
            const int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (fd < 0 || dup2(fd, 1) < 0) _exit(126);
        }
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    const auto stop = std::chrono::steady_clock::now();
    if (std::getenv("TEXTMEND_BENCH_TRACE"))
        std::fprintf(stderr, "%s %.3f\n", cmd.label.c_str(),
                     std::chrono::duration<double>(stop - start).count());
    if (!WIFEXITED(status) || WEXITSTATUS(status) > cmd.highest_success) {
        std::fprintf(stderr, "file_bench: %s failed on %s (status %d)\n", cmd.label.c_str(),
                     in.c_str(), status);
        std::exit(1);
    }
    return {std::chrono::duration<double>(stop - start).count(), usage.ru_maxrss};
}

// One command's two runs in a round, counted as one: the mean time, the
// higher peak memory.
Sample mean_of(const Sample& a, const Sample& b) {
    return {(a.seconds + b.seconds) / 2, std::max(a.peak_rss_kib, b.peak_rss_kib)};
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

std::vector<std::string> textmend_argv(const std::string& binary, const Mode& mode,
                                       const std::string& out) {
    std::vector<std::string> argv{binary};
    if (mode.flag != nullptr) argv.emplace_back(mode.flag);
    argv.emplace_back("IN");
    argv.push_back(out);
    return argv;
}

std::vector<Command> commands_for(CorpusKind kind, const Options& o) {
    std::vector<Command> cmds = {{"cat", {"cat", "IN"}, true}};
    for (const Mode& mode : MODES) {
        const std::string pair = o.against.empty() ? "" : mode.against_label;
        cmds.push_back({mode.label, textmend_argv(o.textmend, mode, "OUT"), false, 0,
                        mode.floor_label, mode.copy_label, pair});
        if (!o.against.empty()) {
            cmds.push_back({mode.against_label, textmend_argv(o.against, mode, "OUT"), false, 0,
                            mode.floor_label, mode.copy_label});
        }
    }
    for (const Mode& mode : MODES)
        cmds.push_back({mode.floor_label, {"cat", mode.output_copy}, true});
    for (const Mode& mode : MODES)
        cmds.push_back(
            {mode.copy_label, {self_path(), "--copy", "IN", "OUT", mode.output_size}, false});
    // An inspection against reading the file and finding its lines.
    cmds.push_back({"wc -l", {"wc", "-l", "IN"}, true});
    cmds.insert(cmds.end(), {
                                {"textmend-report", {o.report, "--json", "IN"}, true, 1},
                                {"textmend-report -w", {o.report, "-w", "--json", "IN"}, true, 1},
                                {"textmend-report -u", {o.report, "-u", "--json", "IN"}, true, 1},
                                {"textmend-report text", {o.report, "IN"}, true, 1},
                                {"textmend-report text -w", {o.report, "-w", "IN"}, true, 1},
                                {"textmend-report text -u", {o.report, "-u", "IN"}, true, 1},
                            });
    // iconv does the default mode's job on a file that is all UTF-8 and all
    // Latin-1 characters.
    if (kind == CorpusKind::UTF8_PROSE) {
        cmds.push_back({"iconv -f UTF-8 -t ISO-8859-1",
                        {"iconv", "-f", "UTF-8", "-t", "ISO-8859-1", "-o", "OUT", "IN"},
                        false});
    }
    return cmds;
}

// Median, lowest and highest of the round-by-round ratios of command c to
// command base.
Ratio ratio_of(const std::vector<std::vector<Sample>>& samples, std::size_t c, std::size_t base) {
    std::vector<double> ratios;
    for (std::size_t r = 0; r < samples[c].size(); ++r)
        ratios.push_back(samples[c][r].seconds / samples[base][r].seconds);
    std::sort(ratios.begin(), ratios.end());
    return {median(ratios), ratios.front(), ratios.back()};
}

std::size_t index_of(const std::vector<Command>& cmds, const std::string& label) {
    for (std::size_t c = 0; c < cmds.size(); ++c) {
        if (cmds[c].label == label) return c;
    }
    return 0;
}

// Makes each mode's output once, in the work folder (in memory), for cat to copy.
Files prepare_files(const std::string& name, const Options& o) {
    Files files{
        o.work_dir + "/" + name + ".txt", o.out_dir + "/textmend-bench-" + name + ".out", {}, {}};
    for (const Mode& mode : MODES) {
        const std::string copy =
            o.work_dir + "/" + name + ".output" + (mode.flag != nullptr ? mode.flag : "");
        run_once(Command{"output", textmend_argv(o.textmend, mode, copy), false}, files);
        files.output_copies.push_back(copy);
        struct stat st {};
        if (stat(copy.c_str(), &st) != 0) {
            std::fprintf(stderr, "file_bench: %s: %s\n", copy.c_str(), std::strerror(errno));
            std::exit(1);
        }
        files.output_sizes.push_back(std::to_string(st.st_size));
    }
    return files;
}

std::vector<Row> bench_corpus(CorpusKind kind, const Options& o) {
    const std::string name = textmend::bench::corpus_name(kind);
    struct stat st {};
    if (stat((o.work_dir + "/" + name + ".txt").c_str(), &st) != 0) {
        std::fprintf(stderr, "file_bench: no corpus %s\n", name.c_str());
        std::exit(1);
    }
    const auto size = static_cast<std::size_t>(st.st_size);
    const Files files = prepare_files(name, o);
    const std::vector<Command> cmds = commands_for(kind, o);
    std::vector<std::vector<Sample>> samples(cmds.size());
    std::vector<std::vector<double>> single_runs(cmds.size());
    for (const Command& c : cmds)
        run_once(c, files);  // warm the page cache and the binaries
    // Each round runs the commands in one order and then in the reverse
    // order, and counts the mean of each command's two runs. Every run that
    // writes a big output gets the pages the previous one freed, handed back
    // in reverse order, and on some machines such runs are then alternately
    // fast and slow (35 % apart for cat on the machine this was written on).
    // Run once per round, a command kept the same slot, fast or slow, round
    // after round; mirrored, it has one of each in every round, whatever
    // commands come between. Each round also starts one command further on,
    // so that no command always follows the same one.
    for (int round = 0; round < o.runs; ++round) {
        std::vector<std::size_t> order;
        for (std::size_t i = 0; i < cmds.size(); ++i)
            order.push_back((i + static_cast<std::size_t>(round)) % cmds.size());
        std::vector<Sample> first(cmds.size());
        for (const std::size_t c : order)
            first[c] = run_once(cmds[c], files);
        for (auto c = order.rbegin(); c != order.rend(); ++c) {
            const Sample back = run_once(cmds[*c], files);
            samples[*c].push_back(mean_of(first[*c], back));
            single_runs[*c].insert(single_runs[*c].end(), {first[*c].seconds, back.seconds});
        }
    }
    unlink(files.out.c_str());
    for (const std::string& copy : files.output_copies)
        unlink(copy.c_str());

    std::vector<Row> rows;
    for (std::size_t c = 0; c < cmds.size(); ++c) {
        std::vector<double> times;
        long rss = 0;
        for (const Sample& s : samples[c]) {
            times.push_back(s.seconds);
            rss = std::max(rss, s.peak_rss_kib);
        }
        const Ratio to_input = ratio_of(samples, c, 0);
        const Ratio to_output = cmds[c].output_floor.empty()
                                    ? Ratio{0, 0, 0}
                                    : ratio_of(samples, c, index_of(cmds, cmds[c].output_floor));
        const Ratio to_copy = cmds[c].copy_floor.empty()
                                  ? Ratio{0, 0, 0}
                                  : ratio_of(samples, c, index_of(cmds, cmds[c].copy_floor));
        const Ratio to_pair = cmds[c].paired_with.empty()
                                  ? Ratio{0, 0, 0}
                                  : ratio_of(samples, c, index_of(cmds, cmds[c].paired_with));
        const Ratio to_wc = ratio_of(samples, c, index_of(cmds, "wc -l"));
        const double t = median(times);
        rows.push_back({name, cmds[c].label, t, static_cast<double>(size) / 1e6 / t,
                        median(single_runs[c]), static_cast<double>(size) / 1e6, to_input,
                        to_output, to_copy, to_pair, to_wc, rss});
    }
    std::fprintf(stderr, "file_bench: %s done\n", name.c_str());
    return rows;
}

const Row* find_row(const std::vector<Row>& rows, const std::string& corpus,
                    const std::string& label) {
    for (const Row& r : rows) {
        if (r.corpus == corpus && r.label == label) return &r;
    }
    return nullptr;
}

// A table with a line per corpus: one ratio of each mode's textmend run,
// and the speed of cat copying the input if asked for.
void print_ratio_table(const std::vector<Row>& rows, Ratio Row::*ratio, bool cat_speed) {
    std::printf("| corpus | default | `-w` | `-u` |%s\n|---|---|---|---|%s\n",
                cat_speed ? " cat MB/s |" : "", cat_speed ? "---|" : "");
    for (CorpusKind kind : textmend::bench::ALL_CORPORA) {
        const std::string name = textmend::bench::corpus_name(kind);
        const Row* cat = find_row(rows, name, "cat");
        if (cat == nullptr) continue;
        std::printf("| %s", name.c_str());
        for (const Mode& mode : MODES) {
            const Ratio& r = find_row(rows, name, mode.label)->*ratio;
            std::printf(" | %.2f (%.2f–%.2f)", r.median, r.low, r.high);
        }
        if (cat_speed) std::printf(" | %.0f", cat->mb_per_second);
        std::printf(" |\n");
    }
}

// The table the README shows: per corpus and mode, the median time of
// every single run as a ratio to cat's, and the speed it makes; the highest
// peak memory of the three modes; then iconv where it ran. Medians of single
// runs, not of the rounds' ratios: where the machine slows a run now and
// then (a virtual machine whose host takes the processor away), a round's
// ratio is hit when either of its runs is, a median of runs only when most
// are.
void print_summary_table(const std::vector<Row>& rows) {
    std::printf(
        "Summary: median wall time of every run as a ratio to that of `cat in > out`, and the "
        "speed in MB/s of input\n\n"
        "| corpus | default | `-w` | `-u` | peak memory |\n|---|---|---|---|---|\n");
    const auto cell = [](const Row& r, const Row& cat) {
        std::printf(" | %.2f (%.0f MB/s)", r.median_run_seconds / cat.median_run_seconds,
                    r.input_mb / r.median_run_seconds);
    };
    for (CorpusKind kind : textmend::bench::ALL_CORPORA) {
        const std::string name = textmend::bench::corpus_name(kind);
        const Row* cat = find_row(rows, name, "cat");
        if (cat == nullptr) continue;
        std::printf("| %s", name.c_str());
        long rss = 0;
        for (const Mode& mode : MODES) {
            const Row* r = find_row(rows, name, mode.label);
            cell(*r, *cat);
            rss = std::max(rss, r->peak_rss_kib);
        }
        std::printf(" | %.1f MiB |\n", static_cast<double>(rss) / 1024.0);
    }
    const Row* iconv = find_row(rows, "utf8-prose", "iconv -f UTF-8 -t ISO-8859-1");
    if (iconv != nullptr) {
        std::printf("| `iconv -f UTF-8 -t ISO-8859-1` on utf8-prose");
        cell(*iconv, *find_row(rows, "utf8-prose", "cat"));
        std::printf(" | | | %.1f MiB |\n", static_cast<double>(iconv->peak_rss_kib) / 1024.0);
    }
    // The report against reading the file and finding its lines, on the
    // corpus most files are like.
    if (find_row(rows, "mixed-prose", "wc -l") != nullptr) {
        std::printf("| `textmend-report --json` on mixed-prose, ratio to `wc -l`");
        long rss = 0;
        for (const char* flag : {"", " -w", " -u"}) {
            const Row* report =
                find_row(rows, "mixed-prose", std::string("textmend-report") + flag);
            std::printf(" | %.2f", report->to_wc.median);
            rss = std::max(rss, report->peak_rss_kib);
        }
        std::printf(" | %.1f MiB |\n", static_cast<double>(rss) / 1024.0);
    }
    std::printf("\n");
}

// textmend-report against `wc -l` and against converting the same file:
// medians of the ratios taken round by round, --json then text.
void print_report_tables(const std::vector<Row>& rows) {
    std::printf(
        "\ntextmend-report: wall time as a ratio to `wc -l` on the same file, median of the "
        "rounds' ratios, `--json` / text (below 1: faster)\n\n"
        "| corpus | default | `-w` | `-u` |\n|---|---|---|---|\n");
    for (CorpusKind kind : textmend::bench::ALL_CORPORA) {
        const std::string name = textmend::bench::corpus_name(kind);
        if (find_row(rows, name, "cat") == nullptr) continue;
        std::printf("| %s", name.c_str());
        for (const char* flag : {"", " -w", " -u"}) {
            const Row* json = find_row(rows, name, std::string("textmend-report") + flag);
            const Row* text = find_row(rows, name, std::string("textmend-report text") + flag);
            std::printf(" | %.2f / %.2f", json->to_wc.median, text->to_wc.median);
        }
        std::printf(" |\n");
    }
    std::printf(
        "\ntextmend-report --json: median wall time as a ratio to converting the same file "
        "(below 1: faster)\n\n| corpus | default | `-w` | `-u` |\n|---|---|---|---|\n");
    for (CorpusKind kind : textmend::bench::ALL_CORPORA) {
        const std::string name = textmend::bench::corpus_name(kind);
        if (find_row(rows, name, "cat") == nullptr) continue;
        std::printf("| %s", name.c_str());
        for (const char* flag : {"", " -w", " -u"}) {
            const Row* report = find_row(rows, name, std::string("textmend-report") + flag);
            const Row* convert = find_row(rows, name, std::string("textmend") + flag);
            std::printf(" | %.2f", report->median_seconds / convert->median_seconds);
        }
        std::printf(" |\n");
    }
}

void print_tables(const std::vector<Row>& rows, const Options& o) {
    print_summary_table(rows);
    std::printf(
        "Ratio of wall time to `cat in > out`, median of %d rounds, each running the commands "
        "in turn forth and back (lowest–highest); "
        "output in %s\n\n",
        o.runs, o.out_dir.c_str());
    print_ratio_table(rows, &Row::to_input, true);
    std::printf(
        "\nRatio of wall time to `cat` copying a file of the output's size (the mode's own "
        "output), same rounds\n\n");
    print_ratio_table(rows, &Row::to_output, false);
    std::printf(
        "\nRatio of wall time to copying the output's number of bytes from the input as cat "
        "copies (copy_file_range), same rounds\n\n");
    print_ratio_table(rows, &Row::to_copy, false);
    if (!o.against.empty()) {
        std::printf(
            "\nWall time as a ratio to %s (--against), run next to it in every round: "
            "median (lowest–highest), below 1: faster\n\n",
            o.against.c_str());
        print_ratio_table(rows, &Row::to_pair, false);
    }
    print_report_tables(rows);
    std::printf(
        "\n| corpus | command | median s | input MB/s | ratio to cat | peak RSS MiB "
        "|\n|---|---|---|---|---|---|\n");
    for (const Row& r : rows) {
        std::printf("| %s | %s | %.3f | %.0f | %.2f | %.1f |\n", r.corpus.c_str(), r.label.c_str(),
                    r.median_seconds, r.mb_per_second, r.to_input.median,
                    static_cast<double>(r.peak_rss_kib) / 1024.0);
    }
    const Row* iconv = find_row(rows, "utf8-prose", "iconv -f UTF-8 -t ISO-8859-1");
    const Row* mine = find_row(rows, "utf8-prose", "textmend");
    if (iconv != nullptr && mine != nullptr) {
        std::printf(
            "\nDefault mode on pure UTF-8 prose: %.2fx the speed of iconv -f UTF-8 -t ISO-8859-1\n",
            iconv->median_seconds / mine->median_seconds);
    }
}

// Up to n bytes from in to out through a buffer, as cat copies where the
// kernel cannot copy between the two files (coreutils' 128 KiB).
ssize_t read_and_write(int in, int out, std::size_t n) {
    static char buffer[128 * 1024];
    const ssize_t got = read(in, buffer, std::min(n, sizeof buffer));
    if (got <= 0) return got;
    for (ssize_t done = 0; done < got;) {
        const ssize_t put = write(out, buffer + done, static_cast<std::size_t>(got - done));
        if (put < 0) return -1;
        done += put;
    }
    return got;
}

// `--copy IN OUT N`: writes N bytes to OUT copied from IN the way cat
// copies a file, starting IN over at its end when N is larger. Exit status
// 0, or 1 on failure.
int copy_bytes(const char* in_path, const char* out_path, const char* count) {
    const int in = open(in_path, O_RDONLY);
    const int out = open(out_path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0) return 1;
    long long left = std::atoll(count);
    // Between file systems (tmpfs input, output on disk) copy_file_range
    // fails with EXDEV; cat then reads and writes, and so does this.
    bool in_kernel = true;
    while (left > 0) {
        const auto want = static_cast<std::size_t>(left);
        ssize_t n = in_kernel ? copy_file_range(in, nullptr, out, nullptr, want, 0) : -1;
        if (n < 0 && in_kernel && (errno == EXDEV || errno == EOPNOTSUPP || errno == ENOSYS)) {
            in_kernel = false;
        }
        if (!in_kernel) n = read_and_write(in, out, want);
        if (n < 0) return 1;
        if (n == 0 && lseek(in, 0, SEEK_SET) != 0) return 1;
        left -= n;
    }
    return close(out) == 0 ? 0 : 1;
}

int usage() {
    std::fprintf(stderr,
                 "usage: textmend_file_bench --textmend BIN --report BIN --work DIR --out DIR "
                 "[--runs N] [--only CORPUS] [--against BIN]\n"
                 "       textmend_file_bench --copy IN OUT N\n"
                 "       textmend_file_bench --kernels\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 5 && std::strcmp(argv[1], "--copy") == 0)
        return copy_bytes(argv[2], argv[3], argv[4]);
    if (argc == 2 && std::strcmp(argv[1], "--kernels") == 0) {
        std::printf("%s\n", textmend::kernel_choice().active);
        return 0;
    }
    Options o;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string key = argv[i];
        const std::string value = argv[i + 1];
        if (key == "--textmend")
            o.textmend = value;
        else if (key == "--report")
            o.report = value;
        else if (key == "--work")
            o.work_dir = value;
        else if (key == "--out")
            o.out_dir = value;
        else if (key == "--runs")
            o.runs = std::atoi(value.c_str());
        else if (key == "--only")
            o.only = value;
        else if (key == "--against")
            o.against = value;
        else
            return usage();
    }
    if (argc % 2 == 0 || o.textmend.empty() || o.report.empty() || o.work_dir.empty() ||
        o.out_dir.empty() || o.runs < 1)
        return usage();
    std::vector<Row> rows;
    for (CorpusKind kind : textmend::bench::ALL_CORPORA) {
        if (!o.only.empty() && o.only != textmend::bench::corpus_name(kind)) continue;
        const std::vector<Row> r = bench_corpus(kind, o);
        rows.insert(rows.end(), r.begin(), r.end());
    }
    print_tables(rows, o);
    return 0;
}
