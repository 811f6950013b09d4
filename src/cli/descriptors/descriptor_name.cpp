#include "cli/descriptors/descriptor_name.hpp"

#include <climits>
#include <cstring>

namespace textmend {

namespace {

struct FixedName {
    const char* path;
    int fd;
};

constexpr FixedName FIXED_NAMES[] = {{"/dev/stdin", 0}, {"/dev/stdout", 1}, {"/dev/stderr", 2}};

constexpr const char* NUMBERED_PREFIXES[] = {"/dev/fd/", "/proc/self/fd/"};

// The decimal number text is made of, or -1 when it is not one number.
int decimal_number(const char* text) {
    if (*text == '\0') return -1;
    long value = 0;
    for (; *text != '\0'; ++text) {
        if (*text < '0' || *text > '9') return -1;
        value = value * 10 + (*text - '0');
        if (value > INT_MAX) return -1;
    }
    return static_cast<int>(value);
}

}  // namespace

int descriptor_named_by(const char* path) noexcept {
    for (const FixedName& name : FIXED_NAMES) {
        if (std::strcmp(path, name.path) == 0) return name.fd;
    }
    for (const char* prefix : NUMBERED_PREFIXES) {
        const std::size_t length = std::strlen(prefix);
        if (std::strncmp(path, prefix, length) == 0) return decimal_number(path + length);
    }
    return -1;
}

}  // namespace textmend
