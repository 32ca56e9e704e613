#include "pdf/raster_budget.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace qm {
namespace {

// Width and height of `bounds` through `transform`, in double so that no size overflows.
bool DeviceExtent(fz_rect bounds, fz_matrix t, double &w, double &h) {
    if (fz_is_infinite_rect(bounds)) return false;
    const double xs[2] = {bounds.x0, bounds.x1}, ys[2] = {bounds.y0, bounds.y1};
    double x0 = std::numeric_limits<double>::infinity(), y0 = x0, x1 = -x0, y1 = -x0;
    for (double x : xs)
        for (double y : ys) {
            double dx = x * t.a + y * t.c + t.e, dy = x * t.b + y * t.d + t.f;
            x0 = std::min(x0, dx);
            x1 = std::max(x1, dx);
            y0 = std::min(y0, dy);
            y1 = std::max(y1, dy);
        }
    w = x1 - x0;
    h = y1 - y0;
    return std::isfinite(w) && std::isfinite(h);
}

// Pixels of a box of w x h device units rounded outwards (it may straddle one more pixel edge on
// each axis than its size says).
double Pixels(double w, double h) { return (std::ceil(std::max(w, 0.0)) + 1) * (std::ceil(std::max(h, 0.0)) + 1); }

} // namespace

double RasterPixels(fz_rect bounds, fz_matrix transform) {
    double w = 0, h = 0;
    if (!DeviceExtent(bounds, transform, w, h)) return std::numeric_limits<double>::infinity();
    if (w <= 0 || h <= 0) return 0;  // an empty box paints nothing
    return Pixels(w, h);
}

fz_matrix FitRasterBudget(fz_rect bounds, fz_matrix transform, double *scale, double budget) {
    double w = 0, h = 0;
    if (scale) *scale = 1;
    if (!DeviceExtent(bounds, transform, w, h)) {
        if (scale) *scale = 0;
        return fz_post_scale(transform, 0, 0);
    }
    if (w <= 0 || h <= 0 || Pixels(w, h) <= budget) return transform;
    // Pixels(f * w, f * h) grows with f and is at least f * f * w * h: the largest f that fits
    // lies below sqrt(budget / (w * h)); found by bisection (the rounding makes a closed form
    // unreliable for long thin boxes).
    double lo = 0, hi = std::min(1.0, std::sqrt(budget / w / h));
    for (int i = 0; i < 64; ++i) {
        double mid = (lo + hi) / 2;
        if (Pixels(mid * w, mid * h) <= budget)
            lo = mid;
        else
            hi = mid;
    }
    // The engine rounds in single precision: keep a little room.
    double f = lo * 0.999;
    if (scale) *scale = f;
    return fz_post_scale(transform, static_cast<float>(f), static_cast<float>(f));
}

} // namespace qm
