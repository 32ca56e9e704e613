// Tables from groups marked "to Table": rows and columns from the blocks' boxes, inner tables for
// rows that do not line up, widths in percent, the limits, and the markup the writer produces.
#include <gtest/gtest.h>

#include <numeric>

#include "writer_support.h"
#include "xhtml/block_writer.h"
#include "xhtml/table_builder.h"

using qmtest::SyntheticPage;
using qmtest::XmlCount;

namespace {

// Blocks with the given boxes only (the layout reads nothing else).
struct Boxes {
    std::vector<qm::TextBlock> blocks;
    void Add(int x0, int y0, int x1, int y1) {
        qm::TextBlock b;
        b.index = static_cast<int>(blocks.size());
        b.box = qm::IntBox{x0, y0, x1, y1};
        blocks.push_back(b);
    }
    // One row of blocks `height` high at `y`, each [x0, x1].
    void Row(int y, std::vector<std::pair<int, int>> extents, int height = 10) {
        for (auto [x0, x1] : extents) Add(x0, y, x1, y + height);
    }
    std::vector<qm::TextBlock *> Ordered() {
        std::vector<qm::TextBlock *> out;
        for (qm::TextBlock &b : blocks) out.push_back(&b);
        return out;
    }
};

int Sum(const std::vector<int> &v) { return std::accumulate(v.begin(), v.end(), 0); }

// The (row, column) of every cell of an inner table, in creation order.
std::vector<std::pair<int, int>> Places(const qm::TableLayout &t) {
    std::vector<std::pair<int, int>> out;
    for (const qm::TableCell &c : t.cells) out.emplace_back(c.row, c.column);
    return out;
}

using Harness = qmtest::WriterHarness;

} // namespace

// ---- rows, columns and inner tables ---------------------------------------------------------

TEST(TableLayout, GridGivesOneInnerTable) {
    Boxes b;
    for (int r = 0; r < 3; ++r) b.Row(100 + 20 * r, {{100, 150}, {250, 300}, {400, 450}});
    std::vector<qm::TableLayout> tables;
    ASSERT_EQ(qm::TableResult::Built, qm::LayoutTable(b.Ordered(), 600, tables));
    ASSERT_EQ(1u, tables.size());
    EXPECT_EQ(3, tables[0].rowCount);
    ASSERT_EQ(3u, tables[0].columns.size());
    EXPECT_EQ((std::vector<std::pair<int, int>>{{0, 0}, {0, 1}, {0, 2}, {1, 0}, {1, 1}, {1, 2}, {2, 0}, {2, 1}, {2, 2}}),
              Places(tables[0]));
    // The columns reach each other and the page edges.
    EXPECT_EQ(0.0, tables[0].columns[0].left);
    EXPECT_EQ(249.0, tables[0].columns[0].right);
    EXPECT_EQ(400.0, tables[0].columns[2].left);
    EXPECT_EQ(600.0, tables[0].columns[2].right);
    // 249, 149, 200 of 598: 41, 24, and the rest.
    EXPECT_EQ((std::vector<int>{41, 24, 35}), tables[0].widths);
}

TEST(TableLayout, SpanningCellStartsSecondInnerTable) {
    Boxes b;
    b.Row(100, {{100, 150}, {250, 300}, {400, 450}});
    b.Row(120, {{100, 150}, {250, 300}, {400, 450}});
    b.Row(140, {{100, 290}, {400, 450}});  // spans the first two columns
    b.Row(160, {{100, 150}, {400, 450}});  // fits the new table's columns
    std::vector<qm::TableLayout> tables;
    ASSERT_EQ(qm::TableResult::Built, qm::LayoutTable(b.Ordered(), 600, tables));
    ASSERT_EQ(2u, tables.size());
    EXPECT_EQ(2, tables[0].rowCount);
    EXPECT_EQ(3u, tables[0].columns.size());
    EXPECT_EQ(2, tables[1].rowCount);
    ASSERT_EQ(2u, tables[1].columns.size());
    EXPECT_EQ(&b.blocks[6], tables[1].cells[0].block);
    EXPECT_EQ((std::vector<std::pair<int, int>>{{0, 0}, {0, 1}, {1, 0}, {1, 1}}), Places(tables[1]));
    EXPECT_EQ(100, Sum(tables[0].widths));
    EXPECT_EQ(100, Sum(tables[1].widths));
}

