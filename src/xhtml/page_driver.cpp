// The page conversion driver: one open PDF becomes the content files of a book in the job's work
// folder (style sheet, optional cover and title page, XHTML page files, pictures), listed in
// "textlist.txt" in book order; plus the document's Info entries and navigation points.
#include <mupdf/fitz.h>
#include <mupdf/pdf.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "extract/page_model.h"
#include "options/conversion_job.h"
#include "options/conversion_options.h"
#include "extract/capture.h"
#include "pdf/engine.h"
#include "pdf/pdf_document.h"
#include "pdf/raster_budget.h"
#include "platform/log.h"
#include "platform/paths.h"
#include "platform/prompt.h"
#include "worker/conversion_worker.h"
#include "xhtml/block_writer.h"
#include "xhtml/book_names.h"
#include "xhtml/outline_writer.h"
#include "xhtml/style_registry.h"

namespace qm {
namespace {

constexpr int kViewWidth = 800;
constexpr int kViewHeight = 600;
constexpr size_t kInfoSize = 512;
// The page loop gives up after this many pages in a row that cannot be read (a damaged page tree
// may still claim millions more).
constexpr int kMaxFailedInRow = 50;

void Put(FILE *file, const char *text) { std::fputs(text, file); }

std::string WorkPath(const ConversionJob &job, const std::string &name) { return WithTrailingSlash(job.workFolder) + name; }

// Starts the book's style sheet; the registry fills it while pages are written.
void StartStyleSheet(PdfDocument &doc, const std::string &path) {
    if (!doc.styleRegistry) doc.styleRegistry = std::make_shared<StyleRegistry>();
    if (doc.styleRegistry->BeginStyleSheet(path) != 0) LogError("cannot write '" + path + "'");
}

// The file name of the document, for messages.
std::string DocName(PdfDocument &doc) { return FileNamePart(doc.State().path); }

// The analysed content of the current (drawn) page as XHTML, with span classes from the
// document's style registry.
int WriteBody(PdfDocument &doc, std::string &body, ConversionJob &job) {
    auto guard = doc.Lock();
    std::shared_ptr<StyleRegistry> styles = doc.styleRegistry;
    SpanClassesFn classes;
    // The engine keeps only 31 bytes of a font's name; the full names from the page's resources
    // keep "Bold" and "Italic" at the end of long names.
    if (styles) styles->LoadPageFontNames(doc.Document(), doc.State().pageNumber - 1);
    if (styles)
        classes = [styles, &job](const DrawCommand &command, std::string &out) {
            return styles->GetSpanClasses(command, out, &job);
        };
    return WritePageXhtml(doc, body, job, classes);
}

// Whether the current page's run was stopped from outside (cancel or time limit); a page that
// took too long is reported as skipped.
bool PageWasStopped(PdfDocument &doc, int page) {
    PageStop stop = doc.PageRunStop();
    if (stop == PageStop::TimeLimit) {
        char msg[160];
        const double limit = doc.PageRunLimit();
        std::snprintf(msg, sizeof msg, "Page %d of '%s' took longer than %g second%s and was skipped.", page,
                      DocName(doc).c_str(), limit, limit == 1 ? "" : "s");
        doc.Prompt().Message(msg);
    }
    return stop != PageStop::None;
}

std::string ProducedList(const ConversionJob &job) { return WithTrailingSlash(job.workFolder) + "textlist.txt"; }

// Position in the list of produced files, to take back what a page made.
int64_t ProducedListMark(const ConversionJob &job) { return std::max<int64_t>(0, FileSize(ProducedList(job))); }

// Deletes the files listed after `mark` and takes them off the list.
void DropProducedSince(PdfDocument &doc, const ConversionJob &job, int64_t mark) {
    const std::string list = ProducedList(job);
    std::string text;
    if (!ReadFile(list, text) || static_cast<int64_t>(text.size()) <= mark) return;
    size_t pos = static_cast<size_t>(mark);
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        const std::string path = text.substr(pos, end - pos);
        const int64_t size = FileSize(path);
        if (!path.empty() && std::remove(path.c_str()) == 0) {
            doc.producedFiles -= 1;
            if (size > 0) doc.producedBytes -= size;
        }
        pos = end + 1;
    }
    WriteFile(list, text.substr(0, static_cast<size_t>(mark)));
}

// Writes the analysed body of the drawn page `page` to `file`, unless the page's run was stopped
// while it was analysed or its pictures were painted: a stopped page is never taken for a
// finished one, so nothing of it is kept (its pictures are deleted and taken off the list).
// false when the page was stopped.
bool WriteDrawnPage(PdfDocument &doc, FILE *file, ConversionJob &job, int page, int64_t listMark) {
    std::string body;
    WriteBody(doc, body, job);
    if (PageWasStopped(doc, page)) {
        DropProducedSince(doc, job, listMark);
        return false;
    }
    if (!body.empty()) std::fwrite(body.data(), 1, body.size(), file);
    return true;
}

// Before page `page`: false (after telling the user) when the conversion has produced as many
// files or bytes as one document may; the pages from here on are left out.
bool WithinOutputLimits(PdfDocument &doc, int page) {
    if (!doc.ProducedLimitReached()) return true;
    char msg[256];
    std::snprintf(msg, sizeof msg,
                  "Page %d of '%s' and the pages after it were left out: the book reached the limit of %lld files "
                  "or %lld MB.",
                  page, DocName(doc).c_str(), doc.maxProducedFiles, doc.maxProducedBytes >> 20);
    doc.Prompt().Message(msg);
    return false;
}

// Closes a page file; lists it when everything reached the disk.
void FinishPageFile(PdfDocument &doc, FILE *&file, const std::string &path, ConversionJob &job) {
    if (!file) return;
    doc.WritePageTail(file, &job);
    bool ok = std::ferror(file) == 0;
    ok = std::fclose(file) == 0 && ok;
    file = nullptr;
    if (ok)
        doc.ListProduced(job, path);
    else
        LogError("cannot write '" + path + "'");
}

// Finishes the open page file, if any, and starts "page-<page>.html" with its head. false (after
// telling the user) when the new file cannot be created.
bool StartPageFile(PdfDocument &doc, FILE *&file, std::string &path, ConversionJob &job, int page) {
    FinishPageFile(doc, file, path, job);
    path = WorkPath(job, PageFileName(page));
    file = std::fopen(path.c_str(), "wb");
    if (!file) {
        doc.Prompt().Message("Couldn't create html file!");
        return false;
    }
    doc.WritePageHead(file, &job, false);
    return true;
}

void WriteAnchor(FILE *file, int page) { std::fprintf(file, "<p><a id=\"page-%d\"></a></p>", page); }

// Steps shared by both converters before the first page. false: the conversion ends here.
bool CommonStart(PdfDocument &doc, ConversionJob &job) {
    job.title.clear();
    job.author.clear();
    job.subject.clear();
    job.navPointsFile.clear();
    if (!(job.fontScale >= 0.5)) job.fontScale = 0.5;  // also a value that is not a number
    if (job.fontScale > 3.0) job.fontScale = 3.0;
    doc.renderDpi = OutputResolution(job.imageDpi);
    doc.pageModel.outputResolution = doc.renderDpi;

    const std::string styles = WorkPath(job, "styles.css");
    doc.ListProduced(job, styles);
    StartStyleSheet(doc, styles);

    const DocumentState &state = doc.State();
    if (state.pageCount <= 0) {
        // Nothing to draw a cover from either.
        doc.Prompt().Message("'" + DocName(doc) + "' has no pages.");
        return !job.createCover;
    }
    if (state.claimedPageCount > state.pageCount) {
        char msg[200];
        std::snprintf(msg, sizeof msg, "'%s' claims %d pages, but only %d can be read.", DocName(doc).c_str(),
                      state.claimedPageCount, state.pageCount);
        doc.Prompt().Message(msg);
    }

    if (!job.createCover) return true;
    doc.GoToPage(1);
    const int64_t mark = ProducedListMark(job);
    int rc = doc.DrawPage(1, kViewWidth, kViewHeight);
    if (rc == 0) {
        std::string cover = WorkPath(job, "cover.png");
        rc = doc.pageModel.SaveRegionPng(cover, nullptr, false);
    }
    const PageStop stop = doc.PageRunStop();
    const bool stopped = PageWasStopped(doc, 1);
    doc.EndPageRun();
    if (stopped) {
        DropProducedSince(doc, job, mark);
        // Cancelled: the conversion ends. Too slow: the book goes on without a cover.
        return stop == PageStop::TimeLimit;
    }
    if (rc != 0) {
        doc.Prompt().Message("Couldn't create cover image file!");
        return false;
    }
    const std::string titlePath = WorkPath(job, "title_page.html");
    FILE *title = std::fopen(titlePath.c_str(), "wb");
    if (!title) {
        doc.Prompt().Message("Couldn't create file title_page.html!");
        return false;
    }
    doc.WritePageHead(title, &job, true);
    std::fprintf(title,
                 "<div style=\"align:center;\"><img title=\"img\" alt=\"img\" style=\"width:100%%;\" src=\"%s\" /></div>\n",
                 "cover.png");
    FinishPageFile(doc, title, titlePath, job);
    return true;
}

// Steps after the page loop: Info entries and navigation points.
int CommonEnd(PdfDocument &doc, ConversionJob &job) {
    doc.ReadInfoString("Title", job.title, kInfoSize);
    doc.ReadInfoString("Subject", job.subject, kInfoSize);
    doc.ReadInfoString("Author", job.author, kInfoSize);
    if (job.importBookmarksToToc) doc.WriteNavPointsFile(job);
    return job.CancelRequested() ? 2 : 0;
}

bool OutlineHere(const ConversionJob &job, int index, int position) {
    return job.outputOutline && index == 0 && job.outlinePosition == position && !job.createCover;
}

} // namespace

