#include "extract/column_detect.h"

#include <algorithm>

namespace qm {

namespace {

using Span = std::pair<int, int>;  // an x range [first, second]

// Thresholds, in multiples of the page's typical text line height.
constexpr double kMinGutter = 1.2;      // narrower gaps are word spaces, even in loose lines
constexpr double kSliceOverlap = 0.25;  // boxes overlapping less than this are on separate lines
constexpr double kMinColumnWidth = 8.0; // a narrower "column" is a table cell or a bullet
// A column's lines: at least this many, and most of them (kFilledShare) at least kFilledLine of
// its width, as set text is; the cells of a table or an option list vary far more.
constexpr int kMinColumnLines = 3;
constexpr double kFilledLine = 0.75;
constexpr double kFilledShare = 0.5;
// Empty space across the whole page this high ends a band, as a full-width block would.
constexpr double kBandBreak = 2.5;
// A band whose first line leaves more free ranges than this is a row of scattered pieces, not
// columns; the bound also keeps the gutter bookkeeping small on hostile pages.
constexpr size_t kMaxFreeRanges = 64;
// Each column's content covers at least this share of the band's height.
constexpr double kMinColumnHeight = 0.4;

// Free x ranges of `free` that no box of boxes[from, to) covers, narrower pieces dropped.
std::vector<Span> Subtract(const std::vector<Span> &free, const std::vector<ColumnBox> &boxes, size_t from, size_t to,
                           long long minGap) {
    std::vector<Span> cover;
    cover.reserve(to - from);
    for (size_t i = from; i < to; ++i) cover.emplace_back(boxes[i].box.x0, boxes[i].box.x1);
    std::sort(cover.begin(), cover.end());
    std::vector<Span> out;
    size_t c = 0;
    for (const Span &f : free) {
        int start = f.first;
        while (c < cover.size() && cover[c].second <= start) ++c;
        size_t k = c;
        for (; k < cover.size() && cover[k].first < f.second; ++k) {
            if (cover[k].second <= start) continue;
            if (static_cast<long long>(cover[k].first) - start >= minGap) out.emplace_back(start, cover[k].first);
            start = std::max(start, cover[k].second);
        }
        if (static_cast<long long>(f.second) - start >= minGap) out.emplace_back(start, f.second);
    }
    return out;
}

// Free ranges strictly inside the band's content: coverage on both sides.
std::vector<Span> Inner(const std::vector<Span> &free, int x0, int x1) {
    std::vector<Span> out;
    for (const Span &f : free)
        if (f.first > x0 && f.second < x1) out.push_back(f);
    return out;
}

struct Band {
    size_t from = 0, to = 0;  // boxes of the band (sorted by top)
    int x0 = 0, x1 = 0;       // content extent
    long long bottom = 0;
    std::vector<Span> free;
};

// Whether every column the gutters cut holds enough lines of text that fill it.
// `shared` receives the height range where every column has content (empty when some has none).
bool LooksLikeColumns(const std::vector<ColumnBox> &boxes, const Band &band, const std::vector<Span> &gutters,
                      long long lineHeight, std::pair<long long, long long> &shared) {
    const size_t columns = gutters.size() + 1;
    struct Column {
        long long lineY1 = 0;
        bool open = false;
        int lx0 = 0, lx1 = 0;
        std::vector<Span> widths;  // x range of each line
        long long top = 0, bottom = 0;
        bool any = false;
    };
    std::vector<Column> cols(columns);
    long long top = boxes[band.from].box.y0, bottom = top;
    const long long overlap = static_cast<long long>(lineHeight * kSliceOverlap);
    for (size_t i = band.from; i < band.to; ++i) {
        const IntBox &b = boxes[i].box;
        bottom = std::max<long long>(bottom, b.y1);
        size_t c = 0;
        while (c < gutters.size() && b.x0 >= gutters[c].second) ++c;
        Column &col = cols[c];
        col.top = col.any ? std::min<long long>(col.top, b.y0) : b.y0;
        col.bottom = col.any ? std::max<long long>(col.bottom, b.y1) : b.y1;
        col.any = true;
        if (!boxes[i].text) continue;
        // Boxes come by their tops, so a box that does not reach into the open line starts a new one.
        if (col.open && b.y0 < col.lineY1 - overlap) {
            col.lx0 = std::min(col.lx0, b.x0);
            col.lx1 = std::max(col.lx1, b.x1);
            col.lineY1 = std::max<long long>(col.lineY1, b.y1);
        } else {
            if (col.open) col.widths.emplace_back(col.lx0, col.lx1);
            col.open = true;
            col.lx0 = b.x0;
            col.lx1 = b.x1;
            col.lineY1 = b.y1;
        }
    }
    const long long height = bottom - top;
    shared = {top, bottom};
    for (const Column &col : cols) {
        if (!col.any) return false;
        shared.first = std::max(shared.first, col.top);
        shared.second = std::min(shared.second, col.bottom);
    }
    for (Column &col : cols) {
        if (col.open) col.widths.emplace_back(col.lx0, col.lx1);
        const int lines = static_cast<int>(col.widths.size());
        if (lines < kMinColumnLines) return false;
        long long x0 = col.widths[0].first, x1 = col.widths[0].second;
        for (const Span &w : col.widths) {
            x0 = std::min<long long>(x0, w.first);
            x1 = std::max<long long>(x1, w.second);
        }
        const long long width = x1 - x0;
        if (static_cast<double>(width) < kMinColumnWidth * static_cast<double>(lineHeight)) return false;
        int filled = 0;
        for (const Span &w : col.widths)
            if (static_cast<double>(static_cast<long long>(w.second) - w.first) >= kFilledLine * static_cast<double>(width))
                ++filled;
        if (static_cast<double>(filled) < kFilledShare * lines) return false;
        if (static_cast<double>(col.bottom - col.top) < kMinColumnHeight * static_cast<double>(height)) return false;
    }
    return true;
}

} // namespace

int ColumnLayout::Columns() const {
    size_t most = 0;
    for (const ColumnBand &b : bands) most = std::max(most, b.gutters.size());
    return static_cast<int>(most) + 1;
}

std::pair<int, int> ColumnLayout::Place(const IntBox &box) const {
    // The last band starting at or above the box's top.
    auto it = std::upper_bound(bands.begin(), bands.end(), box.y0,
                               [](int y, const ColumnBand &b) { return y < b.y0; });
    if (it == bands.begin()) return {0, 0};
    const ColumnBand &band = *(it - 1);
    const int k = static_cast<int>(it - bands.begin()) - 1;
    if (box.y0 > band.y1) return {2 * k + 2, 0};
    const long long centre = (static_cast<long long>(box.x0) + box.x1) / 2;
    int column = 0;
    for (const auto &g : band.gutters)
        if ((static_cast<long long>(g.first) + g.second) / 2 < centre) ++column;
    return {2 * k + 1, column};
}

ColumnLayout DetectColumns(const std::vector<ColumnBox> &input) {
    ColumnLayout layout;
    std::vector<ColumnBox> boxes;
    std::vector<long long> heights;
    boxes.reserve(input.size());
    for (const ColumnBox &b : input) {
        if (b.box.x1 <= b.box.x0 || b.box.y1 <= b.box.y0) continue;
        // A thin vertical rule drawn in a gutter separates columns rather than joining them.
        if (!b.text && static_cast<long long>(b.box.x1) - b.box.x0 < 3) continue;
        boxes.push_back(b);
        if (b.text) heights.push_back(static_cast<long long>(b.box.y1) - b.box.y0);
    }
    if (heights.size() < 4) return layout;
    std::nth_element(heights.begin(), heights.begin() + static_cast<long>(heights.size() / 2), heights.end());
    const long long lineHeight = std::max(1LL, heights[heights.size() / 2]);
    const long long minGap = std::max<long long>(2, static_cast<long long>(kMinGutter * static_cast<double>(lineHeight)));
    const long long overlap = static_cast<long long>(kSliceOverlap * static_cast<double>(lineHeight));
    std::sort(boxes.begin(), boxes.end(), [](const ColumnBox &a, const ColumnBox &b) {
        return a.box.y0 != b.box.y0 ? a.box.y0 < b.box.y0 : a.box.x0 < b.box.x0;
    });
    int pageX0 = boxes[0].box.x0, pageX1 = boxes[0].box.x1;
    for (const ColumnBox &b : boxes) {
        pageX0 = std::min(pageX0, b.box.x0);
        pageX1 = std::max(pageX1, b.box.x1);
    }
    const std::vector<Span> whole{{pageX0, pageX1}};

    auto finish = [&](Band band) {
        std::vector<Span> gutters = Inner(band.free, band.x0, band.x1);
        if (gutters.empty()) return;
        std::pair<long long, long long> shared;
        if (!LooksLikeColumns(boxes, band, gutters, lineHeight, shared)) {
            // Something at the band's top or bottom that only narrows the gutter (a footnote, a
            // caption) can spoil it: try once more with the part where every column has content.
            size_t from = band.from, to = band.to;
            while (from < to && boxes[from].box.y0 < shared.first) ++from;
            while (to > from && boxes[to - 1].box.y0 >= shared.second) --to;
            if (from >= to || (from == band.from && to == band.to)) return;
            band.from = from;
            band.to = to;
            band.x0 = boxes[from].box.x0;
            band.x1 = boxes[from].box.x1;
            for (size_t k = from; k < to; ++k) {
                band.x0 = std::min(band.x0, boxes[k].box.x0);
                band.x1 = std::max(band.x1, boxes[k].box.x1);
            }
            band.free = Subtract(whole, boxes, from, to, minGap);
            gutters = Inner(band.free, band.x0, band.x1);
            if (gutters.empty() || !LooksLikeColumns(boxes, band, gutters, lineHeight, shared)) return;
        }
        ColumnBand out;
        out.y0 = boxes[band.from].box.y0;
        out.y1 = out.y0;
        for (size_t i = band.from; i < band.to; ++i) out.y1 = std::max(out.y1, boxes[i].box.y1);
        out.gutters = std::move(gutters);
        layout.bands.push_back(std::move(out));
    };

    Band band;
    bool open = false;
    size_t i = 0;
    while (i < boxes.size()) {
        // One slice: the boxes that overlap the slice's extent vertically by more than a sliver.
        size_t j = i + 1;
        long long sliceY1 = boxes[i].box.y1;
        int sx0 = boxes[i].box.x0, sx1 = boxes[i].box.x1;
        while (j < boxes.size() && boxes[j].box.y0 < sliceY1 - overlap) {
            sliceY1 = std::max<long long>(sliceY1, boxes[j].box.y1);
            sx0 = std::min(sx0, boxes[j].box.x0);
            sx1 = std::max(sx1, boxes[j].box.x1);
            ++j;
        }
        const bool apart = open && static_cast<double>(boxes[i].box.y0 - band.bottom) >
                                       kBandBreak * static_cast<double>(lineHeight);
        if (open && !apart) {
            std::vector<Span> free = Subtract(band.free, boxes, i, j, minGap);
            const int x0 = std::min(band.x0, sx0), x1 = std::max(band.x1, sx1);
            if (!Inner(free, x0, x1).empty()) {
                band.to = j;
                band.x0 = x0;
                band.x1 = x1;
                band.free = std::move(free);
                band.bottom = std::max(band.bottom, sliceY1);
                i = j;
                continue;
            }
        }
        if (open) finish(band);
        band.from = i;
        band.to = j;
        band.x0 = sx0;
        band.x1 = sx1;
        band.free = Subtract(whole, boxes, i, j, minGap);
        if (band.free.size() > kMaxFreeRanges) band.free.clear();
        band.bottom = sliceY1;
        open = true;
        i = j;
    }
    if (open) finish(band);
    return layout;
}

} // namespace qm
