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
#include "pdf/engine.h"
#include "pdf/pdf_document.h"
#include "platform/log.h"
#include "platform/paths.h"
#include "platform/prompt.h"
#include "worker/conversion_worker.h"
#include "xhtml/block_writer.h"
#include "xhtml/outline_writer.h"
#include "xhtml/style_registry.h"

namespace qm {
namespace {

constexpr int kPagesPerFile = 15;
constexpr int kViewWidth = 800;
constexpr int kViewHeight = 600;
constexpr size_t kInfoSize = 512;

void Put(FILE *file, const char *text) { std::fputs(text, file); }

std::string WorkPath(const ConversionJob &job, const std::string &name) { return WithTrailingSlash(job.workFolder) + name; }

// Starts the book's style sheet; the registry fills it while pages are written.
void StartStyleSheet(PdfDocument &doc, const std::string &path) {
    if (!doc.styleRegistry) doc.styleRegistry = std::make_shared<StyleRegistry>();
    if (doc.styleRegistry->BeginStyleSheet(path) != 0) LogError("cannot write '" + path + "'");
}

// The analysed content of the current (drawn) page as XHTML, with span classes from the
// document's style registry.
int WriteBody(PdfDocument &doc, FILE *file, ConversionJob &job) {
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
    return WritePageXhtml(doc, file, job, classes);
}

// Closes a page file; lists it when everything reached the disk.
void FinishPageFile(PdfDocument &doc, FILE *&file, const std::string &path, ConversionJob &job) {
    if (!file) return;
    doc.WritePageTail(file, &job);
    bool ok = std::ferror(file) == 0;
    ok = std::fclose(file) == 0 && ok;
    file = nullptr;
    if (ok)
        ListProducedFile(job, path);
    else
        LogError("cannot write '" + path + "'");
}

// Finishes the open page file, if any, and starts "page-<page>.html" with its head. false (after
// telling the user) when the new file cannot be created.
bool StartPageFile(PdfDocument &doc, FILE *&file, std::string &path, ConversionJob &job, int page) {
    FinishPageFile(doc, file, path, job);
    char name[32];
    std::snprintf(name, sizeof name, "page-%d.html", page);
    path = WorkPath(job, name);
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
    ListProducedFile(job, styles);
    StartStyleSheet(doc, styles);

    if (!job.createCover) return true;
    doc.GoToPage(1);
    int rc = doc.DrawPage(1, kViewWidth, kViewHeight);
    if (rc == 0) {
        std::string cover = WorkPath(job, "cover.png");
        rc = doc.pageModel.SaveRegionPng(cover, nullptr, false);
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
    for (int i = 0; i < pageCount; ++i) {
        const int p = i + 1;
        if (i % kPagesPerFile == 0 && !StartPageFile(*this, file, path, job, p))
            return job.CancelRequested() ? 2 : 0;
        WriteAnchor(file, p);
        if (OutlineHere(job, i, 0)) WriteOutlinePage(file, &job);
        GoToPage(p);
        if (DrawPage(1, kViewWidth, kViewHeight) == 0) WriteBody(*this, file, job);
        if (OutlineHere(job, i, 1)) WriteOutlinePage(file, &job);
        job.ReportProgress(static_cast<int>(static_cast<long long>(p) * 100 / pageCount));
        if (job.CancelRequested()) break;
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
        if (!StartPageFile(*this, file, path, job, p)) return job.CancelRequested() ? 2 : 0;
        WriteAnchor(file, p);
        if (OutlineHere(job, p - 1, 0)) WriteOutlinePage(file, &job);
        GoToPage(p);
        std::string picture;
        int rc = DrawPage(1, kViewWidth, kViewHeight);
        if (rc == 0) rc = pageModel.SaveRegionPng(picture, nullptr, true);
        if (rc != 0) {
            Prompt().Message("Couldn't create page image file!");
            std::fclose(file);  // unfinished: not listed
            return job.CancelRequested() ? 2 : 0;
        }
        std::fprintf(file,
                     "<div style=\"align:center;width:95%%;height:95%%;\"><img title=\"img\" alt=\"img\" "
                     "style=\"width:100%%;height:100%%;\" src=\"%s\" /></div>\n",
                     picture.c_str());
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
    int rc = previewJob ? WriteBody(*this, file, *previewJob) : -1;
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
    fz_pixmap *pix = nullptr;
    fz_device *dev = nullptr;
    bool failed = false;
    int resolution = 72;
    fz_var(page);
    fz_var(list);
    fz_var(pix);
    fz_var(dev);
    fz_var(failed);
    fz_var(resolution);
    fz_try(ctx) {
        page = fz_load_page(ctx, Document(), pageNumber - 1);
        if (width > 0 && height > 0) {
            fz_rect b = fz_bound_page(ctx, page);
            float pw = b.x1 - b.x0, ph = b.y1 - b.y0;
            if (pw > 0 && ph > 0) {
                float zoom = fz_min(width / pw, height / ph);
                resolution = static_cast<int>(zoom * 72.0f);
                if (resolution < 1) resolution = 1;
                if (resolution > 600) resolution = 600;
            }
        }
        State().resolution = resolution;
        fz_matrix ctm = ViewTransform(resolution);
        list = fz_new_display_list_from_page(ctx, page);
        fz_irect box = fz_round_rect(fz_transform_rect(fz_bound_display_list(ctx, list), ctm));
        pix = fz_new_pixmap_with_bbox(ctx, fz_device_bgr(ctx), box, nullptr, 1);
        fz_clear_pixmap_with_value(ctx, pix, 255);
        dev = fz_new_draw_device(ctx, fz_identity, pix);
        fz_run_display_list(ctx, list, dev, ctm, fz_infinite_rect, nullptr);
        fz_close_device(ctx, dev);
    }
    fz_always(ctx) {
        fz_drop_device(ctx, dev);
        fz_drop_display_list(ctx, list);
    }
    fz_catch(ctx) failed = true;
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
