// End-to-end tests of textmend-tree on trees built here: what it repairs and
// what it leaves alone (binary files, links, special files, version
// control), its output, JSON, statuses, backups, order under many jobs,
// odd names, other file systems, interrupts, and other users' folders.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "support/double_corpus.hpp"
#include "support/json_lines.hpp"
#include "support/model.hpp"
#include "support/run_program.hpp"
#include "textmend/textmend.hpp"

namespace textmend::test {
namespace {

constexpr int OTHER_USER = 1001;

RunResult run_tree(const std::vector<std::string>& args, RunOptions options = {}) {
    options.program = TEXTMEND_TREE_BINARY;
    return run_textmend(args, options);
}

struct FileState {
    ino_t inode;
    long long mtime_ns;
    std::string content;
    bool operator==(const FileState&) const = default;
};

FileState state_of(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(lstat(path.c_str(), &st), 0) << path;
    return {st.st_ino, st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec, read_file(path)};
}

void make_dirs_for(const std::string& root, const std::string& relative) {
    for (std::size_t at = relative.find('/'); at != std::string::npos;
         at = relative.find('/', at + 1)) {
        mkdir((root + "/" + relative.substr(0, at)).c_str(), 0755);
    }
}

// Files of every kind a tree holds, by their path below the tree.
std::map<std::string, std::string> sample_files() {
    return {
        {"latin1.txt",
         "Gr\xFC\xDF"
         "e aus K\xF6ln\n"},
        {"cp1252.txt", "\x93Zitat\x94 f\xFCr 5 \x80\n"},
        {"utf8.txt",
         "Gr\xC3\xBC\xC3\x9F"
         "e aus K\xC3\xB6ln\n"},
        {"mixed.txt", read_file(std::string(TEXTMEND_SOURCE_DIR) + "/examples/mixed.txt")},
        {"euro-only.txt", "12 \xE2\x82\xAC pro Person\n"},
        {"image.png", std::string("\x89PNG\r\n\x1A\n\0\0\0\rIHDR\xE9\xFF\xC3", 19)},
        {"utf16.txt", std::string("\xFF\xFE"
                                  "c\0a\0f\0\xE9\0\n\0",
                                  12)},
        {"sub/deeper/notes.txt", "caf\xE9 caf\xC3\xA9\n"},
        {".git/config", "caf\xE9\n"},
        {"sub/.svn/entries", "caf\xE9\n"},
    };
}

bool is_binary(const std::string& content) {
    return content.find('\0') != std::string::npos;
}

bool in_version_control(const std::string& relative) {
    return relative.find(".git/") != std::string::npos ||
           relative.find(".svn/") != std::string::npos;
}

// The order of the walk: folder by folder, entries sorted by name.
std::vector<std::string> walk_order(std::vector<std::string> paths) {
    const auto parts = [](const std::string& path) {
        std::vector<std::string> out;
        std::stringstream s(path);
        for (std::string part; std::getline(s, part, '/');)
            out.push_back(part);
        return out;
    };
    std::sort(paths.begin(), paths.end(),
              [&](const std::string& a, const std::string& b) { return parts(a) < parts(b); });
    return paths;
}

// A tree with the sample files, a link out of it, a link loop and a FIFO.
struct SampleTree {
    TempDir dir;
    TempDir outside;
    std::string root = dir / "tree";
    std::map<std::string, std::string> files = sample_files();

