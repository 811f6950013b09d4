// textmend [-w|-u] infile outfile: repairs a file of mixed UTF-8 and
// Latin-1/Windows-1252 text into one target encoding.
#include <cstdlib>  // which C library: glibc defines __GLIBC__
#ifdef __GLIBC__
#include <malloc.h>
#endif

#include "cli/command/run.hpp"

int main(int argc, char** argv) {
#ifdef __GLIBC__
    // One malloc arena for the whole program. The writer thread allocates
    // nothing, but ending it frees the thread's start-up record, and a
    // thread's first call into malloc sets up an arena of its own: 64 MiB
    // of address space reserved and its first pages touched at the end of
    // every large run, about 0.15 ms.
    mallopt(M_ARENA_MAX, 1);
#endif
    return textmend::run_textmend(argc, argv);
}
