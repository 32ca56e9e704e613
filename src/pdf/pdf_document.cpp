#include "pdf/pdf_document.h"

#include <mupdf/pdf.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>

#include "pdf/engine.h"
#include "pdf/raster_budget.h"
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

// The walked outline as a plain tree (the walk keeps its depth within kMaxOutlineDepth).
void CopyOutline(fz_context *ctx, const fz_outline *node, std::vector<OutlineEntry> &out) {
    for (; node; node = node->next) {
        OutlineEntry entry;
        if (node->title) entry.title = node->title;
        if (node->uri) {
            entry.uri = node->uri;
            entry.external = fz_is_external_link(ctx, node->uri) != 0;
        }
        entry.page = node->page.page;
        CopyOutline(ctx, node->down, entry.children);
        out.push_back(std::move(entry));
    }
}

// ---- full font names of a page ----

constexpr int kMaxFormDepth = 8;
constexpr int kMaxNamedFonts = 4096;

// One font resource: its engine font (kept) and its /BaseFont, or null when it cannot be loaded.
// The loaded font is also added to `held` (kept).
fz_font *LoadFontEntry(fz_context *ctx, pdf_document *doc, pdf_obj *res, pdf_obj *dict, char *name, size_t size,
                       std::vector<const fz_storable *> &held) {
    pdf_font_desc *desc = nullptr;
    fz_font *font = nullptr;
    const fz_storable *kept = nullptr;
    fz_var(desc);
    fz_var(font);
    fz_var(kept);
    name[0] = 0;
    fz_try(ctx) {
        fz_strlcpy(name, pdf_to_name(ctx, pdf_dict_get(ctx, dict, PDF_NAME(BaseFont))), size);
        if (name[0]) {
            desc = pdf_load_font(ctx, doc, res, dict);
            if (desc && desc->font) font = fz_keep_font(ctx, desc->font);
            if (desc) kept = static_cast<const fz_storable *>(fz_keep_storable(ctx, &desc->storable));
        }
    }
    fz_always(ctx) {
        pdf_drop_font(ctx, desc);
    }
    fz_catch(ctx) {
        font = nullptr;
    }
    if (kept) {
        try {
            held.push_back(kept);
        } catch (...) {
            fz_drop_storable(ctx, kept);  // only the caching of this font is lost
        }
    }
    return font;
}

// Entry `i` of a dictionary as stored (an indirect reference stays one: the engine caches loaded
// fonts under the object it was handed while interpreting, which is the unresolved entry).
pdf_obj *DictValue(fz_context *ctx, pdf_obj *dict, int i) {
    pdf_obj *v = nullptr;
    fz_var(v);
    fz_try(ctx) {
        v = pdf_dict_get_val(ctx, dict, i);
    }
    fz_catch(ctx) {
        v = nullptr;
    }
    return v;
}

pdf_obj *DictGet(fz_context *ctx, pdf_obj *dict, pdf_obj *key) {
    pdf_obj *v = nullptr;
    fz_var(v);
    fz_try(ctx) {
        v = pdf_is_dict(ctx, dict) ? pdf_dict_get(ctx, dict, key) : nullptr;
        if (v && !pdf_is_dict(ctx, v)) v = nullptr;
    }
    fz_catch(ctx) {
        v = nullptr;
    }
    return v;
}

int DictLen(fz_context *ctx, pdf_obj *dict) {
    int n = 0;
    fz_var(n);
    fz_try(ctx) {
        n = pdf_dict_len(ctx, dict);
    }
    fz_catch(ctx) {
        n = 0;
    }
    return n;
}

bool IsForm(fz_context *ctx, pdf_obj *x) {
    int form = 0;
    fz_var(form);
    fz_try(ctx) {
        form = pdf_is_dict(ctx, x) && pdf_name_eq(ctx, pdf_dict_get(ctx, x, PDF_NAME(Subtype)), PDF_NAME(Form));
    }
    fz_catch(ctx) {
        form = 0;
    }
    return form != 0;
}

