#pragma once
// Builds test PDFs in-process with the engine's own PDF writer. Content is given as PDF operators
// in the page's user space (points, origin bottom-left, y up) through small helpers; link and
// outline targets are page indexes from 0.
#include <string>
#include <vector>

namespace qmtest {

struct Rgb {
    double r = 0, g = 0, b = 0;
};

class PdfBuilder {
public:
    PdfBuilder();
    ~PdfBuilder();
    PdfBuilder(const PdfBuilder &) = delete;
    PdfBuilder &operator=(const PdfBuilder &) = delete;

    // Appends a page and returns its index (from 0).
    int AddPage(double width = 612, double height = 792, int rotate = 0);
    int PageCount() const { return static_cast<int>(pages_.size()); }

    // Text in a standard-14 font ("Helvetica", "Helvetica-Bold", "Times-Roman", "Times-Italic",
    // "Courier", ...). `text` is UTF-8 and is written in WinAnsi encoding: characters outside it
    // become "?". Baseline origin at (x, y).
    void Text(int page, double x, double y, const std::string &text, double size = 12,
              const std::string &font = "Helvetica", Rgb colour = {});
    // Each character as its own text object at x + i * advance (text set glyph by glyph).
    void GlyphByGlyph(int page, double x, double y, const std::string &text, double advance, double size = 12,
                      const std::string &font = "Helvetica");
    // Text in an embedded Unicode font (DejaVu Sans, any script it covers), as a CID font.
    void UnicodeText(int page, double x, double y, const std::string &utf8, double size = 12);
    void FillRect(int page, double x, double y, double w, double h, Rgb colour = {});
    void StrokeRect(int page, double x, double y, double w, double h, double lineWidth = 1, Rgb colour = {});
    void Line(int page, double x0, double y0, double x1, double y1, double lineWidth = 1, Rgb colour = {});
    // A ruled table: its top-left corner at (x, top), columns of the given widths, rows of
    // `rowHeight`, every cell framed by lines. cells[r][c] is written in Helvetica `size` near the
    // cell's top left; an empty text leaves the cell empty, a missing one too.
    void RuledTable(int page, double x, double top, const std::vector<double> &columnWidths, double rowHeight,
                    const std::vector<std::vector<std::string>> &cells, double size = 10);
    // An RGB picture of pw x ph pixels (a colour gradient) drawn into the rectangle.
    void Image(int page, double x, double y, double w, double h, int pw = 16, int ph = 16);
    // An axial shading from red to blue filling the rectangle (through a clip).
    void ShadeRect(int page, double x, double y, double w, double h);
    // One line set piece by piece in a single text object, the way typesetters write justified
    // lines: before each piece the pen moves `gap` points along the line (a TJ adjustment; negative
    // moves back), and a piece may switch font and size or raise its baseline. `charSpacing` (Tc)
    // and `wordSpacing` (Tw, added to every blank) are in points and apply to the whole line.
    struct TextPiece {
        std::string text;
        double gap = 0;
        std::string font = "Times-Roman";
        double size = 10;
        double rise = 0;
    };
    void TextLine(int page, double x, double y, const std::vector<TextPiece> &pieces, double charSpacing = 0,
                  double wordSpacing = 0);
    // Width of a text in a standard-14 font at its own advances, in points (no Tc/Tw).
    static double TextWidth(const std::string &text, double size = 10, const std::string &font = "Times-Roman");
    // `count` stroked paths, each crossing the whole page with a wide line: cheap to interpret,
    // slow to paint (a few thousand take seconds at 72 dpi).
    void SlowStrokes(int page, int count);
    // Raw content operators appended to the page (resources: fonts /F<n> are named by FontResource).
    void Raw(int page, const std::string &operators);
    // Resource name ("F1", ...) of a standard-14 font, registering it on first use.
    std::string FontResource(const std::string &font);
    // Each page lists only the fonts its content selects (by default every page lists them all).
    void ListFontsWhereUsed() { fontsWhereUsed_ = true; }

