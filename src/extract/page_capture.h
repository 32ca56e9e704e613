#pragma once
// Capturing one page of an open document into a page model: the page is loaded and recorded,
// every command gets its output-space box (the book's picture resolution) and view-space box (the
// zoom that fits the view, all layout geometry), and the page's items are built. The rasters of
// the capture are painted from the recording only when asked for.
#include <mupdf/fitz.h>

#include <string>
#include <vector>

#include "extract/page_model.h"
#include "pdf/engine.h"
#include "pdf/pdf_document.h"

namespace qm {

// How capturing a page ended.
enum class CaptureResult {
    Captured,  // the page is recorded and its items are built
    Failed,    // the page could not be loaded or interpreted, or its run was stopped
};

struct PageLink;
enum class LinksRead;

class PageCapture {
public:
    // `doc` and `model` outlive the capture.
    PageCapture(PdfDocument &doc, PageModel &model);
    ~PageCapture();
    PageCapture(const PageCapture &) = delete;
    PageCapture &operator=(const PageCapture &) = delete;

    // Resolution of the output space (pictures, cover, page images) in dpi.
    int outputDpi = 72;

    // Loads page `pageNumber` (kept within the document's pages), starts its page run (stopped at
    // once when the model's job is cancelled already), records it, and builds the page's items:
    // view space at FitZoom(viewWidth, viewHeight) when both are positive, else at the zoom of
    // the last capture (72 dpi at first). The caller ends the page run (PdfDocument::EndPageRun).
    CaptureResult Capture(int pageNumber, int viewWidth, int viewHeight);
    // Resolution at which the loaded page fits into viewWidth x viewHeight, never above 72 dpi.
    int FitZoom(int viewWidth, int viewHeight);
    // The current capture's rasters, painted from the recording on first use (RGB with alpha at
    // the output resolution; BGR with alpha at the view zoom), white background. Owned by the
    // capture; null when nothing is captured or painting failed.
    fz_pixmap *OutputRaster();
    fz_pixmap *ViewRaster();

    // The links of the loaded page, as data (`links` is replaced; empty without a page).
    LinksRead LoadLinks(std::vector<PageLink> &links);

    // The loaded page (null before the first capture or after a failed load), and its number.
    fz_page *Page() const { return page_.get(); }
    int PageNumber() const { return pageNumber_; }
    PdfDocument &Document() const { return doc_; }
    PageModel &Model() const { return model_; }
    // Loads since the engine's caches were last emptied (every kLoadsPerFlush-th load empties them).
    int PagesSinceFlush() const { return pagesSinceFlush_; }
    static constexpr int kLoadsPerFlush = 10;

private:
    PdfDocument &doc_;
    PageModel &model_;
    EngineRef<fz_page> page_;
    EngineRef<fz_pixmap> raster_;
    EngineRef<fz_pixmap> viewRaster_;
    int pageNumber_ = 0;
    int viewResolution_ = 72;
    int pagesSinceFlush_ = 0;
};

// The fill colour of a command as DeviceRGB components (0..1); black when it has no colour space.
// false, with the engine's message in `error`, when the conversion fails.
bool CommandColourRgb(const DrawCommand &command, float rgb[3], std::string &error);

} // namespace qm