TEST(TableLayout, AddedColumnLeavesEarlierRowsEmptyThere) {
    Boxes b;
    b.Row(100, {{100, 150}, {250, 300}});
    b.Row(120, {{100, 150}, {250, 300}, {400, 450}});  // a block to the right of every column
    b.Row(140, {{50, 80}, {260, 280}});                // one left of every column, one widening
    std::vector<qm::TableLayout> tables;
    ASSERT_EQ(qm::TableResult::Built, qm::LayoutTable(b.Ordered(), 600, tables));
    ASSERT_EQ(1u, tables.size());
    const qm::TableLayout &t = tables[0];
    ASSERT_EQ(4u, t.columns.size());
    EXPECT_EQ(50.0, t.columns[0].x0);
    EXPECT_EQ(400.0, t.columns[3].x0);
    // Cells take the column their block lies in, not their place in the row.
    EXPECT_EQ((std::vector<std::pair<int, int>>{{0, 1}, {0, 2}, {1, 1}, {1, 2}, {1, 3}, {2, 0}, {2, 2}}), Places(t));

    // Rows without a cell in a column write an empty one there.
    std::string out;
    std::vector<const qm::TextBlock *> written;
    qm::WriteTableMarkup(tables, out, [&](qm::TextBlock &cell) {
        written.push_back(&cell);
        out += "<p>x</p>";
    });
    EXPECT_EQ(12, XmlCount(out, "//h:table//h:table/h:tr/h:td"));
    EXPECT_EQ(5, XmlCount(out, "//h:table//h:table/h:tr/h:td[not(h:p)]"));
    EXPECT_EQ(0, XmlCount(out, "//h:table//h:table/h:tr[1]/h:td[1]/h:p"));
    EXPECT_EQ(1, XmlCount(out, "//h:table//h:table/h:tr[2]/h:td[4]/h:p"));
    EXPECT_EQ(7u, written.size());
}

TEST(TableLayout, WidthsAddUpAndRepeatForEqualEdges) {
    Boxes b;
    b.Row(100, {{100, 200}, {300, 400}});
    // Touches the second column with its end: not a row of the first table. Its columns have the
    // first table's edges, so they keep its widths.
    b.Row(120, {{100, 300}, {300, 400}});
    // Does not fit either; only its last column has edges of the table before.
    b.Row(140, {{150, 250}, {260, 290}, {300, 400}});
    std::vector<qm::TableLayout> tables;
    ASSERT_EQ(qm::TableResult::Built, qm::LayoutTable(b.Ordered(), 600, tables));
    ASSERT_EQ(3u, tables.size());
    // 299 and 300 of 599.
    EXPECT_EQ((std::vector<int>{49, 51}), tables[0].widths);
    EXPECT_EQ((std::vector<int>{49, 51}), tables[1].widths);
    // The last column repeats 51; 259 and 39 share the other 49 over 298 pixels, and nothing
    // makes up for the rounding once a width was repeated.
    EXPECT_EQ((std::vector<int>{42, 6, 51}), tables[2].widths);

    // Widths of a first table add up to 100 whatever the rounding, also with many columns.
    Boxes many;
    std::vector<std::pair<int, int>> row;
    for (int i = 0; i < 7; ++i) row.emplace_back(13 + 83 * i, 50 + 83 * i);
    many.Row(100, row);
    ASSERT_EQ(qm::TableResult::Built, qm::LayoutTable(many.Ordered(), 613, tables));
    EXPECT_EQ(100, Sum(tables[0].widths));
    // A single column on a page without width still gets all of it.
    Boxes one;
    one.Row(100, {{0, 0}});
    ASSERT_EQ(qm::TableResult::Built, qm::LayoutTable(one.Ordered(), 0, tables));
    EXPECT_EQ((std::vector<int>{100}), tables[0].widths);
}