    void SetInfo(const std::string &title, const std::string &author = std::string(),
                 const std::string &subject = std::string());
    // Adds an outline entry and returns its index; parent -1 for a top-level entry; page -1 for an
    // entry without destination.
    int AddOutline(const std::string &title, int page, int parent = -1, double y = -1);
    // An outline entry whose destination names page `pageIndex` (from 0) by its number, whether or
    // not the document has such a page (damaged and hostile files do this).
    int AddOutlineToPageNumber(const std::string &title, int pageIndex, int parent = -1);
    // An outline entry whose action is a /URI action holding `uri` exactly as given (a bare
    // "www.example.org" as producers store it, or one with a scheme).
    int AddOutlineToUri(const std::string &title, const std::string &uri, int parent = -1);
    // Writes `count` as the page tree's /Count instead of the real number of pages (a page tree
    // that lies about its size). Values beyond the engine's integers are written as reals.
    void SetPageTreeCount(double count);
    // Link areas in page user space.
    void LinkToPage(int page, double x0, double y0, double x1, double y1, int targetPage);
    void LinkToUri(int page, double x0, double y0, double x1, double y1, const std::string &uri);
    // A URI link annotation written by hand, its /URI entry in the given form: a string stored
    // exactly as given (whatever scheme it has), an array holding that string, a number, or none.
    enum class UriForm { String, Array, Number, Missing };
    void LinkToUriObject(int page, double x0, double y0, double x1, double y1, UriForm form,
                         const std::string &uri = std::string());

    // Writes the document; false on failure. May be called more than once (e.g. plain, then
    // encrypted) once all content is added.
    bool Save(const std::string &path);
    // AES-256 encrypted copy with the given user (open) password and owner password.
    bool SaveEncrypted(const std::string &path, const std::string &userPassword,
                       const std::string &ownerPassword = "owner-secret");

private:
    struct Page {
        double width, height;
        int rotate;
        std::string content;
        std::vector<std::string> xobjects;  // resource names of images, "Im<n>"
        std::vector<std::string> shadings;  // resource names of shadings, "Sh<n>"
        std::vector<std::string> extra;     // pending resource objects created at build time
    };
    struct Link {
        int page;
        double x0, y0, x1, y1;
        int target;
        std::string uri;
        int form = -1;  // a UriForm for links written by hand, -1 otherwise
    };
    struct OutlineEntry {
        std::string title;
        int page;
        int parent;
        double y;
        bool byNumber = false;  // destination is the bare page number, checked against nothing
        std::string uri;        // not empty: a /URI action instead of a destination
    };
    struct ImageSpec {
        std::string name;
        int pw, ph;
    };
    struct ShadeSpec {
        std::string name;
        double x0, y0, x1, y1;
    };
    bool Build();
    bool WriteDocument(const std::string &path, bool encrypt, const std::string &user, const std::string &owner);

    std::vector<Page> pages_;
    std::vector<std::pair<std::string, std::string>> fonts_;  // (base font, resource name)
    std::vector<ImageSpec> images_;
    std::vector<ShadeSpec> shades_;
    std::vector<Link> links_;
    std::vector<OutlineEntry> outline_;
    std::string title_, author_, subject_;
    bool hasInfo_ = false;
    double pageTreeCount_ = -1;  // < 0: the real count
    bool usesUnicodeFont_ = false;
    bool fontsWhereUsed_ = false;
    struct Impl;
    Impl *impl_ = nullptr;
};

// Damaged files for robustness tests.
bool WriteZeroByteFile(const std::string &path);
bool WriteGarbageFile(const std::string &path, size_t bytes = 4096);
// Copies `from` keeping only the first `keepBytes` bytes.
bool WriteTruncatedCopy(const std::string &from, const std::string &path, size_t keepBytes);

// A simple document: `pages` pages of Helvetica text, page i showing "Page <i+1>" and a few
// lines of text; title "Fixture Title", author "Fixture Author".
bool WriteSimplePdf(const std::string &path, int pages = 3);

// ---- The document's language (catalog /Lang) ----

// Sets the catalog's /Lang of the PDF at `path` (rewritten in place): a text string, or a name when
// `asName` (as some writers store it). false when the file cannot be read or written.
bool SetCatalogLanguage(const std::string &path, const std::string &lang, bool asName = false);

// ---- Page labels (printed page numbers) ----
// One range of page labels: from page `pageIndex` (from 0) on, numbers in `style` ("D" arabic,
// "r"/"R" roman, "" none) from `start`, after `prefix`.
struct PageLabel {
    int pageIndex = 0;
    std::string style;
    std::string prefix;
    int start = 1;
};
// Rewrites the PDF at `path` with the given page labels in its catalog; false on failure.
bool AddPageLabels(const std::string &path, const std::vector<PageLabel> &labels);

} // namespace qmtest

