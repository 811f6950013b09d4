// End-to-end tests of how the program treats the user's files under races,
// crashes and attacks: descriptors handed over, unchanged files, flushing,
// ownership and ACLs, planted links, write permission, appends, signals and
// long paths. Tests that need root, another user or tools the machine may
// lack skip with the reason.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "cli/file_conversion.hpp"
#include "support/bytes.hpp"
#include "support/model.hpp"
#include "support/random_text.hpp"
#include "support/run_program.hpp"

namespace textmend::test {
namespace {

constexpr int OTHER_USER = 1001;

#define REQUIRE_ROOT() \
    if (geteuid() != 0) GTEST_SKIP() << "needs root (other users, chown)"
#define REQUIRE_COMMAND(name) \
    if (!have_command(name)) GTEST_SKIP() << "needs " name " (not installed)"

// What tells whether a file was touched.
struct FileState {
    ino_t inode;
    nlink_t links;
    mode_t mode;
    uid_t owner;
    gid_t group;
    long long mtime_ns;
    long long ctime_ns;
    bool operator==(const FileState&) const = default;
};

FileState state_of(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(lstat(path.c_str(), &st), 0) << path;
    return {st.st_ino,
            st.st_nlink,
            st.st_mode,
            st.st_uid,
            st.st_gid,
            st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec,
            st.st_ctim.tv_sec * 1000000000LL + st.st_ctim.tv_nsec};
}

// The content of the regular file at path; empty when path is a link.
std::string read_without_following(const std::string& path) {
    std::string content;
    const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW);
    if (fd < 0) return content;
    char buf[4096];
    for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0;)
        content.append(buf, static_cast<std::size_t>(n));
    close(fd);
    return content;
}

bool is_symlink(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

std::string command_output(const std::string& command) {
    std::string out;
    FILE* p = popen(command.c_str(), "r");
    if (p == nullptr) return out;
    char buf[4096];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;)
        out.append(buf, n);
    pclose(p);
    return out;
}

// Runs action in a child process as another user; true when it succeeded.
bool as_user(int uid, const std::function<bool()>& action) {
    const pid_t pid = fork();
    if (pid == 0) {
        if (setgroups(0, nullptr) != 0 || setgid(static_cast<gid_t>(uid)) != 0 ||
            setuid(static_cast<uid_t>(uid)) != 0) {
            _exit(2);
        }
        _exit(action() ? 0 : 1);
    }
    return wait_for_exit(pid) == 0;
}

// A directory every user may write, and a copy of the program all may run.
struct SharedDir {
    TempDir dir;
    std::string program = program_for_everybody(dir);
    SharedDir() { chmod(dir.path.c_str(), 0777); }
    std::string operator/(const std::string& name) const { return dir / name; }
    RunOptions as_other_user() const {
        RunOptions options;
        options.uid = OTHER_USER;
        options.program = program;
        return options;
    }
};

RunOptions closing(int fd) {
    RunOptions options;
    options.closed_descriptors = {fd};
    return options;
}

RunOptions handing_over(int fd, int number) {
    RunOptions options;
    options.descriptors = {{fd, number}};
    return options;
}

// Text that grows by half in -u and takes the program a while to convert
// (under a wrapper such as valgrind a smaller one takes as long), large
// enough to be written on a thread of its own.
std::string slow_input() {
    const std::size_t size =
        under_wrapper() ? static_cast<std::size_t>(WRITER_THREAD_AT_LEAST) + (1 << 20) : 32 << 20;
    std::string text(size, '\xE9');
    for (std::size_t i = 0; i < text.size(); i += 61)
        text[i] = '\n';
    return text;
}

// Waits until a started program is well into writing its output; false
// when it ended first. (Counting only from a megabyte on leaves out what a
// wrapper such as valgrind writes before the program starts.)
bool wait_until_converting(pid_t pid) {
    return wait_until_written(pid, 1 << 20);
}

void append_to(const std::string& path, const std::string& bytes) {
    const int fd = open(path.c_str(), O_WRONLY | O_APPEND);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    close(fd);
}

// ---------------------------------------------------------------------------
// Descriptors handed over

TEST(Descriptors, OutputNamingAnOpenDescriptorIsWrittenThroughIt) {
    const struct {
        const char* path;
        int number;
        bool append;  // else written at the offset the descriptor is at
    } cases[] = {{"/dev/stdout", 1, true},
                 {"/dev/stderr", 2, true},
                 {"/dev/fd/5", 5, true},
                 {"/proc/self/fd/6", 6, false}};
    const std::string input = "caf\xC3\xA9 \xE9t\xE9\n";
    for (const auto& c : cases) {
        TempDir dir;
        write_file(dir / "in", input);
        write_file(dir / "log", "previous\n");
        const int fd = open((dir / "log").c_str(), O_WRONLY | (c.append ? O_APPEND : 0));
        ASSERT_GE(fd, 0);
        if (!c.append) lseek(fd, 0, SEEK_END);
        RunOptions options;
        options.descriptors = {{fd, c.number}};
        const RunResult r = run_textmend({"-u", dir / "in", c.path}, options);
        close(fd);
        EXPECT_EQ(r.status, 0) << c.path;
        EXPECT_EQ(read_file(dir / "log"), "previous\n" + model_convert(input, MODE_UTF8)) << c.path;
    }
}

