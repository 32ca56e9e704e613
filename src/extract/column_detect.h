#pragma once
// Finds whether a page is set in columns, from the boxes of its text runs and pictures alone.
//
// The page is cut into horizontal slices (boxes that overlap vertically), and consecutive slices
// are gathered into bands as long as an empty vertical gutter runs through all of them with
// content on both sides. A band counts as columns only when every column it cuts holds several
// lines of text that mostly fill its width, and is several text lines high wide: that keeps
// tables of short cells, lists with hanging bullets, and figures beside text single. A
// full-width heading, paragraph or figure covers the gutter and so ends a band.
//
// Work is O(n log n) in the number of boxes, plus the gutter bookkeeping, which is linear in the
// boxes of each line times a small bound on the free ranges a band may carry.
#include <utility>
#include <vector>

#include "extract/geometry.h"

namespace qm {

struct ColumnBox {
    IntBox box;
    bool text = false;  // a text run (pictures and drawings count for the gutter only)
};

// A band of the page read column by column: its vertical extent and the x ranges of its gutters,
// left to right (k gutters make k + 1 columns).
struct ColumnBand {
    int y0 = 0, y1 = 0;
    std::vector<std::pair<int, int>> gutters;
};

struct ColumnLayout {
    std::vector<ColumnBand> bands;  // top to bottom; parts of the page outside every band are single
    // Columns of the widest band (1 when the page is single).
    int Columns() const;
    // Position of a box in the reading order of bands: `segment` counts the page's parts top to
    // bottom (even: outside a band, odd: band (segment - 1) / 2), `column` the column within it.
    std::pair<int, int> Place(const IntBox &box) const;
};

ColumnLayout DetectColumns(const std::vector<ColumnBox> &boxes);

} // namespace qm