void CollectFonts(fz_context *ctx, pdf_document *doc, pdf_obj *res, int depth,
                  std::map<fz_font *, std::string> &out, std::vector<const fz_storable *> &held) {
    if (!res || depth > kMaxFormDepth) return;
    if (pdf_obj *fonts = DictGet(ctx, res, PDF_NAME(Font))) {
        int n = DictLen(ctx, fonts);
        for (int i = 0; i < n && static_cast<int>(out.size()) < kMaxNamedFonts; ++i) {
            pdf_obj *dict = DictValue(ctx, fonts, i);
            if (!dict) continue;
            char name[256];
            fz_font *font = LoadFontEntry(ctx, doc, res, dict, name, sizeof name, held);
            if (!font) continue;
            if (out.count(font)) {
                fz_drop_font(ctx, font);
                continue;
            }
            out.emplace(font, name);
        }
    }
    if (pdf_obj *xobjects = DictGet(ctx, res, PDF_NAME(XObject))) {
        int n = DictLen(ctx, xobjects);
        for (int i = 0; i < n; ++i) {
            pdf_obj *x = DictValue(ctx, xobjects, i);
            if (!x || !IsForm(ctx, x)) continue;
            CollectFonts(ctx, doc, DictGet(ctx, x, PDF_NAME(Resources)), depth + 1, out, held);
        }
    }
}

void TraceCannotDraw(int pageNumber, const std::string &path) {
    char msg[64];
    std::snprintf(msg, sizeof msg, "cannot draw page %d in '", pageNumber);
    EngineErrorTrace(msg + path + "'");
}

} // namespace

PdfDocument::PdfDocument() = default;

PdfDocument::~PdfDocument() { Close(); }

void PdfDocument::SetPrompt(UserPrompt *prompt) { prompt_ = prompt; }

UserPrompt &PdfDocument::Prompt() const { return prompt_ ? *prompt_ : DefaultPrompt(); }

OpenResult PdfDocument::Open(const std::string &path, const std::string &password, const std::string &userPassword) {
    (void)userPassword;  // reserved: kept in the job, never used to open
    std::lock_guard<std::recursive_mutex> g(lock_);
    Close();
    fz_context *ctx = EngineContext();
    path_ = path;
    glyphCache_ = true;

    // The file as a stream and the PDF document on it.
    EngineRef<fz_stream> stream;
    fz_stream *stm = nullptr;
    fz_document *doc = nullptr;
    fz_var(stm);
    fz_var(doc);
    {
        // An opening that fails drops its half-made document inside the engine.
        auto upkeep = LockStoreUpkeep();
        fz_try(ctx) {
            stm = fz_open_file(ctx, path.c_str());
            doc = fz_open_document_with_stream(ctx, "application/pdf", stm);
        }
        fz_catch(ctx) {
            doc = nullptr;
        }
    }
    stream = Adopt(stm);
    if (!doc) {
        EngineErrorTrace("cannot open document '" + path + "'");
        Close();
        return OpenResult::CannotOpen;
    }
    document_ = Adopt(doc);

    // Password.
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
        Prompt().Message("Invalid password.");
        Close();
        return OpenResult::WrongPassword;
    }

    // Outline (none is not an error; a broken one is treated as none).
    {
        EngineRef<fz_outline> outline = Adopt(LoadOutline(ctx, doc));
        CopyOutline(ctx, outline.get(), outline_);
    }

    // Page tree. Counting walks the page tree. The engine's page map (pdf_load_page_tree) is not
    // used: while it is loaded every page load leaves objects behind, even after it is dropped.
    int count = -1;
    fz_var(count);
    fz_try(ctx) count = fz_count_pages(ctx, doc);
    fz_catch(ctx) count = -1;
    if (count < 0) {
        EngineErrorTrace("cannot load page tree");
        Close();
        return OpenResult::NoPageTree;
    }
    const int readable = ReadablePageCount(ctx, doc, path, count);
    claimedPageCount_ = readable < count ? count : 0;
    pageCount_ = readable;
    return OpenResult::Opened;
}