TEST(TableLayout, RowAndColumnLimits) {
    // 100 blocks in a row make 100 columns; 101 make no table.
    Boxes b;
    std::vector<std::pair<int, int>> row;
    for (int i = 0; i < 100; ++i) row.emplace_back(20 * i, 20 * i + 10);
    b.Row(100, row);
    std::vector<qm::TableLayout> tables;
    ASSERT_EQ(qm::TableResult::Built, qm::LayoutTable(b.Ordered(), 2100, tables));
    ASSERT_EQ(1u, tables.size());
    EXPECT_EQ(100u, tables[0].columns.size());
    EXPECT_EQ(100, Sum(tables[0].widths));

    // A later row that needs a 101st column starts a new inner table, leaving the full one as it
    // was.
    b.Row(120, {{2005, 2008}, {2010, 2015}});
    ASSERT_EQ(qm::TableResult::Built, qm::LayoutTable(b.Ordered(), 2100, tables));
    ASSERT_EQ(2u, tables.size());
    EXPECT_EQ(100u, tables[0].columns.size());
    EXPECT_EQ(1, tables[0].rowCount);
    EXPECT_EQ(2u, tables[1].columns.size());

    Boxes wide;
    row.emplace_back(2000, 2010);
    wide.Row(100, row);
    EXPECT_EQ(qm::TableResult::RowTooLong, qm::LayoutTable(wide.Ordered(), 2100, tables));
    EXPECT_TRUE(tables.empty());
}

TEST(TableLayout, InvertedBoxesStillMakeRows) {
    // A box inverted in both directions is not on the same line as itself.
    Boxes b;
    b.Add(300, 120, 200, 100);
    b.Add(300, 140, 200, 130);
    b.Row(200, {{100, 150}});
    std::vector<qm::TableLayout> tables;
    ASSERT_EQ(qm::TableResult::Built, qm::LayoutTable(b.Ordered(), 600, tables));
    size_t cells = 0;
    for (const qm::TableLayout &t : tables) cells += t.cells.size();
    EXPECT_EQ(3u, cells);
}

TEST(TableLayout, BlocksInOneCellAreAllWritten) {
    // Two overlapping blocks of the first row make two overlapping columns; both end up in the
    // first one, and neither is lost.
    Boxes b;
    b.Row(100, {{100, 200}, {150, 250}});
    std::vector<qm::TableLayout> tables;
    ASSERT_EQ(qm::TableResult::Built, qm::LayoutTable(b.Ordered(), 600, tables));
    ASSERT_EQ(1u, tables.size());
    EXPECT_EQ((std::vector<std::pair<int, int>>{{0, 0}, {0, 0}}), Places(tables[0]));
    std::string out;
    std::vector<const qm::TextBlock *> written;
    qm::WriteTableMarkup(tables, out, [&](qm::TextBlock &cell) { written.push_back(&cell); });
    EXPECT_EQ((std::vector<const qm::TextBlock *>{&b.blocks[0], &b.blocks[1]}), written);
}

// ---- through the block writer (books with tables: table_book_test.cpp) ----------------------

TEST(TableWriter, TooLongRowWritesNothingButMessage) {
    SyntheticPage p;
    p.page.cropRect = qm::IntBox{0, 0, 3000, 800};
    p.page.viewPageBox = p.page.cropRect;
    std::vector<qm::PageItem *> members;
    for (int i = 0; i < 101; ++i) members.push_back(p.Run("x", 25 * i, 100, 6));
    p.GroupBlock(members, 1);
    p.Block({p.Run("Next", 100, 300, 40)});
    Harness h(p);
    std::string out = h.WriteAll();
    EXPECT_EQ(0, XmlCount(out, "//h:table")) << out;
    EXPECT_EQ(1, XmlCount(out, "//h:p[contains(., 'Next')]")) << out;
    ASSERT_EQ(1u, h.prompt.messages.size());
    EXPECT_EQ("out the max cols", h.prompt.messages[0]);
    EXPECT_EQ("\xE6\x8F\x90\xE7\xA4\xBA", h.prompt.messageCaptions[0]);
}