    SampleTree() {
        mkdir(root.c_str(), 0755);
        for (const auto& [relative, content] : files) {
            make_dirs_for(root, relative);
            write_file(root + "/" + relative, content);
        }
        write_file(outside / "target.txt", "outside caf\xE9\n");
        symlink((outside / "target.txt").c_str(), (root + "/link-out").c_str());
        symlink("loop", (root + "/loop").c_str());
        mkfifo((root + "/fifo").c_str(), 0644);
    }
};

std::string counts_of(const std::string& content, Target target) {
    const Inspection i = inspect(content, target);
    return std::to_string(i.changed) + " changed, " + std::to_string(i.kept) + " kept";
}

// The lines textmend-tree prints for the sample tree, in walk order.
std::vector<std::string> expected_lines(const SampleTree& tree, Target target, bool dry_run) {
    std::map<std::string, std::string> line_of;
    for (const auto& [relative, content] : tree.files) {
        if (in_version_control(relative)) continue;
        const std::string shown = tree.root + "/" + relative;
        if (is_binary(content)) {
            line_of[relative] = shown + ": binary";
        } else if (model_convert(content, target) != content) {
            line_of[relative] =
                shown + ": " + (dry_run ? "would repair, " : "") + counts_of(content, target);
        }
    }
    line_of["link-out"] = tree.root + "/link-out: skipped (symbolic link)";
    line_of["loop"] = tree.root + "/loop: skipped (symbolic link)";
    line_of["fifo"] = tree.root + "/fifo: skipped (FIFO)";
    std::vector<std::string> order;
    for (const auto& [relative, line] : line_of)
        order.push_back(relative);
    std::vector<std::string> lines;
    for (const std::string& relative : walk_order(order))
        lines.push_back(line_of[relative]);
    return lines;
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::stringstream s(text);
    for (std::string line; std::getline(s, line);)
        lines.push_back(line);
    return lines;
}

// The output without its summary's measurements ("(0.1 MiB in 0.02 s)").
std::string without_timing(const std::string& out) {
    const std::size_t at = out.rfind(" (");
    return at == std::string::npos ? out : out.substr(0, at);
}

const struct {
    const char* option;
    Target target;
} TARGETS[] = {{nullptr, Target::latin1}, {"-w", Target::windows1252}, {"-u", Target::utf8}};

// Every file that needs it is repaired to exactly what textmend writes;
// everything else stays as it was, to the inode and the time: clean files,
// files whose only places the target cannot hold, binary files, links and
// what they lead to, FIFOs, version control.
TEST(Tree, RepairsWhatNeedsItAndLeavesTheRestAlone) {
    for (const auto& t : TARGETS) {
        SampleTree tree;
        std::map<std::string, FileState> before;
        for (const auto& [relative, content] : tree.files)
            before[relative] = state_of(tree.root + "/" + relative);
        const FileState outside_before = state_of(tree.outside / "target.txt");
        std::vector<std::string> args;
        if (t.option != nullptr) args.push_back(t.option);
        args.push_back(tree.root);
        const RunResult r = run_tree(args);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "");
        std::vector<std::string> lines = lines_of(r.out);
        ASSERT_FALSE(lines.empty());
        const std::string summary = lines.back();
        lines.pop_back();
        EXPECT_EQ(lines, expected_lines(tree, t.target, false))
            << (t.option ? t.option : "default");
        int repaired = 0;
        for (const auto& [relative, content] : tree.files) {
            const std::string path = tree.root + "/" + relative;
            const bool repairs = !in_version_control(relative) && !is_binary(content) &&
                                 model_convert(content, t.target) != content;
            if (repairs) {
                ++repaired;
                EXPECT_TRUE(read_file(path) == model_convert(content, t.target)) << relative;
            } else {
                EXPECT_TRUE(state_of(path) == before[relative]) << relative << " was touched";
            }
        }
        EXPECT_TRUE(state_of(tree.outside / "target.txt") == outside_before);
        EXPECT_EQ(without_timing(summary).substr(0, summary.find(':')), "11 files");
        EXPECT_NE(summary.find(std::to_string(repaired) + " repaired"), std::string::npos)
            << summary;
        // A second run finds nothing left to do.
        const RunResult again = run_tree(args);
        EXPECT_EQ(again.status, 0);
        EXPECT_NE(again.out.find(": 0 repaired"), std::string::npos) << again.out;
    }
}

TEST(Tree, DryRunChangesNothingAndSaysWhatItWouldDo) {
    SampleTree tree;
    std::map<std::string, FileState> before;
    for (const auto& [relative, content] : tree.files)
        before[relative] = state_of(tree.root + "/" + relative);
    for (const char* option : {"-n", "--dry-run"}) {
        const RunResult r = run_tree({"-u", option, tree.root});
        EXPECT_EQ(r.status, 0) << r.err;
        std::vector<std::string> lines = lines_of(r.out);
        ASSERT_FALSE(lines.empty());
        EXPECT_NE(lines.back().find("to repair"), std::string::npos) << lines.back();
        lines.pop_back();
        EXPECT_EQ(lines, expected_lines(tree, Target::utf8, true));
        for (const auto& [relative, state] : before)
            EXPECT_TRUE(state_of(tree.root + "/" + relative) == state) << relative;
    }
}

// --json: every line one valid object; an object per entry, clean files
// too, with the names exactly as on disk; the summary last, with the same
// counts as the text.
TEST(Tree, JsonHasAnObjectPerEntryAndMatchesTheText) {
    SampleTree tree;
    const RunResult text = run_tree({"-u", "-n", tree.root});
    const RunResult json = run_tree({"-u", "-n", "--json", tree.root});
    EXPECT_EQ(json.status, 0);
    std::vector<std::string> lines = lines_of(json.out);
    ASSERT_EQ(lines.size(), 12U);  // 8 files, 3 skipped entries, the summary
    std::vector<std::string> shown_in_text;
    for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
        const std::optional<JsonObject> o = parse_json_object(lines[i]);
        ASSERT_TRUE(o.has_value()) << lines[i];
        for (const char* key :
             {"file", "action", "reason", "bytes_in", "bytes_out", "changed", "kept"})
            EXPECT_EQ(o->count(key), 1U) << key << " in " << lines[i];
        const std::string& action = o->at("action");
        const std::string& file = o->at("file");
        ASSERT_EQ(file.rfind(tree.root + "/", 0), 0U) << file;
        const std::string relative = file.substr(tree.root.size() + 1);
        if (tree.files.count(relative) > 0 && !is_binary(tree.files.at(relative))) {
            const Inspection expected = inspect(tree.files.at(relative), Target::utf8);
            EXPECT_EQ(o->at("changed"), std::to_string(expected.changed)) << relative;
            EXPECT_EQ(o->at("bytes_out"), std::to_string(expected.bytes_out)) << relative;
            EXPECT_EQ(action, expected.changed > 0 ? "would repair"
                              : expected.kept > 0  ? "unchanged"
                                                   : "clean")
                << relative;
        }
        if (action != "clean" && action != "unchanged") shown_in_text.push_back(file);
    }
    // The text names the same entries, in the same order.
    std::vector<std::string> text_lines = lines_of(text.out);
    text_lines.pop_back();
    ASSERT_EQ(text_lines.size(), shown_in_text.size());
    for (std::size_t i = 0; i < text_lines.size(); ++i)
        EXPECT_EQ(text_lines[i].substr(0, text_lines[i].find(": ")), shown_in_text[i]);
    const std::optional<JsonObject> summary = parse_json_object(lines.back());
    ASSERT_TRUE(summary.has_value()) << lines.back();
    const std::optional<JsonObject> counts = parse_json_object(summary->at("summary"));
    ASSERT_TRUE(counts.has_value());
    EXPECT_EQ(counts->at("files"), "11");
    EXPECT_EQ(counts->at("skipped"), "3");
    EXPECT_EQ(counts->at("binary"), "2");
    EXPECT_EQ(counts->at("failed"), "0");
}

