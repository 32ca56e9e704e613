#pragma once
// The one rule for the size of every raster the program paints (output rasters for the cover,
// pictures and whole-page images, view rasters, thumbnails): at most a fixed number of pixels.
// Page boxes are whatever a file says (tens of thousands of points, or more than INT_MAX), so the
// size is worked out in floating point and the resolution is lowered until the raster fits,
// instead of failing or asking for gigabytes.
#include <mupdf/fitz.h>

namespace qm {

// 64 megapixels: 256 MB for an RGB raster with alpha.
constexpr double kRasterPixelBudget = 64.0 * 1024 * 1024;

// Largest number of pixels the device box of `bounds` (page space) can have once transformed by
// `transform` and rounded outwards; +infinity when the bounds are not finite.
double RasterPixels(fz_rect bounds, fz_matrix transform);

// The transform to paint `bounds` with: `transform` itself when its raster fits in `budget`
// pixels, else `transform` followed by the uniform scale that makes it fit (a lower resolution).
// `scale` (optional) receives that scale: 1 when the raster fits, below 1 when it was lowered,
// 0 when the bounds are not finite.
fz_matrix FitRasterBudget(fz_rect bounds, fz_matrix transform, double *scale = nullptr,
                          double budget = kRasterPixelBudget);

} // namespace qm
