#pragma once
// The book's style sheet and the class lists of text spans. Every span gets a size class
// ("font<N>", N tenths of an em), a colour class for non-black text ("C<rrggbb>") and "bold" /
// "italic" from the font name. The sheet starts with a fixed set of rules; the rule of a class is
// appended the first time the class is used, so the sheet holds exactly the rules the book uses,
// in order of first use. The file is opened and closed per rule: it is complete after every call.
//
// Not thread-safe: one registry per document converter. A page converted on another thread uses
// a registry of its own that writes no sheet but keeps the rules its spans need (RecordRulesOnly);
// the book's registry then takes them in page order (AddRules), so the sheet is the same.
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <mupdf/fitz.h>

namespace qm {

struct ConversionJob;
struct DrawCommand;
class PdfDocument;

// The size (in points of the page's space) and weight of a text command, as its span classes
// see them.
struct TextStyle {
    double size = 0;
    bool bold = false;
};

class StyleRegistry {
public:
    // Empties the set of emitted classes, remembers the path, and appends the fixed rules to the
    // file (created if missing, extended if present). 0, or -1 when the file cannot be opened.
    int BeginStyleSheet(const std::string &path);

    // Appends the class list of a text command to `classes` and the rules of classes not yet in
    // the sheet. 0; -1 when the command has no font (nothing appended); -2 when the sheet cannot
    // be opened to append a rule (the class is not registered and is tried again next time).
    // With `markMono`, text in a fixed-pitch font also gets "mono" (font-family: monospace).
    int GetSpanClasses(const DrawCommand &text, std::string &classes, double fontScale, bool markMono = false);
    // The style a text command's span classes are made from, without registering any class.
    // false when the command has no font. `italic` (when given) receives the italic flag.
    bool StyleOf(const DrawCommand &text, TextStyle &style, bool *italic = nullptr);
    // The font scale read from the job (1.0 without one); "mono" when the job keeps code as code
    // (automatic mode with code blocks on).
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

    // A class and its rule ("font12", "span.font12{font-size:1.2em;}\n").
    using Rule = std::pair<std::string, std::string>;
    // From now on no sheet is written: the rules of the classes used are kept in order of first
    // use until TakeRecordedRules.
    void RecordRulesOnly() { recordOnly_ = true; }
    // The rules kept since the last call, each once; the registry forgets them, so that the next
    // page keeps every rule it uses again.
    std::vector<Rule> TakeRecordedRules();
    // Appends, in order, the rules of classes not yet in the sheet. false when the sheet cannot be
    // opened: the rules from the one that failed on are not appended.
    bool AddRules(const std::vector<Rule> &rules);

private:
    // The font's full name (as the page lists it, else the engine's), at most 49 characters, in
    // capitals.
    std::string UpperFontName(fz_font *font) const;
    // Appends the rule of a class not yet in the sheet and notes the class; false when the
    // sheet cannot be opened.
    bool EmitRule(const std::string &name, const std::string &rule);

    std::set<std::string> emitted_;
    std::string path_;
    std::map<fz_font *, std::string> fullNames_;  // each font referenced while listed
    bool recordOnly_ = false;
    std::vector<Rule> recorded_;
};

} // namespace qm
