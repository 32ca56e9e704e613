#pragma once
// One open PDF: the engine's handles, password check, title, outline, page tree and page stepping,
// and the page model of its captured pages. A recursive lock serialises every use of the engine's
// document, because the conversion thread and the thumbnail loader reach the same document; each
// thread uses its own engine context (pdf/engine.h).
#include <mupdf/fitz.h>
#include <mupdf/pdf.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "extract/page_model.h"

namespace qm {

struct ConversionJob;
class UserPrompt;
class StyleRegistry;

// Header of a rendered thumbnail: a top-down 32-bit device-independent bitmap.
struct ThumbnailHeader {
    uint32_t size = 40;
    int32_t width = 0;
    int32_t height = 0;          // negative: rows run top-down
    uint16_t planes = 1;
    uint16_t bitCount = 32;
    uint32_t compression = 0;
    uint32_t imageSize = 0;
    int32_t xPelsPerMeter = 2834;
    int32_t yPelsPerMeter = 2834;
    uint32_t colorsUsed = 0;
    uint32_t colorsImportant = 0;
};

// Why the engine's work on a page was stopped from outside.
enum class PageStop { None, Cancelled, TimeLimit };

struct DocumentState {
    std::optional<std::string> title;  // Info "Title" as UTF-8; empty optional when absent
    fz_document *document = nullptr;
    fz_outline *outline = nullptr;
    int pageCount = 0;
    int claimedPageCount = 0;          // the page tree's own count, when it is more than can be read
    bool glyphCache = false;           // the engine's glyph cache is shared per process; this marks
                                       // that this document has started using it
    int resolution = 0;                // view resolution in dpi
    int rotation = 0;                  // extra rotation in degrees
    fz_pixmap *raster = nullptr;       // output raster of the current page
    fz_pixmap *viewRaster = nullptr;   // view raster of the current page
    int pageNumber = 0;                // page being drawn, 1..pageCount
    fz_page *page = nullptr;           // loaded current page
    fz_matrix pageTransform = {1, 0, 0, 1, 0, 0};
    fz_irect pageBox = {0, 0, 0, 0};
    int viewWidth = 0, viewHeight = 0;
    int fitToView = 0;
    int panX = 0, panY = 0;
    std::string path;                  // the file the document was opened from
};

class PdfDocument {
public:
    PdfDocument();
    virtual ~PdfDocument();
    PdfDocument(const PdfDocument &) = delete;
    PdfDocument &operator=(const PdfDocument &) = delete;

    // Clears the state: view 640 x 480, resolution 72, page model attached.
    void Reset();
    // 0 when open, -1 on failure (error trace entry, or "Invalid password." through the prompt).
    int Open(const std::string &path, const std::string &password, const std::string &userPassword);
    // Releases everything; safe on a document that failed to open, and twice.
    void Close();

    int PageCount();
    void GoToPage(int n);
    void PreviousPage(int k);
    void NextPage(int k);

    // Page capture: with load = 1 loads and records the current page (State().pageNumber), then
    // gives every command its output-space box (resolution renderDpi) and view-space box (FitZoom
    // of the view size when both are non-zero, else the current resolution) and builds the page's
    // items. 0, or -1 when the page cannot be loaded or interpreted. Rasters are painted lazily.
    int DrawPage(int load, int viewWidth, int viewHeight);
    // Page space to device pixels at `resolution` dpi, with the document's extra rotation.
    fz_matrix ViewTransform(int resolution);
    // Resolution at which the loaded page fits into viewWidth x viewHeight, never above 72 dpi.
    int FitZoom(int viewWidth, int viewHeight);
    // The current capture's rasters, painted from the recording on first use (RGB with alpha at
    // the output resolution; BGR with alpha at the view zoom), white background. Owned by the
    // document; null when nothing is captured or painting failed.
    fz_pixmap *OutputRaster();
    fz_pixmap *ViewRaster();