void PdfDocument::Close() {
    std::lock_guard<std::recursive_mutex> g(lock_);
    fz_context *ctx = EngineContext();
    if (glyphCache_) {
        fz_purge_glyph_cache(ctx);
        glyphCache_ = false;
    }
    DropHeldEngineObjects();
    outline_.clear();
    pageLabels_.clear();
    pageLabelsRead_ = false;
    pageCount_ = 0;
    claimedPageCount_ = 0;
    if (document_) {
        // The document's own items leave the store as it is dropped; what else the store holds
        // alone goes too. Emptying the store outright would also pull items from under the
        // documents other threads are working on.
        auto upkeep = LockStoreUpkeep();
        document_.reset();
        fz_shrink_store(ctx, 0);
    }
}

void PdfDocument::TrimCaches() {
    std::lock_guard<std::recursive_mutex> g(lock_);
    fz_context *ctx = EngineContext();
    fz_purge_glyph_cache(ctx);
    // Shrinking to nothing evicts every cached item that nothing else holds, which leaves the
    // held fonts in place (emptying the store would evict them too).
    {
        auto upkeep = LockStoreUpkeep();
        fz_shrink_store(ctx, 0);
    }
    if (!document_ || ++trimsSinceXrefClear_ < kTrimsPerXrefClear) return;
    trimsSinceXrefClear_ = 0;
    EngineTry(ctx, [&](fz_context *c) {
        if (pdf_document *pdf = pdf_specifics(c, document_.get())) pdf_clear_xref(c, pdf);
    });
}

int PdfDocument::PageCount() {
    std::lock_guard<std::recursive_mutex> g(lock_);
    return pageCount_;
}

std::optional<std::string> PdfDocument::InfoEntry(const char *key) {
    std::lock_guard<std::recursive_mutex> g(lock_);
    if (!key || !document_) return std::nullopt;
    fz_context *ctx = EngineContext();
    fz_document *doc = document_.get();
    const char *text = nullptr;
    EngineStatus status = EngineTry(ctx, [&](fz_context *c) {
        pdf_document *pdf = pdf_specifics(c, doc);
        pdf_obj *info = pdf ? pdf_dict_get(c, pdf_trailer(c, pdf), PDF_NAME(Info)) : nullptr;
        pdf_obj *value = info ? pdf_dict_gets(c, info, key) : nullptr;
        if (value && pdf_is_string(c, value)) text = pdf_to_text_string(c, value);
    });
    if (!status || !text) return std::nullopt;
    return std::string(text);
}

std::optional<std::string> PdfDocument::CatalogLanguage() {
    // Far beyond any real tag; a longer value is not copied at all.
    constexpr size_t kMaxLength = 256;
    std::lock_guard<std::recursive_mutex> g(lock_);
    if (!document_) return std::nullopt;
    fz_context *ctx = EngineContext();
    fz_document *doc = document_.get();
    // The text stays owned by the object (alive with the document); it is copied after the engine
    // call so that no allocation can throw inside it.
    const char *text = nullptr;
    EngineStatus status = EngineTry(ctx, [&](fz_context *c) {
        pdf_document *pdf = pdf_specifics(c, doc);
        pdf_obj *root = pdf ? pdf_dict_get(c, pdf_trailer(c, pdf), PDF_NAME(Root)) : nullptr;
        pdf_obj *value = root ? pdf_dict_get(c, root, PDF_NAME(Lang)) : nullptr;
        if (value && pdf_is_string(c, value)) {
            if (pdf_to_str_len(c, value) <= kMaxLength) text = pdf_to_text_string(c, value);
        } else if (value && pdf_is_name(c, value)) {
            text = pdf_to_name(c, value);
        }
    });
    if (!status || !text || std::strlen(text) > kMaxLength) return std::nullopt;
    return std::string(text);
}

