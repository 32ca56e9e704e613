#include "xhtml/table_builder.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <utility>

namespace qm {
namespace {

// Two horizontal extents overlap when an end of one lies within the other, ends included.
bool Overlap(double a0, double a1, double b0, double b1) {
    auto within = [](double v, double lo, double hi) { return v >= lo && v <= hi; };
    return within(a0, b0, b1) || within(a1, b0, b1) || within(b0, a0, a1) || within(b1, a0, a1);
}

bool Overlaps(const TableColumn &c, const TextBlock &b) { return Overlap(b.box.x0, b.box.x1, c.x0, c.x1); }

bool OnRowLine(const TextBlock &first, const TextBlock &b) {
    int r = RelateBoxes(first.box, b.box, 0, 0);
    return r >= 3 && r <= 7;
}

void StartTable(std::vector<TableLayout> &tables, const std::vector<TextBlock *> &row) {
    TableLayout &t = tables.emplace_back();
    for (size_t k = 0; k < row.size(); ++k) {
        t.columns.push_back(TableColumn{static_cast<double>(row[k]->box.x0), static_cast<double>(row[k]->box.x1), 0, 0});
        t.cells.push_back(TableCell{0, static_cast<int>(k), row[k]});
    }
    t.rowCount = row.empty() ? 0 : 1;
}

// Tries `row` against the columns of the current inner table. A row fits when no column is
// overlapped by two of its blocks and every block overlaps at most one column: such a block
// widens its column, and a block beside every column gets a new column in its place from the
// left. A block overlapping two columns ends the trial, the columns keeping the changes made for
// the blocks before it. A new column beyond the limit ends it too, with the columns as they were.
bool FitRow(std::vector<TableColumn> &columns, const std::vector<TextBlock *> &row) {
    for (const TableColumn &c : columns) {
        int hits = 0;
        for (const TextBlock *b : row)
            if (Overlaps(c, *b) && ++hits >= 2) return false;
    }
    std::vector<TableColumn> trial = columns;
    for (const TextBlock *b : row) {
        int hits = 0;
        size_t hit = 0;
        for (size_t j = 0; j < trial.size(); ++j)
            if (Overlaps(trial[j], *b)) {
                if (hits == 0) hit = j;
                ++hits;
            }
        if (hits >= 2) {
            columns = std::move(trial);
            return false;
        }
        if (hits == 1) {
            trial[hit].x0 = std::min(trial[hit].x0, static_cast<double>(b->box.x0));
            trial[hit].x1 = std::max(trial[hit].x1, static_cast<double>(b->box.x1));
            continue;
        }
        if (trial.size() >= static_cast<size_t>(kMaxTableColumns)) return false;
        size_t at = 0;
        for (const TableColumn &c : trial)
            if (c.x0 <= b->box.x0) ++at;
        trial.insert(trial.begin() + static_cast<std::ptrdiff_t>(at),
                     TableColumn{static_cast<double>(b->box.x0), static_cast<double>(b->box.x1), 0, 0});
    }
    columns = std::move(trial);
    return true;
}

// Extended edges, the total width, and each cell's column: the first one its block overlaps.
void SettleColumns(TableLayout &t, double pageWidth) {
    const size_t n = t.columns.size();
    t.totalWidth = 0;
    for (size_t j = 0; j < n; ++j) {
        TableColumn &c = t.columns[j];
        c.left = j == 0 ? 0.0 : c.x0;
        c.right = j + 1 == n ? pageWidth : t.columns[j + 1].x0 - 1.0;
        t.totalWidth += std::fabs(c.right - c.left);
    }
    for (TableCell &cell : t.cells)
        for (size_t j = 0; j < n; ++j)
            if (Overlaps(t.columns[j], *cell.block)) {
                cell.column = static_cast<int>(j);
                break;
            }
}

int Share(double width, double percent, double total) {
    if (!(total > 0)) return 0;
    double v = std::trunc(width * percent / total);
    return v > 0 ? static_cast<int>(std::min(v, 100.0)) : 0;
}

// Widths in whole percent. A column with the edges of a column of the inner table before it (within
// 0.1) repeats that column's width, so that stacked inner tables line up; the others share what is
// left in proportion to their extended widths. When nothing is repeated the last column takes what
// rounding left over, so the widths add up to 100.
void ColumnWidths(TableLayout &t, const TableLayout *previous) {
    const size_t n = t.columns.size();
    t.widths.assign(n, 0);
    std::vector<char> taken(n, 0);
    int takenPercent = 0;
    double takenWidth = 0;
    if (previous)
        for (size_t j = 0; j < n; ++j) {
            const TableColumn &c = t.columns[j];
            for (size_t k = 0; k < previous->columns.size() && k < previous->widths.size(); ++k) {
                const TableColumn &p = previous->columns[k];
                if (std::fabs(c.left - p.left) <= 0.1 && std::fabs(c.right - p.right) <= 0.1) {
                    taken[j] = 1;
                    t.widths[j] = previous->widths[k];
                    takenPercent += previous->widths[k];
                    takenWidth += std::fabs(c.right - c.left);
                    break;
                }
            }
        }
    const double remainingPercent = 100.0 - takenPercent;
    const double remainingWidth = t.totalWidth - takenWidth;
    // Columns without width (a page of no width) share alike.
    const bool alike = !(remainingWidth > 0);
    const double open = static_cast<double>(std::count(taken.begin(), taken.end(), 0));
    int sum = 0;
    for (size_t j = 0; j < n; ++j) {
        if (taken[j]) continue;
        t.widths[j] = alike ? Share(1.0, remainingPercent, open)
                            : Share(std::fabs(t.columns[j].right - t.columns[j].left), remainingPercent, remainingWidth);
        if (j + 1 < n) sum += t.widths[j];
    }
    if (n > 1 && std::find(taken.begin(), taken.end(), 1) == taken.end()) t.widths[n - 1] = 100 - sum;
}

} // namespace

TableResult LayoutTable(const std::vector<TextBlock *> &blocks, double pageWidth, std::vector<TableLayout> &tables) {
    tables.clear();
    std::vector<TextBlock *> row;
    size_t i = 0;
    bool started = false;
    while (i < blocks.size()) {
        row.clear();
        // The first block always makes a row, also one whose box is inverted and so not on its own
        // line.
        TextBlock *first = blocks[i++];
        row.push_back(first);
        while (i < blocks.size() && OnRowLine(*first, *blocks[i])) row.push_back(blocks[i++]);
        if (row.size() > static_cast<size_t>(kMaxTableColumns)) {
            tables.clear();
            return TableResult::RowTooLong;
        }
        if (!started || !FitRow(tables.back().columns, row)) {
            StartTable(tables, row);
            started = true;
            continue;
        }
        TableLayout &t = tables.back();
        for (size_t k = 0; k < row.size(); ++k) t.cells.push_back(TableCell{t.rowCount, static_cast<int>(k), row[k]});
        ++t.rowCount;
    }
    if (!started) tables.emplace_back();
    for (size_t k = 0; k < tables.size(); ++k) {
        SettleColumns(tables[k], pageWidth);
        ColumnWidths(tables[k], k == 0 ? nullptr : &tables[k - 1]);
    }
    return TableResult::Built;
}

void WriteTableMarkup(const std::vector<TableLayout> &tables, std::string &file,
                      const std::function<void(TextBlock &)> &writeCell) {
    file += "<table width=\"100%\" border=\"1\">\n";
    for (const TableLayout &t : tables) {
        file += "\t<tr>\n";
        file += "\t\t\t<td>\n";
        file += "\t\t<table width=\"100%\" border=\"1\">\n";
        // The blocks of each cell, in creation order.
        std::map<std::pair<int, int>, std::vector<TextBlock *>> content;
        for (const TableCell &cell : t.cells) content[{cell.row, cell.column}].push_back(cell.block);
        for (int r = 0; r < t.rowCount; ++r) {
            file += "\t\t\t<tr>\n";
            for (size_t k = 0; k < t.columns.size(); ++k) {
                char td[64];
                std::snprintf(td, sizeof td, "\t\t\t\t<td style=\"width:%d%%;\">\n", k < t.widths.size() ? t.widths[k] : 0);
                file += td;
                auto it = content.find({r, static_cast<int>(k)});
                if (it != content.end() && writeCell)
                    for (TextBlock *b : it->second) writeCell(*b);
                file += "\t\t\t\t</td>\n";
            }
            file += "\t\t\t</tr>\n";
        }
        // A table needs a row: one without any (its blocks were all ruling lines) is an empty box.
        if (t.rowCount == 0) file += "\t\t\t<tr>\n\t\t\t\t<td></td>\n\t\t\t</tr>\n";
        file += "\t\t</table>\n";
        file += "\t\t</td>\n";
        file += "\t\t</tr>\n";
    }
    file += "\t\t</table>\n";
}

} // namespace qm
