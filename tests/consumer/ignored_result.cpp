// Ignores a result the library marks [[nodiscard]]: with -Werror this must
// not compile. (USE_RESULT makes the same file use it, which must.)
#include <textmend/textmend.hpp>

int main() {
    char out[textmend::max_converted_size(3, textmend::Target::utf8)];
#ifdef USE_RESULT
    return static_cast<int>(textmend::convert("abc", 3, out, textmend::Target::utf8)) - 3;
#else
    textmend::convert("abc", 3, out, textmend::Target::utf8);
    return 0;
#endif
}