namespace {

// A label range as read inside the engine's error handler: plain data, nothing that allocates.
struct RawLabelRange {
    int firstPage;
    char style;
    int start;
    char prefix[64];
};

} // namespace

const std::vector<PageLabelRange> &PdfDocument::PageLabels() {
    std::lock_guard<std::recursive_mutex> g(lock_);
    if (pageLabelsRead_ || !document_) return pageLabels_;
    pageLabelsRead_ = true;
    fz_context *ctx = EngineContext();
    fz_document *doc = document_.get();
    std::vector<RawLabelRange> raw(static_cast<size_t>(kMaxPageLabelRanges));
    int count = 0;
    EngineStatus status = EngineTry(ctx, [&](fz_context *c) {
        pdf_document *pdf = pdf_specifics(c, doc);
        pdf_obj *root = pdf ? pdf_dict_getp(c, pdf_trailer(c, pdf), "Root/PageLabels") : nullptr;
        if (!root) return;
        // A number tree: /Nums pairs in leaves, /Kids below. The walk is bounded in depth and in
        // nodes, so a tree that loops or fans out without end stops early.
        constexpr int kMaxDepth = 8, kMaxNodes = 1024;
        pdf_obj *stack[kMaxDepth + 1];
        int kidStack[kMaxDepth + 1];
        int depth = 0, nodes = 0;
        stack[0] = root;
        kidStack[0] = -1;
        while (depth >= 0 && nodes < kMaxNodes && count < kMaxPageLabelRanges) {
            pdf_obj *node = stack[depth];
            if (kidStack[depth] < 0) {
                ++nodes;
                kidStack[depth] = 0;
                pdf_obj *nums = pdf_dict_get(c, node, PDF_NAME(Nums));
                const int n = pdf_array_len(c, nums);
                for (int i = 0; i + 1 < n && count < kMaxPageLabelRanges; i += 2) {
                    pdf_obj *key = pdf_array_get(c, nums, i);
                    pdf_obj *value = pdf_array_get(c, nums, i + 1);
                    if (!pdf_is_int(c, key) || !pdf_is_dict(c, value)) continue;
                    RawLabelRange &r = raw[static_cast<size_t>(count)];
                    const int index = pdf_to_int(c, key);
                    if (index < 0 || index >= (1 << 30)) continue;
                    r.firstPage = index + 1;
                    const char *style = pdf_to_name(c, pdf_dict_get(c, value, PDF_NAME(S)));
                    r.style = (style[0] && !style[1] && std::strchr("DrRaA", style[0])) ? style[0] : 0;
                    pdf_obj *st = pdf_dict_gets(c, value, "St");
                    r.start = pdf_is_int(c, st) ? std::clamp(pdf_to_int(c, st), 1, 1 << 30) : 1;
                    const char *prefix = pdf_to_text_string(c, pdf_dict_get(c, value, PDF_NAME(P)));
                    std::snprintf(r.prefix, sizeof r.prefix, "%s", prefix ? prefix : "");
                    ++count;
                }
            }
            pdf_obj *kids = pdf_dict_get(c, node, PDF_NAME(Kids));
            const int k = kidStack[depth];
            if (k < pdf_array_len(c, kids) && depth < kMaxDepth) {
                kidStack[depth] = k + 1;
                ++depth;
                stack[depth] = pdf_array_get(c, kids, k);
                kidStack[depth] = -1;
            } else {
                --depth;
            }
        }
    });
    if (!status) return pageLabels_;
    for (int i = 0; i < count; ++i) {
        const RawLabelRange &r = raw[static_cast<size_t>(i)];
        pageLabels_.push_back(PageLabelRange{r.firstPage, r.style, r.prefix, r.start});
    }
    // Ranges in page order; of two for the same page, the first read counts.
    std::stable_sort(pageLabels_.begin(), pageLabels_.end(),
                     [](const PageLabelRange &a, const PageLabelRange &b) { return a.firstPage < b.firstPage; });
    pageLabels_.erase(std::unique(pageLabels_.begin(), pageLabels_.end(),
                                  [](const PageLabelRange &a, const PageLabelRange &b) {
                                      return a.firstPage == b.firstPage;
                                  }),
                      pageLabels_.end());
    return pageLabels_;
}

