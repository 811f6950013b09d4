// textmend-report [-w | -u] [--json] [--max-examples N] [--] [FILE...]: tells
// what textmend would change in each file, and what it would leave that is
// not a character of the target encoding, without changing anything.
#include "report/run.hpp"

int main(int argc, char** argv) {
    return textmend::report::run_report(argc, argv);
}