// --backup keeps each repaired file's original under NAME+SUFFIX, as another
// name of the original file; a later run never takes a backup for a file to
// repair; a backup of the caller's own is replaced.
TEST(Tree, BackupKeepsTheOriginalAndIsNeverRepairedItself) {
    TempDir dir;
    const std::string original = "caf\xE9 und caf\xC3\xA9\n";
    write_file(dir / "a.txt", original);
    write_file(dir / "clean.txt", "plain\n");
    write_file(dir / "b.txt.orig", "an old backup of the caller's \xE9\n");
    write_file(dir / "b.txt", original);
    struct stat before {};
    stat((dir / "a.txt").c_str(), &before);
    const RunResult r = run_tree({"-u", "--backup", ".orig", dir.path});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(read_file(dir / "a.txt") == model_convert(original, MODE_UTF8));
    EXPECT_TRUE(read_file(dir / "a.txt.orig") == original);
    EXPECT_TRUE(read_file(dir / "b.txt.orig") == original);  // the old one replaced
    struct stat backup {};
    stat((dir / "a.txt.orig").c_str(), &backup);
    EXPECT_EQ(backup.st_ino, before.st_ino);  // the original file itself, not a copy
    EXPECT_FALSE(file_exists(dir / "clean.txt.orig"));
    EXPECT_EQ(list_dir(dir.path), (std::vector<std::string>{"a.txt", "a.txt.orig", "b.txt",
                                                            "b.txt.orig", "clean.txt"}));
    // Again, in the default mode, which would turn UTF-8 back: the backups
    // still hold the originals.
    const RunResult again = run_tree({"--backup", ".orig", dir.path});
    EXPECT_EQ(again.status, 0) << again.err;
    EXPECT_TRUE(read_file(dir / "a.txt.orig") == model_convert(original, MODE_UTF8));
    EXPECT_EQ(list_dir(dir.path).size(), 5U);
}

