#pragma once
// One open PDF becomes the content files of a book in the job's work folder: the style sheet, an
// optional cover and title page, the XHTML page files with their pictures, the outline page and
// the navigation points of the outline. The converter owns everything a conversion (or a preview
// of one page) builds up: the page model and its capture, the style registry, the list of files
// produced in book order with its limits, and the navigation counters.
#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "extract/layout.h"
#include "extract/page_capture.h"
#include "extract/page_model.h"
#include "extract/running_heads.h"
#include "options/conversion_job.h"
#include "pdf/pdf_document.h"
#include "xhtml/block_writer.h"
#include "xhtml/convert_result.h"
#include "xhtml/style_registry.h"

namespace qm {

// How writing the outline page or the navigation points file ended.
enum class OutlineResult {
    Done,       // written; a navigation points file that could not be made is logged and left out
    NoOutline,  // the document has no outline: nothing written
};

struct PreparedPage;
class PageThreads;

class DocumentConverter {
public:
    // `doc` is open; both outlive the converter. The job receives the document's Info entries and
    // the navigation points file.
    DocumentConverter(PdfDocument &doc, ConversionJob &job);
    ~DocumentConverter();
    DocumentConverter(const DocumentConverter &) = delete;
    DocumentConverter &operator=(const DocumentConverter &) = delete;

    // Converts every page into the job's work folder.
    ConvertResult Convert();
    // Threads that work on the pages side by side in Automatic mode, each on its own opening of
    // the document; the pages still go into the book in page order on the calling thread, so the
    // book is the same as with 1. Short documents are converted on the calling thread alone.
    int pageThreads = 1;
    // Told of every extra opening of the document a page thread makes (true once it is open,
    // false before it closes), so that a run can reach it with a cancel and the page time limit.
    // Called on the page threads.
    std::function<void(PdfDocument &, bool open)> pageDocuments;
    // The files made, full paths in book order (the package's reading order).
    const std::vector<std::string> &ProducedFiles() const { return produced_; }
    std::vector<std::string> TakeProducedFiles() { return std::move(produced_); }

    // Files and bytes one conversion may produce: past either, no more pictures are written and
    // the page loop stops with a message (hostile files could otherwise fill the disk).
    long long maxProducedFiles = 100000;
    long long maxProducedBytes = 4LL << 30;
    long long ProducedBytes() const { return producedBytes_; }
    bool ProducedLimitReached() const {
        return static_cast<long long>(produced_.size()) >= maxProducedFiles || producedBytes_ >= maxProducedBytes;
    }

    // ---- one page, for a preview ----
    // Captures page `pageNumber` (the page run is ended again).
    CaptureResult CapturePage(int pageNumber);
    // The captured page as a whole XHTML file; its pictures go to the job's scratch folder and are
    // not listed. The result of the page analysis (as WritePageXhtml), FileFailed when the file
    // could not be written. Its span classes go to the preview's own style sheet once one was
    // begun, else to the book's.
    PageBodyResult WritePreviewPage(FILE *file);
    // Starts the preview's own style sheet at `path`, apart from the book's (which a preview must
    // not change). 0, or -1 when the file cannot be opened.
    int BeginPreviewStyleSheet(const std::string &path);

    // ---- outline page and navigation points ----
    // The outline page (a nested list of links) into a page file.
    OutlineResult WriteOutlinePage(FILE *file);
    // Writes the navPoint elements of the outline into a temporary file and names it in the job
    // (job.navPointsFile stays empty when no entry reaches a page).
    OutlineResult WriteNavPointsFile();
    // Writes navPoint elements for the headings found in the pages, nested by rank, into a
    // temporary file and names it in the job. false (nothing named) when there were none.
    bool WriteHeadingNavPointsFile();
    // The href of an entry's target; returns the page it points to (0 for an address or none).
    int WriteOutlineTarget(FILE *file, const OutlineEntry &entry);
    // The nested list of the outline page for `entries`, and their navPoint elements (entries
    // that reach no page are left out with everything below them; `idCounter` numbers them).
    void WriteOutlineList(FILE *file, const std::vector<OutlineEntry> &entries, int depth);
    void WriteNavPoints(FILE *file, const std::vector<OutlineEntry> &entries, int depth, int &idCounter);