TEST(Descriptors, ClosedOrReadOnlyDescriptorCannotBeTheOutput) {
    TempDir dir;
    write_file(dir / "in", "abc");
    write_file(dir / "log", "kept");
    const int read_only = open((dir / "log").c_str(), O_RDONLY);
    const struct {
        const char* name;
        const char* path;
        RunOptions options;
    } cases[] = {{"never opened", "/dev/fd/7", closing(7)},
                 {"standard output closed", "/dev/stdout", closing(1)},
                 {"read-only", "/dev/fd/5", handing_over(read_only, 5)}};
    for (const auto& c : cases) {
        const RunResult r = run_textmend({dir / "in", c.path}, c.options);
        EXPECT_EQ(r.status, 3) << c.name;
        EXPECT_EQ(r.err.rfind(std::string("Cannot open output file ") + c.path + "\n\n", 0), 0U)
            << c.name;
    }
    close(read_only);
    EXPECT_EQ(read_file(dir / "log"), "kept");
    EXPECT_EQ(list_dir(dir.path), (std::vector<std::string>{"in", "log"}));
}

TEST(Descriptors, DescriptorsFileIsNeverRemovedOnFailure) {
    TempDir dir;
    write_file(dir / "in", std::string(400000, 'x'));
    write_file(dir / "log", "previous\n");
    const int fd = open((dir / "log").c_str(), O_WRONLY | O_APPEND);
    RunOptions options;
    options.descriptors = {{fd, 1}};
    options.file_size_limit = 100000;
    const RunResult r = run_textmend({dir / "in", "/dev/stdout"}, options);
    close(fd);
    EXPECT_EQ(r.status, 4);
    EXPECT_EQ(r.err, "Cannot write output file /dev/stdout: File too large\n");
    EXPECT_EQ(read_file(dir / "log").substr(0, 9), "previous\n");
}

TEST(Descriptors, DescriptorOfTheInputFileConvertsInPlace) {
    TempDir dir;
    const std::string original = "\xE9t\xE9 \xC3\xA9\n";
    write_file(dir / "f", original);
    const int fd = open((dir / "f").c_str(), O_WRONLY | O_APPEND);
    RunOptions options;
    options.descriptors = {{fd, 1}};
    const RunResult r = run_textmend({"-u", dir / "f", "/dev/stdout"}, options);
    close(fd);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_file(dir / "f"), model_convert(original, MODE_UTF8));
    EXPECT_EQ(list_dir(dir.path), std::vector<std::string>{"f"});
}

// ---------------------------------------------------------------------------
// In place: what is kept, what is refused

TEST(InPlaceSafety, NothingToChangeLeavesTheFileUntouched) {
    const struct {
        const char* flag;
        std::string content;
    } cases[] = {{"", "plain ASCII\r\n"},
                 {"", ""},
                 {"-w", "Latin-1 only: \xE9t\xE9 \xE0 la plage\n"},
                 {"-u", "UTF-8 already: caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80\n"}};
    for (const auto& c : cases) {
        TempDir dir;
        write_file(dir / "f", c.content);
        link((dir / "f").c_str(), (dir / "other").c_str());
        const timespec old_times[2] = {{1000000000, 0}, {1000000000, 0}};
        utimensat(AT_FDCWD, (dir / "f").c_str(), old_times, 0);
        const FileState before = state_of(dir / "f");
        std::vector<std::string> args = {dir / "f", dir / "f"};
        if (*c.flag != '\0') args.insert(args.begin(), c.flag);
        const RunResult r = run_textmend(args);
        EXPECT_EQ(r.status, 0) << c.content;
        EXPECT_TRUE(state_of(dir / "f") == before) << c.content;
        EXPECT_EQ(read_file(dir / "f"), c.content);
        EXPECT_EQ(list_dir(dir.path), (std::vector<std::string>{"f", "other"}));
    }
}