TEST(Tree, BackupOfAnotherUserIsNotReplaced) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root (another user's file)";
    TempDir dir;
    write_file(dir / "a.txt", "caf\xE9\n");
    write_file(dir / "a.txt.orig", "theirs\n");
    chown((dir / "a.txt.orig").c_str(), OTHER_USER, OTHER_USER);
    const RunResult r = run_tree({"-u", "--backup", ".orig", dir.path});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "textmend-tree: " + (dir / "a.txt") + ": File exists\n");
    EXPECT_EQ(read_file(dir / "a.txt"), "caf\xE9\n");
    EXPECT_EQ(read_file(dir / "a.txt.orig"), "theirs\n");
}

// The output is in walk order whatever the number of jobs.
TEST(Tree, OutputOrderDoesNotDependOnTheJobs) {
    TempDir dir;
    for (int d = 0; d < 6; ++d) {
        const std::string folder = dir / ("d" + std::to_string(d));
        mkdir(folder.c_str(), 0755);
        for (int f = 0; f < 60; ++f) {
            std::string content = "line " + std::to_string(f) + "\n";
            if ((f + d) % 3 == 0) content += "caf\xE9\n";
            if (f % 7 == 0) content += std::string(300000, 'x') + "\xC3\xA9\n";  // larger ones
            write_file(folder + "/f" + std::to_string(f) + ".txt", content);
        }
    }
    const RunResult one = run_tree({"-u", "-n", "-j", "1", dir.path});
    const RunResult many = run_tree({"-u", "-n", "-j", "8", dir.path});
    EXPECT_EQ(one.status, 0);
    EXPECT_EQ(many.status, 0);
    EXPECT_EQ(without_timing(many.out), without_timing(one.out));
    EXPECT_EQ(lines_of(one.out).size(), 121U);  // 120 to repair and the summary
    const RunResult repaired = run_tree({"-u", "-j", "8", dir.path});
    EXPECT_EQ(without_timing(repaired.out).find("would repair"), std::string::npos);
    EXPECT_EQ(lines_of(repaired.out).size(), 121U);
}

