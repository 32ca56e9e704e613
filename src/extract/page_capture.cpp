// Capturing a page: load, record, boxes for both device spaces, items; and the lazily painted
// rasters of the capture.
#include "extract/page_capture.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>

#include "extract/capture.h"
#include "extract/links.h"
#include "options/conversion_job.h"
#include "pdf/raster_budget.h"
#include "platform/log.h"
#include "platform/paths.h"

namespace qm {
namespace {

IntBox ToBox(fz_irect r) { return IntBox{r.x0, r.y0, r.x1, r.y1}; }
fz_irect ToIrect(const IntBox &b) { return fz_make_irect(b.x0, b.y0, b.x1, b.y1); }

fz_rect PageBounds(fz_context *ctx, fz_page *page) {
    fz_rect bounds = fz_empty_rect;
    fz_try(ctx) bounds = fz_bound_page(ctx, page);
    fz_catch(ctx) bounds = fz_empty_rect;
    return bounds;
}

// `transform` for painting page `pageNumber` at `dpi`, lowered to the raster budget when needed
// (and said so in the log: the pictures of such a page have a lower resolution than asked for).
fz_matrix WithinBudget(fz_rect bounds, fz_matrix transform, int dpi, int pageNumber, const std::string &path,
                       const char *what) {
    double scale = 1;
    fz_matrix t = FitRasterBudget(bounds, transform, &scale);
    if (scale < 1) {
        char msg[200];
        std::snprintf(msg, sizeof msg, "page %d of '%s' is too large for %s at %d dpi: drawn at %.3g dpi instead",
                      pageNumber, FileNamePart(path).c_str(), what, dpi, dpi * scale);
        LogWarning(msg);
    }
    return t;
}

fz_matrix ViewTransform(int resolution) {
    float scale = static_cast<float>(resolution) / 72.0f;
    return fz_pre_rotate(fz_scale(scale, scale), 0.0f);
}

} // namespace

PageCapture::PageCapture(PdfDocument &doc, PageModel &model) : doc_(doc), model_(model) { model_.capture = this; }

PageCapture::~PageCapture() {
    auto lock = doc_.Lock();
    if (model_.capture == this) model_.capture = nullptr;
    raster_.reset();
    viewRaster_.reset();
    page_.reset();
}

int PageCapture::FitZoom(int viewWidth, int viewHeight) {
    auto lock = doc_.Lock();
    if (!page_) return 72;
    fz_context *ctx = EngineContext();
    fz_rect box = PageBounds(ctx, page_.get());
    // Page sizes in whole points, in floating point: a box may be wider than any int (and
    // not a number at all).
    const double w = std::trunc(std::fabs(static_cast<double>(box.x0 - box.x1)));
    const double h = std::trunc(std::fabs(static_cast<double>(box.y0 - box.y1)));
    if (!(w > 0) || !(h > 0) || viewWidth <= 0 || viewHeight <= 0) return 72;
    // Whichever side is tighter decides; the page is never enlarged beyond 72 dpi. Pages so large
    // that the fit is below 1 dpi get 1 dpi: at 0 their whole view, and every item on it, would
    // have no size at all and the page would lose its text.
    double dpi;
    if (h / viewHeight >= w / viewWidth)
        dpi = h < viewHeight ? 72 : std::trunc(viewHeight * 72.0 / h);
    else
        dpi = w < viewWidth ? 72 : std::trunc(viewWidth * 72.0 / w);
    return static_cast<int>(std::clamp(dpi, 1.0, 72.0));
}

CaptureResult PageCapture::Capture(int pageNumber, int viewWidth, int viewHeight) {
    auto lock = doc_.Lock();
    fz_context *ctx = EngineContext();
    const int pageCount = doc_.PageCount();
    if (!doc_.IsOpen() || pageCount <= 0) return CaptureResult::Failed;
    model_.capture = this;

    // Each capture replaces both rasters.
    raster_.reset();
    viewRaster_.reset();

    doc_.BeginPageRun(model_.job && model_.job->CancelRequested());
    fz_cookie *cookie = doc_.PageRunCookie();
    // The previous recording goes first: it holds fonts and images the flush below could
    // otherwise not free.
    model_.DetachItems();
    model_.commands.reset();
    model_.capturedPage = 0;
    page_.reset();

    // Bound the engine's caches on long documents.
    if (pagesSinceFlush_ >= kLoadsPerFlush) {
        doc_.TrimCaches();
        pagesSinceFlush_ = 0;
    }
    ++pagesSinceFlush_;

    pageNumber_ = std::clamp(pageNumber, 1, pageCount);
    page_ = doc_.LoadPage(pageNumber_);
    if (!page_) return CaptureResult::Failed;
    fz_page *page = page_.get();
    const std::string &path = doc_.Path();

    auto list = std::make_unique<CommandList>();
    if (RecordPage(ctx, page, *list, cookie) != 0) {
        char msg[64];
        std::snprintf(msg, sizeof msg, "cannot draw page %d in '", pageNumber_);
        EngineErrorTrace(msg + path + "'");
        return CaptureResult::Failed;
    }
    model_.commands = std::move(list);
    model_.capturedPage = pageNumber_;

    // Output space: the job's image resolution, lowered for pages too large to paint at it.
    const fz_rect bounds = PageBounds(ctx, page);
    model_.outputResolution = outputDpi;
    fz_matrix outT = WithinBudget(bounds, ViewTransform(outputDpi), outputDpi, pageNumber_, path, "its pictures");
    fz_irect outBox = DeviceBoxFor(ctx, page, outT);
    model_.outputTransform = outT;
    model_.outputDeviceBox = ToBox(outBox);

    // View space: the zoom that fits the view, or the zoom of the last capture.
    if (viewWidth > 0 && viewHeight > 0) viewResolution_ = FitZoom(viewWidth, viewHeight);
    fz_matrix viewT = WithinBudget(bounds, ViewTransform(viewResolution_), viewResolution_, pageNumber_, path,
                                   "the page view");
    fz_irect viewBox = DeviceBoxFor(ctx, page, viewT);
    model_.viewTransform = viewT;
    model_.viewDeviceBox = ToBox(viewBox);
    model_.viewResolution = viewResolution_;

    // Boxes of both spaces in one walk over the recording; nothing is painted until a raster is
    // asked for.
    if (!ComputeOutputAndViewBoxes(ctx, *model_.commands, outT, outBox, viewT, viewBox, cookie)) {
        // Stopped half-way: commands without boxes must not become items.
        model_.commands.reset();
        model_.capturedPage = 0;
        return CaptureResult::Failed;
    }

    model_.BuildPageItems();
    return CaptureResult::Captured;
}

LinksRead PageCapture::LoadLinks(std::vector<PageLink> &links) {
    auto lock = doc_.Lock();
    return LoadPageLinks(EngineContext(), doc_.Document(), page_.get(), links);
}

fz_pixmap *PageCapture::OutputRaster() {
    auto lock = doc_.Lock();
    if (!raster_ && model_.commands)
        raster_ = Adopt(RenderCommands(EngineContext(), *model_.commands, model_.outputTransform,
                                       ToIrect(model_.outputDeviceBox), false, -1, doc_.PageRunCookie()));
    return raster_.get();
}

fz_pixmap *PageCapture::ViewRaster() {
    auto lock = doc_.Lock();
    if (!viewRaster_ && model_.commands)
        viewRaster_ = Adopt(RenderCommands(EngineContext(), *model_.commands, model_.viewTransform,
                                           ToIrect(model_.viewDeviceBox), true, -1, doc_.PageRunCookie()));
    return viewRaster_.get();
}

bool CommandColourRgb(const DrawCommand &command, float rgb[3], std::string &error) {
    rgb[0] = rgb[1] = rgb[2] = 0;
    if (!command.colorspace) return true;
    fz_context *ctx = EngineContext();
    EngineStatus status = EngineTry(ctx, [&](fz_context *c) {
        fz_convert_color(c, command.colorspace, command.color.data(), fz_device_rgb(c), rgb, nullptr,
                         command.colorParams);
    });
    if (status) return true;
    rgb[0] = rgb[1] = rgb[2] = 0;
    error = status.message;
    return false;
}

} // namespace qm
