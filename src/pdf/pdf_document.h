#pragma once
// One open PDF, as the engine sees it: open and password, page count, Info entries, the outline as
// a plain tree, page loading, full font names of a page, thumbnails, and the page-run cookie that
// lets another thread stop the engine's work on a page. A recursive lock serialises every use of
// the engine's document, because the conversion thread and the thumbnail loader reach the same
// document; each thread uses its own engine context (pdf/engine.h).
#include <mupdf/fitz.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "pdf/engine.h"

typedef struct pdf_obj pdf_obj;

namespace qm {

class UserPrompt;

// How an Open ended.
enum class OpenResult {
    Opened,
    CannotOpen,     // no file, or not a PDF the engine can read
    WrongPassword,  // encrypted, and the password does not open it ("Invalid password." was said)
    NoPageTree,     // the pages cannot be counted
};

// One entry of the document's outline (bookmarks), read once when the document opens.
struct OutlineEntry {
    std::string title;
    std::string uri;        // "#page=..." inside the document, else an address; "" for none
    bool external = false;  // `uri` is an address with a scheme (not a place in the document)
    int page = -1;          // 0-based page the entry points to; -1 when it points to none
    std::vector<OutlineEntry> children;
};

// A rendered page: width x height pixels, 4 bytes each (blue, green, red, alpha), rows top-down.
struct Thumbnail {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> bgra;
    bool Empty() const { return bgra.empty(); }
};

// One range of the document's page labels (the numbers printed on its pages): pages from
// `firstPage` (1-based) on are numbered in `style` ('D' arabic, 'r'/'R' roman, 'a'/'A' letters,
// 0 none) counting from `start`, each after `prefix`.
struct PageLabelRange {
    int firstPage = 1;
    char style = 0;
    std::string prefix;
    int start = 1;
};

// Why the engine's work on a page was stopped from outside.
enum class PageStop { None, Cancelled, TimeLimit };

class PdfDocument {
public:
    PdfDocument();
    ~PdfDocument();
    PdfDocument(const PdfDocument &) = delete;
    PdfDocument &operator=(const PdfDocument &) = delete;

    // Opens `path` (closing what was open). A failed Open leaves the document closed; the reason
    // goes to the error trace, or "Invalid password." through the prompt.
    OpenResult Open(const std::string &path, const std::string &password, const std::string &userPassword);
    // Releases everything; safe on a document that failed to open, and twice.
    void Close();
    // Frees what the engine keeps of pages already read: the parsed objects of the file that
    // nothing holds any more (they grow with every page read otherwise), cached fonts, pictures
    // and glyphs. Objects still in use are kept; a page loaded again is parsed again. The fonts
    // of the page whose names were read last stay cached: the next page nearly always uses them
    // again, and loading a font anew costs more than the page it is used on. The parsed
    // objects go only on every kTrimsPerXrefClear-th call: the fonts they hold must then be
    // loaded again, which costs more than the few megabytes ten pages' objects take.
    void TrimCaches();
    static constexpr int kTrimsPerXrefClear = 10;
    bool IsOpen() const { return document_ != nullptr; }

    // Pages worth trying (no more than the file can hold), and the page tree's own count when it
    // claims more than that (0 otherwise).
    int PageCount();
    int ClaimedPageCount() const { return claimedPageCount_; }
    // The file the document was opened from.
    const std::string &Path() const { return path_; }

    // An entry of the Info dictionary as UTF-8; empty optional when it is absent or not a string.
    std::optional<std::string> InfoEntry(const char *key);
    std::optional<std::string> Title() { return InfoEntry("Title"); }
    // The catalog's /Lang (a text string, or a name as some writers put it) as UTF-8, unchecked;
    // empty optional when it is absent, of another type, or longer than any language tag could be.
    std::optional<std::string> CatalogLanguage();
    // The outline, with deeper levels and further entries of hostile outlines left out; empty when
    // the document has none.
    const std::vector<OutlineEntry> &Outline() const { return outline_; }

    // The page label ranges, in page order, read on first use (at most kMaxPageLabelRanges; an
    // unreadable or absent label tree gives none).
    const std::vector<PageLabelRange> &PageLabels();
    static constexpr int kMaxPageLabelRanges = 512;