// Names with a newline and bytes that are not UTF-8: repaired like any
// other, and shown with the control bytes escaped.
TEST(Tree, OddNamesAreRepairedAndShownEscaped) {
    TempDir dir;
    const std::string names[] = {"new\nline.txt", "caf\xE9.txt", "back\\slash.txt"};
    for (const std::string& name : names)
        write_file(dir / name, "caf\xE9\n");
    const RunResult r = run_tree({"-u", dir.path});
    EXPECT_EQ(r.status, 0) << r.err;
    for (const std::string& name : names)
        EXPECT_EQ(read_file(dir / name), "caf\xC3\xA9\n") << name;
    EXPECT_NE(r.out.find(dir / "new\\012line.txt: 1 changed, 0 kept\n"), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find(dir / "back\\\\slash.txt: 1 changed"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(dir / "caf\xE9.txt: 1 changed"), std::string::npos) << r.out;
    const RunResult json = run_tree({"-u", "-n", "--json", dir.path});
    std::vector<std::string> files;
    for (const std::string& line : lines_of(json.out)) {
        const std::optional<JsonObject> o = parse_json_object(line);
        ASSERT_TRUE(o.has_value()) << line;
        if (o->count("file") > 0) files.push_back(o->at("file"));
    }
    EXPECT_EQ(files, (std::vector<std::string>{dir / "back\\slash.txt", dir / "caf\xE9.txt",
                                               dir / "new\nline.txt"}));
}

TEST(Tree, CommandLinesStatusesAndFailures) {
    TempDir dir;
    write_file(dir / "a.txt", "caf\xE9\n");
    const RunResult usage = run_tree({"-w", "-u", dir.path});
    EXPECT_EQ(usage.status, 2);
    EXPECT_EQ(usage.err.rfind("textmend-tree: options -w and -u exclude each other\nUsage: ", 0),
              0U);
    EXPECT_EQ(usage.out, "");
    const RunResult none = run_tree({});
    EXPECT_EQ(none.status, 2);
    const RunResult help = run_tree({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("Usage: textmend-tree ", 0), 0U);
    const RunResult version = run_tree({"--version"});
    EXPECT_EQ(version.out.rfind("textmend-tree ", 0), 0U);
    // A missing PATH fails; the others are still done.
    const RunResult missing = run_tree({"-u", dir / "missing", dir.path});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.err, "textmend-tree: " + (dir / "missing") + ": No such file or directory\n");
    EXPECT_EQ(read_file(dir / "a.txt"), "caf\xC3\xA9\n");
    EXPECT_NE(missing.out.find(dir / "missing: failed (No such file or directory)\n"),
              std::string::npos);
    // A file given as PATH, and -q: only failures and the summary.
    write_file(dir / "b.txt", "caf\xE9\n");
    const RunResult quiet = run_tree({"-u", "-q", dir / "b.txt"});
    EXPECT_EQ(quiet.status, 0);
    EXPECT_EQ(lines_of(quiet.out).size(), 1U) << quiet.out;
    EXPECT_EQ(read_file(dir / "b.txt"), "caf\xC3\xA9\n");
}

std::string undone(const std::string& content, Target target) {
    return converted(content, target, true);
}

// --undo-double: the lines of text encoded twice are undone as the library
// undoes them, and legitimate text with the same byte patterns is left
// alone; the counts are those of converting the undone text, with the runs
// undone beside them. Without the option, nothing of that is done or shown.
TEST(Tree, UndoDoubleUndoesTheDamagedLinesOnly) {
    std::string damaged;
    for (const CorpusLine& line : damaged_corpus())
        damaged += line.text + "\n";
    ReportInspector runs(Target::utf8);
    runs.feed(damaged);
    const std::string cafe = encode_again("caf\xC3\xA9", Misreading::latin1);
    const struct {
        const char* name;
        std::string content;
        std::uint64_t undone;
    } files[] = {
        // in the order of the walk
        {"damaged.txt", damaged, runs.finish().double_runs},
        {"ete.txt", "\xC2\xAB\xC3\x89T\xC3\x89\xC2\xBB\n", 0},
        {"legitimate.txt", joined(legitimate_lines()), 0},
        // In UTF-8 as long as before, yet changed.
        {"same-size.txt", cafe + "\n\xE9\xE9\n", 1},
    };
    for (const auto& t : TARGETS) {
        TempDir dir;
        std::map<std::string, FileState> before;
        for (const auto& f : files) {
            write_file(dir / f.name, f.content);
            before[f.name] = state_of(dir / f.name);
        }
        std::vector<std::string> args;
        if (t.option != nullptr) args.push_back(t.option);
        args.push_back("--undo-double");
        std::vector<std::string> dry = args;
        for (const char* more : {"-n", "--json"})
            dry.push_back(more);
        dry.push_back(dir.path);
        const RunResult json = run_tree(dry);
        EXPECT_EQ(json.status, 0) << json.err;
        const std::vector<std::string> lines = lines_of(json.out);
        ASSERT_EQ(lines.size(), std::size(files) + 1) << json.out;
        for (std::size_t i = 0; i < std::size(files); ++i) {
            const auto& f = files[i];
            const std::optional<JsonObject> o = parse_json_object(lines[i]);
            ASSERT_TRUE(o.has_value()) << lines[i];
            const std::string expected = undone(f.content, t.target);
            const std::string action = expected != f.content                   ? "would repair"
                                       : inspect(f.content, t.target).kept > 0 ? "unchanged"
                                                                               : "clean";
            EXPECT_EQ(o->at("action"), action) << f.name;
            EXPECT_EQ(o->at("undone"), std::to_string(f.undone)) << f.name;
            EXPECT_EQ(o->at("bytes_out"), std::to_string(expected.size())) << f.name;
            EXPECT_EQ(o->at("bytes_in"), std::to_string(f.content.size())) << f.name;
        }
        args.push_back(dir.path);
        const RunResult r = run_tree(args);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.out.find("damaged.txt: "), std::string::npos) << r.out;
        EXPECT_NE(r.out.find(", " + std::to_string(files[0].undone) + " undone\n"),
                  std::string::npos)
            << r.out;
        for (const auto& f : files) {
            const std::string expected = undone(f.content, t.target);
            if (expected == f.content) {
                EXPECT_TRUE(state_of(dir / f.name) == before[f.name]) << f.name << " was touched";
            } else {
                EXPECT_TRUE(read_file(dir / f.name) == expected) << f.name;
            }
        }
    }
    // Without the option: UTF-8 encoded twice is clean UTF-8, and the JSON
    // is as it always was.
    TempDir dir;
    write_file(dir / "damaged.txt", damaged);
    const RunResult plain = run_tree({"-u", "-n", "--json", dir.path});
    EXPECT_NE(plain.out.find("\"action\":\"clean\""), std::string::npos) << plain.out;
    EXPECT_EQ(plain.out.find("undone"), std::string::npos) << plain.out;
}