namespace qmtest {

// ---- Pages set in columns ----
// `count` sentences "<tag> sentence <n> ..." of about a dozen words each, told apart by tag and number.
std::vector<std::string> NumberedSentences(const std::string &tag, int count);
// Sets the sentences as one ragged paragraph in Times-Roman `size` (leading 1.2 x size) into a
// column `width` points wide at x, first baseline at y. Returns the baseline of the line that would
// follow it after one blank line.
double ColumnParagraph(PdfBuilder &b, int page, double x, double y, double width,
                       const std::vector<std::string> &sentences, double size = 10);

// ---- Headings ----
// Three pages of 10 pt Helvetica body text under a bold running head ("Program Manual 5.4") and
// a page number at the foot. Page 1: "Chapter One Overview" (24 pt), "Installing the Program"
// (16 pt), "Choosing a Folder" (12 pt), "Before You Start" (bold at 10 pt), a paragraph with one
// bold word, and a row of two short bold cells ("Name", "Value") side by side. Page 2: "Chapter
// Two Usage" (24 pt) and "Running a Conversion" (16 pt). Page 3: "Appendix Notes" (12 pt).
// With `bookmarks`, an outline of two entries ("First Bookmark" -> page 1, "Second Bookmark" ->
// page 3).
bool WriteHeadingsPdf(const std::string &path, bool bookmarks);

} // namespace qmtest

// ---- Running heads and page numbers ----
namespace qmtest {

// A manual: `front` pages numbered i, ii, ... at the foot, then `chapters` chapters of
// `chapterPages` pages. A chapter's first page has no head: its title ManualChapterTitle stands
// in the body and its number (arabic, counted after the front pages) at the foot. Its other
// pages carry a head: even pages "N  Program Manual 5.4" at the top left, odd pages
// "Section K - <title>" at the top left and the number at the top right. Every page has the foot
// "Copyright 2026 Example Press". The body lines ManualBodyLine hold no digits and no roman
// numerals; the first sits close under the head.
bool WriteManualPdf(const std::string &path, int front, int chapters, int chapterPages);
std::string ManualBodyLine(int pageIndex, int line);
std::string ManualChapterTitle(int chapter);
constexpr int kManualBodyLines = 4;

} // namespace qmtest

// ---- Printed contents pages without page labels ----
namespace qmtest {

struct PrintedContentsEntry {
    std::string title;
    std::string number;  // as printed
};
// `front` unnumbered pages (page 1 a title, page 2 the contents page listing `entries` under the
// heading "Contents", the others a line of text), then `body` pages reading "Body page K" with the
// printed number K at the foot; from body page `jumpFrom` on (0: never) the foot says K + 5, so the
// printed numbers disagree on where they start. The entries are set as title, dot leader and
// number flush right, in one column or, with `twoColumns`, in two (the first half on the left).
bool WritePrintedContentsPdf(const std::string &path, int front, int body,
                             const std::vector<PrintedContentsEntry> &entries, bool twoColumns, int jumpFrom = 0);

} // namespace qmtest

// ---- Running heads that carry the chapter's title ----
namespace qmtest {

// A book of `chapters` chapters of `chapterPages` pages. A chapter's first page holds only its
// title ChapterHeadTitle (24 pt, bold) and its page number at the foot; its other pages carry the
// same title as their head (9 pt Helvetica at the top left, the same on odd and even pages), the
// body lines ManualBodyLine (11 pt) and the page number at the foot. Page `plainTopPage` (from 0,
// a chapter's last page; -1: none) has no head: its first body line stands where the head would,
// in the head's font and size.
bool WriteChapterHeadsPdf(const std::string &path, int chapters, int chapterPages, int plainTopPage = -1);
std::string ChapterHeadTitle(int chapter);

} // namespace qmtest

// ---- A small book for Strict runs ----
namespace qmtest {

// Three pages, each with a running head ("Running Head Alpha"), a page number ("Folio N") and a
// line of body text ("Body text of page N"); page 1 has a remark to exclude ("Secret remark"),
// page 2 a drawing (100..300 x 200..350) with a label in it ("Diagram label"). Drawn into `pdf`,
// which may add more before it is saved.
void DrawStrictBookPages(PdfBuilder &pdf);

} // namespace qmtest