    // The engine's handles. Use them only while holding Lock(), each thread with EngineContext().
    DocumentState &State() { return state_; }
    const std::optional<std::string> &Title() const { return state_.title; }
    fz_document *Document() const { return state_.document; }
    fz_outline *Outline() const { return state_.outline; }
    std::unique_lock<std::recursive_mutex> Lock() { return std::unique_lock<std::recursive_mutex>(lock_); }

    // Where user-facing messages of this document go (defaults to the console prompt).
    void SetPrompt(UserPrompt *prompt);
    UserPrompt &Prompt() const;

    // ---- stopping the engine's work on a page from another thread ----
    // Every interpretation and render of the document's pages runs with the document's engine
    // cookie. A capture (DrawPage with load) starts a page run, which lasts until EndPageRun: the
    // rasters painted later for the page's pictures belong to it. A run starts stopped when the
    // job's cancel flag is already set. A stopped run's capture, rasters and pictures fail.
    //
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
    // A thumbnail render's own cookie while it runs (null when it is done), so that a cancel
    // reaches it too.
    void SetThumbnailCookie(fz_cookie *cookie);

    // ---- content files of a book (xhtml/page_driver.cpp) ----
    // Converts every page into the job's work folder: 0 done, 2 cancelled, -1 no job, -2 unknown
    // parse mode.
    int ConvertDocument(ConversionJob *job);
    int ConvertTextPages(ConversionJob &job);
    int ConvertImagePages(ConversionJob &job);
    void WritePageHead(FILE *file, const ConversionJob *job, bool titlePage);
    void WritePageTail(FILE *file, const ConversionJob *job);
    // Info dictionary entry as UTF-8, at most size - 1 bytes; `out` is left alone when absent.
    void ReadInfoString(const char *key, std::string &out, size_t size);
    // One page (the current one) as a whole XHTML file, for the preview.
    int WritePreviewPage(FILE *file, ConversionJob *job);
    // A page rendered to 32-bit pixels (blue, green, red, alpha), top-down; null on failure. The
    // caller frees the buffer with std::free.
    unsigned char *RenderThumbnail(ThumbnailHeader *header, int page, int width, int height);

    // ---- outline page and navigation points (xhtml/outline_writer.cpp) ----
    int WriteOutlinePage(FILE *file, const ConversionJob *job);
    void WriteOutlineList(FILE *file, fz_outline *first, int depth);
    int WriteOutlineTarget(FILE *file, fz_outline *entry);
    int WriteNavPointsFile(ConversionJob &job);
    void WriteNavPoints(FILE *file, fz_outline *first, int depth, int &idCounter);
    // Lists a produced file (ListProducedFile) and counts it against the limits below.
    void ListProduced(const ConversionJob &job, const std::string &path);
    // Files and bytes one conversion may produce: past either, no more pictures are written and
    // the page loop stops with a message (hostile files could otherwise fill the disk).
    long long maxProducedFiles = 100000;
    long long maxProducedBytes = 4LL << 30;
    long long producedFiles = 0, producedBytes = 0;
    bool ProducedLimitReached() const {
        return producedFiles >= maxProducedFiles || producedBytes >= maxProducedBytes;
    }
    // The book's style sheet while the document is converted or previewed.
    std::shared_ptr<StyleRegistry> styleRegistry;

    PageModel pageModel;
    int renderDpi = 72;
    int currentPage = 1;
    int pagesSinceFlush = 0;
    int navCounters[2] = {0, 0};
    ConversionJob *job = nullptr;

private:
    void BeginPageRun();

    DocumentState state_;
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

// Appends a produced file's full path and a line feed to "textlist.txt" in the job's work folder;
// nothing happens when the list cannot be opened.
void ListProducedFile(const ConversionJob &job, const std::string &text);
// The same with the work folder given directly.
void ListProducedFileIn(const std::string &workFolder, const std::string &text);

} // namespace qm
