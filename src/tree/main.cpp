// textmend-tree [options] PATH...: repairs every text file under each PATH in
// place, only those that need it, with the guarantees of textmend FILE FILE.
#include "tree/run.hpp"

int main(int argc, char** argv) {
    return textmend::tree::run_tree(argc, argv);
}
