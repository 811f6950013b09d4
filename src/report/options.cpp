#include "report/options.hpp"

#include <cstring>

namespace textmend::report {

const char USAGE[] =
    "Usage: textmend-report [-w | -u] [--json] [--max-examples N] [--] [FILE...]\n"
    "Tells, for each FILE, what textmend would change and what it would leave that\n"
    "is not a character of the target encoding. With no FILE, or when FILE is -,\n"
    "reads standard input. Never changes a file.\n"
    "\n"
    "  -w                 target Windows-1252 (the default is Latin-1)\n"
    "  -u                 target UTF-8\n"
    "  --json             one JSON object per file, one per line\n"
    "  --max-examples N   show the first N places of each file (default 10)\n"
    "  --help             show this help and exit\n"
    "  --version          show the version and exit\n"
    "\n"
    "Exit status: 0 when every file is clean, 1 when any file is not,\n"
    "2 when a file could not be read or the command line is wrong.\n";

namespace {

// A count written in decimal digits only; false when text is not one.
bool parse_count(const char* text, std::uint64_t& value) {
    if (*text == '\0') return false;
    std::uint64_t v = 0;
    for (; *text != '\0'; ++text) {
        if (*text < '0' || *text > '9') return false;
        const auto digit = static_cast<std::uint64_t>(*text - '0');
        if (v > (UINT64_MAX - digit) / 10) return false;
        v = v * 10 + digit;
    }
    value = v;
    return true;
}

CommandLine wrong(const std::string& error) {
    CommandLine cl;
    cl.request = Request::wrong;
    cl.error = error;
    return cl;
}

constexpr char MAX_EXAMPLES[] = "--max-examples";

}  // namespace

CommandLine parse_command_line(int argc, const char* const* argv) {
    CommandLine cl;
    bool wide = false, utf8 = false, files_only = false;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (files_only || arg[0] != '-' || std::strcmp(arg, "-") == 0) {
            cl.options.files.push_back(arg);
        } else if (std::strcmp(arg, "--") == 0) {
            files_only = true;
        } else if (std::strcmp(arg, "-w") == 0) {
            wide = true;
        } else if (std::strcmp(arg, "-u") == 0) {
            utf8 = true;
        } else if (std::strcmp(arg, "--json") == 0) {
            cl.options.json = true;
        } else if (std::strcmp(arg, "--help") == 0) {
            cl.request = Request::help;
        } else if (std::strcmp(arg, "--version") == 0) {
            if (cl.request != Request::help) cl.request = Request::version;
        } else if (std::strncmp(arg, MAX_EXAMPLES, sizeof MAX_EXAMPLES - 1) == 0 &&
                   (arg[sizeof MAX_EXAMPLES - 1] == '\0' || arg[sizeof MAX_EXAMPLES - 1] == '=')) {
            const char* count = arg[sizeof MAX_EXAMPLES - 1] == '=' ? arg + sizeof MAX_EXAMPLES
                                : i + 1 < argc                      ? argv[++i]
                                                                    : nullptr;
            if (count == nullptr) return wrong("option --max-examples needs a number");
            if (!parse_count(count, cl.options.max_examples)) {
                return wrong(std::string("not a number of examples: '") + count + "'");
            }
        } else {
            return wrong(std::string("unknown option '") + arg + "'");
        }
    }
    if (wide && utf8) return wrong("options -w and -u exclude each other");
    if (wide) cl.options.target = Target::windows1252;
    if (utf8) cl.options.target = Target::utf8;
    return cl;
}

}  // namespace textmend::report
