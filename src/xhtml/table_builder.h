#pragma once
// Tables from a group the user marked "to Table". The rows and columns come from the boxes of the
// group's blocks alone (ruling lines are never read): a row is a run of blocks on one line, and a
// row whose blocks line up with the columns found so far continues the same inner table, while a
// row that does not fit starts a new one. The inner tables are stacked in one outer table, one
// outer row each, and every cell holds its block's ordinary XHTML.
#include <functional>
#include <string>
#include <vector>

#include "extract/layout.h"

namespace qm {

// Blocks a row may hold, and columns an inner table may have.
constexpr int kMaxTableColumns = 100;

struct TableColumn {
    double x0 = 0, x1 = 0;        // union of the horizontal extents of the blocks in the column
    double left = 0, right = 0;   // extended edges: the column reaches the next one (or the page edge)
};

struct TableCell {
    int row = 0;                  // within its inner table
    int column = 0;
    TextBlock *block = nullptr;
};

struct TableLayout {
    std::vector<TableCell> cells;        // in creation order
    std::vector<TableColumn> columns;    // left to right
    int rowCount = 0;
    double totalWidth = 0;               // sum of the columns' extended widths
    std::vector<int> widths;             // per column, whole percent
};

enum class TableResult {
    Built,
    RowTooLong,  // a row holds more than kMaxTableColumns blocks: no table at all
};

// Cuts the ordered blocks into rows and inner tables, extends the column edges over a page of
// `pageWidth` view pixels and gives every column its width in percent. With RowTooLong `tables`
// is left empty. Without blocks there is one inner table without rows.
TableResult LayoutTable(const std::vector<TextBlock *> &blocks, double pageWidth, std::vector<TableLayout> &tables);

// Appends the markup of the inner tables to `file`; `writeCell` appends the content of a block.
// Blocks that end up in the same row and column share the cell, in creation order.
void WriteTableMarkup(const std::vector<TableLayout> &tables, std::string &file,
                      const std::function<void(TextBlock &)> &writeCell);

} // namespace qm
