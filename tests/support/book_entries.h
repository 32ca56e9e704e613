#pragma once
// The entries of a built book, for comparing two books: the parts that differ on every build (the
// uuid and the date) are masked.
#include <algorithm>
#include <map>
#include <string>

#include "epub/zip_reader.h"
#include "platform/paths.h"

namespace qmtest {

// `text` with what follows each `marker` up to `end` (or `length` characters when `end` is empty)
// replaced by "X".
inline std::string Mask(std::string text, const std::string &marker, const std::string &end, size_t length) {
    for (size_t at = text.find(marker); at != std::string::npos; at = text.find(marker, at + 1)) {
        size_t from = at + marker.size();
        if (!end.empty()) {
            from = text.find('>', at);
            if (from == std::string::npos) break;
            from += 1;
        }
        size_t to = end.empty() ? std::min(text.size(), from + length) : text.find(end, from);
        if (to == std::string::npos) break;
        text.replace(from, to - from, "X");
    }
    return text;
}

// Every entry of a book by name, uuid and date masked; empty when the book cannot be read.
inline std::map<std::string, std::string> BookEntries(const std::string &epub) {
    std::string bytes;
    std::map<std::string, std::string> entries;
    if (!qm::ReadFile(epub, bytes)) return entries;
    for (auto &e : ReadZipArchive(bytes).entries)
        entries[e.name] = Mask(Mask(e.data, "urn:uuid:", "", 36), "<dc:date", "</dc:date>", 0);
    return entries;
}

} // namespace qmtest
