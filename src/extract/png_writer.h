#pragma once
// PNG encoder for rectangles of a raster: 8 bits per channel, every row Sub-filtered, the whole
// image compressed in one call, chunks IHDR, IDAT and IEND.
#include <mupdf/fitz.h>

#include <string>

#include "extract/page_model.h"

namespace qm {

// A raster in memory: rows top to bottom, n bytes per pixel (colour components then alpha).
struct RasterView {
    const unsigned char *samples = nullptr;
    int width = 0, height = 0;
    int n = 0;       // components per pixel including alpha
    int stride = 0;  // bytes per row
};

RasterView RasterOf(fz_context *ctx, fz_pixmap *pix);

// Writes the area `rect` (raster-relative pixels; null = whole raster) of `raster` to `path`.
// keepAlpha off drops the alpha channel of 2- and 4-component rasters.
// Written, BadRaster, CompressFailed or FileFailed. No file is left behind on failure.
PngResult WritePng(const RasterView &raster, const std::string &path, bool keepAlpha, const IntBox *rect);

} // namespace qm
