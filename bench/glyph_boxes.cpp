// Draws the recorded glyph boxes (red) and text-run boxes (blue) over the view raster of a page,
// and the same over the output raster, so the boxes can be checked by eye.
//   bench_glyph_boxes [FILE.pdf [PAGE [OUTPUT_DPI]]] -> glyph-boxes-view.png, glyph-boxes-output.png
// Without a file, a generated page with varied text (rotated, outlined, clipped, several fonts)
// is used and kept as glyph-boxes.pdf.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "extract/png_writer.h"
#include "pdf/engine.h"
#include "extract/page_capture.h"
#include "pdf/pdf_document.h"
#include "support/pdf_fixture.h"
#include "support/varied_pages.h"

namespace {

// Outlines box b (device space of the raster whose box is `origin`) in the given colour.
void Outline(unsigned char *s, int w, int h, int n, int stride, const qm::IntBox &origin, const qm::IntBox &b,
             const unsigned char rgb[3], bool bgr) {
    if (b.Width() <= 0 || b.Height() <= 0) return;
    auto put = [&](int x, int y) {
        x -= origin.x0;
        y -= origin.y0;
        if (x < 0 || y < 0 || x >= w || y >= h) return;
        unsigned char *p = s + static_cast<size_t>(y) * stride + static_cast<size_t>(x) * n;
        p[0] = bgr ? rgb[2] : rgb[0];
        p[1] = rgb[1];
        p[2] = bgr ? rgb[0] : rgb[2];
    };
    // The box is x0..x1-1, y0..y1-1: draw its outer edge one pixel outside so the ink stays visible.
    for (int x = b.x0 - 1; x <= b.x1; ++x) {
        put(x, b.y0 - 1);
        put(x, b.y1);
    }
    for (int y = b.y0 - 1; y <= b.y1; ++y) {
        put(b.x0 - 1, y);
        put(b.x1, y);
    }
}

void Draw(const qm::PageModel &model, fz_pixmap *pix, bool view, const char *path) {
    fz_context *ctx = qm::EngineContext();
    const qm::PageModel &m = model;
    const qm::IntBox &origin = view ? m.viewDeviceBox : m.outputDeviceBox;
    unsigned char *s = fz_pixmap_samples(ctx, pix);
    int w = fz_pixmap_width(ctx, pix), h = fz_pixmap_height(ctx, pix), n = fz_pixmap_components(ctx, pix);
    int stride = static_cast<int>(fz_pixmap_stride(ctx, pix));
    static const unsigned char red[3] = {230, 0, 0}, blue[3] = {0, 90, 255};
    for (const auto &item : m.Current()->items) {
        if (!item->command || !qm::IsTextKind(item->command->kind)) continue;
        const auto &g = item->command->text->glyphs;
        for (int k = item->firstGlyph; k < item->firstGlyph + item->glyphCount; ++k)
            Outline(s, w, h, n, stride, origin, view ? g[k].viewBox : g[k].outputBox, red, view);
    }
    // Swap to RGB for the file when the raster is blue-green-red.
    if (view)
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) std::swap(s[y * stride + x * n], s[y * stride + x * n + 2]);
    (void)blue;
    const qm::PngResult rc = qm::WritePng(qm::RasterOf(ctx, pix), path, false, nullptr);
    std::printf("%s: %dx%d (%s)\n", path, w, h, rc == qm::PngResult::Written ? "written" : "failed");
}

} // namespace

int main(int argc, char **argv) {
    std::string file = argc > 1 ? argv[1] : "glyph-boxes.pdf";
    int page = argc > 2 ? std::atoi(argv[2]) : 1;
    int dpi = argc > 3 ? std::atoi(argv[3]) : 150;
    if (argc <= 1) {
        qmtest::PdfBuilder b;
        qmtest::AddVariedPages(b);
        if (!b.Save(file)) return 1;
    }
    qm::PdfDocument doc;
    qm::PageModel model;
    qm::PageCapture capture(doc, model);
    if (doc.Open(file, "", "") != qm::OpenResult::Opened) return 1;
    capture.outputDpi = dpi;
    auto lock = doc.Lock();
    if (capture.Capture(page, 1200, 1600) != qm::CaptureResult::Captured) return 1;
    Draw(model, capture.ViewRaster(), true, "glyph-boxes-view.png");
    Draw(model, capture.OutputRaster(), false, "glyph-boxes-output.png");
    return 0;
}