TEST(InPlaceSafety, ContentReachesTheDiskBeforeTheRenameAndTheNameAfter) {
    REQUIRE_COMMAND("strace");
    TempDir dir;
    write_file(dir / "f", "caf\xE9\n");
    write_file(dir / "in", "caf\xE9\n");
    // The flushes and renames of a run, in order: s for a flush, r for a rename.
    const auto trace = [&](const std::string& args) {
        const std::string file = dir.path + ".trace";
        std::system(("strace -f -qq -e trace=fsync,fdatasync,rename,renameat,renameat2 -o " + file +
                     " " TEXTMEND_BINARY " -u " + args)
                        .c_str());
        std::istringstream lines(read_file(file));
        unlink(file.c_str());
        std::string calls;
        for (std::string pid, call; lines >> pid && std::getline(lines, call);) {
            call = call.substr(call.find_first_not_of(' '));
            if (call.rfind("fsync(", 0) == 0 || call.rfind("fdatasync(", 0) == 0) calls += 's';
            if (call.rfind("rename", 0) == 0) calls += 'r';
        }
        return calls;
    };
    EXPECT_EQ(trace(dir / "f " + dir / "f"), "srs");  // the file, the rename, the directory
    EXPECT_EQ(to_hex(read_file(dir / "f")), "63 61 66 C3 A9 0A");
    EXPECT_EQ(trace(dir / "in " + dir / "out"), "");  // plain outputs are not flushed, like cp
}

// A loop-mounted ext4 file system whose backing store (a small tmpfs) fills
// up: writes land in the page cache, the flush fails.
struct FullBackingStore {
    TempDir dir;
    std::string back = dir / "back", mount_point = dir / "mnt";
    bool mounted = false;
    FullBackingStore() {
        mkdir(back.c_str(), 0700);
        mkdir(mount_point.c_str(), 0755);
        mounted = std::system(("mount -t tmpfs -o size=6m tmpfs " + back + " && truncate -s 64M " +
                               back + "/img && mkfs.ext4 -q -F -O ^has_journal " + back +
                               "/img && mount -o loop " + back + "/img " + mount_point)
                                  .c_str()) == 0;
    }
    bool remount() {
        return std::system(
                   ("umount " + mount_point + " && mount -o loop " + back + "/img " + mount_point)
                       .c_str()) == 0;
    }
    ~FullBackingStore() {
        std::system(
            ("umount " + mount_point + " 2>/dev/null; umount " + back + " 2>/dev/null").c_str());
    }
};

TEST(InPlaceSafety, FailedFlushIsAWriteFailureAndKeepsTheOriginal) {
    REQUIRE_ROOT();
    REQUIRE_COMMAND("mkfs.ext4");
    FullBackingStore store;
    if (!store.mounted) GTEST_SKIP() << "cannot mount a loop device here";
    const std::string f = store.mount_point + "/f";
    const std::string original(3000000, '\xE9');  // 6 MB in -u: more than the 2.9 MB left
    write_file(f, original);
    std::system(("sync -f " + f).c_str());
    const RunResult r = run_textmend({"-u", f, f});
    EXPECT_EQ(r.status, 4);
    EXPECT_EQ(r.err, "Cannot write output file " + f + ": No space left on device\n");
    EXPECT_TRUE(read_file(f) == original);
    EXPECT_EQ(list_dir(store.mount_point), (std::vector<std::string>{"f", "lost+found"}));
    ASSERT_TRUE(store.remount());
    EXPECT_TRUE(read_file(f) == original) << "after a remount";
}

TEST(InPlaceSafety, OwnerGroupModeAclsAndAttributesAreKept) {
    REQUIRE_ROOT();
    REQUIRE_COMMAND("setfacl");
    REQUIRE_COMMAND("setfattr");
    const struct {
        const char* name;
        const char* setup;  // run in the directory on the file f
    } cases[] = {
        {"ACL for another user", "chmod 600 f && setfacl -m u:1003:rw f"},
        {"ACL for a group and a default mask", "chmod 640 f && setfacl -m g:1004:r,m::r f"},
        {"user and security attributes",
         "setfattr -n user.origin -v export f && setfattr -n security.textmend -v x f"},
        {"setuid and setgid", "chmod 6755 f"},
        {"owner and group", "chown 1001:1002 f && chmod 640 f"},
    };
    for (const auto& c : cases) {
        TempDir dir;
        write_file(dir / "f", "caf\xE9 \xC3\xA9\n");
        ASSERT_EQ(std::system(("cd " + dir.path + " && " + c.setup).c_str()), 0) << c.name;
        const std::string dump =
            "cd " + dir.path + " && getfacl -n f 2>/dev/null; getfattr -d -m - f 2>/dev/null";
        const std::string acl_and_attributes = command_output(dump);
        const FileState before = state_of(dir / "f");
        const RunResult r = run_textmend({"-u", dir / "f", dir / "f"});
        EXPECT_EQ(r.status, 0) << c.name << r.err;
        EXPECT_EQ(to_hex(read_file(dir / "f")), "63 61 66 C3 A9 20 C3 A9 0A") << c.name;
        const FileState after = state_of(dir / "f");
        EXPECT_EQ(after.mode, before.mode) << c.name;
        EXPECT_EQ(after.owner, before.owner) << c.name;
        EXPECT_EQ(after.group, before.group) << c.name;
        EXPECT_NE(after.inode, before.inode) << c.name;
        EXPECT_EQ(command_output(dump), acl_and_attributes) << c.name;
    }
}

