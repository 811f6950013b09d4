#include "tree/options.hpp"

#include <cstring>

namespace textmend::tree {

const char USAGE[] =
    "Usage: textmend-tree [-w | -u] [-n | --dry-run] [-j N | --jobs N] [--json] [-q | --quiet]\n"
    "                     [--include GLOB]... [--exclude GLOB]... [--binary] [--backup SUFFIX]\n"
    "                     [-x | --one-file-system] [--undo-double] [--] PATH...\n"
    "Repairs every text file under each PATH in place, as textmend FILE FILE does, and\n"
    "only the files that need it: clean files, binary files (a byte 00), symbolic\n"
    "links, devices and version-control folders are left alone.\n"
    "\n"
    "  -w                    target Windows-1252 (the default is Latin-1)\n"
    "  -u                    target UTF-8\n"
    "  -n, --dry-run         tell what would be repaired; change nothing\n"
    "  -j, --jobs N          work on N files at a time (default: one per processor)\n"
    "  --json                one JSON object per file, one per line, then a summary\n"
    "  -q, --quiet           print only failures and the summary\n"
    "  --include GLOB        only files that match GLOB (may be given again)\n"
    "  --exclude GLOB        leave out what matches GLOB, folders too (again: more)\n"
    "  --binary              repair files that hold a byte 00 too\n"
    "  --backup SUFFIX       keep each repaired file's original as NAME+SUFFIX\n"
    "  -x, --one-file-system stay on the file system of each PATH\n"
    "  --undo-double         also undo text encoded twice (UTF-8 saved again as if\n"
    "                        it were Latin-1) in lines that read only that way\n"
    "  --help                show this help and exit\n"
    "  --version             show the version and exit\n"
    "\n"
    "A GLOB without / matches a name at any depth (*.srt), one with / the path\n"
    "below PATH (docs/*.txt); ** matches across folders (docs/**).\n"
    "\n"
    "Exit status: 0 when every file was repaired, clean or left alone by rule,\n"
    "1 when any failed, 2 when the command line is wrong.\n";

namespace {

CommandLine wrong(const std::string& error) {
    CommandLine cl;
    cl.request = Request::wrong;
    cl.error = error;
    return cl;
}

bool parse_jobs(const char* text, unsigned& jobs) {
    if (*text == '\0') return false;
    unsigned value = 0;
    for (; *text != '\0'; ++text) {
        if (*text < '0' || *text > '9') return false;
        value = value * 10 + static_cast<unsigned>(*text - '0');
        if (value > MAX_JOBS) return false;
    }
    if (value == 0) return false;
    jobs = value;
    return true;
}

// The long options that take a value, and where it goes.
enum class Valued { none, jobs, include, exclude, backup };

Valued valued_option(const char* name) {
    if (std::strcmp(name, "--jobs") == 0) return Valued::jobs;
    if (std::strcmp(name, "--include") == 0) return Valued::include;
    if (std::strcmp(name, "--exclude") == 0) return Valued::exclude;
    if (std::strcmp(name, "--backup") == 0) return Valued::backup;
    return Valued::none;
}

// Takes an option's value; an error text when it is wrong, else empty.
std::string take_value(Valued option, const char* value, TreeOptions& o) {
    switch (option) {
        case Valued::jobs:
            if (!parse_jobs(value, o.jobs)) {
                return std::string("not a number of jobs from 1 to 256: '") + value + "'";
            }
            return {};
        case Valued::include:
            o.include.emplace_back(value);
            return {};
        case Valued::exclude:
            o.exclude.emplace_back(value);
            return {};
        case Valued::backup:
            if (*value == '\0' || std::strchr(value, '/') != nullptr) {
                return std::string("not a backup suffix: '") + value + "'";
            }
            o.backup_suffix = value;
            return {};
        case Valued::none:
            break;
    }
    return {};
}

const char* option_name(Valued option) {
    switch (option) {
        case Valued::jobs:
            return "--jobs";
        case Valued::include:
            return "--include";
        case Valued::exclude:
            return "--exclude";
        case Valued::backup:
            return "--backup";
        case Valued::none:
            break;
    }
    return "";
}

struct Targets {
    bool wide = false;
    bool utf8 = false;
};

// A flag without a value, long or short; false when it is none.
bool take_flag(const std::string& flag, CommandLine& cl, Targets& targets) {
    TreeOptions& o = cl.options;
    if (flag == "-w") {
        targets.wide = true;
    } else if (flag == "-u") {
        targets.utf8 = true;
    } else if (flag == "-n" || flag == "--dry-run") {
        o.dry_run = true;
    } else if (flag == "-q" || flag == "--quiet") {
        o.quiet = true;
    } else if (flag == "-x" || flag == "--one-file-system") {
        o.one_file_system = true;
    } else if (flag == "--json") {
        o.json = true;
    } else if (flag == "--binary") {
        o.binary = true;
    } else if (flag == "--undo-double") {
        o.undo_double = true;
    } else if (flag == "--help") {
        cl.request = Request::help;
    } else if (flag == "--version") {
        if (cl.request != Request::help) cl.request = Request::version;
    } else {
        return false;
    }
    return true;
}

// Short options joined in one argument (-nq, -j4, -nj 4). Returns an error
// text, or empty; i moves past a value taken from the next argument.
std::string take_short_options(const char* arg, int& i, int argc, const char* const* argv,
                               CommandLine& cl, Targets& targets) {
    for (const char* p = arg + 1; *p != '\0'; ++p) {
        if (*p == 'j') {
            const char* value = p[1] != '\0' ? p + 1 : i + 1 < argc ? argv[++i] : nullptr;
            if (value == nullptr) return "option -j needs a number";
            return take_value(Valued::jobs, value, cl.options);
        }
        if (!take_flag(std::string("-") + *p, cl, targets)) {
            return std::string("unknown option '-") + *p + "'";
        }
    }
    return {};
}

std::string take_long_option(const char* arg, int& i, int argc, const char* const* argv,
                             CommandLine& cl, Targets& targets) {
    const char* equals = std::strchr(arg, '=');
    const std::string name = equals != nullptr ? std::string(arg, equals) : std::string(arg);
    const Valued option = valued_option(name.c_str());
    if (option == Valued::none) {
        if (equals == nullptr && take_flag(name, cl, targets)) return {};
        return std::string("unknown option '") + arg + "'";
    }
    const char* value = equals != nullptr ? equals + 1 : i + 1 < argc ? argv[++i] : nullptr;
    if (value == nullptr) return std::string("option ") + option_name(option) + " needs a value";
    return take_value(option, value, cl.options);
}

}  // namespace

CommandLine parse_command_line(int argc, const char* const* argv) {
    CommandLine cl;
    Targets targets;
    bool paths_only = false;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        std::string error;
        if (paths_only || arg[0] != '-' || arg[1] == '\0') {
            cl.options.paths.push_back(arg);
        } else if (std::strcmp(arg, "--") == 0) {
            paths_only = true;
        } else if (arg[1] == '-') {
            error = take_long_option(arg, i, argc, argv, cl, targets);
        } else {
            error = take_short_options(arg, i, argc, argv, cl, targets);
        }
        if (!error.empty()) return wrong(error);
    }
    if (cl.request != Request::run) return cl;
    if (targets.wide && targets.utf8) return wrong("options -w and -u exclude each other");
    if (targets.wide) cl.options.target = Target::windows1252;
    if (targets.utf8) cl.options.target = Target::utf8;
    if (cl.options.paths.empty()) return wrong("no PATH given");
    return cl;
}

}  // namespace textmend::tree