// --include and --exclude: only the files asked for; an excluded folder is
// not entered.
TEST(Tree, IncludeAndExcludeChooseTheFiles) {
    TempDir dir;
    for (const char* name : {"a.srt", "a.txt", "keep/b.srt", "cache/c.srt", "cache/deep/d.srt"}) {
        make_dirs_for(dir.path, name);
        write_file(dir / name, "caf\xE9\n");
    }
    const RunResult r = run_tree({"-u", "--include", "*.srt", "--exclude", "cache/**", dir.path});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_file(dir / "a.srt"), "caf\xC3\xA9\n");
    EXPECT_EQ(read_file(dir / "keep/b.srt"), "caf\xC3\xA9\n");
    EXPECT_EQ(read_file(dir / "a.txt"), "caf\xE9\n");
    EXPECT_EQ(read_file(dir / "cache/c.srt"), "caf\xE9\n");
    EXPECT_EQ(read_file(dir / "cache/deep/d.srt"), "caf\xE9\n");
    EXPECT_EQ(without_timing(lines_of(r.out).back()),
              "2 files: 2 repaired, 0 clean, 0 unchanged, 0 binary, 0 skipped, 0 failed");
}

// --binary converts files with a byte 00 too.
TEST(Tree, BinaryFilesOnlyWhenAskedFor) {
    TempDir dir;
    const std::string content("caf\xE9\0\n", 6);
    write_file(dir / "f", content);
    EXPECT_EQ(run_tree({"-u", dir.path}).status, 0);
    EXPECT_TRUE(read_file(dir / "f") == content);
    EXPECT_EQ(run_tree({"-u", "--binary", dir.path}).status, 0);
    EXPECT_TRUE(read_file(dir / "f") == model_convert(content, MODE_UTF8));
}

// Many small files, as a site or a mail folder has them.
TEST(Tree, ManySmallFiles) {
    const int count = under_wrapper() ? 500 : 20000;
    TempDir dir(TempDir::Where::in_memory);
    for (int d = 0; d < count / 1000 + 1; ++d)
        mkdir((dir / std::to_string(d)).c_str(), 0755);
    for (int i = 0; i < count; ++i) {
        const std::string content = i % 10 == 0 ? "Gr\xFC\xDF"
                                                  "e " +
                                                      std::to_string(i) + "\n"
                                                : "plain " + std::to_string(i) + "\n";
        write_file(dir / (std::to_string(i / 1000) + "/" + std::to_string(i)), content);
    }
    const RunResult r = run_tree({"-u", "-q", dir.path});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(without_timing(r.out), std::to_string(count) +
                                         " files: " + std::to_string(count / 10) + " repaired, " +
                                         std::to_string(count - count / 10) +
                                         " clean, 0 unchanged, 0 binary, 0 skipped, 0 failed");
    EXPECT_EQ(read_file(dir / "0/10"),
              "Gr\xC3\xBC\xC3\x9F"
              "e 10\n");
    EXPECT_EQ(read_file(dir / "0/11"), "plain 11\n");
}

// -x stays on the PATH's file system: a tmpfs mounted inside is left alone.
TEST(Tree, OneFileSystemLeavesOtherMountsAlone) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root (mounting a tmpfs)";
    TempDir dir;
    mkdir((dir / "mounted").c_str(), 0755);
    if (mount("textmend-test", (dir / "mounted").c_str(), "tmpfs", 0, "size=1m") != 0) {
        GTEST_SKIP() << "cannot mount a tmpfs here";
    }
    write_file(dir / "here.txt", "caf\xE9\n");
    write_file(dir / "mounted/there.txt", "caf\xE9\n");
    const RunResult r = run_tree({"-u", "-x", dir.path});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_file(dir / "here.txt"), "caf\xC3\xA9\n");
    EXPECT_EQ(read_file(dir / "mounted/there.txt"), "caf\xE9\n");
    EXPECT_NE(r.out.find(dir / "mounted: skipped (on another file system)\n"), std::string::npos);
    const RunResult without = run_tree({"-u", dir.path});
    EXPECT_EQ(read_file(dir / "mounted/there.txt"), "caf\xC3\xA9\n");
    umount2((dir / "mounted").c_str(), MNT_DETACH);
}