TEST(InPlaceSafety, GroupThatCannotBeKeptLosesItsPermissions) {
    REQUIRE_ROOT();
    SharedDir shared;
    write_file(shared / "f", "\xE9t\xE9");
    chown((shared / "f").c_str(), OTHER_USER, 50);  // a group the user is not in
    chmod((shared / "f").c_str(), 02664);
    const RunOptions options = shared.as_other_user();
    const RunResult r = run_textmend({"-u", shared / "f", shared / "f"}, options);
    EXPECT_EQ(r.status, 0) << r.err;
    const FileState after = state_of(shared / "f");
    EXPECT_EQ(after.group, static_cast<gid_t>(OTHER_USER));
    EXPECT_EQ(after.mode & 07777, 0604U);
    EXPECT_EQ(to_hex(read_file(shared / "f")), "C3 A9 74 C3 A9");
}

TEST(InPlaceSafety, FileTheCallerMayNotWriteIsRefused) {
    REQUIRE_ROOT();
    const struct {
        const char* name;
        uid_t owner;
        mode_t mode;
    } cases[] = {{"read-only file of the caller's", OTHER_USER, 0444},
                 {"another user's file in the caller's directory", 0, 0644}};
    for (const auto& c : cases) {
        SharedDir shared;
        chown(shared.dir.path.c_str(), OTHER_USER, OTHER_USER);
        write_file(shared / "f", "\xE9t\xE9");
        write_file(shared / "in", "\xE9t\xE9");
        chown((shared / "f").c_str(), c.owner, c.owner);
        chmod((shared / "f").c_str(), c.mode);
        const FileState before = state_of(shared / "f");
        const RunOptions options = shared.as_other_user();
        // In place and as a plain output alike.
        for (const std::string& input : {shared / "f", shared / "in"}) {
            const RunResult r = run_textmend({"-u", input, shared / "f"}, options);
            EXPECT_EQ(r.status, 3) << c.name << " from " << input;
        }
        EXPECT_TRUE(state_of(shared / "f") == before) << c.name;
        EXPECT_EQ(read_file(shared / "f"), "\xE9t\xE9");
    }
}

// A user who may write another user's file (through its group or an ACL)
// cannot convert it in place: the new file would be theirs, and its owner
// could lose access. Refused with 3, and the file stays as it was.
TEST(InPlaceSafety, CallerWhoCannotKeepTheOwnerIsRefused) {
    REQUIRE_ROOT();
    constexpr int MEMBER = 1002;
    const struct {
        const char* name;
        const char* setup;  // run in the directory on the file f
        bool needs_acl_tools;
    } cases[] = {
        {"group-writable file, converted by a member", "chown 1001:1002 f && chmod 660 f", false},
        {"file an ACL lets the caller write",
         "chown 1001:1001 f && chmod 600 f && setfacl -m u:1002:rw f", true},
    };
    for (const auto& c : cases) {
        if (c.needs_acl_tools && !have_command("setfacl")) {
            std::printf("skipped \"%s\": needs setfacl (not installed)\n", c.name);
            continue;
        }
        SharedDir shared;
        write_file(shared / "f", "caf\xE9\n");
        ASSERT_EQ(std::system(("cd " + shared.dir.path + " && " + c.setup).c_str()), 0) << c.name;
        const FileState before = state_of(shared / "f");
        RunOptions member = shared.as_other_user();
        member.uid = MEMBER;
        const RunResult r = run_textmend({"-u", shared / "f", shared / "f"}, member);
        EXPECT_EQ(r.status, 3) << c.name << r.err;
        EXPECT_TRUE(state_of(shared / "f") == before) << c.name;
        EXPECT_EQ(read_file(shared / "f"), "caf\xE9\n") << c.name;
        EXPECT_EQ(list_dir(shared.dir.path), (std::vector<std::string>{"f", "textmend-program"}))
            << c.name;
        EXPECT_TRUE(as_user(OTHER_USER, [&] { return access((shared / "f").c_str(), R_OK) == 0; }))
            << c.name << ": the owner can no longer read the file";
    }
}

// ---------------------------------------------------------------------------
// Folders other users can write

