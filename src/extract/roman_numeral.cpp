#include "extract/roman_numeral.h"

#include <string>
#include <utility>

namespace qm {

long long RomanValue(std::string_view token) {
    if (token.empty() || token.size() > 15) return 0;
    const bool lower = token[0] >= 'a';
    auto value = [lower](char c) -> int {
        if (lower) c = static_cast<char>(c - 'a' + 'A');
        switch (c) {
        case 'I': return 1;
        case 'V': return 5;
        case 'X': return 10;
        case 'L': return 50;
        case 'C': return 100;
        case 'D': return 500;
        case 'M': return 1000;
        default: return 0;
        }
    };
    long long total = 0;
    for (size_t i = 0; i < token.size(); ++i) {
        if ((token[i] >= 'a') != lower) return 0;  // mixed case
        const int v = value(token[i]);
        if (v == 0) return 0;
        const int next = i + 1 < token.size() ? value(token[i + 1]) : 0;
        total += next > v ? -v : v;
    }
    if (total <= 0 || total > 4999) return 0;
    // Only the usual form counts (so "mix" as a word and "iiv" are no numbers).
    static const std::pair<int, const char *> kParts[] = {{1000, "M"}, {900, "CM"}, {500, "D"}, {400, "CD"},
                                                          {100, "C"},  {90, "XC"},  {50, "L"},  {40, "XL"},
                                                          {10, "X"},   {9, "IX"},   {5, "V"},   {4, "IV"},
                                                          {1, "I"}};
    std::string canonical;
    long long rest = total;
    for (const auto &[v, s] : kParts)
        while (rest >= v) {
            canonical += s;
            rest -= v;
        }
    if (canonical.size() != token.size()) return 0;
    for (size_t i = 0; i < token.size(); ++i) {
        char c = token[i];
        if (lower) c = static_cast<char>(c - 'a' + 'A');
        if (c != canonical[i]) return 0;
    }
    return total;
}

} // namespace qm