int PdfDocument::ConvertDocument(ConversionJob *job) {
    if (!job) return -1;
    this->job = job;
    pageModel.job = job;
    job->runKind = 1;
    producedFiles = 0;
    producedBytes = 0;
    int rc;
    switch (job->parseMode) {
    case static_cast<int32_t>(ParseMode::Automatic):
    case static_cast<int32_t>(ParseMode::Strict):
        rc = ConvertTextPages(*job);
        break;
    case static_cast<int32_t>(ParseMode::Imaging):
        rc = ConvertImagePages(*job);
        break;
    default:
        rc = -2;
        break;
    }
    this->job = nullptr;
    return rc;
}

void PdfDocument::WritePageHead(FILE *file, const ConversionJob *, bool titlePage) {
    Put(file,
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE html  PUBLIC \"-//W3C//DTD XHTML 1.1//EN\" "
        "\"http://www.w3.org/TR/xhtml11/DTD/xhtml11.dtd\">\n");
    Put(file, "<html xmlns=\"http://www.w3.org/1999/xhtml\">\n");
    Put(file, "<head>\n");
    Put(file, "<title></title>\n");
    Put(file, "<link rel=\"stylesheet\" href=\"styles.css\" type=\"text/css\"/>\n");
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

void PdfDocument::WritePageTail(FILE *file, const ConversionJob *) {
    Put(file, "</body>\n");
    Put(file, "</html>\n");
}

void PdfDocument::ReadInfoString(const char *key, std::string &out, size_t size) {
    if (!key || size == 0) return;
    auto guard = Lock();
    fz_context *ctx = EngineContext();
    if (!Document()) return;
    bool found = false;
    const char *text = nullptr;
    fz_var(found);
    fz_var(text);
    fz_try(ctx) {
        pdf_document *pdf = pdf_specifics(ctx, Document());
        pdf_obj *info = pdf ? pdf_dict_get(ctx, pdf_trailer(ctx, pdf), PDF_NAME(Info)) : nullptr;
        pdf_obj *value = info ? pdf_dict_gets(ctx, info, key) : nullptr;
        if (value && pdf_is_string(ctx, value)) {
            text = pdf_to_text_string(ctx, value);
            found = true;
        }
    }
    fz_catch(ctx) found = false;
    if (!found || !text) return;
    size_t n = std::strlen(text);
    if (n > size - 1) {
        n = size - 1;
        // Never cut a character in half.
        while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
    }
    out.assign(text, n);
}

int PdfDocument::ConvertTextPages(ConversionJob &job) {
    if (!CommonStart(*this, job)) return job.CancelRequested() ? 2 : 0;
    const int pageCount = PageCount();
    FILE *file = nullptr;
    std::string path;
    int failedInRow = 0;
    for (int i = 0; i < pageCount; ++i) {
        const int p = i + 1;
        if (!WithinOutputLimits(*this, p)) break;
        if (i % kPagesPerFile == 0 && !StartPageFile(*this, file, path, job, p))
            return job.CancelRequested() ? 2 : 0;
        WriteAnchor(file, p);
        if (OutlineHere(job, i, 0)) WriteOutlinePage(file, &job);
        GoToPage(p);
        const int64_t mark = ProducedListMark(job);
        const bool drawn = DrawPage(1, kViewWidth, kViewHeight) == 0;
        const bool stopped = drawn ? !WriteDrawnPage(*this, file, job, p, mark) : PageWasStopped(*this, p);
        EndPageRun();
        failedInRow = drawn || stopped ? 0 : failedInRow + 1;
        if (OutlineHere(job, i, 1)) WriteOutlinePage(file, &job);
        job.ReportProgress(static_cast<int>(static_cast<long long>(p) * 100 / pageCount));
        if (job.CancelRequested()) break;
        if (failedInRow >= kMaxFailedInRow && p < pageCount) {
            char msg[200];
            std::snprintf(msg, sizeof msg, "Pages %d to %d of '%s' could not be read; the pages after them were left out.",
                          p - failedInRow + 1, p, DocName(*this).c_str());
            Prompt().Message(msg);
            break;
        }
    }
    if (file) {
        if (job.outputOutline && job.outlinePosition == 2) WriteOutlinePage(file, &job);
        FinishPageFile(*this, file, path, job);
    }
    return CommonEnd(*this, job);
}

int PdfDocument::ConvertImagePages(ConversionJob &job) {
    if (!CommonStart(*this, job)) return job.CancelRequested() ? 2 : 0;
    const int pageCount = PageCount();
    FILE *file = nullptr;
    std::string path;
    for (int p = 1; p <= pageCount; ++p) {
        if (!WithinOutputLimits(*this, p)) break;
        if (!StartPageFile(*this, file, path, job, p)) return job.CancelRequested() ? 2 : 0;
        WriteAnchor(file, p);
        if (OutlineHere(job, p - 1, 0)) WriteOutlinePage(file, &job);
        GoToPage(p);
        std::string picture;
        const int64_t mark = ProducedListMark(job);
        int rc = DrawPage(1, kViewWidth, kViewHeight);
        if (rc == 0) rc = pageModel.SaveRegionPng(picture, nullptr, true);
        const bool stopped = PageWasStopped(*this, p);
        EndPageRun();
        if (stopped) {
            // Cancelled, or too slow: the page keeps its anchor and nothing else.
            DropProducedSince(*this, job, mark);
        } else if (rc != 0) {
            Prompt().Message("Couldn't create page image file!");
            std::fclose(file);  // unfinished: not listed
            return job.CancelRequested() ? 2 : 0;
        } else {
            std::fprintf(file,
                         "<div style=\"align:center;width:95%%;height:95%%;\"><img title=\"img\" alt=\"img\" "
                         "style=\"width:100%%;height:100%%;\" src=\"%s\" /></div>\n",
                         picture.c_str());
        }
        if (OutlineHere(job, p - 1, 1)) WriteOutlinePage(file, &job);
        job.ReportProgress(static_cast<int>(static_cast<long long>(p) * 100 / pageCount));
        if (job.CancelRequested()) break;
    }
    if (file) {
        if (job.outputOutline && job.outlinePosition == 2) WriteOutlinePage(file, &job);
        FinishPageFile(*this, file, path, job);
    }
    return CommonEnd(*this, job);
}

int PdfDocument::WritePreviewPage(FILE *file, ConversionJob *previewJob) {
    auto guard = Lock();
    job = previewJob;
    pageModel.job = previewJob;
    WritePageHead(file, previewJob, false);
    std::string body;
    int rc = previewJob ? WriteBody(*this, body, *previewJob) : -1;
    if (file && !body.empty() && std::fwrite(body.data(), 1, body.size(), file) != body.size()) rc = -3;
    WritePageTail(file, previewJob);
    job = nullptr;
    return rc;
}

unsigned char *PdfDocument::RenderThumbnail(ThumbnailHeader *header, int pageNumber, int width, int height) {
    auto guard = Lock();
    fz_context *ctx = EngineContext();
    if (!Document() || pageNumber < 1 || pageNumber > State().pageCount) {
        char msg[64];
        std::snprintf(msg, sizeof msg, "cannot draw page %d in '", pageNumber);
        EngineErrorTrace(msg + State().path + "'");
        return nullptr;
    }
    const int savedResolution = State().resolution;
    fz_page *page = nullptr;
    fz_display_list *list = nullptr;
    fz_device *listDev = nullptr;
    fz_pixmap *pix = nullptr;
    fz_device *dev = nullptr;
    bool failed = false;
    int resolution = 72;
    fz_cookie cookie{};
    fz_var(page);
    fz_var(list);
    fz_var(listDev);
    fz_var(pix);
    fz_var(dev);
    fz_var(failed);
    fz_var(resolution);
    SetThumbnailCookie(&cookie);
    fz_try(ctx) {
        page = fz_load_page(ctx, Document(), pageNumber - 1);
        const fz_rect bounds = fz_bound_page(ctx, page);
        if (width > 0 && height > 0) {
            float pw = bounds.x1 - bounds.x0, ph = bounds.y1 - bounds.y0;
            if (pw > 0 && ph > 0) {
                // Clamped before it becomes an int: a tiny page gives an enormous zoom.
                float dpi = fz_min(width / pw, height / ph) * 72.0f;
                resolution = !(dpi >= 1) ? 1 : dpi > 600 ? 600 : static_cast<int>(dpi);
            }
        }
        State().resolution = resolution;
        fz_matrix ctm = FitRasterBudget(bounds, ViewTransform(resolution));
        // The page's display list, recorded with the cookie so that a cancel stops it.
        list = fz_new_display_list(ctx, bounds);
        listDev = fz_new_list_device(ctx, list);
        fz_run_page(ctx, page, listDev, fz_identity, &cookie);
        fz_close_device(ctx, listDev);
        // Content beyond the page (an extended shading, a path far outside) is cut off: the
        // thumbnail never grows past the page box that the resolution was chosen for.
        fz_rect content = fz_intersect_rect(fz_bound_display_list(ctx, list), bounds);
        fz_irect box = fz_round_rect(fz_transform_rect(content, ctm));
        pix = fz_new_pixmap_with_bbox(ctx, fz_device_bgr(ctx), box, nullptr, 1);
        fz_clear_pixmap_with_value(ctx, pix, 255);
        dev = fz_new_draw_device(ctx, fz_identity, pix);
        fz_run_display_list(ctx, list, dev, ctm, fz_infinite_rect, &cookie);
        fz_close_device(ctx, dev);
    }
    fz_always(ctx) {
        fz_drop_device(ctx, dev);
        fz_drop_device(ctx, listDev);
        fz_drop_display_list(ctx, list);
    }
    fz_catch(ctx) failed = true;
    SetThumbnailCookie(nullptr);
    if (Aborted(&cookie)) failed = true;  // half drawn
    State().resolution = savedResolution;
    if (failed || !pix) {
        fz_drop_pixmap(ctx, pix);
        fz_drop_page(ctx, page);
        char msg[64];
        std::snprintf(msg, sizeof msg, "cannot draw page %d in '", pageNumber);
        EngineErrorTrace(msg + State().path + "'");
        return nullptr;
    }
    const int w = fz_pixmap_width(ctx, pix), h = fz_pixmap_height(ctx, pix);
    const int n = fz_pixmap_components(ctx, pix);
    const ptrdiff_t stride = fz_pixmap_stride(ctx, pix);
    const unsigned char *src = fz_pixmap_samples(ctx, pix);
    auto *out = static_cast<unsigned char *>(std::malloc(static_cast<size_t>(w) * static_cast<size_t>(h) * 4 + 4));
    if (out) {
        for (int y = 0; y < h; ++y) {
            const unsigned char *row = src + y * stride;
            unsigned char *dst = out + static_cast<size_t>(y) * static_cast<size_t>(w) * 4;
            for (int x = 0; x < w; ++x) {
                if (n == 4) {
                    std::memcpy(dst + x * 4, row + x * 4, 4);
                } else {  // grey and alpha
                    dst[x * 4 + 0] = dst[x * 4 + 1] = dst[x * 4 + 2] = row[x * n];
                    dst[x * 4 + 3] = n > 1 ? row[x * n + 1] : 255;
                }
            }
        }
        if (header) {
            *header = ThumbnailHeader();
            header->width = w;
            header->height = -h;
        }
    }
    fz_drop_pixmap(ctx, pix);
    fz_drop_page(ctx, page);
    fz_purge_glyph_cache(ctx);
    return out;
}

} // namespace qm