// In a sticky folder that everybody may write, a file or FIFO that another
// user made there in advance does not get root's output (status 3, nothing
// written, a FIFO never waited on); one of root's own or of the folder's
// owner does.
TEST(SharedDirectories, OutputPreparedByAnotherUserInAStickyFolderIsRefused) {
    REQUIRE_ROOT();
    TempDir root_only;
    write_file(root_only / "secret", "ROOT SECRET \xE9\n");
    chmod((root_only / "secret").c_str(), 0600);
    const struct {
        const char* name;
        uid_t folder_owner;
        uid_t file_owner;
        bool fifo;
        int status;
    } cases[] = {
        {"another user's file", 0, OTHER_USER, false, 3},
        {"another user's FIFO", 0, OTHER_USER, true, 3},
        {"root's own file", 0, 0, false, 0},
        {"the folder owner's file", OTHER_USER, OTHER_USER, false, 0},
        {"a file that does not exist yet", 0, 0, false, -1},
    };
    for (const auto& c : cases) {
        TempDir sticky;
        chown(sticky.path.c_str(), c.folder_owner, c.folder_owner);
        chmod(sticky.path.c_str(), 01777);
        const std::string out = sticky / "out";
        if (c.status != -1) {
            ASSERT_TRUE(as_user(static_cast<int>(c.file_owner), [&] {
                return c.fifo ? mkfifo(out.c_str(), 0666) == 0
                              : close(open(out.c_str(), O_WRONLY | O_CREAT, 0666)) == 0;
            })) << c.name;
        }
        // A reader on the FIFO, so that a run that opens it does not wait.
        const int reader = c.fifo ? open(out.c_str(), O_RDONLY | O_NONBLOCK) : -1;
        const RunResult r = run_textmend({"-u", root_only / "secret", out});
        EXPECT_EQ(r.status, c.status == -1 ? 0 : c.status) << c.name << r.err;
        std::string received;
        if (reader >= 0) {
            char buf[256];
            for (ssize_t n; (n = read(reader, buf, sizeof buf)) > 0;)
                received.append(buf, static_cast<std::size_t>(n));
            close(reader);
        } else {
            received = read_file(out);
        }
        const bool got_secret = received.find("ROOT SECRET") != std::string::npos;
        EXPECT_EQ(got_secret, c.status != 3) << c.name;
    }
}

// Where the kernel lets a user link another user's file into their own
// folder (fs.protected_hardlinks = 0), root must not copy it out through
// that link: such an input is refused with 2. Files with several links that
// belong to the folder's owner are converted as ever.
TEST(SharedDirectories, HardLinkPlantedByAnotherUserIsRefusedAsRootsInput) {
    REQUIRE_ROOT();
    TempDir root_only, users, out_dir;
    chown(users.path.c_str(), OTHER_USER, OTHER_USER);
    write_file(root_only / "secret", "ROOT SECRET \xE9\n");
    chmod((root_only / "secret").c_str(), 0600);
    // Made by root here: the kernel of this machine may forbid the user to.
    ASSERT_EQ(link((root_only / "secret").c_str(), (users / "planted").c_str()), 0);
    write_file(users / "own", "caf\xE9\n");
    chown((users / "own").c_str(), OTHER_USER, OTHER_USER);
    ASSERT_EQ(link((users / "own").c_str(), (users / "own-too").c_str()), 0);
    ASSERT_EQ(link((root_only / "secret").c_str(), (root_only / "secret-too").c_str()), 0);
    const struct {
        const char* name;
        std::string input;
        int status;
    } cases[] = {
        {"root's file linked into a user's folder", users / "planted", 2},
        {"the user's own file of two links", users / "own", 0},
        {"root's file of two links in root's folder", root_only / "secret-too", 0},
    };
    for (const auto& c : cases) {
        const std::string out = out_dir / "out";
        unlink(out.c_str());
        const RunResult r = run_textmend({"-u", c.input, out});
        EXPECT_EQ(r.status, c.status) << c.name << r.err;
        EXPECT_EQ(std::filesystem::exists(out), c.status == 0) << c.name;
    }
}

// ---------------------------------------------------------------------------
// Symbolic links planted by another user

// Links that another user planted, anywhere in the path, are not followed:
// root's input is refused with 2, any output with 3, and the file behind the
// link stays as it was. The victim's folder is root's own.
TEST(Symlinks, LinkPlantedByAnotherUserIsNotFollowed) {
    REQUIRE_ROOT();
    SharedDir shared;
    TempDir outside;
    const std::string victim = outside / "victim";
    write_file(victim, "victim \xE9\n");
    chmod(victim.c_str(), 0600);
    const FileState victim_before = state_of(victim);
    ASSERT_TRUE(as_user(OTHER_USER, [&] {
        return symlink(victim.c_str(), (shared / "planted").c_str()) == 0 &&
               symlink(outside.path.c_str(), (shared / "dir").c_str()) == 0;
    }));
    write_file(shared / "in", "attacker \xE9\n");
    const struct {
        const char* name;
        std::vector<std::string> args;
        int status;
    } cases[] = {
        {"in place, link as the last part", {"-u", shared / "planted", shared / "planted"}, 2},
        {"plain output, link as the last part", {"-u", shared / "in", shared / "planted"}, 3},
        {"in place, link as a directory", {"-u", shared / "dir/victim", shared / "dir/victim"}, 2},
        {"plain output, link as a directory", {"-u", shared / "in", shared / "dir/victim"}, 3},
        {"input, link as a directory", {"-u", shared / "dir/victim", shared / "out"}, 2},
        {"input, link as the last part", {"-u", shared / "planted", shared / "out"}, 2},
    };
    for (const auto& c : cases) {
        const RunResult r = run_textmend(c.args);
        EXPECT_EQ(r.status, c.status) << c.name;
        EXPECT_TRUE(state_of(victim) == victim_before) << c.name;
        EXPECT_EQ(read_file(victim), "victim \xE9\n") << c.name;
        EXPECT_TRUE(is_symlink(shared / "planted")) << c.name;
        EXPECT_FALSE(std::filesystem::exists(shared / "out")) << c.name;
    }
}