EngineRef<fz_page> PdfDocument::LoadPage(int pageNumber) {
    std::lock_guard<std::recursive_mutex> g(lock_);
    if (!document_ || pageNumber < 1 || pageNumber > pageCount_) return nullptr;
    fz_context *ctx = EngineContext();
    fz_document *doc = document_.get();
    fz_page *page = nullptr;
    EngineTry(ctx, [&](fz_context *c) { page = fz_load_page(c, doc, pageNumber - 1); });
    if (page && pageNumber - 1 != lastPageIndex_) {
        pdf_page *pdfPage = pdf_page_from_fz_page(ctx, page);
        pdf_drop_obj(ctx, lastPageObject_);
        lastPageObject_ = pdfPage ? pdf_keep_obj(ctx, pdfPage->obj) : nullptr;
        lastPageIndex_ = lastPageObject_ ? pageNumber - 1 : -1;
    }
    return Adopt(page);
}

// The object of page `pageIndex`: the page loaded last when it is that one, else from the page
// tree (whose search walks every page before it in a flat tree). Throws like the search.
pdf_obj *PdfDocument::PageObject(int pageIndex) {
    fz_context *ctx = EngineContext();
    if (lastPageObject_ && pageIndex == lastPageIndex_) return lastPageObject_;
    pdf_document *pdf = document_ ? pdf_specifics(ctx, document_.get()) : nullptr;
    return pdf ? pdf_lookup_page_obj(ctx, pdf, pageIndex) : nullptr;
}

void PdfDocument::DropHeldEngineObjects() {
    fz_context *ctx = EngineContext();
    for (const fz_storable *font : heldFonts_) fz_drop_storable(ctx, font);
    heldFonts_.clear();
    pdf_drop_obj(ctx, lastPageObject_);
    lastPageObject_ = nullptr;
    lastPageIndex_ = -1;
}

void PdfDocument::LoadPageFontNames(int pageIndex, std::map<fz_font *, std::string> &names) {
    std::lock_guard<std::recursive_mutex> g(lock_);
    fz_context *ctx = EngineContext();
    pdf_document *pdf = document_ ? pdf_specifics(ctx, document_.get()) : nullptr;
    if (!pdf) return;
    pdf_obj *res = nullptr;
    EngineTry(ctx, [&](fz_context *c) {
        pdf_obj *page = PageObject(pageIndex);
        res = page ? pdf_dict_get_inheritable(c, page, PDF_NAME(Resources)) : nullptr;
        if (res && !pdf_is_dict(c, res)) res = nullptr;
    });
    // The fonts of the page before are let go only now: those this page shares with it are
    // found cached.
    std::vector<const fz_storable *> held;
    if (res) CollectFonts(ctx, pdf, res, 0, names, held);
    for (const fz_storable *font : heldFonts_) fz_drop_storable(ctx, font);
    heldFonts_ = std::move(held);
}

