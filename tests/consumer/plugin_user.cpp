// Uses the consumer's shared library: repairs its argument into UTF-8.
#include <cstdio>
#include <cstring>

extern "C" std::size_t repair_to_utf8(const char* text, std::size_t size, char* out,
                                      std::size_t room);

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    char out[256];
    const std::size_t n = repair_to_utf8(argv[1], std::strlen(argv[1]), out, sizeof out);
    std::fwrite(out, 1, n, stdout);
    return n > 0 ? 0 : 1;
}
