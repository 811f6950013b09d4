// Writes the benchmark corpora into a folder: DIR/<kind>.txt, SIZE_MB MiB each.
//
//   textmend_make_corpus DIR SIZE_MB
#include <cstdio>
#include <cstdlib>
#include <string>

#include "corpus.hpp"

int main(int argc, char** argv) {
    if (argc != 3 || std::atol(argv[2]) <= 0) {
        std::fprintf(stderr, "usage: textmend_make_corpus DIR SIZE_MB\n");
        return 2;
    }
    const std::size_t size = static_cast<std::size_t>(std::atol(argv[2])) << 20;
    for (textmend::bench::CorpusKind kind : textmend::bench::ALL_CORPORA) {
        const std::string path =
            std::string(argv[1]) + "/" + textmend::bench::corpus_name(kind) + ".txt";
        const std::string bytes = textmend::bench::make_corpus(kind, size);
        FILE* f = std::fopen(path.c_str(), "wb");
        const bool ok =
            f != nullptr && std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
        if (f == nullptr || std::fclose(f) != 0 || !ok) {
            std::fprintf(stderr, "textmend_make_corpus: cannot write %s\n", path.c_str());
            return 1;
        }
    }
    return 0;
}
