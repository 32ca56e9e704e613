// Reading order of generated PDF pages through the real capture path (DrawPage, page items) and
// the page body's analysis, and the CLI's view of it.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "extract/layout.h"
#include "pdf/pdf_document.h"
#include "support/captured_document.h"
#include "support/pdf_fixture.h"
#include "support/temp_dir.h"

namespace {

using Lines = std::vector<std::string>;

std::string RunText(const qm::PageItem &item) {
    std::string s;
    if (!item.command || !item.command->text) return s;
    const auto &g = item.command->text->glyphs;
    for (int k = item.firstGlyph; k < item.firstGlyph + item.glyphCount && k < static_cast<int>(g.size()); ++k)
        if (g[static_cast<size_t>(k)].unicode >= 32 && g[static_cast<size_t>(k)].unicode < 128)
            s += static_cast<char>(g[static_cast<size_t>(k)].unicode);
    return s;
}

// Captures page 1 of a generated document and returns its blocks in reading order, each as the
// text of its runs joined by "|", or "[FillPath]"-style names for graphics.
Lines ReadingOrder(const std::function<void(qmtest::PdfBuilder &, int)> &make, int columnMode) {
    qmtest::TempDir dir;
    qmtest::PdfBuilder b;
    make(b, b.AddPage());
    std::string path = dir.File("page.pdf");
    if (!b.Save(path)) return {"save failed"};
    qmtest::CapturedDocument cd;
    if (!cd.Open(path)) return {"open failed"};
    auto lock = cd.doc.Lock();
    if (cd.Draw(1) != qm::CaptureResult::Captured) return {"draw failed"};
    qm::PageLayout *page = cd.model.Current();
    page->options.columnMode = columnMode;
    qm::BlockList list;
    int n = qm::AnalysePageBody(qm::MakeLayoutPage(cd.model), page->items, page->groups, list);
    Lines out;
    for (int i = 0; i < n; ++i) {
        std::string s;
        for (const qm::BlockMember *m = list.blocks[static_cast<size_t>(i)].first; m; m = m->next) {
            if (!s.empty()) s += "|";
            if (m->isGroup)
                s += "[group]";
            else if (qm::IsTextItem(*m->item))
                s += RunText(*m->item);
            else
                s += std::string("[") + qm::CommandKindName(m->item->command->kind) + "]";
        }
        out.push_back(s);
    }
    return out;
}

// A paragraph of `lines` lines at 10 pt with 12 pt leading, starting at baseline y.
void Paragraph(qmtest::PdfBuilder &b, int page, double x, double y, const std::string &tag, int lines) {
    for (int i = 0; i < lines; ++i) b.Text(page, x, y - i * 12, tag + " line " + std::to_string(i + 1), 10);
}

constexpr int kAuto = 0, kSingle = 1, kMulti = 2;

} // namespace

TEST(LayoutPages, SingleColumnParagraphs) {
    auto make = [](qmtest::PdfBuilder &b, int p) {
        Paragraph(b, p, 72, 720, "First", 3);
        Paragraph(b, p, 72, 660, "Second", 2);
    };
    Lines expected{"First line 1|First line 2|First line 3", "Second line 1|Second line 2"};
    EXPECT_EQ(ReadingOrder(make, kAuto), expected);
    EXPECT_EQ(ReadingOrder(make, kSingle), expected);
}

TEST(LayoutPages, TwoColumns) {
    auto make = [](qmtest::PdfBuilder &b, int p) {
        Paragraph(b, p, 72, 720, "Left A", 3);
        Paragraph(b, p, 320, 720, "Right A", 3);
        Paragraph(b, p, 72, 660, "Left B", 2);
        Paragraph(b, p, 320, 660, "Right B", 2);
    };
    EXPECT_EQ(ReadingOrder(make, kMulti),
              (Lines{"Left A line 1|Left A line 2|Left A line 3", "Left B line 1|Left B line 2",
                     "Right A line 1|Right A line 2|Right A line 3", "Right B line 1|Right B line 2"}));
}

TEST(LayoutPages, HeadingOverTwoColumnsAndFootnoteLine) {
    auto make = [](qmtest::PdfBuilder &b, int p) {
        b.Text(p, 72, 740, "A Heading Over Both Columns Of The Page", 20);
        Paragraph(b, p, 72, 700, "Left", 4);
        Paragraph(b, p, 320, 700, "Right", 4);
        b.Line(p, 72, 120, 200, 120, 0.5);
        b.Text(p, 72, 105, "1 The footnote.", 8);
    };
    EXPECT_EQ(ReadingOrder(make, kMulti),
              (Lines{"A Heading Over Both Columns Of The Page", "Left line 1|Left line 2|Left line 3|Left line 4",
                     "Right line 1|Right line 2|Right line 3|Right line 4", "[StrokePath]", "1 The footnote."}));
}

TEST(LayoutPages, FigureBetweenColumnBands) {
    auto make = [](qmtest::PdfBuilder &b, int p) {
        Paragraph(b, p, 72, 720, "Upper left", 3);
        Paragraph(b, p, 320, 720, "Upper right", 3);
        b.FillRect(p, 72, 500, 340, 150, qmtest::Rgb{0.2, 0.4, 0.8});  // across both columns
        Paragraph(b, p, 72, 460, "Lower left", 3);
        Paragraph(b, p, 320, 460, "Lower right", 3);
    };
    EXPECT_EQ(ReadingOrder(make, kMulti),
              (Lines{"Upper left line 1|Upper left line 2|Upper left line 3",
                     "Upper right line 1|Upper right line 2|Upper right line 3", "[FillPath]",
                     "Lower left line 1|Lower left line 2|Lower left line 3",
                     "Lower right line 1|Lower right line 2|Lower right line 3"}));

    // A figure inside the right column is read with that column.
    auto inColumn = [](qmtest::PdfBuilder &b, int p) {
        Paragraph(b, p, 72, 720, "Upper left", 3);
        Paragraph(b, p, 320, 720, "Upper right", 3);
        b.FillRect(p, 320, 500, 100, 150, qmtest::Rgb{0.2, 0.4, 0.8});
        Paragraph(b, p, 72, 460, "Lower left", 3);
        Paragraph(b, p, 320, 460, "Lower right", 3);
    };
    EXPECT_EQ(ReadingOrder(inColumn, kMulti),
              (Lines{"Upper left line 1|Upper left line 2|Upper left line 3",
                     "Lower left line 1|Lower left line 2|Lower left line 3",
                     "Upper right line 1|Upper right line 2|Upper right line 3", "[FillPath]",
                     "Lower right line 1|Lower right line 2|Lower right line 3"}));
}

TEST(LayoutPages, InspectPrintsBlocksInReadingOrder) {
    qmtest::TempDir dir;
    qmtest::PdfBuilder b;
    int p = b.AddPage();
    Paragraph(b, p, 72, 720, "Left", 2);
    Paragraph(b, p, 320, 720, "Right", 2);
    ASSERT_TRUE(b.Save(dir.File("two.pdf")));
    std::string out;
    ASSERT_EQ(qmtest::RunCommand(std::string(QM_CLI_PATH) + " inspect --blocks --columns 2 " +
                                     qmtest::ShellQuote(dir.File("two.pdf")),
                                 &out),
              0)
        << out;
    size_t left = out.find("Left line 1 | Left line 2"), right = out.find("Right line 1 | Right line 2");
    EXPECT_NE(left, std::string::npos) << out;
    EXPECT_NE(right, std::string::npos) << out;
    EXPECT_LT(left, right) << out;
    EXPECT_NE(out.find("2 blocks in reading order"), std::string::npos) << out;
}