// What another user cannot read fails, and the rest is still done.
TEST(Tree, UnreadableFilesAndFoldersFailAndTheRestIsDone) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root (another user)";
    TempDir dir;
    chmod(dir.path.c_str(), 0755);
    // A copy of the program that the other user may run.
    const std::string program = dir / "textmend-tree";
    write_file(program, read_file(TEXTMEND_TREE_BINARY));
    chmod(program.c_str(), 0755);
    const std::string tree = dir / "tree";
    mkdir(tree.c_str(), 0777);
    chmod(tree.c_str(), 0777);
    mkdir((tree + "/closed").c_str(), 0700);
    write_file(tree + "/closed/f.txt", "caf\xE9\n");
    write_file(tree + "/secret.txt", "caf\xE9\n");
    chmod((tree + "/secret.txt").c_str(), 0600);
    write_file(tree + "/mine.txt", "caf\xE9\n");
    chown((tree + "/mine.txt").c_str(), OTHER_USER, OTHER_USER);
    RunOptions as_other;
    as_other.uid = OTHER_USER;
    as_other.program = program;
    const RunResult r = run_textmend({"-u", tree}, as_other);
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_EQ(read_file(tree + "/mine.txt"), "caf\xC3\xA9\n");
    EXPECT_EQ(read_file(tree + "/secret.txt"), "caf\xE9\n");
    EXPECT_EQ(read_file(tree + "/closed/f.txt"), "caf\xE9\n");
    EXPECT_EQ(r.err, "textmend-tree: " + tree + "/closed: Permission denied\n" +
                         "textmend-tree: " + tree + "/secret.txt: Permission denied\n");
}

// SIGINT stops the run: files at work are left as they were, every file is
// either its original or its whole conversion, nothing temporary stays, the
// summary of what was done is printed, and the process ends by the signal.
TEST(Tree, InterruptLeavesEveryFileWholeAndPrintsTheSummary) {
    TempDir dir(TempDir::Where::in_memory);
    std::string original(16 << 20, '\xE9');
    for (std::size_t i = 0; i < original.size(); i += 61)
        original[i] = '\n';
    const std::string converted = model_convert(original, MODE_UTF8);
    const int files = under_wrapper() ? 4 : 24;
    for (int i = 0; i < files; ++i)
        write_file(dir / ("f" + std::to_string(100 + i)), original);
    const std::string out = dir.path + ".out";
    const int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    RunOptions options;
    options.program = TEXTMEND_TREE_BINARY;
    options.descriptors = {{fd, 1}};
    const pid_t pid = start_textmend({"-u", "-j", "1", dir.path}, options, dir.path + ".err");
    close(fd);
    // Setvbuf-less stdout to a file is written in blocks: wait for the first
    // file converted instead, which shows on the disk.
    bool converting = false;
    for (int tries = 0; tries < 20000 && !converting; ++tries) {
        converting = std::filesystem::file_size(dir / "f100") != original.size();
        if (!converting) usleep(500);
    }
    kill(pid, SIGINT);
    const int status = wait_for_exit(pid);
    EXPECT_TRUE(converting) << "the run ended before it could be interrupted";
    EXPECT_EQ(status, 128 + SIGINT);
    int whole = 0;
    for (const std::string& name : list_dir(dir.path)) {
        ASSERT_EQ(name.rfind("f", 0), 0U) << name << " was left behind";
        const std::string content = read_file(dir / name);
        EXPECT_TRUE(content == original || content == converted) << name << " is half done";
        if (content == converted) ++whole;
    }
    EXPECT_EQ(list_dir(dir.path).size(), static_cast<std::size_t>(files));
    EXPECT_LT(whole, files) << "every file was done: not interrupted";
    const std::vector<std::string> lines = lines_of(read_file(out));
    ASSERT_FALSE(lines.empty());
    const std::string done = std::to_string(whole) + (whole == 1 ? " file: " : " files: ") +
                             std::to_string(whole) + " repaired";
    EXPECT_EQ(lines.back().rfind(done, 0), 0U) << lines.back();
    unlink(out.c_str());
    unlink((dir.path + ".err").c_str());
}