    // Page `pageNumber` (1-based) loaded; null when it cannot be loaded. Call with Lock() held.
    EngineRef<fz_page> LoadPage(int pageNumber);
    // The full /BaseFont names of the fonts of page `pageIndex` (0-based) and of the forms it
    // uses, keyed by the engine font a capture of the page refers to (the engine keeps only 31
    // bytes of a name). Each key is a new reference the caller drops; fonts already in `names` are
    // left alone. The page is found through the page loaded last when it is that one (a search of
    // the page tree otherwise). Call with Lock() held.
    void LoadPageFontNames(int pageIndex, std::map<fz_font *, std::string> &names);
    // Page `pageNumber` (1-based) drawn to fit width x height (within 1..600 dpi; at 72 dpi when
    // no size is given). Empty on failure or when cancelled (CancelPageRun) while it is drawn.
    Thumbnail RenderThumbnail(int pageNumber, int width, int height);

    // The engine's document. Use it only while holding Lock(), each thread with EngineContext().
    fz_document *Document() const { return document_.get(); }
    std::unique_lock<std::recursive_mutex> Lock() { return std::unique_lock<std::recursive_mutex>(lock_); }

    // Where user-facing messages of this document go (defaults to the console prompt).
    void SetPrompt(UserPrompt *prompt);
    UserPrompt &Prompt() const;

    // ---- stopping the engine's work on a page from another thread ----
    // Every interpretation and render of the document's pages runs with the document's engine
    // cookie. A page capture starts a page run, which lasts until EndPageRun: the rasters painted
    // later for the page's pictures belong to it. A stopped run's capture, rasters and pictures
    // fail.
    //
    // Starts a run; `cancelled`: the run starts stopped (the conversion was cancelled already).
    void BeginPageRun(bool cancelled);
    // The cookie of the current page run, for the engine calls of the run.
    fz_cookie *PageRunCookie() { return &cookie_; }
    // Any thread: stops the page run in progress (the conversion is cancelled), and a thumbnail
    // being rendered.
    void CancelPageRun();
    // Any thread: stops page run `serial` when it is still in progress, as having taken longer
    // than `seconds`; false when that run is over.
    bool StopSlowPageRun(uint64_t serial, double seconds);
    struct PageRunInfo {
        uint64_t serial = 0;  // 0: no run yet
        bool active = false;
        std::chrono::steady_clock::time_point started;
    };
    PageRunInfo CurrentPageRun();
    void EndPageRun();
    // Why the current (or last) page run was stopped, and the time limit it went beyond.
    PageStop PageRunStop();
    double PageRunLimit();

private:
    void SetThumbnailCookie(fz_cookie *cookie);
    pdf_obj *PageObject(int pageIndex);
    void DropHeldEngineObjects();

    EngineRef<fz_document> document_;
    std::vector<OutlineEntry> outline_;
    int pageCount_ = 0;
    int trimsSinceXrefClear_ = 0;
    int claimedPageCount_ = 0;
    // The object of the page loaded last (kept), and the fonts of the page whose names were read
    // last (kept, so that TrimCaches leaves them cached).
    int lastPageIndex_ = -1;
    pdf_obj *lastPageObject_ = nullptr;
    std::vector<const fz_storable *> heldFonts_;  // pdf_font_desc
    bool glyphCache_ = false;  // the engine's glyph cache is shared per process; this marks that
                               // this document has started using it
    std::string path_;
    std::vector<PageLabelRange> pageLabels_;
    bool pageLabelsRead_ = false;
    std::recursive_mutex lock_;
    UserPrompt *prompt_ = nullptr;

    // Page runs. runLock_ guards everything below; the engine reads cookie_.abort while it works.
    std::mutex runLock_;
    fz_cookie cookie_{};
    fz_cookie *thumbnailCookie_ = nullptr;
    uint64_t runSerial_ = 0;
    bool runActive_ = false;
    std::chrono::steady_clock::time_point runStarted_;
    PageStop runStop_ = PageStop::None;
    double runLimit_ = 0;
};

} // namespace qm
