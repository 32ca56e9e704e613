// Automatic column detection: the detector on hand-made boxes, and the reading order of generated
// pages through the real capture path with columnMode "auto check column".
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <functional>
#include <string>
#include <vector>

#include "extract/column_detect.h"
#include "extract/layout.h"
#include "support/captured_document.h"
#include "support/pdf_fixture.h"
#include "support/temp_dir.h"

namespace {

using qm::ColumnBox;
using qm::IntBox;
using Sentences = std::vector<std::string>;

// Lines of text 10 high with 12 between tops, from x0 to x1.
void Lines(std::vector<ColumnBox> &out, int x0, int x1, int top, int count) {
    for (int i = 0; i < count; ++i) out.push_back(ColumnBox{IntBox{x0, top + 12 * i, x1, top + 12 * i + 10}, true});
}

TEST(ColumnDetect, FindsGuttersAndBandsBetweenFullWidthBlocks) {
    std::vector<ColumnBox> page;
    Lines(page, 50, 550, 20, 1);      // a full-width heading
    Lines(page, 50, 290, 50, 20);     // two columns
    Lines(page, 310, 550, 50, 18);    // (the right one ends early)
    page.push_back({IntBox{50, 300, 550, 400}, false});  // a figure across both
    Lines(page, 50, 200, 420, 10);    // three columns below it
    Lines(page, 220, 370, 420, 10);
    Lines(page, 390, 550, 420, 9);
    page.push_back({IntBox{299, 50, 300, 290}, false});  // a thin rule in the upper gutter
    qm::ColumnLayout layout = qm::DetectColumns(page);
    ASSERT_EQ(layout.bands.size(), 2u);
    EXPECT_EQ(layout.bands[0].gutters, (std::vector<std::pair<int, int>>{{290, 310}}));
    EXPECT_EQ(layout.bands[1].gutters.size(), 2u);
    EXPECT_EQ(layout.Columns(), 3);
    // Heading, upper band by column, figure, lower band by column.
    EXPECT_EQ(layout.Place(IntBox{50, 20, 550, 30}), std::make_pair(0, 0));
    EXPECT_EQ(layout.Place(IntBox{310, 62, 550, 200}), std::make_pair(1, 1));
    EXPECT_EQ(layout.Place(IntBox{50, 300, 550, 400}), std::make_pair(2, 0));
    EXPECT_EQ(layout.Place(IntBox{220, 420, 370, 500}), std::make_pair(3, 1));
}

TEST(ColumnDetect, LeavesTablesListsAndFiguresBesideTextSingle) {
    // A grid of short cells in rows.
    std::vector<ColumnBox> table;
    for (int r = 0; r < 8; ++r)
        for (int x : {50, 200, 350}) table.push_back({IntBox{x, 20 + 14 * r, x + 40 + 5 * (r % 3), 30 + 14 * r}, true});
    EXPECT_TRUE(qm::DetectColumns(table).bands.empty());
    // Bullets hanging left of their items.
    std::vector<ColumnBox> list;
    for (int r = 0; r < 8; ++r) {
        list.push_back({IntBox{50, 20 + 12 * r, 56, 30 + 12 * r}, true});
        list.push_back({IntBox{70, 20 + 12 * r, 500, 30 + 12 * r}, true});
    }
    EXPECT_TRUE(qm::DetectColumns(list).bands.empty());
    // A picture with text beside it.
    std::vector<ColumnBox> figure{{IntBox{50, 20, 250, 200}, false}};
    Lines(figure, 270, 550, 20, 15);
    EXPECT_TRUE(qm::DetectColumns(figure).bands.empty());
    // Labels beside long paragraphs: the label column is too narrow to be read on its own.
    std::vector<ColumnBox> labels;
    Lines(labels, 50, 100, 20, 3);
    Lines(labels, 140, 550, 20, 12);
    EXPECT_TRUE(qm::DetectColumns(labels).bands.empty());
}

TEST(ColumnDetect, SurvivesDegenerateBoxes) {
    EXPECT_TRUE(qm::DetectColumns({}).bands.empty());
    std::vector<ColumnBox> odd{{IntBox{INT_MIN, INT_MIN, INT_MAX, INT_MAX}, true},
                               {IntBox{10, 10, 5, 5}, true},
                               {IntBox{0, 0, 0, 0}, false}};
    Lines(odd, INT_MAX - 1000, INT_MAX - 10, INT_MAX - 1000, 20);
    Lines(odd, INT_MIN, INT_MIN + 500, INT_MIN, 20);
    EXPECT_LE(qm::DetectColumns(odd).Columns(), 3);
    // A grid of scattered glyphs: many free ranges per line, never columns.
    std::vector<ColumnBox> scatter;
    for (int r = 0; r < 150; ++r)
        for (int c = 0; c < 150; ++c) scatter.push_back({IntBox{30 * c, 12 * r, 30 * c + 8, 12 * r + 10}, true});
    EXPECT_TRUE(qm::DetectColumns(scatter).bands.empty());
}

// ---- generated pages ----

// Captures page 1 and returns its blocks in reading order joined by blanks, and the column count
// the detection reported.
std::string ReadPage(const std::function<void(qmtest::PdfBuilder &, int)> &make, int columnMode,
                     int *columns = nullptr) {
    qmtest::TempDir dir;
    qmtest::PdfBuilder b;
    make(b, b.AddPage());
    std::string path = dir.File("page.pdf");
    if (!b.Save(path)) return "save failed";
    qmtest::CapturedDocument cd;
    if (!cd.Open(path)) return "open failed";
    auto lock = cd.doc.Lock();
    if (cd.Draw(1) != qm::CaptureResult::Captured) return "draw failed";
    qm::PageLayout *page = cd.model.Current();
    page->options.columnMode = columnMode;
    qm::BlockList list;
    int n = qm::AnalysePageBody(qm::MakeLayoutPage(cd.model), page->items, page->groups, list,
                                qm::LayoutEngine::Indexed, columns);
    std::string out;
    for (int i = 0; i < n; ++i)
        for (const qm::BlockMember *m = list.blocks[static_cast<size_t>(i)].first; m; m = m->next) {
            out += ' ';
            if (m->isGroup || !qm::IsTextItem(*m->item)) {
                out += "[figure]";
                continue;
            }
            const auto &g = m->item->command->text->glyphs;
            for (int k = m->item->firstGlyph; k < m->item->firstGlyph + m->item->glyphCount; ++k)
                if (g[static_cast<size_t>(k)].unicode >= 32 && g[static_cast<size_t>(k)].unicode < 128)
                    out += static_cast<char>(g[static_cast<size_t>(k)].unicode);
        }
    return out + ' ';
}

// Every piece appears whole, and in the given order.
void ExpectInOrder(const std::string &text, const Sentences &pieces) {
    size_t at = 0;
    for (const std::string &p : pieces) {
        size_t found = text.find(" " + p + " ", at);
        ASSERT_NE(found, std::string::npos) << "\"" << p << "\" missing or out of order in:\n" << text;
        at = found + p.size();
    }
}

Sentences Join(std::initializer_list<Sentences> parts) {
    Sentences all;
    for (const Sentences &p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

constexpr int kAuto = 0, kSingle = 1;

// A column of paragraphs of `perParagraph` sentences each.
void Column(qmtest::PdfBuilder &b, int page, double x, double y, double width, const Sentences &sentences,
            size_t perParagraph = 2) {
    for (size_t i = 0; i < sentences.size(); i += perParagraph)
        y = qmtest::ColumnParagraph(
            b, page, x, y, width,
            Sentences(sentences.begin() + static_cast<long>(i),
                      sentences.begin() + static_cast<long>(std::min(sentences.size(), i + perParagraph))));
}

TEST(ColumnPages, TwoAndThreeColumnsReadColumnByColumn) {
    const Sentences left = qmtest::NumberedSentences("Left", 7), right = qmtest::NumberedSentences("Right", 7);
    auto two = [&](qmtest::PdfBuilder &b, int p) {
        Column(b, p, 72, 720, 222, left);
        Column(b, p, 318, 720, 222, right);
    };
    int columns = 0;
    ExpectInOrder(ReadPage(two, kAuto, &columns), Join({left, right}));
    EXPECT_EQ(columns, 2);
    // "Single Column" still reads across, interleaving the columns' paragraphs.
    std::string across = ReadPage(two, kSingle);
    EXPECT_LT(across.find("Right sentence 1 "), across.find("Left sentence 3 ")) << across;

    const Sentences a = qmtest::NumberedSentences("First", 5), m = qmtest::NumberedSentences("Middle", 5),
                    c = qmtest::NumberedSentences("Third", 4);
    auto three = [&](qmtest::PdfBuilder &b, int p) {
        Column(b, p, 54, 720, 158, a);
        Column(b, p, 227, 720, 158, m);
        Column(b, p, 400, 720, 158, c);
    };
    ExpectInOrder(ReadPage(three, kAuto, &columns), Join({a, m, c}));
    EXPECT_EQ(columns, 3);
}

TEST(ColumnPages, FullWidthHeadingAndFigureSeparateColumnBands) {
    const Sentences ul = qmtest::NumberedSentences("Upleft", 4), ur = qmtest::NumberedSentences("Upright", 4),
                    ll = qmtest::NumberedSentences("Lowleft", 4), lr = qmtest::NumberedSentences("Lowright", 3);
    auto make = [&](qmtest::PdfBuilder &b, int p) {
        b.Text(p, 72, 740, "A Heading Set Across Both Columns Of This Page", 20, "Helvetica-Bold");
        Column(b, p, 72, 700, 222, ul);
        Column(b, p, 318, 700, 222, ur);
        b.FillRect(p, 72, 440, 468, 120, qmtest::Rgb{0.2, 0.4, 0.8});  // across both columns
        Column(b, p, 72, 410, 222, ll);
        Column(b, p, 318, 410, 222, lr);
    };
    int columns = 0;
    ExpectInOrder(ReadPage(make, kAuto, &columns),
                  Join({{"A Heading Set Across Both Columns Of This Page"}, ul, ur, {"[figure]"}, ll, lr}));
    EXPECT_EQ(columns, 2);
}

TEST(ColumnPages, FigureInsideAColumnIsReadWithIt) {
    const Sentences la = qmtest::NumberedSentences("Before", 3), lb = qmtest::NumberedSentences("After", 3),
                    r = qmtest::NumberedSentences("Right", 8);
    auto make = [&](qmtest::PdfBuilder &b, int p) {
        double y = qmtest::ColumnParagraph(b, p, 72, 720, 222, la);
        b.FillRect(p, 90, y - 110, 180, 110, qmtest::Rgb{0.8, 0.3, 0.2});
        qmtest::ColumnParagraph(b, p, 72, y - 130, 222, lb);
        Column(b, p, 318, 720, 222, r);
    };
    ExpectInOrder(ReadPage(make, kAuto), Join({la, {"[figure]"}, lb, r}));
}

TEST(ColumnPages, TablesQuotationsAndFiguresBesideTextStaySingle) {
    auto table = [](qmtest::PdfBuilder &b, int p) {
        const char *rows[][3] = {{"Item", "Count", "Remarks"},      {"Apples", "12", "kept cool"},
                                 {"Pears", "7", "ripe soon"},       {"Plums", "30", "for jam"},
                                 {"Quinces", "2", "very hard"},     {"Cherries", "140", "picked today"}};
        for (int r = 0; r < 6; ++r)
            for (int c = 0; c < 3; ++c) b.Text(p, 72 + 160 * c, 700 - 16 * r, rows[r][c], 10, "Times-Roman");
    };
    int columns = 0;
    ExpectInOrder(ReadPage(table, kAuto, &columns),
                  {"Item", "Count", "Remarks", "Apples", "12", "kept cool", "Pears", "7", "ripe soon", "Cherries",
                   "140", "picked today"});
    EXPECT_EQ(columns, 1);

    const Sentences body = qmtest::NumberedSentences("Body", 4), quote = qmtest::NumberedSentences("Quoted", 3),
                    tail = qmtest::NumberedSentences("Tail", 3);
    auto quotation = [&](qmtest::PdfBuilder &b, int p) {
        double y = qmtest::ColumnParagraph(b, p, 72, 720, 468, body);
        y = qmtest::ColumnParagraph(b, p, 144, y, 324, quote);
        qmtest::ColumnParagraph(b, p, 72, y, 468, tail);
    };
    ExpectInOrder(ReadPage(quotation, kAuto, &columns), Join({body, quote, tail}));
    EXPECT_EQ(columns, 1);
    EXPECT_EQ(ReadPage(quotation, kAuto), ReadPage(quotation, kSingle));

    const Sentences beside = qmtest::NumberedSentences("Beside", 6);
    auto figure = [&](qmtest::PdfBuilder &b, int p) {
        b.FillRect(p, 72, 560, 180, 170, qmtest::Rgb{0.1, 0.6, 0.3});
        qmtest::ColumnParagraph(b, p, 270, 720, 270, beside);
    };
    ReadPage(figure, kAuto, &columns);
    EXPECT_EQ(columns, 1);
    EXPECT_EQ(ReadPage(figure, kAuto), ReadPage(figure, kSingle));
}

} // namespace
