// The page conversion driver: one open PDF becomes the content files of a book in the job's work
// folder (style sheet, optional cover and title page, XHTML page files, pictures), listed in book
// order; plus the document's Info entries and navigation points.
#include "xhtml/document_converter.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "extract/page_capture.h"
#include "extract/page_model.h"
#include "extract/region_editor.h"
#include "options/conversion_job.h"
#include "options/conversion_options.h"
#include "options/reading_options.h"
#include "pdf/pdf_document.h"
#include "platform/log.h"
#include "platform/paths.h"
#include "platform/prompt.h"
#include "platform/xml_text.h"
#include "platform/utf8.h"
#include "xhtml/block_writer.h"
#include "xhtml/book_names.h"
#include "xhtml/page_threads.h"
#include "xhtml/style_registry.h"

namespace qm {
namespace {

constexpr int kViewWidth = 800;
constexpr int kViewHeight = 600;
constexpr size_t kInfoSize = 512;
// The page loop gives up after this many pages in a row that cannot be read (a damaged page tree
// may still claim millions more).
constexpr int kMaxFailedInRow = 50;
// Pages each page thread should have at least: below that, opening the document again costs more
// than the threads save.
constexpr int kMinPagesPerThread = 8;

void Put(FILE *file, const char *text) { std::fputs(text, file); }

std::string WorkPath(const ConversionJob &job, const std::string &name) { return WithTrailingSlash(job.workFolder) + name; }

// The head of every page file: XHTML 1.1 for EPUB 2 books, the XHTML form of HTML5 for EPUB 3
// books (whose readers and checkers refuse the older doctype and its http-equiv meta). The
// language goes on the root element when the book has one of its own; EPUB 3 pages always carry it.
// `title` is the page's title, needed (not empty) only in the EPUB 3 form.
void WritePageHead(FILE *file, bool titlePage, const ConversionJob &job, const std::string &title = std::string()) {
    const std::string &lang = job.bookLanguage;
    if (job.reading.epub3) {
        const std::string tag = XmlEscape(lang.empty() ? std::string(kDefaultBookLanguage) : lang);
        Put(file, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE html>\n");
        Put(file, ("<html xmlns=\"http://www.w3.org/1999/xhtml\" xml:lang=\"" + tag + "\" lang=\"" + tag + "\">\n").c_str());
    } else {
        Put(file,
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE html  PUBLIC \"-//W3C//DTD XHTML 1.1//EN\" "
            "\"http://www.w3.org/TR/xhtml11/DTD/xhtml11.dtd\">\n");
        if (lang.empty())
            Put(file, "<html xmlns=\"http://www.w3.org/1999/xhtml\">\n");
        else
            Put(file, ("<html xmlns=\"http://www.w3.org/1999/xhtml\" xml:lang=\"" + XmlEscape(lang) + "\">\n").c_str());
    }
    Put(file, "<head>\n");
    if (job.reading.epub3)
        Put(file, ("<title>" + XmlEscape(title.empty() ? std::string("Page") : title) + "</title>\n").c_str());
    else
        Put(file, "<title></title>\n");
    Put(file, "<link rel=\"stylesheet\" href=\"styles.css\" type=\"text/css\"/>\n");
    if (!job.reading.epub3)
        Put(file, "<meta http-equiv=\"Content-Type\" content=\"application/xhtml+xml; charset=utf-8\"/>\n");
    if (titlePage) {
        Put(file, "<style type=\"text/css\" title=\"override_css\">\n");
        Put(file, "    @page {padding: 0pt; margin:0pt}\n");
        Put(file, "    body { text-align: center; padding:0pt; margin: 0pt; }\n");
        Put(file, "    div { margin: 0pt; padding: 0pt; }\n");
        Put(file, "</style>\n");
    }
    Put(file, "</head>\n");
    Put(file, "<body>\n");
}

void WritePageTail(FILE *file) {
    Put(file, "</body>\n");
    Put(file, "</html>\n");
}

// Info dictionary entry as UTF-8, at most size - 1 bytes; `out` is left alone when absent.
void ReadInfoString(PdfDocument &doc, const char *key, std::string &out, size_t size) {
    std::optional<std::string> text = doc.InfoEntry(key);
    if (!text || size == 0) return;
    size_t n = text->size();
    if (n > size - 1) {
        n = size - 1;
        // Never cut a character in half.
        while (n > 0 && (static_cast<unsigned char>((*text)[n]) & 0xC0) == 0x80) --n;
    }
    out.assign(*text, 0, n);
}

void WriteAnchor(FILE *file, int page) {
    std::fprintf(file, "<p><a id=\"%s\"></a></p>", PageAnchorId(page).c_str());
}

bool OutlineHere(const ConversionJob &job, int index, int position) {
    return job.outputOutline && index == 0 && job.outlinePosition == position && !job.createCover;
}

// The book's language: the one asked for, else the PDF's own when it is a well-formed tag, else ""
// (the default). A malformed /Lang is common in the wild and only means the PDF names none.
std::string BookLanguage(PdfDocument &doc, const ReadingOptions &reading) {
    if (IsLanguageTag(reading.language)) return reading.language;
    if (!reading.language.empty()) LogWarning("'" + reading.language + "' is not a language tag; it is not used");
    std::optional<std::string> lang = doc.CatalogLanguage();
    if (lang && IsLanguageTag(*lang)) return *lang;
    return std::string();
}

// Bookmarks looked at for headings: how deep and how many (a hostile outline may hold millions).
constexpr int kMaxBookmarkDepth = 64;
constexpr size_t kMaxBookmarks = 20000;

// The title as BookmarkTitle keeps it: blanks left out, ASCII letters in lower case.
std::u32string BookmarkKey(const std::string &title) {
    std::u32string key;
    for (size_t i = 0; i < title.size();) {
        uint32_t cp = 0;
        const size_t n = DecodeUtf8(title, i, cp);
        i += n ? n : 1;  // a byte that is not UTF-8 is passed over
        if (n == 0 || cp <= ' ') continue;
        key += static_cast<char32_t>(cp >= 'A' && cp <= 'Z' ? cp + 32 : cp);
    }
    return key;
}

void CollectBookmarks(const std::vector<OutlineEntry> &entries, int depth, size_t &seen,
                      std::map<int, std::vector<BookmarkTitle>> &out) {
    if (depth >= kMaxBookmarkDepth) return;
    for (const OutlineEntry &e : entries) {
        if (++seen > kMaxBookmarks) return;
        if (e.page >= 0 && !e.external) {
            std::u32string key = BookmarkKey(e.title);
            if (!key.empty()) out[e.page + 1].push_back(BookmarkTitle{std::move(key), depth + 1});
        }
        CollectBookmarks(e.children, depth + 1, seen, out);
    }
}

} // namespace

DocumentConverter::DocumentConverter(PdfDocument &doc, ConversionJob &job)
    : doc_(doc), job_(job), capture_(doc, model_) {
    model_.job = &job_;
    capture_.outputDpi = OutputResolution(job_.imageDpi);
    model_.outputResolution = capture_.outputDpi;
    model_.pictures.folder = job_.workFolder;
    model_.pictures.mayWrite = [this] { return !ProducedLimitReached(); };
    model_.pictures.written = [this](const std::string &path) { ListProduced(path); };
}

DocumentConverter::~DocumentConverter() {
    // The recording holds the document's fonts and images: it goes while the document is there.
    auto lock = doc_.Lock();
    model_.Clear();
}

std::string DocumentConverter::DocName() const { return FileNamePart(doc_.Path()); }

// The title of the page files of an EPUB 3 book: the PDF's Info title, else its file name.
std::string DocumentConverter::PageTitle() {
    if (!job_.reading.epub3) return std::string();
    std::string title;
    ReadInfoString(doc_, "Title", title, kInfoSize);
    const size_t end = title.find_last_not_of(" \t\r\n");
    return end == std::string::npos ? DocName() : title;
}

ConvertResult DocumentConverter::Stopped() const {
    return job_.CancelRequested() ? ConvertResult::Cancelled : ConvertResult::Done;
}

void DocumentConverter::ListProduced(const std::string &path) {
    produced_.push_back(path);
    int64_t size = FileSize(path);
    if (size > 0) producedBytes_ += size;
}

// Deletes the files listed after `mark` and takes them off the list.
void DocumentConverter::DropProducedSince(size_t mark) {
    for (size_t i = mark; i < produced_.size(); ++i) {
        const std::string &path = produced_[i];
        const int64_t size = FileSize(path);
        if (!path.empty() && std::remove(path.c_str()) == 0 && size > 0) producedBytes_ -= size;
    }
    if (mark < produced_.size()) produced_.resize(mark);
}

// The analysed content of the captured page as XHTML, with span classes from the style registry.
PageBodyResult DocumentConverter::WriteBody(std::string &body, const SavePictureFn &savePicture,
                                            std::vector<PageHeading> *headings) {
    auto guard = doc_.Lock();
    StyleRegistry *styles = styles_.get();
    SpanClassesFn classes;
    TextStyleFn textStyle;
    // The engine keeps only 31 bytes of a font's name; the full names from the page's resources
    // keep "Bold" and "Italic" at the end of long names.
    if (styles) {
        styles->LoadPageFontNames(doc_, capture_.PageNumber() - 1);
        classes = [styles, this](const DrawCommand &command, std::string &out) {
            return styles->GetSpanClasses(command, out, &job_);
        };
        textStyle = [styles](const DrawCommand &command, TextStyle &style) { return styles->StyleOf(command, style); };
    }
    // The bookmarks of each page, read once from the outline (a page thread reads its own copy).
    if (!bookmarksRead_ && job_.reading.headings) {
        bookmarksRead_ = true;
        size_t seen = 0;
        CollectBookmarks(doc_.Outline(), 0, seen, bookmarks_);
    }
    const auto marks = bookmarks_.find(capture_.PageNumber());
    return WritePageXhtml(capture_, body, job_, classes, savePicture, textStyle, headings,
                          marks == bookmarks_.end() ? nullptr : &marks->second, runningHeads_.get(), &headNeighbours_);
}

// Whether the current page's run was stopped from outside (cancel or time limit); a page that
// took too long is reported as skipped.
bool DocumentConverter::PageWasStopped(int page) { return ReportStop(doc_.PageRunStop(), doc_.PageRunLimit(), page); }

bool DocumentConverter::ReportStop(PageStop stop, double limit, int page) {
    if (stop == PageStop::TimeLimit) {
        char msg[160];
        std::snprintf(msg, sizeof msg, "Page %d of '%s' took longer than %g second%s and was skipped.", page,
                      DocName().c_str(), limit, limit == 1 ? "" : "s");
        doc_.Prompt().Message(msg);
    }
    return stop != PageStop::None;
}

// Writes the analysed body of the captured page `page` to `file`, unless the page's run was
// stopped while it was analysed or its pictures were painted: a stopped page is never taken for a
// finished one, so nothing of it is kept (its pictures are deleted and taken off the list).
// false when the page was stopped.
bool DocumentConverter::WriteDrawnPage(FILE *file, int page, size_t mark) {
    std::string body;
    std::vector<PageHeading> headings;
    WriteBody(body, nullptr, &headings);
    if (PageWasStopped(page)) {
        DropProducedSince(mark);
        return false;
    }
    KeepHeadings(headings);
    if (!body.empty()) std::fwrite(body.data(), 1, body.size(), file);
    return true;
}

// Before page `page`: false (after telling the user) when the conversion has produced as many
// files or bytes as one document may; the pages from here on are left out.
bool DocumentConverter::WithinOutputLimits(int page) {
    if (!ProducedLimitReached()) return true;
    char msg[256];
    std::snprintf(msg, sizeof msg,
                  "Page %d of '%s' and the pages after it were left out: the book reached the limit of %lld files "
                  "or %lld MB.",
                  page, DocName().c_str(), maxProducedFiles, maxProducedBytes >> 20);
    doc_.Prompt().Message(msg);
    return false;
}

// Closes a page file and lists it. false (after telling the user) when not everything reached
// the disk (a full disk, for one): a book without that file would lack pages, so the document
// fails.
bool DocumentConverter::FinishPageFile(FILE *&file, const std::string &path) {
    if (!file) return true;
    WritePageTail(file);
    bool ok = std::ferror(file) == 0;
    int error = ok ? 0 : errno;
    if (std::fclose(file) != 0 && ok) {
        ok = false;
        error = errno;
    }
    file = nullptr;
    if (ok) {
        ListProduced(path);
        return true;
    }
    LogError("cannot write '" + path + "'");
    std::remove(path.c_str());
    std::string line = "Couldn't write " + FileNamePart(path) + " of '" + DocName() + "'";
    if (error != 0) line += ": " + SystemErrorText(error);
    doc_.Prompt().Message(line + ".");
    return false;
}

// Finishes the open page file, if any, and starts "page-<page>.html" with its head. false (after
// telling the user) when the finished file cannot be written or the new one cannot be created.
bool DocumentConverter::StartPageFile(FILE *&file, std::string &path, int page) {
    if (!FinishPageFile(file, path)) return false;
    path = WorkPath(job_, PageFileName(page, XhtmlFileNames(&job_)));
    file = std::fopen(path.c_str(), "wb");
    if (!file) {
        doc_.Prompt().Message("Couldn't create html file!");
        return false;
    }
    WritePageHead(file, false, job_, PageTitle());
    return true;
}

// Steps shared by both converters before the first page. false: the conversion ends here, with
// `result`.
bool DocumentConverter::CommonStart(ConvertResult &result) {
    result = ConvertResult::Done;
    job_.title.clear();
    job_.author.clear();
    job_.subject.clear();
    job_.navPointsFile.clear();
    job_.bookLanguage = BookLanguage(doc_, job_.reading);
    headings_.clear();
    headingsLeftOut_ = false;
    if (!(job_.fontScale >= 0.5)) job_.fontScale = 0.5;  // also a value that is not a number
    if (job_.fontScale > 3.0) job_.fontScale = 3.0;
    capture_.outputDpi = OutputResolution(job_.imageDpi);
    model_.outputResolution = capture_.outputDpi;

    const std::string styles = WorkPath(job_, "styles.css");
    ListProduced(styles);
    if (!styles_) styles_ = std::make_unique<StyleRegistry>();
    if (styles_->BeginStyleSheet(styles) != 0) LogError("cannot write '" + styles + "'");

    const int pageCount = doc_.PageCount();
    if (pageCount <= 0) {
        // Nothing to draw a cover from either.
        doc_.Prompt().Message("'" + DocName() + "' has no pages.");
        result = Stopped();
        return !job_.createCover;
    }
    if (doc_.ClaimedPageCount() > pageCount) {
        char msg[200];
        std::snprintf(msg, sizeof msg, "'%s' claims %d pages, but only %d can be read.", DocName().c_str(),
                      doc_.ClaimedPageCount(), pageCount);
        doc_.Prompt().Message(msg);
    }

    if (!job_.createCover) return true;
    const size_t mark = produced_.size();
    bool made = capture_.Capture(1, kViewWidth, kViewHeight) == CaptureResult::Captured;
    if (made) {
        std::string cover = WorkPath(job_, "cover.png");
        made = model_.SaveRegionPng(cover, nullptr, false) == PngResult::Written;
    }
    const PageStop stop = doc_.PageRunStop();
    const bool stopped = PageWasStopped(1);
    doc_.EndPageRun();
    result = Stopped();
    if (stopped) {
        DropProducedSince(mark);
        // Cancelled: the conversion ends. Too slow: the book goes on without a cover.
        return stop == PageStop::TimeLimit;
    }
    if (!made) {
        doc_.Prompt().Message("Couldn't create cover image file!");
        return false;
    }
    const std::string titlePath = WorkPath(job_, TitlePageName(XhtmlFileNames(&job_)));
    FILE *title = std::fopen(titlePath.c_str(), "wb");
    if (!title) {
        doc_.Prompt().Message("Couldn't create file " + FileNamePart(titlePath) + "!");
        return false;
    }
    WritePageHead(title, true, job_, PageTitle());
    std::fprintf(title,
                 "<div style=\"align:center;\"><img title=\"img\" alt=\"img\" style=\"width:100%%;\" src=\"%s\" /></div>\n",
                 "cover.png");
    if (!FinishPageFile(title, titlePath)) {
        result = ConvertResult::Failed;
        return false;
    }
    return true;
}

// Steps after the page loop: Info entries and navigation points.
ConvertResult DocumentConverter::CommonEnd() {
    ReadInfoString(doc_, "Title", job_.title, kInfoSize);
    ReadInfoString(doc_, "Subject", job_.subject, kInfoSize);
    ReadInfoString(doc_, "Author", job_.author, kInfoSize);
    // The headings give the navigation where the PDF has no bookmarks, or where asked to.
    const bool fromHeadings = job_.reading.tocFromHeadings || doc_.Outline().empty();
    if (!(fromHeadings && WriteHeadingNavPointsFile()) && job_.importBookmarksToToc) WriteNavPointsFile();
    headings_.clear();
    headings_.shrink_to_fit();
    return Stopped();
}

ConvertResult DocumentConverter::Convert() {
    produced_.clear();
    producedBytes_ = 0;
    model_.pictures.folder = job_.workFolder;
    // Previews of the interactive converter use up picture numbers too (their pictures go to the
    // scratch folder): the book's pictures are numbered from 1 all the same.
    model_.nextPictureNumber = 1;
    if (job_.pageEdits) {
        // Edits meant for another document: converting without them would give a book the user
        // did not ask for.
        const int highest = job_.pageEdits->HighestPage();
        const int pageCount = doc_.PageCount();
        if (highest > pageCount) {
            char msg[200];
            std::snprintf(msg, sizeof msg, "The edits name page %d, but '%s' has %d page%s: no book was made.",
                          highest, DocName().c_str(), pageCount, pageCount == 1 ? "" : "s");
            doc_.Prompt().Message(msg);
            return ConvertResult::Failed;
        }
    }
    switch (job_.parseMode) {
    case static_cast<int32_t>(ParseMode::Automatic):
    case static_cast<int32_t>(ParseMode::Strict):
        return ConvertTextPages();
    case static_cast<int32_t>(ParseMode::Imaging):
        return ConvertImagePages();
    default:
        return ConvertResult::UnknownMode;
    }
}

int DocumentConverter::PageThreadsFor(int pageCount) const {
    if (job_.parseMode != static_cast<int32_t>(ParseMode::Automatic)) return 1;
    return std::clamp(pageCount / kMinPagesPerThread, 1, std::max(1, pageThreads));
}

ConvertResult DocumentConverter::ConvertTextPages() {
    ConvertResult result;
    if (!CommonStart(result)) return result;
    const int pageCount = doc_.PageCount();
    FILE *file = nullptr;
    std::string path;
    int failedInRow = 0;
    // Running heads are learned from a sample of pages before any page is written, so every page
    // (on whatever thread) is checked against the same patterns. Their page numbers also tell
    // printed contents pages where the printed numbering starts.
    runningHeads_.reset();
    if (job_.parseMode == static_cast<int32_t>(ParseMode::Automatic) &&
        (!job_.reading.keepRunningHeads || !job_.reading.keepContentsPages))
        runningHeads_ = std::make_shared<const RunningHeadPatterns>(
            FindRunningHeads(doc_, [this] { return job_.CancelRequested(); }));
    std::unique_ptr<PageThreads> threads;
    if (const int count = PageThreadsFor(pageCount); count > 1)
        threads = std::make_unique<PageThreads>(*this, job_, count, pageCount);
    for (int i = 0; i < pageCount; ++i) {
        const int p = i + 1;
        if (!WithinOutputLimits(p)) break;
        if (i % kPagesPerFile == 0 && !StartPageFile(file, path, p)) {
            if (file) std::fclose(file);
            return ConvertResult::Failed;
        }
        WriteAnchor(file, p);
        if (OutlineHere(job_, i, 0)) WriteOutlinePage(file);
        const PageOutcome page = NextPage(p, file, threads.get());
        failedInRow = page.drawn || page.stopped ? 0 : failedInRow + 1;
        if (OutlineHere(job_, i, 1)) WriteOutlinePage(file);
        job_.ReportProgress(static_cast<int>(static_cast<long long>(p) * 100 / pageCount));
        if (job_.CancelRequested()) break;
        if (failedInRow >= kMaxFailedInRow && p < pageCount) {
            char msg[200];
            std::snprintf(msg, sizeof msg, "Pages %d to %d of '%s' could not be read; the pages after them were left out.",
                          p - failedInRow + 1, p, DocName().c_str());
            doc_.Prompt().Message(msg);
            break;
        }
    }
    threads.reset();
    if (file) {
        if (job_.outputOutline && job_.outlinePosition == 2) WriteOutlinePage(file);
        if (!FinishPageFile(file, path)) return ConvertResult::Failed;
    }
    return CommonEnd();
}

DocumentConverter::PageOutcome DocumentConverter::ConvertPage(int page, FILE *file) {
    PageOutcome outcome;
    const size_t mark = produced_.size();
    outcome.drawn = capture_.Capture(page, kViewWidth, kViewHeight) == CaptureResult::Captured;
    // A strict run's edits (never on page threads: they convert Automatic runs only), once per
    // page: a page the interactive converter showed has them, and maybe the user's changes since.
    if (outcome.drawn && job_.pageEdits) ApplyPageEditsOnce(model_, *job_.pageEdits);
    outcome.stopped = outcome.drawn ? !WriteDrawnPage(file, page, mark) : PageWasStopped(page);
    doc_.EndPageRun();
    // The page is written: its items are not needed again.
    if (outcome.drawn) model_.ReleasePageItems(page);
    return outcome;
}

DocumentConverter::PageOutcome DocumentConverter::NextPage(int page, FILE *file, PageThreads *threads) {
    if (threads) {
        std::optional<PreparedPage> prepared = threads->Take(page);
        PageOutcome outcome;
        if (prepared && CommitPage(*prepared, file, outcome)) return outcome;
        if (prepared) PageThreads::Discard(*prepared);
    }
    return ConvertPage(page, file);
}

bool DocumentConverter::CommitPage(PreparedPage &prepared, FILE *file, PageOutcome &outcome) {
    if (prepared.redo) return false;
    outcome.drawn = prepared.drawn;
    if (prepared.stop != PageStop::None || !prepared.drawn) {
        for (const auto &[text, caption] : prepared.messages) doc_.Prompt().Message(text, caption);
        outcome.stopped = ReportStop(prepared.stop, prepared.stopLimit, prepared.page);
        return true;
    }
    // The body between its picture marks, checked before anything is renamed.
    std::vector<std::string> pieces;
    const std::string &body = prepared.body;
    size_t from = 0;
    for (size_t at = body.find(kPictureMark); at != std::string::npos; at = body.find(kPictureMark, from)) {
        const size_t end = body.find(kPictureMark, at + 1);
        if (end == std::string::npos || body.substr(at + 1, end - at - 1) != std::to_string(pieces.size()))
            return false;
        pieces.push_back(body.substr(from, at - from));
        from = end + 1;
    }
    if (pieces.size() != prepared.pictures.size()) return false;

    // The pictures take the book's numbers, as they would have here; a picture this thread would
    // not have written (the book's limits, too long a name) sends the page back to be made here.
    const size_t mark = produced_.size();
    const int firstNumber = model_.nextPictureNumber;
    auto undo = [&] {
        DropProducedSince(mark);
        model_.nextPictureNumber = firstNumber;
        return false;
    };
    std::string out;
    for (size_t k = 0; k < pieces.size(); ++k) {
        std::string name, path;
        if (model_.NextPicturePath(name, path) != PngResult::Written || ProducedLimitReached()) return undo();
        if (std::rename(prepared.pictures[k].c_str(), path.c_str()) != 0) return undo();
        prepared.pictures[k].clear();
        ListProduced(path);
        out += pieces[k];
        out += name;
    }
    out.append(body, from, std::string::npos);
    if (styles_ && !styles_->AddRules(prepared.rules)) return undo();

    for (const auto &[text, caption] : prepared.messages) doc_.Prompt().Message(text, caption);
    KeepHeadings(prepared.headings);
    if (!out.empty()) std::fwrite(out.data(), 1, out.size(), file);
    outcome.stopped = false;
    return true;
}

void DocumentConverter::StartPreparing() {
    model_.pictures.folder = job_.workFolder;
    model_.pictures.mayWrite = nullptr;  // the book's limits are checked when the page is taken
    styles_ = std::make_unique<StyleRegistry>();
    styles_->RecordRulesOnly();
}

PreparedPage DocumentConverter::PreparePage(int page) {
    PreparedPage prepared;
    prepared.page = page;
    produced_.clear();
    producedBytes_ = 0;
    prepared.drawn = capture_.Capture(page, kViewWidth, kViewHeight) == CaptureResult::Captured;
    if (prepared.drawn) {
        SavePictureFn save = [this, &prepared](const IntBox *box, std::string &name) {
            const size_t listed = produced_.size();
            const PngResult rc = model_.SaveRegionPng(name, box, true);
            if (rc != PngResult::Written || produced_.size() != listed + 1) {
                prepared.redo = true;
                return rc;
            }
            name = std::string(1, kPictureMark) + std::to_string(listed) + kPictureMark;
            return rc;
        };
        WriteBody(prepared.body, save, &prepared.headings);
    }
    prepared.stop = doc_.PageRunStop();
    prepared.stopLimit = doc_.PageRunLimit();
    doc_.EndPageRun();
    if (prepared.drawn) model_.ReleasePageItems(page);
    prepared.rules = styles_->TakeRecordedRules();
    if (prepared.stop != PageStop::None || prepared.redo) {
        DropProducedSince(0);
        prepared.body.clear();
        prepared.headings.clear();
    }
    prepared.pictures = std::move(produced_);
    produced_.clear();
    return prepared;
}

ConvertResult DocumentConverter::ConvertImagePages() {
    ConvertResult result;
    if (!CommonStart(result)) return result;
    const int pageCount = doc_.PageCount();
    FILE *file = nullptr;
    std::string path;
    for (int p = 1; p <= pageCount; ++p) {
        if (!WithinOutputLimits(p)) break;
        if (!StartPageFile(file, path, p)) {
            if (file) std::fclose(file);
            return ConvertResult::Failed;
        }
        WriteAnchor(file, p);
        if (OutlineHere(job_, p - 1, 0)) WriteOutlinePage(file);
        std::string picture;
        const size_t mark = produced_.size();
        const bool made = capture_.Capture(p, kViewWidth, kViewHeight) == CaptureResult::Captured &&
                          model_.SaveRegionPng(picture, nullptr, true) == PngResult::Written;
        const bool stopped = PageWasStopped(p);
        doc_.EndPageRun();
        if (stopped) {
            // Cancelled, or too slow: the page keeps its anchor and nothing else.
            DropProducedSince(mark);
        } else if (!made) {
            doc_.Prompt().Message("Couldn't create page image file!");
            std::fclose(file);  // unfinished: not listed
            return Stopped();
        } else {
            std::fprintf(file,
                         "<div style=\"align:center;width:95%%;height:95%%;\"><img title=\"img\" alt=\"img\" "
                         "style=\"width:100%%;height:100%%;\" src=\"%s\" /></div>\n",
                         picture.c_str());
        }
        if (OutlineHere(job_, p - 1, 1)) WriteOutlinePage(file);
        job_.ReportProgress(static_cast<int>(static_cast<long long>(p) * 100 / pageCount));
        if (job_.CancelRequested()) break;
    }
    if (file) {
        if (job_.outputOutline && job_.outlinePosition == 2) WriteOutlinePage(file);
        if (!FinishPageFile(file, path)) return ConvertResult::Failed;
    }
    return CommonEnd();
}

CaptureResult DocumentConverter::CapturePage(int pageNumber) {
    auto guard = doc_.Lock();
    const CaptureResult rc = capture_.Capture(pageNumber, kViewWidth, kViewHeight);
    doc_.EndPageRun();
    return rc;
}

PageBodyResult DocumentConverter::WritePreviewPage(FILE *file) {
    auto guard = doc_.Lock();
    // The preview's pictures are not part of the book.
    PictureSink bookPictures = std::move(model_.pictures);
    model_.pictures = PictureSink{job_.scratchFolder, nullptr, nullptr};
    // The span classes go to the preview's sheet while the page is written.
    const bool ownSheet = previewStyles_ != nullptr;
    if (ownSheet) std::swap(styles_, previewStyles_);
    WritePageHead(file, false, job_, PageTitle());
    std::string body;
    PageBodyResult rc = WriteBody(body);
    if (file && !body.empty() && std::fwrite(body.data(), 1, body.size(), file) != body.size())
        rc = PageBodyResult::FileFailed;
    WritePageTail(file);
    if (ownSheet) std::swap(styles_, previewStyles_);
    model_.pictures = std::move(bookPictures);
    return rc;
}

int DocumentConverter::BeginPreviewStyleSheet(const std::string &path) {
    auto guard = doc_.Lock();
    if (!previewStyles_) previewStyles_ = std::make_unique<StyleRegistry>();
    return previewStyles_->BeginStyleSheet(path);
}

} // namespace qm
