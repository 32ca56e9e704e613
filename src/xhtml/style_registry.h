#pragma once
// The book's style sheet and the class lists of text spans. Every span gets a size class
// ("font<N>", N tenths of an em), a colour class for non-black text ("C<rrggbb>") and "bold" /
// "italic" from the font name. The sheet starts with a fixed set of rules; the rule of a class is
// appended the first time the class is used, so the sheet holds exactly the rules the book uses,
// in order of first use. The file is opened and closed per rule: it is complete after every call.
//
// Not thread-safe: one registry per document converter.
#include <map>
#include <set>
#include <string>

#include <mupdf/fitz.h>

namespace qm {

struct ConversionJob;
struct DrawCommand;
class PdfDocument;

class StyleRegistry {
public:
    // Empties the set of emitted classes, remembers the path, and appends the fixed rules to the
    // file (created if missing, extended if present). 0, or -1 when the file cannot be opened.
    int BeginStyleSheet(const std::string &path);

    // Appends the class list of a text command to `classes` and the rules of classes not yet in
    // the sheet. 0; -1 when the command has no font (nothing appended); -2 when the sheet cannot
    // be opened to append a rule (the class is not registered and is tried again next time).
    int GetSpanClasses(const DrawCommand &text, std::string &classes, double fontScale);
    // The font scale read from the job (1.0 without one).
    int GetSpanClasses(const DrawCommand &text, std::string &classes, const ConversionJob *job);

    // The engine keeps at most 31 bytes of a font's name, which cuts "Bold" or "Italic" off long
    // subset names ("ABCDEF+TimesNewRomanPS-BoldItalicMT"). After a page is captured, the page
    // driver (holding the document lock) loads the full names of the page's fonts from its
    // resources; the registry keeps those fonts referenced so the pointers stay valid, and falls
    // back to the engine's name for fonts it does not know. Returns the number of names found.
    int LoadPageFontNames(PdfDocument &doc, int pageIndex);
    void ClearPageFontNames();
    // Installs names directly (tests, other sources). Takes references to the fonts.
    void SetFontName(fz_font *font, const std::string &name);

    StyleRegistry() = default;
    ~StyleRegistry();
    StyleRegistry(const StyleRegistry &) = delete;
    StyleRegistry &operator=(const StyleRegistry &) = delete;

    const std::string &StyleSheetPath() const { return path_; }

private:
    // Appends one rule to the sheet; false when the sheet cannot be opened.
    bool AppendRule(const std::string &rule) const;

    std::set<std::string> emitted_;
    std::string path_;
    std::map<fz_font *, std::string> fullNames_;  // each font referenced while listed
};

} // namespace qm