    PdfDocument &Document() { return doc_; }
    ConversionJob &Job() { return job_; }
    PageModel &Model() { return model_; }
    PageCapture &Capture() { return capture_; }
    // The book's style sheet, once the conversion has started it (null before).
    StyleRegistry *Styles() { return styles_.get(); }

private:
    friend class PageThreads;
    // How one page of the loop ended.
    struct PageOutcome {
        bool drawn = false;    // captured
        bool stopped = false;  // its run was stopped (cancel or time limit)
    };
    // Page `page` converted on this thread, its body appended to `file`.
    PageOutcome ConvertPage(int page, FILE *file);
    // Page `page` from the page threads when one prepared it and it can go into the book as it
    // is, else converted here.
    PageOutcome NextPage(int page, FILE *file, PageThreads *threads);
    // Puts a prepared page into the book: numbered pictures, style rules, messages, body. false,
    // with nothing of it kept, when it must be converted here instead.
    bool CommitPage(PreparedPage &prepared, FILE *file, PageOutcome &outcome);
    // On a page thread's converter: pictures go to the job's work folder under their own
    // numbers, style rules are kept for the book's registry.
    void StartPreparing();
    PreparedPage PreparePage(int page);
    // Tells the user when a page run was stopped for taking too long; true when it was stopped.
    bool ReportStop(PageStop stop, double limit, int page);
    int PageThreadsFor(int pageCount) const;
    ConvertResult ConvertTextPages();
    ConvertResult ConvertImagePages();
    bool CommonStart(ConvertResult &result);
    ConvertResult CommonEnd();
    ConvertResult Stopped() const;
    PageBodyResult WriteBody(std::string &body, const SavePictureFn &savePicture = nullptr,
                             std::vector<PageHeading> *headings = nullptr);
    // Keeps the headings of a page put into the book, for the navigation.
    void KeepHeadings(std::vector<PageHeading> &headings);
    bool PageWasStopped(int page);
    bool WriteDrawnPage(FILE *file, int page, size_t mark);
    bool WithinOutputLimits(int page);
    bool StartPageFile(FILE *&file, std::string &path, int page);
    bool FinishPageFile(FILE *&file, const std::string &path);
    void ListProduced(const std::string &path);
    void DropProducedSince(size_t mark);
    int NavTargetEntry(const OutlineEntry &entry, const OutlineEntry **target, int depth);
    std::string DocName() const;
    std::string PageTitle();

    PdfDocument &doc_;
    ConversionJob &job_;
    PageModel model_;
    PageCapture capture_;
    std::unique_ptr<StyleRegistry> styles_;
    std::unique_ptr<StyleRegistry> previewStyles_;
    std::vector<std::string> produced_;
    long long producedBytes_ = 0;
    // The headings of the pages so far, in book order (bounded, see KeepHeadings).
    std::vector<PageHeading> headings_;
    bool headingsLeftOut_ = false;
    // Per page (from 1), the bookmarks that point at it, for headings.
    std::map<int, std::vector<BookmarkTitle>> bookmarks_;
    bool bookmarksRead_ = false;
    // The running heads and page numbers an Automatic run's pages are checked against (null: none
    // looked for). Learned before the page loop; page threads share it read-only.
    std::shared_ptr<const RunningHeadPatterns> runningHeads_;
    // The band lines of the pages this converter wrote last (running heads that change per chapter).
    RunningHeadNeighbours headNeighbours_;
    int navLastPage_ = 0;
    int navPlayOrder_ = 0;
};

} // namespace qm