// A PATH that is a symbolic link is followed when the caller or root owns
// it, and refused when another user does.
TEST(Tree, PathThatIsALinkFollowsTheLinkRule) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root (another user's link)";
    TempDir dir, target;
    write_file(target / "f.txt", "caf\xE9\n");
    ASSERT_EQ(symlink(target.path.c_str(), (dir / "mine").c_str()), 0);
    chmod(dir.path.c_str(), 0777);  // before the other user makes a link there
    const pid_t pid = fork();
    if (pid == 0) {
        if (setgroups(0, nullptr) != 0 || setgid(OTHER_USER) != 0 || setuid(OTHER_USER) != 0)
            _exit(2);
        _exit(symlink(target.path.c_str(), (dir / "theirs").c_str()) == 0 ? 0 : 1);
    }
    ASSERT_EQ(wait_for_exit(pid), 0);
    const RunResult theirs = run_tree({"-u", dir / "theirs"});
    EXPECT_EQ(theirs.status, 1);
    EXPECT_EQ(theirs.err, "textmend-tree: " + (dir / "theirs") + ": Permission denied\n");
    EXPECT_EQ(read_file(target / "f.txt"), "caf\xE9\n");
    const RunResult mine = run_tree({"-u", dir / "mine"});
    EXPECT_EQ(mine.status, 0) << mine.err;
    EXPECT_EQ(read_file(target / "f.txt"), "caf\xC3\xA9\n");
}

// Another user swaps a folder of the tree, over and over, between one of
// their own and a link to a root-only folder, while root repairs the tree:
// the walk never leads into the root-only folder.
TEST(Tree, FolderSwappedForALinkDuringTheWalkNeverLeadsOutside) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root (another user)";
    TempDir shared, outside;
    chmod(shared.path.c_str(), 0777);
    chmod(outside.path.c_str(), 0700);
    const std::string victim = outside / "f.txt";
    write_file(victim, "VICTIM caf\xE9\n");
    chmod(victim.c_str(), 0600);
    struct stat before {};
    stat(victim.c_str(), &before);
    const pid_t attacker = fork();
    if (attacker == 0) {
        if (setgroups(0, nullptr) != 0 || setgid(OTHER_USER) != 0 || setuid(OTHER_USER) != 0 ||
            chdir(shared.path.c_str()) != 0 || mkdir("dir", 0755) != 0 ||
            symlink(outside.path.c_str(), "other") != 0) {
            _exit(2);
        }
        for (;;)
            renameat2(AT_FDCWD, "dir", AT_FDCWD, "other", RENAME_EXCHANGE);
    }
    const int runs = race_rounds(300);
    for (int i = 0; i < runs; ++i)
        run_tree({"-u", "-q", shared.path});
    kill(attacker, SIGKILL);
    EXPECT_EQ(wait_for_exit(attacker), 128 + SIGKILL) << "the attacker could not set up";
    struct stat after {};
    stat(victim.c_str(), &after);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(read_file(victim), "VICTIM caf\xE9\n");
}

// The progress line: on a terminal only, not with -q or --json, and
// cleared at the end (the last thing written to the terminal erases it).
TEST(Tree, ProgressOnATerminalOnly) {
    if (!have_command("script")) GTEST_SKIP() << "needs script (util-linux) for a terminal";
    TempDir dir;
    for (int i = 0; i < 300; ++i)
        write_file(dir / ("f" + std::to_string(i)), "caf\xE9\n");
    const RunResult piped = run_tree({"-n", "-u", dir.path});
    EXPECT_EQ(piped.err, "");
    RunOptions options;
    options.program = "script";
    const std::string command = std::string(TEXTMEND_TREE_BINARY " -n -u ") + dir.path;
    const RunResult shown = run_textmend({"-qec", command + " >/dev/null", "/dev/null"}, options);
    EXPECT_NE(shown.out.find(" of 300 files, "), std::string::npos) << shown.out;
    EXPECT_EQ(shown.out.substr(shown.out.size() - 4), "\r\033[K") << shown.out;
    const RunResult quiet =
        run_textmend({"-qec", command + " -q >/dev/null", "/dev/null"}, options);
    EXPECT_EQ(quiet.out.find(" files, "), std::string::npos) << quiet.out;
}

}  // namespace
}  // namespace textmend::test
