// Parts of textmend-tree on their own: the patterns of --include and
// --exclude, which entries they select, and the command line.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tree/glob.hpp"
#include "tree/options.hpp"

namespace textmend::tree {
namespace {

TEST(TreeGlob, MatchesLikeTheShellWithStarStarAcrossFolders) {
    const struct {
        const char* pattern;
        const char* text;
        bool matches;
    } cases[] = {
        {"*.srt", "film.srt", true},
        {"*.srt", "film.srt.bak", false},
        {"*.srt", ".srt", true},
        {"*", "", true},
        {"?", "", false},
        {"f?lm.*", "film.srt", true},
        {"*.txt", "a/b.txt", false},  // * stops at a slash
        {"a/*.txt", "a/b.txt", true},
        {"a/*.txt", "a/b/c.txt", false},
        {"a/**", "a/b/c.txt", true},
        {"a/**", "ab/c.txt", false},
        {"**/c.txt", "c.txt", true},  // "**/" may match nothing
        {"**/c.txt", "a/b/c.txt", true},
        {"docs/**/*.txt", "docs/x.txt", true},
        {"docs/**/*.txt", "docs/a/b/x.txt", true},
        {"docs/**/*.txt", "docs/a/b/x.md", false},
        {"**", "any/thing/at/all", true},
        {"[abc]at", "bat", true},
        {"[abc]at", "rat", false},
        {"[!abc]at", "rat", true},
        {"[a-c]*", "cube", true},
        {"[a-c]*", "dice", false},
        {"[]]", "]", true},
        {"a[/]b", "a/b", false},  // a set never matches a slash
        {"[unclosed", "[unclosed", true},
        {"\\*.txt", "*.txt", true},
        {"\\*.txt", "a.txt", false},
        {"caf\xC3\xA9*", "caf\xC3\xA9 menu", true},
        {"", "", true},
        {"", "a", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(glob_match(c.pattern, c.text), c.matches) << c.pattern << " ~ " << c.text;
}

TEST(TreeGlob, IncludeAndExcludeSelectEntries) {
    const EntryFilter filter({"*.srt", "docs/**"}, {"*.bak", "/cache/**", "docs/private"});
    const struct {
        const char* relative;
        bool file_taken;
        bool excluded;
    } cases[] = {
        {"film.srt", true, false},
        {"season/1/film.srt", true, false},  // a name pattern at any depth
        {"notes.txt", false, false},         // not included
        {"docs/notes.txt", true, false},
        {"docs/a/b/notes.txt", true, false},
        {"film.srt.bak", false, true},  // exclusion wins
        {"cache", false, true},         // "/cache/**" leaves the folder itself out
        {"cache/film.srt", false, true},
        {"sub/cache/film.srt", true, false},  // anchored: only the top cache
        {"docs/private", false, true},
    };
    for (const auto& c : cases) {
        const std::string relative = c.relative;
        const std::string name = relative.substr(relative.rfind('/') + 1);
        EXPECT_EQ(filter.takes_file(relative, name.c_str()), c.file_taken) << c.relative;
        EXPECT_EQ(filter.excluded(relative, name.c_str()), c.excluded) << c.relative;
    }
    const EntryFilter everything({}, {});
    EXPECT_TRUE(everything.takes_file("any/file", "file"));
}

CommandLine parse(std::vector<const char*> args) {
    args.insert(args.begin(), "textmend-tree");
    return parse_command_line(static_cast<int>(args.size()), args.data());
}

TEST(TreeOptions, GoodCommandLines) {
    const CommandLine all =
        parse({"-u", "-nq", "-j4", "--json", "--include", "*.srt", "--include=*.sub", "--exclude",
               "tmp/**", "--binary", "--backup=.orig", "-x", "--undo-double", "a", "--", "-b"});
    ASSERT_EQ(all.request, Request::run) << all.error;
    const TreeOptions& o = all.options;
    EXPECT_EQ(o.target, Target::utf8);
    EXPECT_TRUE(o.dry_run && o.quiet && o.json && o.binary && o.one_file_system && o.undo_double);
    EXPECT_EQ(o.jobs, 4U);
    EXPECT_EQ(o.include, (std::vector<std::string>{"*.srt", "*.sub"}));
    EXPECT_EQ(o.exclude, (std::vector<std::string>{"tmp/**"}));
    EXPECT_EQ(o.backup_suffix, ".orig");
    ASSERT_EQ(o.paths.size(), 2U);
    EXPECT_STREQ(o.paths[1], "-b");

    const CommandLine plain = parse({"-w", "--jobs", "256", "--dry-run", "dir", "-"});
    ASSERT_EQ(plain.request, Request::run) << plain.error;
    EXPECT_EQ(plain.options.target, Target::windows1252);
    EXPECT_EQ(plain.options.jobs, 256U);
    EXPECT_EQ(plain.options.paths.size(), 2U);
    EXPECT_EQ(parse({"dir"}).options.target, Target::latin1);
    EXPECT_EQ(parse({"--help", "--bogus"}).request, Request::wrong);  // every option is read
    EXPECT_EQ(parse({"--version", "--help"}).request, Request::help);
    EXPECT_EQ(parse({"--version"}).request, Request::version);
}

TEST(TreeOptions, WrongCommandLines) {
    const struct {
        std::vector<const char*> args;
        const char* error;
    } cases[] = {
        {{}, "no PATH given"},
        {{"-u"}, "no PATH given"},
        {{"-w", "-u", "d"}, "options -w and -u exclude each other"},
        {{"-k", "d"}, "unknown option '-k'"},
        {{"--bogus", "d"}, "unknown option '--bogus'"},
        {{"--json=yes", "d"}, "unknown option '--json=yes'"},
        {{"-j", "0", "d"}, "not a number of jobs from 1 to 256: '0'"},
        {{"-j257", "d"}, "not a number of jobs from 1 to 256: '257'"},
        {{"--jobs", "two", "d"}, "not a number of jobs from 1 to 256: 'two'"},
        {{"d", "-j"}, "option -j needs a number"},
        {{"d", "--include"}, "option --include needs a value"},
        {{"--backup", "", "d"}, "not a backup suffix: ''"},
        {{"--backup=a/b", "d"}, "not a backup suffix: 'a/b'"},
    };
    for (const auto& c : cases) {
        const CommandLine cl = parse(c.args);
        EXPECT_EQ(cl.request, Request::wrong) << c.error;
        EXPECT_EQ(cl.error, c.error);
    }
}

}  // namespace
}  // namespace textmend::tree