Thumbnail PdfDocument::RenderThumbnail(int pageNumber, int width, int height) {
    std::lock_guard<std::recursive_mutex> g(lock_);
    fz_context *ctx = EngineContext();
    Thumbnail thumb;
    EngineRef<fz_page> page = LoadPage(pageNumber);
    if (!page) {
        TraceCannotDraw(pageNumber, path_);
        return thumb;
    }
    fz_page *pg = page.get();
    fz_display_list *list = nullptr;
    fz_device *listDev = nullptr;
    fz_pixmap *pix = nullptr;
    fz_device *dev = nullptr;
    fz_cookie cookie{};
    SetThumbnailCookie(&cookie);
    EngineStatus status = EngineTry(ctx, [&](fz_context *c) {
        const fz_rect bounds = fz_bound_page(c, pg);
        int resolution = 72;
        if (width > 0 && height > 0) {
            float pw = bounds.x1 - bounds.x0, ph = bounds.y1 - bounds.y0;
            if (pw > 0 && ph > 0) {
                // Clamped before it becomes an int: a tiny page gives an enormous zoom.
                float dpi = fz_min(width / pw, height / ph) * 72.0f;
                resolution = !(dpi >= 1) ? 1 : dpi > 600 ? 600 : static_cast<int>(dpi);
            }
        }
        const float scale = static_cast<float>(resolution) / 72.0f;
        fz_matrix ctm = FitRasterBudget(bounds, fz_pre_rotate(fz_scale(scale, scale), 0));
        // The page's display list, recorded with the cookie so that a cancel stops it.
        list = fz_new_display_list(c, bounds);
        listDev = fz_new_list_device(c, list);
        fz_run_page(c, pg, listDev, fz_identity, &cookie);
        fz_close_device(c, listDev);
        // Content beyond the page (an extended shading, a path far outside) is cut off: the
        // thumbnail never grows past the page box that the resolution was chosen for.
        fz_rect content = fz_intersect_rect(fz_bound_display_list(c, list), bounds);
        fz_irect box = fz_round_rect(fz_transform_rect(content, ctm));
        pix = fz_new_pixmap_with_bbox(c, fz_device_bgr(c), box, nullptr, 1);
        fz_clear_pixmap_with_value(c, pix, 255);
        dev = fz_new_draw_device(c, fz_identity, pix);
        fz_run_display_list(c, list, dev, ctm, fz_infinite_rect, &cookie);
        fz_close_device(c, dev);
    });
    EngineRef<fz_device> drawDevice = Adopt(dev), recorder = Adopt(listDev);
    EngineRef<fz_display_list> displayList = Adopt(list);
    EngineRef<fz_pixmap> raster = Adopt(pix);
    SetThumbnailCookie(nullptr);
    // Half drawn when the cookie was stopped.
    if (!status || !raster || std::atomic_ref<int>(cookie.abort).load() != 0) {
        TraceCannotDraw(pageNumber, path_);
        return thumb;
    }
    const int w = fz_pixmap_width(ctx, pix), h = fz_pixmap_height(ctx, pix);
    const int n = fz_pixmap_components(ctx, pix);
    const ptrdiff_t stride = fz_pixmap_stride(ctx, pix);
    const unsigned char *src = fz_pixmap_samples(ctx, pix);
    thumb.width = w;
    thumb.height = h;
    thumb.bgra.resize(static_cast<size_t>(w) * static_cast<size_t>(h) * 4);
    for (int y = 0; y < h; ++y) {
        const unsigned char *row = src + y * stride;
        uint8_t *out = thumb.bgra.data() + static_cast<size_t>(y) * static_cast<size_t>(w) * 4;
        for (int x = 0; x < w; ++x) {
            if (n == 4) {
                std::memcpy(out + x * 4, row + x * 4, 4);
            } else {  // grey and alpha
                out[x * 4 + 0] = out[x * 4 + 1] = out[x * 4 + 2] = row[x * n];
                out[x * 4 + 3] = n > 1 ? row[x * n + 1] : 255;
            }
        }
    }
    raster.reset();
    page.reset();
    fz_purge_glyph_cache(ctx);
    return thumb;
}

// ---- page runs ----

namespace {

// The engine reads the cookie's abort field while it works, without a lock; our side writes it
// atomically.
void SetAbort(fz_cookie *cookie) {
    if (cookie) std::atomic_ref<int>(cookie->abort).store(1);
}

} // namespace

void PdfDocument::BeginPageRun(bool cancelled) {
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
    if (cancelled) CancelPageRun();
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

} // namespace qm