// Links that the caller or root made are followed, in any part of the path:
// a user's run goes through a link root owns, and root's through its own.
TEST(Symlinks, LinksOfTheCallerOrRootAreFollowed) {
    REQUIRE_ROOT();
    SharedDir shared;
    mkdir((shared / "real").c_str(), 0777);
    chmod((shared / "real").c_str(), 0777);
    write_file(shared / "real/f", "caf\xE9\n");
    chown((shared / "real/f").c_str(), OTHER_USER, OTHER_USER);
    ASSERT_EQ(symlink("real", (shared / "by-root").c_str()), 0);
    ASSERT_EQ(symlink("real/f", (shared / "f-by-root").c_str()), 0);
    ASSERT_TRUE(
        as_user(OTHER_USER, [&] { return symlink("real", (shared / "by-user").c_str()) == 0; }));
    const struct {
        const char* name;
        std::string path;
        bool as_root;
    } cases[] = {
        {"user, root's link as a directory", shared / "by-root/f", false},
        {"user, root's link as the last part", shared / "f-by-root", false},
        {"user, own link as a directory", shared / "by-user/f", false},
        {"root, root's link", shared / "by-root/f", true},
    };
    for (const auto& c : cases) {
        write_file(shared / "real/f", "caf\xE9\n");
        const RunOptions options = c.as_root ? RunOptions{} : shared.as_other_user();
        const RunResult r = run_textmend({"-u", c.path, c.path}, options);
        EXPECT_EQ(r.status, 0) << c.name << r.err;
        EXPECT_EQ(to_hex(read_file(shared / "real/f")), "63 61 66 C3 A9 0A") << c.name;
    }
}

// Another user swaps a directory of the path, over and over, between one
// of their own and a link to a root-only folder, while root converts a file
// in it in place and into the user's folder. The file behind the link must
// neither change nor reach the user.
TEST(Symlinks, DirectorySwappedForALinkDuringRunsNeverLeadsOutside) {
    REQUIRE_ROOT();
    SharedDir shared;
    TempDir outside;
    chmod(outside.path.c_str(), 0700);
    const std::string victim = outside / "f";
    write_file(victim, "VICTIM SECRET \xE9\n");
    chmod(victim.c_str(), 0600);
    const FileState victim_before = state_of(victim);
    const pid_t attacker = fork();
    if (attacker == 0) {
        if (setgroups(0, nullptr) != 0 || setgid(OTHER_USER) != 0 || setuid(OTHER_USER) != 0 ||
            chdir(shared.dir.path.c_str()) != 0 || mkdir("dir", 0755) != 0 ||
            symlink(outside.path.c_str(), "other") != 0) {
            _exit(2);
        }
        const int fd = open("dir/f", O_WRONLY | O_CREAT | O_TRUNC, 0644);
        (void)write(fd, "attacker \xE9\n", 10);
        close(fd);
        for (;;)
            renameat2(AT_FDCWD, "dir", AT_FDCWD, "other", RENAME_EXCHANGE);
    }
    const int runs = race_rounds(300);
    int leaks = 0;
    for (int i = 0; i < runs; ++i) {
        run_textmend({"-u", "dir/f", "dir/f"}, {shared.dir.path});
        run_textmend({"-u", "dir/f", "out"}, {shared.dir.path});
        if (read_without_following(shared / "out").find("VICTIM") != std::string::npos) ++leaks;
    }
    kill(attacker, SIGKILL);
    EXPECT_EQ(wait_for_exit(attacker), 128 + SIGKILL) << "the attacker could not set up";
    EXPECT_EQ(leaks, 0);
    EXPECT_TRUE(state_of(victim) == victim_before);
    EXPECT_EQ(read_file(victim), "VICTIM SECRET \xE9\n");
}

