#pragma once
// A uniform grid over integer boxes for the searches of layout analysis. Entries are small
// integers (block or item numbers); a query returns every entry whose box, as inserted, touches
// the query box (closed intervals), each once. Callers test the exact condition themselves, so
// the grid only has to return a superset. An entry whose box changed is inserted again; stale
// copies are harmless because every hit is re-tested against the current box.
#include <vector>

#include "extract/page_model.h"

namespace qm {

class BoxGrid {
public:
    // `bounds` must enclose every box inserted later; `sizeHint` is the expected number of entries.
    BoxGrid(const IntBox &bounds, int sizeHint, int typicalExtent);

    void Insert(int id, const IntBox &box);

    // Calls visit(id) for each entry touching `box`; visit returns false to stop early.
    template <typename Visit> void Query(const IntBox &box, Visit &&visit) {
        if (++stamp_ == 0) {
            std::fill(seen_.begin(), seen_.end(), 0u);
            stamp_ = 1;
        }
        for (int id : big_) {
            if (!Mark(id)) continue;
            if (!visit(id)) return;
        }
        int cx0 = CellX(box.x0), cx1 = CellX(box.x1), cy0 = CellY(box.y0), cy1 = CellY(box.y1);
        for (int cy = cy0; cy <= cy1; ++cy) {
            for (int cx = cx0; cx <= cx1; ++cx) {
                for (const Entry &e : cells_[static_cast<size_t>(cy) * nx_ + cx]) {
                    if (e.box.x1 < box.x0 || e.box.x0 > box.x1 || e.box.y1 < box.y0 || e.box.y0 > box.y1) continue;
                    if (!Mark(e.id)) continue;
                    if (!visit(e.id)) return;
                }
            }
        }
    }

private:
    struct Entry {
        int id;
        IntBox box;
    };
    int CellX(int x) const;
    int CellY(int y) const;
    bool Mark(int id) {
        if (static_cast<size_t>(id) >= seen_.size()) seen_.resize(static_cast<size_t>(id) + 1, 0u);
        if (seen_[static_cast<size_t>(id)] == stamp_) return false;
        seen_[static_cast<size_t>(id)] = stamp_;
        return true;
    }

    IntBox bounds_;
    int cell_ = 1;
    int nx_ = 1, ny_ = 1;
    std::vector<std::vector<Entry>> cells_;
    std::vector<int> big_;  // entries spanning too many cells, checked on every query
    std::vector<unsigned> seen_;
    unsigned stamp_ = 0;
};

} // namespace qm
