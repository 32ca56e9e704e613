#include "platform/xml_text.h"

#include "platform/utf8.h"

namespace qm {
namespace {

constexpr uint32_t kReplacement = 0xFFFD;

// Calls `put` with every character of `text`, U+FFFD standing for each byte that is not UTF-8.
template <typename Put>
void ForEachChar(const std::string &text, Put put) {
    for (size_t i = 0; i < text.size();) {
        uint32_t cp;
        size_t len = DecodeUtf8(text, i, cp);
        if (len == 0) {
            put(kReplacement);
            ++i;
            continue;
        }
        put(cp);
        i += len;
    }
}

} // namespace

bool IsXmlChar(uint32_t cp) {
    if (cp < 0x20) return cp == '\t' || cp == '\n' || cp == '\r';
    if (cp >= 0xD800 && cp <= 0xDFFF) return false;
    return cp != 0xFFFE && cp != 0xFFFF && cp <= 0x10FFFF;
}

void AppendXmlChar(std::string &out, uint32_t cp) {
    switch (cp) {
    case '&': out += "&amp;"; return;
    case '>': out += "&gt;"; return;
    case '<': out += "&lt;"; return;
    case '"': out += "&quot;"; return;
    default: break;
    }
    if (IsXmlChar(cp)) AppendUtf8(out, cp);
}

std::string XmlChars(const std::string &text) {
    std::string out;
    out.reserve(text.size());
    ForEachChar(text, [&out](uint32_t cp) {
        if (IsXmlChar(cp)) AppendUtf8(out, cp);
    });
    return out;
}

std::string XmlEscape(const std::string &text) {
    std::string out;
    out.reserve(text.size() + text.size() / 8);
    ForEachChar(text, [&out](uint32_t cp) { AppendXmlChar(out, cp); });
    return out;
}

} // namespace qm
