#include "options/reading_options.h"

#include <vector>

namespace qm {
namespace {

bool AllOf(const std::string &s, bool (*pred)(char)) {
    for (char c : s)
        if (!pred(c)) return false;
    return !s.empty();
}
bool IsAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsAlnum(char c) { return IsAlpha(c) || IsDigit(c); }

bool Alpha(const std::string &s, size_t lo, size_t hi) { return s.size() >= lo && s.size() <= hi && AllOf(s, IsAlpha); }
bool Alnum(const std::string &s, size_t lo, size_t hi) { return s.size() >= lo && s.size() <= hi && AllOf(s, IsAlnum); }

// A private-use sequence starting at parts[i] ("x" and one or more subtags of 1..8 characters).
bool PrivateUse(const std::vector<std::string> &parts, size_t i) {
    if (i + 1 >= parts.size()) return false;
    for (size_t k = i + 1; k < parts.size(); ++k)
        if (!Alnum(parts[k], 1, 8)) return false;
    return true;
}

} // namespace

bool IsLanguageTag(const std::string &tag) {
    constexpr size_t kMaxLength = 35;
    if (tag.empty() || tag.size() > kMaxLength) return false;
    std::vector<std::string> parts;
    size_t start = 0;
    while (true) {
        const size_t dash = tag.find('-', start);
        parts.push_back(tag.substr(start, dash == std::string::npos ? std::string::npos : dash - start));
        if (parts.back().empty()) return false;
        if (dash == std::string::npos) break;
        start = dash + 1;
    }
    auto isX = [](const std::string &s) { return s == "x" || s == "X"; };
    if (isX(parts[0])) return PrivateUse(parts, 0);

    size_t i = 0;
    // Language: 2..3 letters with up to three 3-letter extensions, or 4..8 letters.
    if (Alpha(parts[0], 2, 3)) {
        i = 1;
        for (int ext = 0; ext < 3 && i < parts.size() && Alpha(parts[i], 3, 3); ++ext) ++i;
    } else if (Alpha(parts[0], 4, 8)) {
        i = 1;
    } else {
        return false;
    }
    if (i < parts.size() && Alpha(parts[i], 4, 4)) ++i;                                        // script
    if (i < parts.size() && (Alpha(parts[i], 2, 2) || (parts[i].size() == 3 && AllOf(parts[i], IsDigit)))) ++i; // region
    // Variants: 5..8 characters, or 4 starting with a digit.
    while (i < parts.size() && (Alnum(parts[i], 5, 8) || (Alnum(parts[i], 4, 4) && IsDigit(parts[i][0])))) ++i;
    // Extensions: a singleton other than x followed by subtags of 2..8 characters.
    while (i < parts.size() && parts[i].size() == 1 && !isX(parts[i]) && IsAlnum(parts[i][0])) {
        size_t k = i + 1;
        while (k < parts.size() && Alnum(parts[k], 2, 8)) ++k;
        if (k == i + 1) return false;
        i = k;
    }
    if (i < parts.size() && isX(parts[i])) return PrivateUse(parts, i);
    return i == parts.size();
}

} // namespace qm
