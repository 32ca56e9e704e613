#pragma once
// Switches that make a converted PDF read like a book rather than a PDF cut into paragraphs. They
// are kept apart from the older conversion options (and saved in a settings file of their own),
// so the older settings file keeps its format.
#include <string>

namespace qm {

struct ReadingOptions {
    // Running heads, running feet and page numbers repeated near the top or bottom of many pages
    // stay in the text (off: they are left out of the book).
    bool keepRunningHeads = false;
    // Blocks set clearly larger or bolder than the body text (or that a bookmark points at) become
    // h1..h3.
    bool headings = true;
    // The navigation points come from the headings even when the PDF has bookmarks.
    bool tocFromHeadings = false;
    // Text in a fixed-pitch font keeps its lines and indentation, in a monospace class.
    bool codeBlocks = true;
    // The PDF's own printed contents pages stay as they are (off: each entry becomes one line that
    // links to its page).
    bool keepContentsPages = false;
    // The book's language ("" = the PDF's /Lang, else the default language).
    std::string language;
    // Write an EPUB 3.0 package (with the NCX kept for older readers) instead of EPUB 2.
    bool epub3 = false;
};

// The language a book has when neither the user nor the PDF names one.
inline constexpr const char *kDefaultBookLanguage = "en-gb";

// True when `tag` is a well-formed language tag ("de", "en-US", "zh-Hant-TW", "x-custom"): at most
// 35 characters, subtags of ASCII letters and digits separated by single hyphens, in the order
// language, script, region, variants, extensions, private use. Anything else (empty, spaces,
// markup, stray hyphens) is refused, so it never reaches a book's metadata.
bool IsLanguageTag(const std::string &tag);

} // namespace qm
