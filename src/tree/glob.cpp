#include "tree/glob.hpp"

#include <cstring>
#include <utility>

namespace textmend::tree {

namespace {

// The end of the set that starts at p (just after its '['), or nullptr when
// the '[' is not closed and so stands for itself.
const char* set_end(const char* p) {
    const char* q = p;
    if (*q == '!' || *q == '^') ++q;
    if (*q == ']') ++q;  // a ']' first is one of the set
    while (*q != '\0' && *q != ']')
        ++q;
    return *q == ']' ? q : nullptr;
}

// Whether c is one of the set [first, end) (the text between the brackets).
bool in_set(const char* first, const char* end, char c) {
    const bool negated = *first == '!' || *first == '^';
    if (negated) ++first;
    bool found = false;
    for (const char* p = first; p < end; ++p) {
        if (p + 2 < end && p[1] == '-') {
            found = found || (static_cast<unsigned char>(c) >= static_cast<unsigned char>(p[0]) &&
                              static_cast<unsigned char>(c) <= static_cast<unsigned char>(p[2]));
            p += 2;
        } else {
            found = found || *p == c;
        }
    }
    return found != negated;
}

bool match_from(const char* p, const char* t) {
    while (*p != '\0') {
        if (p[0] == '*' && p[1] == '*') {
            const char* rest = p + 2;
            if (*rest == '/' && match_from(rest + 1, t)) return true;  // "**/" as nothing
            for (const char* s = t;; ++s) {
                if (match_from(rest, s)) return true;
                if (*s == '\0') return false;
            }
        }
        if (*p == '*') {
            for (const char* s = t;; ++s) {
                if (match_from(p + 1, s)) return true;
                if (*s == '\0' || *s == '/') return false;
            }
        }
        if (*t == '\0') return false;
        if (*p == '?') {
            if (*t == '/') return false;
        } else if (const char* end = *p == '[' ? set_end(p + 1) : nullptr; end != nullptr) {
            if (*t == '/' || !in_set(p + 1, end, *t)) return false;
            p = end;
        } else {
            if (*p == '\\' && p[1] != '\0') ++p;
            if (*p != *t) return false;
        }
        ++p;
        ++t;
    }
    return *t == '\0';
}

bool has_slash(const std::string& pattern) {
    return pattern.find('/') != std::string::npos;
}

// A pattern that ends in "/**": the folder it names, without that end.
bool matches_folder_itself(const std::string& pattern, const std::string& relative) {
    const std::size_t n = pattern.size();
    return n > 3 && pattern.compare(n - 3, 3, "/**") == 0 &&
           glob_match(pattern.substr(0, n - 3).c_str(), relative.c_str());
}

bool any_matches(const std::vector<std::string>& patterns, const std::string& relative,
                 const char* name) {
    for (const std::string& pattern : patterns) {
        if (!has_slash(pattern)) {
            if (glob_match(pattern.c_str(), name)) return true;
        } else if (glob_match(pattern.c_str(), relative.c_str()) ||
                   matches_folder_itself(pattern, relative)) {
            return true;
        }
    }
    return false;
}

std::vector<std::string> anchored(std::vector<std::string> patterns) {
    for (std::string& pattern : patterns) {
        while (pattern.size() > 1 && pattern[0] == '/')
            pattern.erase(0, 1);
    }
    return patterns;
}

}  // namespace

bool glob_match(const char* pattern, const char* text) {
    return match_from(pattern, text);
}

EntryFilter::EntryFilter(std::vector<std::string> include, std::vector<std::string> exclude)
    : include_(anchored(std::move(include))), exclude_(anchored(std::move(exclude))) {}

bool EntryFilter::excluded(const std::string& relative, const char* name) const {
    return any_matches(exclude_, relative, name);
}

bool EntryFilter::takes_file(const std::string& relative, const char* name) const {
    if (excluded(relative, name)) return false;
    return include_.empty() || any_matches(include_, relative, name);
}

}  // namespace textmend::tree
