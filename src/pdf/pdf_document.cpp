#include "pdf/pdf_document.h"

#include <algorithm>
#include <atomic>
#include <cstdio>

#include "options/conversion_job.h"
#include "pdf/engine.h"
#include "platform/paths.h"
#include "platform/prompt.h"

namespace qm {
namespace {

// ---- outline ----

// Deeper levels and further entries of hostile outlines are left out (a /Next chain may even run
// in a circle).
constexpr int kMaxOutlineDepth = 256;
constexpr int kMaxOutlineEntries = 100000;

struct OutlineWalk {
    fz_context *ctx;
    fz_document *doc;
    fz_outline_iterator *iter;
    int entries = 0;
};

// Iterator steps as the engine's own loader takes them; an engine error counts as "no step".
int Step(fz_context *ctx, fz_outline_iterator *iter, int (*step)(fz_context *, fz_outline_iterator *)) {
    int rc = -1;
    fz_var(rc);
    fz_try(ctx) rc = step(ctx, iter);
    fz_catch(ctx) rc = -1;
    return rc;
}

// The entry at the iterator's position, built as the engine's loader builds it: 1 with `*out`
// set; 0 when the level has no entry here; -1 when the entry cannot be read (its destination
// names a page that does not exist, for one).
int ReadOutlineEntry(OutlineWalk &w, fz_outline **out) {
    fz_context *ctx = w.ctx;
    fz_outline_item *item = nullptr;
    bool failed = false;
    fz_var(item);
    fz_var(failed);
    fz_try(ctx) item = fz_outline_iterator_item(ctx, w.iter);
    fz_catch(ctx) failed = true;
    if (failed) return -1;
    if (!item) return 0;
    fz_outline *node = nullptr;
    fz_var(node);
    fz_try(ctx) {
        node = fz_new_outline(ctx);
        node->is_open = item->is_open;
        node->title = item->title ? fz_strdup(ctx, item->title) : nullptr;
        node->uri = item->uri ? fz_strdup(ctx, item->uri) : nullptr;
        node->page = fz_make_location(-1, -1);
    }
    fz_catch(ctx) failed = true;
    if (failed) {
        fz_drop_outline(ctx, node);
        return -1;
    }
    fz_location page = fz_make_location(-1, -1);
    float x = 0, y = 0;
    fz_var(page);
    fz_var(x);
    fz_var(y);
    fz_try(ctx) page = fz_resolve_link(ctx, w.doc, node->uri, &x, &y);
    fz_catch(ctx) page = fz_make_location(-1, -1), x = 0, y = 0;
    node->page = page;
    node->x = x;
    node->y = y;
    *out = node;
    return 1;
}

// Appends the entries of the iterator's level, from its position on, to the list that ends at
// `tail`, with their children; returns the new end. An entry that cannot be read is left out and
// its children take its place.
fz_outline **WalkOutlineLevel(OutlineWalk &w, fz_outline **tail, int depth) {
    for (;;) {
        if (w.entries >= kMaxOutlineEntries) return tail;
        fz_outline *node = nullptr;
        int rc = ReadOutlineEntry(w, &node);
        if (rc == 0) return tail;
        fz_outline **childTail = tail;
        if (node) {
            *tail = node;
            tail = &node->next;
            childTail = &node->down;
            ++w.entries;
        }
        int down = Step(w.ctx, w.iter, fz_outline_iterator_down);
        if (down == 0 && depth + 1 < kMaxOutlineDepth) childTail = WalkOutlineLevel(w, childTail, depth + 1);
        if (down >= 0) Step(w.ctx, w.iter, fz_outline_iterator_up);
        if (!node) tail = childTail;
        if (Step(w.ctx, w.iter, fz_outline_iterator_next) != 0) return tail;
    }
}

// The document's outline, walked with the engine's outline iterator. The engine's own loader
// gives up the whole outline, and leaks, when one entry points at a page that does not exist;
// here only that entry is left out. Null when there is no outline.
fz_outline *LoadOutline(fz_context *ctx, fz_document *doc) {
    fz_outline_iterator *iter = nullptr;
    fz_var(iter);
    fz_try(ctx) iter = fz_new_outline_iterator(ctx, doc);
    fz_catch(ctx) iter = nullptr;
    if (!iter) return nullptr;
    OutlineWalk walk{ctx, doc, iter};
    fz_outline *head = nullptr;
    WalkOutlineLevel(walk, &head, 0);
    fz_drop_outline_iterator(ctx, iter);
    return head;
}

// ---- page count ----

// A page takes some tens of bytes in a plain file and still several when packed into compressed
// object streams: a file cannot hold more pages than its size allows, whatever its page tree says.
constexpr int64_t kMinBytesPerPage = 8;

void IgnoreEngineError(void *, const char *) {}

bool PageExists(fz_context *ctx, pdf_document *pdf, int index) {
    bool found = false;
    fz_var(found);
    fz_try(ctx) found = pdf_lookup_page_obj(ctx, pdf, index) != nullptr;
    fz_catch(ctx) found = false;
    return found;
}

// The number of pages worth trying: the page tree's `count`, but no more than the file's size can
// hold, and, when the last of those pages cannot be found, the number up to the last page that
// can (a page tree whose /Count lies).
int ReadablePageCount(fz_context *ctx, fz_document *doc, const std::string &path, int count) {
    if (count <= 0) return count;
    const int64_t size = FileSize(path);
    if (size >= 0 && count > size / kMinBytesPerPage) count = static_cast<int>(std::max<int64_t>(1, size / kMinBytesPerPage));
    pdf_document *pdf = pdf_specifics(ctx, doc);
    if (!pdf) return count;
    // Pages that are not there are expected here: their errors stay out of the trace.
    void *user = nullptr;
    fz_error_cb *previous = fz_error_callback(ctx, &user);
    fz_set_error_callback(ctx, IgnoreEngineError, nullptr);
    if (!PageExists(ctx, pdf, count - 1)) {
        // Bisection between a page that exists (or none) and one that does not.
        int lo = PageExists(ctx, pdf, 0) ? 0 : -1, hi = count - 1;
        while (hi - lo > 1) {
            int mid = lo + (hi - lo) / 2;
            if (PageExists(ctx, pdf, mid))
                lo = mid;
            else
                hi = mid;
        }
        count = lo + 1;
    }
    fz_set_error_callback(ctx, previous, user);
    return count;
}

} // namespace

PdfDocument::PdfDocument() = default;

PdfDocument::~PdfDocument() { Close(); }

void PdfDocument::SetPrompt(UserPrompt *prompt) { prompt_ = prompt; }

UserPrompt &PdfDocument::Prompt() const { return prompt_ ? *prompt_ : DefaultPrompt(); }

void PdfDocument::Reset() {
    std::lock_guard<std::recursive_mutex> g(lock_);
    Close();
    state_ = DocumentState();
    state_.viewWidth = 640;
    state_.viewHeight = 480;
    state_.resolution = 72;
    pagesSinceFlush = 0;
}

int PdfDocument::Open(const std::string &path, const std::string &password, const std::string &userPassword) {
    (void)userPassword;  // reserved: kept in the job, never used to open
    std::lock_guard<std::recursive_mutex> g(lock_);
    fz_context *ctx = EngineContext();
    state_.path = path;
    state_.glyphCache = true;

    // Step 1-2: open the file as a stream and the PDF document on it.
    fz_stream *stm = nullptr;
    fz_document *doc = nullptr;
    fz_var(stm);
    fz_var(doc);
    fz_try(ctx) {
        stm = fz_open_file(ctx, path.c_str());
        doc = fz_open_document_with_stream(ctx, "application/pdf", stm);
    }
    fz_catch(ctx) {
        doc = nullptr;
    }
    if (!doc) {
        EngineErrorTrace("cannot open document '" + path + "'");
        fz_drop_stream(ctx, stm);
        return -1;
    }
    state_.document = doc;

    // Step 3: password.
    int needsPassword = 0;
    int authenticated = 0;
    fz_var(needsPassword);
    fz_var(authenticated);
    fz_try(ctx) {
        needsPassword = fz_needs_password(ctx, doc);
        if (needsPassword) authenticated = fz_authenticate_password(ctx, doc, password.c_str());
    }
    fz_catch(ctx) {
        needsPassword = 1;
        authenticated = 0;
    }
    if (needsPassword && !authenticated) {
        fz_drop_stream(ctx, stm);
        Prompt().Message("Invalid password.");
        return -1;
    }

    // Step 4: outline (none is not an error; a broken one is treated as none).
    fz_outline *outline = nullptr;
    fz_var(outline);
    outline = LoadOutline(ctx, doc);
    state_.outline = outline;

    // Step 5: Info Title.
    bool hasTitle = false;
    const char *titleText = nullptr;
    fz_var(hasTitle);
    fz_var(titleText);
    fz_try(ctx) {
        pdf_document *pdf = pdf_specifics(ctx, doc);
        if (pdf) {
            pdf_obj *info = pdf_dict_get(ctx, pdf_trailer(ctx, pdf), PDF_NAME(Info));
            pdf_obj *title = info ? pdf_dict_get(ctx, info, PDF_NAME(Title)) : nullptr;
            if (info && title) {
                hasTitle = true;
                titleText = pdf_to_text_string(ctx, title);
            }
        }
    }
    fz_catch(ctx) hasTitle = false;
    if (hasTitle) state_.title = std::string(titleText ? titleText : "");

    // Step 6: page tree.
    // Counting walks the page tree. The engine's page map (pdf_load_page_tree) is not used: while
    // it is loaded every page load leaves objects behind, even after it is dropped again.
    int count = -1;
    fz_var(count);
    fz_try(ctx) count = fz_count_pages(ctx, doc);
    fz_catch(ctx) count = -1;
    if (count < 0) {
        EngineErrorTrace("cannot load page tree");
        fz_drop_stream(ctx, stm);
        return -1;
    }

    // Step 7-8.
    const int readable = ReadablePageCount(ctx, doc, path, count);
    state_.claimedPageCount = readable < count ? count : 0;
    state_.pageCount = readable;
    state_.fitToView = 1;
    if (state_.pageNumber < 1) state_.pageNumber = 1;
    if (state_.pageNumber > state_.pageCount) state_.pageNumber = state_.pageCount;
    if (state_.resolution < 20) state_.resolution = 20;
    if (state_.resolution > 300) state_.resolution = 300;
    state_.rotation = 0;
    state_.panX = 0;
    state_.panY = 0;
    fz_drop_stream(ctx, stm);
    return 0;
}

void PdfDocument::Close() {
    std::lock_guard<std::recursive_mutex> g(lock_);
    fz_context *ctx = EngineContext();
    pageModel.Clear();
    if (state_.glyphCache) {
        fz_purge_glyph_cache(ctx);
        state_.glyphCache = false;
    }
    fz_drop_page(ctx, state_.page);
    state_.page = nullptr;
    fz_drop_pixmap(ctx, state_.raster);
    state_.raster = nullptr;
    fz_drop_pixmap(ctx, state_.viewRaster);
    state_.viewRaster = nullptr;
    fz_drop_outline(ctx, state_.outline);
    state_.outline = nullptr;
    state_.title.reset();
    if (state_.document) {
        fz_drop_document(ctx, state_.document);
        state_.document = nullptr;
        fz_empty_store(ctx);
    }
}

int PdfDocument::PageCount() {
    std::lock_guard<std::recursive_mutex> g(lock_);
    return state_.pageCount;
}

void PdfDocument::GoToPage(int n) {
    currentPage = n;
    state_.pageNumber = n;
    if (state_.pageNumber > state_.pageCount) state_.pageNumber = state_.pageCount;
    if (state_.pageNumber < 1) state_.pageNumber = 1;
}

void PdfDocument::PreviousPage(int k) {
    std::lock_guard<std::recursive_mutex> g(lock_);
    currentPage -= k;
    if (currentPage <= 1) currentPage = 1;
    state_.pageNumber = currentPage;
}

void PdfDocument::NextPage(int k) {
    std::lock_guard<std::recursive_mutex> g(lock_);
    currentPage += k;
    if (currentPage >= state_.pageCount) currentPage = state_.pageCount;
    state_.pageNumber = currentPage;
}

void PdfDocument::ListProduced(const ConversionJob &job, const std::string &path) {
    ListProducedFile(job, path);
    producedFiles += 1;
    int64_t size = FileSize(path);
    if (size > 0) producedBytes += size;
}

// ---- page runs ----

namespace {

// The engine reads the cookie's abort field while it works, without a lock; our side writes it
// atomically.
void SetAbort(fz_cookie *cookie) {
    if (cookie) std::atomic_ref<int>(cookie->abort).store(1);
}

} // namespace

void PdfDocument::BeginPageRun() {
    {
        std::lock_guard<std::mutex> g(runLock_);
        cookie_ = fz_cookie{};
        ++runSerial_;
        runActive_ = true;
        runStarted_ = std::chrono::steady_clock::now();
        runStop_ = PageStop::None;
        runLimit_ = 0;
    }
    // After the reset: a cancel that comes in between sets the new cookie itself.
    if (job && job->CancelRequested()) CancelPageRun();
}

void PdfDocument::CancelPageRun() {
    std::lock_guard<std::mutex> g(runLock_);
    SetAbort(&cookie_);
    SetAbort(thumbnailCookie_);
    if (runActive_ && runStop_ == PageStop::None) runStop_ = PageStop::Cancelled;
}

bool PdfDocument::StopSlowPageRun(uint64_t serial, double seconds) {
    std::lock_guard<std::mutex> g(runLock_);
    if (!runActive_ || runSerial_ != serial) return false;
    SetAbort(&cookie_);
    if (runStop_ == PageStop::None) {
        runStop_ = PageStop::TimeLimit;
        runLimit_ = seconds;
    }
    return true;
}

void PdfDocument::SetThumbnailCookie(fz_cookie *cookie) {
    std::lock_guard<std::mutex> g(runLock_);
    thumbnailCookie_ = cookie;
}

PdfDocument::PageRunInfo PdfDocument::CurrentPageRun() {
    std::lock_guard<std::mutex> g(runLock_);
    return PageRunInfo{runSerial_, runActive_, runStarted_};
}

void PdfDocument::EndPageRun() {
    std::lock_guard<std::mutex> g(runLock_);
    runActive_ = false;
}

PageStop PdfDocument::PageRunStop() {
    std::lock_guard<std::mutex> g(runLock_);
    // A run stopped by the engine's cookie without a recorded reason (set before the run began
    // and never cleared) counts as cancelled.
    if (runStop_ == PageStop::None && cookie_.abort) return PageStop::Cancelled;
    return runStop_;
}

double PdfDocument::PageRunLimit() {
    std::lock_guard<std::mutex> g(runLock_);
    return runLimit_;
}

void ListProducedFileIn(const std::string &workFolder, const std::string &text) {
    std::string list = WithTrailingSlash(workFolder) + "textlist.txt";
    FILE *f = std::fopen(list.c_str(), "ab");
    if (!f) return;
    std::fwrite(text.data(), 1, text.size(), f);
    std::fputc('\n', f);
    std::fclose(f);
}

void ListProducedFile(const ConversionJob &job, const std::string &text) { ListProducedFileIn(job.workFolder, text); }

} // namespace qm
