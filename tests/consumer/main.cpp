// The README's library example, as a program: repairs standard input into
// UTF-8 on standard output and says on standard error whether it needed it.
#include <textmend/textmend.hpp>

#include <iostream>
#include <iterator>
#include <string>

int main() {
    const std::string mixed{std::istreambuf_iterator<char>(std::cin), {}};
    std::string repaired;
    textmend::ConversionStats stats;
    textmend::convert_append(mixed, repaired, textmend::Target::utf8, &stats);
    std::cout << repaired;
    std::cerr << (stats.changed() ? "repaired\n" : "already clean\n");
}
