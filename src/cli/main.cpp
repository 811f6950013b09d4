// textmend [-w|-u] infile outfile: repairs a file of mixed UTF-8 and
// Latin-1/Windows-1252 text into one target encoding.
#include "cli/run.hpp"

int main(int argc, char** argv) {
    return textmend::run_textmend(argc, argv);
}
