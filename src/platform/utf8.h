#pragma once
// UTF-8 as every part of the program reads and writes it: one decoder (strict: no overlong forms,
// no surrogates, nothing above U+10FFFF), one encoder and one check.
#include <cstddef>
#include <cstdint>
#include <string>

namespace qm {

// Decodes the sequence that starts at text[i] into `cp`; returns its length in bytes, or 0 when
// the bytes there are not UTF-8 (a stray continuation byte, a cut-off or overlong sequence, a
// surrogate, a value above U+10FFFF). `i` must be inside `text`.
size_t DecodeUtf8(const std::string &text, size_t i, uint32_t &cp);

// Appends `cp` as UTF-8; a value that is no Unicode scalar (a surrogate, above U+10FFFF) is
// written as U+FFFD.
void AppendUtf8(std::string &out, uint32_t cp);

// Whether every byte of `text` belongs to a UTF-8 sequence of a Unicode scalar value.
bool IsUtf8(const std::string &text);

} // namespace qm
