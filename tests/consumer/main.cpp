#include <textmend/textmend.hpp>
#include <iostream>
#include <iterator>
#include <string>

int main() {  // repairs standard input into UTF-8
    const std::string mixed{std::istreambuf_iterator<char>(std::cin), {}};
    std::string repaired;
    textmend::ConversionStats stats;
    textmend::convert_append(mixed, repaired, textmend::Target::utf8, &stats);
    std::cout << repaired;
    std::cerr << (stats.changed() ? "repaired\n" : "already clean\n");
}
