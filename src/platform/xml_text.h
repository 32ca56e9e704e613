#pragma once
// Text as XML holds it: which characters may appear at all, and the escaping of the markup
// characters. Every writer of book markup (page text, outline page, package files, documents
// built into a book) goes through these, so a character is either kept or dropped the same way
// everywhere.
#include <cstdint>
#include <string>

namespace qm {

// Whether XML 1.0 can hold `cp`, even as a reference: tab, line feed, carriage return and
// everything from U+0020 up, except surrogates, U+FFFE, U+FFFF and values above U+10FFFF.
bool IsXmlChar(uint32_t cp);

// Appends one character as XML text: "&" -> "&amp;", ">" -> "&gt;", "<" -> "&lt;",
// '"' -> "&quot;", a character XML cannot hold is dropped, anything else is written as UTF-8.
void AppendXmlChar(std::string &out, uint32_t cp);

// The text as XML can hold it, without escaping: bytes that are not UTF-8 become U+FFFD and
// characters XML cannot hold are dropped. Equal to `text` exactly when `text` is UTF-8 that XML
// can hold.
std::string XmlChars(const std::string &text);

// XmlChars with the markup characters escaped (as AppendXmlChar does), so text from a damaged
// source still gives well-formed markup.
std::string XmlEscape(const std::string &text);

} // namespace qm
