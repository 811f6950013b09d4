#include "cli/command/usage.hpp"

#include <cstdio>

namespace textmend {

const char USAGE_TEXT[] =
    "This is a simple, specialised UTF8 to Latin1 converter.\n"
    "Unlike general purpose converters like glyphmill, it can\n"
    "reliably convert textfiles in languages like German, French\n"
    "Spanish etc. in which part of the text is in ISO-8859-1\n"
    "(Latin1) and part in UTF8. It does this by detecting what\n"
    "is probably UTF8 and what is certainly not.\n"
    "Optionally (-w), it also support Windows code page\n"
    "1252, instead of plain ISO8859-1.\n"
    "\n"
    "Optionally (-u), the output is UTF8, not ISO8859-1 or Windows 1252.\n"
    "\n"
    "Usage:\ttextmend [-w] infile outfile\n"
    "or:\ttextmend [-u] infile outfile\n"
    "\n";

void print_usage() {
    std::fputs(USAGE_TEXT, stderr);
}

}  // namespace textmend