// Another user flips a name between a link to a root-only file and a file of
// their own while root converts that name in place, over and over. Neither
// may the victim change nor its content reach the attacker's file.
TEST(Symlinks, LinkFlippedDuringRunsNeverReachesTheVictim) {
    REQUIRE_ROOT();
    SharedDir shared;
    TempDir outside;
    const std::string victim = outside / "victim";
    write_file(victim, "VICTIM SECRET \xE9\n");
    chmod(victim.c_str(), 0600);
    const FileState victim_before = state_of(victim);
    const pid_t attacker = fork();
    if (attacker == 0) {
        if (setgroups(0, nullptr) != 0 || setgid(OTHER_USER) != 0 || setuid(OTHER_USER) != 0) {
            _exit(2);
        }
        const std::string name = shared / "name", link_tmp = shared / "l", file_tmp = shared / "t";
        for (;;) {
            symlink(victim.c_str(), link_tmp.c_str());
            rename(link_tmp.c_str(), name.c_str());
            const int fd = open(file_tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
            (void)write(fd, "attacker \xE9\n", 10);
            close(fd);
            rename(file_tmp.c_str(), name.c_str());
        }
    }
    const int runs = race_rounds(400);
    int leaks = 0;
    for (int i = 0; i < runs; ++i) {
        run_textmend({"-u", "name", "name"}, {shared.dir.path});
        if (read_without_following(shared / "name").find("VICTIM") != std::string::npos) ++leaks;
    }
    kill(attacker, SIGKILL);
    waitpid(attacker, nullptr, 0);
    EXPECT_EQ(leaks, 0);
    EXPECT_TRUE(state_of(victim) == victim_before);
    EXPECT_EQ(read_file(victim), "VICTIM SECRET \xE9\n");
}

// ---------------------------------------------------------------------------
// Other programs at work on the file during an in-place run

TEST(InPlaceSafety, BytesAppendedDuringTheRunAreConverted) {
    const struct {
        const char* name;
        std::string end, appended;
    } cases[] = {{"after a newline", "end\n", "caf\xC3\xA9 \xE9t\xE9\n"},
                 {"completing a sequence", "end \xC3", "\xA9 and more \xE9\n"}};
    const std::string body = slow_input();
    for (const auto& c : cases) {
        TempDir dir;
        const std::string original = body + c.end;
        bool appended_in_time = false;
        for (int attempt = 0; attempt < 5 && !appended_in_time; ++attempt) {
            write_file(dir / "f", original);
            const pid_t pid = start_textmend({"-u", dir / "f", dir / "f"}, {}, dir.path + ".err");
            ASSERT_TRUE(wait_until_converting(pid));
            append_to(dir / "f", c.appended);
            EXPECT_EQ(wait_for_exit(pid), 0) << c.name << read_file(dir.path + ".err");
            const std::string result = read_file(dir / "f");
            // Appended after the rename, to the file it replaced: try again.
            appended_in_time = result != model_convert(original, MODE_UTF8);
            if (appended_in_time) {
                EXPECT_TRUE(result == model_convert(original + c.appended, MODE_UTF8)) << c.name;
            }
        }
        unlink((dir.path + ".err").c_str());
        EXPECT_TRUE(appended_in_time) << c.name;
        EXPECT_EQ(list_dir(dir.path), std::vector<std::string>{"f"});
    }
}

TEST(InPlaceSafety, FileChangedByAnotherProgramIsLeftAsItIs) {
    const struct {
        const char* name;
        std::function<void(const std::string&)> change;
        std::function<bool(const std::string&)> left_as_it_is;
    } cases[] = {
        {"saved anew by an editor",
         [](const std::string& f) {
             write_file(f + ".new", "the editor's version\n");
             rename((f + ".new").c_str(), f.c_str());
         },
         [](const std::string& f) { return read_file(f) == "the editor's version\n"; }},
        {"truncated", [](const std::string& f) { truncate(f.c_str(), 1000); },
         [](const std::string& f) { return read_file(f).size() == 1000; }},
    };
    for (const auto& c : cases) {
        TempDir dir;
        const std::string original = slow_input();
        bool changed_in_time = false;
        for (int attempt = 0; attempt < 5 && !changed_in_time; ++attempt) {
            write_file(dir / "f", original);
            const pid_t pid = start_textmend({"-u", dir / "f", dir / "f"}, {}, dir.path + ".err");
            ASSERT_TRUE(wait_until_converting(pid));
            c.change(dir / "f");
            const int status = wait_for_exit(pid);
            changed_in_time = status != 0;
            if (changed_in_time) {
                EXPECT_EQ(status, 4) << c.name;
                const std::string err = read_file(dir.path + ".err");
                EXPECT_TRUE(err.rfind("Cannot write output file " + (dir / "f") + ": ", 0) == 0 ||
                            err.rfind("Cannot read input file " + (dir / "f") + ": ", 0) == 0)
                    << err;
                EXPECT_TRUE(c.left_as_it_is(dir / "f")) << c.name;
            }
        }
        unlink((dir.path + ".err").c_str());
        EXPECT_TRUE(changed_in_time) << c.name;
        EXPECT_EQ(list_dir(dir.path), std::vector<std::string>{"f"});
    }
}

// ---------------------------------------------------------------------------
// Signals

// Every signal that asks a process to end removes what the run wrote and
// ends it by the same signal: a plain output and an in-place run alike.
TEST(Signals, EndingSignalsLeaveNothingIncomplete) {
    const int signals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM, SIGKILL};
    const std::string original = slow_input();
    for (const int s : signals) {
        for (const bool in_place : {false, true}) {
            TempDir dir;
            bool interrupted = false;
            for (int attempt = 0; attempt < 5 && !interrupted; ++attempt) {
                write_file(dir / "f", original);
                const pid_t pid = start_textmend(
                    {"-u", dir / "f", in_place ? dir / "f" : dir / "out"}, {}, "/dev/null");
                if (wait_until_converting(pid)) kill(pid, s);
                interrupted = wait_for_exit(pid) == 128 + s;
            }
            ASSERT_TRUE(interrupted) << strsignal(s);
            // A killed process cannot clean up: only its unnamed file vanishes.
            const std::vector<std::string> left = s == SIGKILL && !in_place
                                                      ? std::vector<std::string>{"f", "out"}
                                                      : std::vector<std::string>{"f"};
            EXPECT_EQ(list_dir(dir.path), left) << strsignal(s) << (in_place ? " in place" : "");
            EXPECT_TRUE(read_file(dir / "f") == original) << strsignal(s);
        }
    }
}

