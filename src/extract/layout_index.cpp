#include "extract/layout_index.h"

#include <algorithm>
#include <cmath>

namespace qm {

namespace {
constexpr int kMaxCellsPerSide = 256;
constexpr int kBigEntryCells = 256;  // entries covering more cells go to the always-checked list
}

BoxGrid::BoxGrid(const IntBox &bounds, int sizeHint, int typicalExtent) : bounds_(bounds) {
    long long w = std::max(1LL, static_cast<long long>(bounds.x1) - bounds.x0 + 1);
    long long h = std::max(1LL, static_cast<long long>(bounds.y1) - bounds.y0 + 1);
    // Cells about twice the typical entry size, but not so many that empty cells dominate.
    long long cell = std::max(4LL, 2LL * std::max(1, typicalExtent));
    long long byCount = static_cast<long long>(std::sqrt(static_cast<double>(w * h) / std::max(1, sizeHint)));
    cell = std::max(cell, byCount / 2);
    cell = std::max(cell, std::max(w, h) / kMaxCellsPerSide + 1);
    cell_ = static_cast<int>(std::min<long long>(cell, 1 << 30));
    nx_ = static_cast<int>(w / cell_ + 1);
    ny_ = static_cast<int>(h / cell_ + 1);
    cells_.resize(static_cast<size_t>(nx_) * ny_);
    seen_.assign(static_cast<size_t>(std::max(0, sizeHint)), 0u);
}

int BoxGrid::CellX(int x) const {
    long long c = (static_cast<long long>(x) - bounds_.x0) / cell_;
    if (x < bounds_.x0) c = 0;
    return static_cast<int>(std::clamp<long long>(c, 0, nx_ - 1));
}

int BoxGrid::CellY(int y) const {
    long long c = (static_cast<long long>(y) - bounds_.y0) / cell_;
    if (y < bounds_.y0) c = 0;
    return static_cast<int>(std::clamp<long long>(c, 0, ny_ - 1));
}

void BoxGrid::Insert(int id, const IntBox &box) {
    int cx0 = CellX(box.x0), cx1 = CellX(box.x1), cy0 = CellY(box.y0), cy1 = CellY(box.y1);
    if (static_cast<long long>(cx1 - cx0 + 1) * (cy1 - cy0 + 1) > kBigEntryCells) {
        big_.push_back(id);
        return;
    }
    for (int cy = cy0; cy <= cy1; ++cy)
        for (int cx = cx0; cx <= cx1; ++cx) cells_[static_cast<size_t>(cy) * nx_ + cx].push_back({id, box});
}

} // namespace qm
