// Writes a tree of many files for textmend-tree's benchmark, the same on
// every machine: folders of a thousand files, sizes spread from 1 KiB to
// 32 KiB and a few of 1 to 4 MiB, most of them UTF-8 prose (clean with -u),
// 2 % binary (a PNG header and bytes 00), and REPAIR_PERCENT % in Latin-1
// (to be repaired with -u). With "tiny", every file is one short line: a
// tree of many files that takes little memory, to measure the walk's own.
//
//   textmend_make_tree DIR FILES REPAIR_PERCENT [tiny]
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "corpus.hpp"

namespace {

using textmend::bench::CorpusKind;
using textmend::bench::Rng;

// A size from 1 KiB to 32 KiB, each doubling as likely; one file in 400 of
// 1 to 4 MiB.
std::size_t file_size(Rng& rng) {
    if (rng.below(400) == 0) return (1 + rng.below(4)) << 20;
    const std::size_t low = std::size_t{1024} << rng.below(5);
    return low + rng.below(low);
}

// size bytes of text cut from source at a line's start, so that no sequence
// is cut.
std::string slice(const std::string& source, std::size_t size, Rng& rng) {
    std::size_t start = rng.below(source.size() - size);
    start = source.find('\n', start) + 1;
    if (start == 0 || start + size > source.size()) start = 0;
    return source.substr(start, size);
}

std::string binary_file(std::size_t size, Rng& rng) {
    std::string bytes = std::string("\x89PNG\r\n\x1A\n\0\0\0\rIHDR", 16);
    while (bytes.size() < size)
        bytes.push_back(static_cast<char>(rng.next() & 0xFF));
    return bytes;
}

bool write_file(const std::string& path, const std::string& bytes) {
    FILE* f = std::fopen(path.c_str(), "wb");
    const bool ok = f != nullptr && std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return f != nullptr && std::fclose(f) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
    const bool tiny = argc == 5 && std::string(argv[4]) == "tiny";
    if ((argc != 4 && !tiny) || std::atol(argv[2]) <= 0 || std::atol(argv[3]) < 0) {
        std::fprintf(stderr, "usage: textmend_make_tree DIR FILES REPAIR_PERCENT [tiny]\n");
        return 2;
    }
    const std::string dir = argv[1];
    const auto files = static_cast<std::size_t>(std::atol(argv[2]));
    const auto repair_percent = static_cast<std::size_t>(std::atol(argv[3]));
    constexpr std::size_t SOURCE = 16 << 20;
    const std::string utf8 = textmend::bench::make_corpus(CorpusKind::UTF8_PROSE, SOURCE);
    const std::string latin1 = textmend::bench::make_corpus(CorpusKind::LATIN1_PROSE, SOURCE);
    Rng rng{2026};
    for (std::size_t i = 0; i < files; ++i) {
        const std::string folder = dir + "/d" + std::to_string(i / 1000);
        if (i % 1000 == 0) mkdir(folder.c_str(), 0755);
        const std::size_t size = tiny ? 64 : file_size(rng);
        const std::size_t kind = rng.below(100);
        const std::string content = kind < 2                    ? binary_file(size, rng)
                                    : kind < 2 + repair_percent ? slice(latin1, size, rng)
                                                                : slice(utf8, size, rng);
        const std::string path = folder + "/f" + std::to_string(i) + (kind < 2 ? ".png" : ".txt");
        if (!write_file(path, content)) {
            std::fprintf(stderr, "textmend_make_tree: cannot write %s\n", path.c_str());
            return 1;
        }
    }
    return 0;
}
