// Capturing the current page: load, record, boxes for both device spaces, items; and the lazily
// painted rasters of the capture.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>

#include "extract/capture.h"
#include "pdf/engine.h"
#include "pdf/pdf_document.h"
#include "pdf/raster_budget.h"
#include "platform/log.h"
#include "platform/paths.h"

namespace qm {
namespace {

constexpr int kLoadsPerFlush = 10;

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

} // namespace

fz_matrix PdfDocument::ViewTransform(int resolution) {
    float scale = static_cast<float>(resolution) / 72.0f;
    return fz_pre_rotate(fz_scale(scale, scale), static_cast<float>(state_.rotation));
}

int PdfDocument::FitZoom(int viewWidth, int viewHeight) {
    std::lock_guard<std::recursive_mutex> g(lock_);
    if (!state_.page) return 72;
    fz_context *ctx = EngineContext();
    fz_rect box = PageBounds(ctx, state_.page);
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

int PdfDocument::DrawPage(int load, int viewWidth, int viewHeight) {
    std::lock_guard<std::recursive_mutex> g(lock_);
    fz_context *ctx = EngineContext();
    if (!state_.document || state_.pageCount <= 0) return -1;
    pageModel.document = this;
    pageModel.job = job;

    // Each capture replaces both rasters.
    fz_drop_pixmap(ctx, state_.raster);
    state_.raster = nullptr;
    fz_drop_pixmap(ctx, state_.viewRaster);
    state_.viewRaster = nullptr;

    if (load) {
        BeginPageRun();
        // The previous recording goes first: it holds fonts and images the flush below could
        // otherwise not free.
        pageModel.DetachItems();
        pageModel.commands.reset();
        pageModel.capturedPage = 0;
        fz_drop_page(ctx, state_.page);
        state_.page = nullptr;

        // Bound the engine's caches on long documents.
        if (pagesSinceFlush >= kLoadsPerFlush) {
            fz_purge_glyph_cache(ctx);
            fz_empty_store(ctx);
            pagesSinceFlush = 0;
        }
        ++pagesSinceFlush;

        if (state_.pageNumber < 1) state_.pageNumber = 1;
        if (state_.pageNumber > state_.pageCount) state_.pageNumber = state_.pageCount;
        fz_page *page = nullptr;
        fz_var(page);
        fz_try(ctx) page = fz_load_page(ctx, state_.document, state_.pageNumber - 1);
        fz_catch(ctx) page = nullptr;
        if (!page) return -1;
        state_.page = page;

        auto list = std::make_unique<CommandList>();
        if (RecordPage(ctx, page, *list, &cookie_) != 0) {
            char msg[64];
            std::snprintf(msg, sizeof msg, "cannot draw page %d in '", state_.pageNumber);
            EngineErrorTrace(msg + state_.path + "'");
            return -1;
        }
        pageModel.commands = std::move(list);
        pageModel.capturedPage = state_.pageNumber;
    }
    if (!state_.page || !pageModel.commands) return -1;

    // Output space: the job's image resolution, lowered for pages too large to paint at it.
    const fz_rect bounds = PageBounds(ctx, state_.page);
    pageModel.outputResolution = renderDpi;
    fz_matrix outT = WithinBudget(bounds, ViewTransform(renderDpi), renderDpi, state_.pageNumber, state_.path,
                                  "its pictures");
    fz_irect outBox = DeviceBoxFor(ctx, state_.page, outT);
    pageModel.outputTransform = outT;
    pageModel.outputDeviceBox = ToBox(outBox);

    // View space: the zoom that fits the window, or the current resolution.
    if (viewWidth > 0 && viewHeight > 0) {
        state_.resolution = FitZoom(viewWidth, viewHeight);
        state_.viewWidth = viewWidth;
        state_.viewHeight = viewHeight;
    }
    fz_matrix viewT = WithinBudget(bounds, ViewTransform(state_.resolution), state_.resolution, state_.pageNumber,
                                   state_.path, "the page view");
    fz_irect viewBox = DeviceBoxFor(ctx, state_.page, viewT);
    pageModel.viewTransform = viewT;
    pageModel.viewDeviceBox = ToBox(viewBox);
    pageModel.viewResolution = state_.resolution;
    state_.pageTransform = viewT;
    state_.pageBox = viewBox;

    // Boxes of both spaces in one walk over the recording; nothing is painted until a raster is
    // asked for.
    if (!ComputeOutputAndViewBoxes(ctx, *pageModel.commands, outT, outBox, viewT, viewBox, &cookie_)) {
        // Stopped half-way: commands without boxes must not become items.
        pageModel.commands.reset();
        pageModel.capturedPage = 0;
        return -1;
    }

    // Scroll offset of the page view: centred when the raster is smaller than the window, else
    // kept so that the raster still covers the window.
    int rw = viewBox.x1 - viewBox.x0, rh = viewBox.y1 - viewBox.y0;
    auto clamp = [](int pan, int window, int raster) {
        if (raster <= window) return (window - raster) / 2;
        if (pan > 0) return 0;
        if (pan < window - raster) return window - raster;
        return pan;
    };
    state_.panX = clamp(state_.panX, state_.viewWidth, rw);
    state_.panY = clamp(state_.panY, state_.viewHeight, rh);

    pageModel.BuildPageItems();
    return 0;
}

fz_pixmap *PdfDocument::OutputRaster() {
    std::lock_guard<std::recursive_mutex> g(lock_);
    if (!state_.raster && pageModel.commands)
        state_.raster = RenderCommands(EngineContext(), *pageModel.commands, pageModel.outputTransform,
                                       ToIrect(pageModel.outputDeviceBox), false, -1, &cookie_);
    return state_.raster;
}

fz_pixmap *PdfDocument::ViewRaster() {
    std::lock_guard<std::recursive_mutex> g(lock_);
    if (!state_.viewRaster && pageModel.commands)
        state_.viewRaster = RenderCommands(EngineContext(), *pageModel.commands, pageModel.viewTransform,
                                           ToIrect(pageModel.viewDeviceBox), true, -1, &cookie_);
    return state_.viewRaster;
}

} // namespace qm
