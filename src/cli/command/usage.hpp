// The usage text, printed on standard error after every wrong command line and
// after a file that cannot be opened.
#pragma once

namespace textmend {

extern const char USAGE_TEXT[];

void print_usage();

}  // namespace textmend