TEST(Signals, IgnoredSignalStaysIgnored) {
    TempDir dir;
    const std::string original = slow_input();
    write_file(dir / "f", original);
    RunOptions options;
    options.ignored_signals = {SIGTERM, SIGUSR1};
    const pid_t pid = start_textmend({"-u", dir / "f", dir / "out"}, options, "/dev/null");
    if (wait_until_converting(pid)) {
        kill(pid, SIGTERM);
        kill(pid, SIGUSR1);
    }
    EXPECT_EQ(wait_for_exit(pid), 0);
    EXPECT_TRUE(read_file(dir / "out") == model_convert(original, MODE_UTF8));
}

// Where an unnamed temporary file could not be named later (no /proc), a
// named one is used: it too is gone after a run and after an interrupted run.
TEST(Signals, NamedTemporaryFileWithoutProcIsRemovedToo) {
    REQUIRE_ROOT();
    if (UNDER_ADDRESS_SANITIZER)
        GTEST_SKIP() << "the AddressSanitizer runtime cannot run without /proc";
    REQUIRE_COMMAND("unshare");
    // In a chroot, or a container that may not make mounts private, there is
    // no mount namespace of our own in which /proc could be taken away.
    if (std::system("unshare --mount --propagation private true >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "unshare cannot make a private mount namespace here (a chroot?)";
    TempDir dir;
    const std::string original = slow_input();
    RunOptions without_proc;
    without_proc.program = "unshare";
    const std::vector<std::string> args = {"--mount",
                                           "--propagation",
                                           "private",
                                           "sh",
                                           "-c",
                                           "umount -l /proc && exec \"$0\" \"$@\"",
                                           TEXTMEND_BINARY,
                                           "-u",
                                           dir / "f",
                                           dir / "f"};
    write_file(dir / "f", original);
    const RunResult r = run_textmend(args, without_proc);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(read_file(dir / "f") == model_convert(original, MODE_UTF8));
    EXPECT_EQ(list_dir(dir.path), std::vector<std::string>{"f"});

    bool interrupted = false;
    for (int attempt = 0; attempt < 5 && !interrupted; ++attempt) {
        write_file(dir / "f", original);
        const pid_t pid = start_textmend(args, without_proc, "/dev/null");
        if (wait_until_converting(pid)) kill(pid, SIGTERM);
        interrupted = wait_for_exit(pid) == 128 + SIGTERM;
    }
    ASSERT_TRUE(interrupted);
    EXPECT_EQ(list_dir(dir.path), std::vector<std::string>{"f"});
    EXPECT_TRUE(read_file(dir / "f") == original);
}

// ---------------------------------------------------------------------------
// Long paths

TEST(InPlaceSafety, WorksUnderADirectoryDeeperThanPathMax) {
    TempDir dir;
    int fd = open(dir.path.c_str(), O_RDONLY | O_DIRECTORY);
    const std::string component(200, 'd');
    for (int depth = 0; depth < 25; ++depth) {  // 25 * 201 bytes > PATH_MAX
        ASSERT_EQ(mkdirat(fd, component.c_str(), 0755), 0);
        const int next = openat(fd, component.c_str(), O_RDONLY | O_DIRECTORY);
        close(fd);
        fd = next;
    }
    const int file = openat(fd, "f", O_WRONLY | O_CREAT, 0644);
    ASSERT_EQ(write(file, "\xE9t\xE9", 3), 3);
    close(file);
    RunOptions options;
    options.cwd_fd = fd;
    const RunResult r = run_textmend({"-u", "f", "f"}, options);
    EXPECT_EQ(r.status, 0) << r.err;
    char content[16] = {};
    const int check = openat(fd, "f", O_RDONLY);
    EXPECT_EQ(read(check, content, sizeof content), 5);
    close(check);
    close(fd);
    EXPECT_EQ(std::string(content), "\xC3\xA9t\xC3\xA9");
}

}  // namespace
}  // namespace textmend::test
