#pragma once
// Integer boxes of capture, layout and writing: x0, y0, x1, y1 in device pixels, y downwards.
#include <algorithm>

namespace qm {

struct IntBox {
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    int Width() const { return x1 - x0; }
    int Height() const { return y1 - y0; }
    bool operator==(const IntBox &) const = default;
};

// The smallest box holding both. Neither box is checked for area, so a box of no width still
// widens the result; callers that skip empty boxes do so before calling.
inline IntBox Union(const IntBox &a, const IntBox &b) {
    return IntBox{std::min(a.x0, b.x0), std::min(a.y0, b.y0), std::max(a.x1, b.x1), std::max(a.y1, b.y1)};
}

} // namespace qm
