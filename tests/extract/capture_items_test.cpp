// Page items built from a capture: text runs, recapture after a zoom change, page records, view
// zoom and the engine cache flush.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "extract/page_model.h"
#include "pdf/pdf_document.h"
#include "support/captured_document.h"
#include "support/pdf_fixture.h"
#include "support/temp_dir.h"

namespace {

using qm::CommandKind;
using qm::IntBox;

// A text command of font size `size` whose glyphs are given as (x, unicode); blanks get glyph id
// -1 when `ligatureBlank` is set, else their own glyph id. Every glyph gets a small view box.
std::unique_ptr<qm::DrawCommand> TextCommand(float size, const std::vector<std::pair<float, int>> &glyphs,
                                             float y = 100) {
    auto c = std::make_unique<qm::DrawCommand>();
    c->kind = CommandKind::FillText;
    c->text = std::make_unique<qm::CapturedText>();
    c->text->matrix = fz_scale(size, size);
    for (auto [x, u] : glyphs) {
        qm::GlyphRecord g;
        g.x = x;
        g.y = y;
        g.unicode = u;
        g.glyphId = u == 32 ? 3 : u;
        int ix = static_cast<int>(x);
        g.viewBox = IntBox{ix, static_cast<int>(y) - 8, ix + 5, static_cast<int>(y)};
        g.outputBox = IntBox{2 * ix, 2 * static_cast<int>(y) - 16, 2 * ix + 10, 2 * static_cast<int>(y)};
        c->text->glyphs.push_back(g);
    }
    return c;
}

// The runs SplitTextRuns cuts, as "first+count" strings.
std::vector<std::string> Runs(qm::PageModel &model, qm::DrawCommand &cmd) {
    model.SelectPageLayout(1);
    model.Current()->items.clear();
    int next = model.SplitTextRuns(&cmd, 7, 3);
    std::vector<std::string> out;
    int seq = 3;
    for (auto &item : model.Current()->items) {
        EXPECT_EQ(item->seq, seq++);
        EXPECT_EQ(item->commandIndex, 7);
        out.push_back(std::to_string(item->firstGlyph) + "+" + std::to_string(item->glyphCount));
    }
    EXPECT_EQ(next, seq);
    return out;
}

TEST(TextRuns, CutsAtWideAdvancesAndDoubleBlanks) {
    qm::PageModel model;
    // Font size 10: an advance of 12.9 stays in the run, 13.5 (at least 1.3 x size) cuts it.
    auto near = TextCommand(10, {{0, 'A'}, {12.9f, 'B'}, {25.8f, 'C'}, {39.3f, 'D'}});
    EXPECT_EQ(Runs(model, *near), (std::vector<std::string>{"0+3", "3+1"}));

    // "A", blank, blank, "B" with close origins: cut after "A" because two blanks follow.
    auto twoBlanks = TextCommand(10, {{0, 'A'}, {5, ' '}, {10, ' '}, {15, 'B'}});
    EXPECT_EQ(Runs(model, *twoBlanks), (std::vector<std::string>{"0+1", "1+3"}));
    // One blank between them: no cut.
    auto oneBlank = TextCommand(10, {{0, 'A'}, {5, ' '}, {10, 'B'}});
    EXPECT_EQ(Runs(model, *oneBlank), (std::vector<std::string>{"0+3"}));
    // A glyph with no glyph of its own counts as blank too.
    auto ligature = TextCommand(10, {{0, 'A'}, {5, ' '}, {5, 'i'}, {10, 'B'}});
    ligature->text->glyphs[2].glyphId = -1;
    EXPECT_EQ(Runs(model, *ligature), (std::vector<std::string>{"0+1", "1+3"}));

    // A change of baseline starts a new run, however close the origins are.
    auto lines = TextCommand(10, {{0, 'A'}, {5, 'B'}, {10, 'C'}});
    lines->text->glyphs[2].y = 100.5f;
    EXPECT_EQ(Runs(model, *lines), (std::vector<std::string>{"0+2", "2+1"}));

    // The size is that of the text matrix combined with the command's transform, truncated:
    // 10 x 1.25 = 12.5 -> 12, so an advance of 15.8 (>= 15.6) now cuts.
    auto scaled = TextCommand(10, {{0, 'A'}, {15.8f, 'B'}});
    scaled->transform = fz_scale(1.25f, 1.25f);
    EXPECT_EQ(Runs(model, *scaled), (std::vector<std::string>{"0+1", "1+1"}));
}

TEST(TextRuns, RunBoxesSkipBlanksAndBlankRunsAreFound) {
    qm::PageModel model;
    auto cmd = TextCommand(10, {{0, ' '}, {5, 'A'}, {10, 'B'}, {15, ' '}, {20, ' '}, {30, ' '}});
    cmd->text->glyphs[2].viewBox = IntBox{12, 80, 12, 100};  // no width: left out
    model.SelectPageLayout(1);
    qm::PageItem item;
    item.command = cmd.get();
    item.firstGlyph = 0;
    item.glyphCount = 4;
    model.ComputeRunBoxes(item);
    EXPECT_EQ(item.viewBox, (IntBox{5, 92, 10, 100}));
    EXPECT_EQ(item.outputBox, (IntBox{10, 184, 20, 200}));
    EXPECT_FALSE(model.IsBlankRun(item));

    item.firstGlyph = 3;
    item.glyphCount = 3;
    item.outputBox = IntBox{1, 2, 3, 4};
    model.ComputeRunBoxes(item);
    EXPECT_EQ(item.viewBox, IntBox{});
    EXPECT_EQ(item.outputBox, (IntBox{1, 2, 3, 4}));  // a run of blanks keeps its previous output box
    EXPECT_TRUE(model.IsBlankRun(item));
    // Glyph id 0 (no glyph in the font) is blank for IsBlankRun.
    cmd->text->glyphs[1].glyphId = 0;
    item.firstGlyph = 1;
    item.glyphCount = 1;
    EXPECT_TRUE(model.IsBlankRun(item));
    // A run reaching past the command's glyphs (a stale item) is cut at the end, not read past.
    item.firstGlyph = 4;
    item.glyphCount = 40;
    model.ComputeRunBoxes(item);
    EXPECT_TRUE(model.IsBlankRun(item));
}


// The rounding toggle belongs to the document: zoom changes in one model leave another as a
// fresh document starts, so a book does not depend on what was converted before it.
TEST(MarginRounding, EachDocumentStartsWithItsOwnToggle) {
    auto changeZoom = [](qm::PageModel &model, int times) {
        model.commands = std::make_unique<qm::CommandList>();
        model.capturedPage = 1;
        for (int k = 0; k <= times; ++k) {
            model.viewResolution = k % 2 ? 144 : 72;  // the first capture is no change
            model.BuildPageItems();
        }
    };
    qm::PageModel first;
    changeZoom(first, 3);
    EXPECT_FALSE(first.marginRoundUp);
    qm::PageModel second;
    EXPECT_TRUE(second.marginRoundUp);
    changeZoom(second, 2);
    EXPECT_TRUE(second.marginRoundUp);
    EXPECT_FALSE(first.marginRoundUp);
}

class PageCaptureTest : public ::testing::Test {
protected:
    qmtest::TempDir dir;
    qmtest::CapturedDocument cd;
    qm::PdfDocument &doc = cd.doc;

    void OpenPages(int pages, double w = 612, double h = 792) {
        qmtest::PdfBuilder b;
        for (int i = 0; i < pages; ++i) {
            int p = b.AddPage(w, h);
            b.Text(p, 20, h - 30, "Page " + std::to_string(i + 1) + " heading", 14);
            b.Text(p, 20, h - 50, "Body  text  with words", 10);
            b.FillRect(p, 20, 20, 40, 30, {0.5, 0.5, 0.5});
        }
        ASSERT_TRUE(b.Save(dir.File("doc.pdf")));
        ASSERT_TRUE(cd.Open(dir.File("doc.pdf")));
    }
    qm::CaptureResult Capture(int page, int vw, int vh) { return cd.Draw(page, vw, vh); }
};

TEST_F(PageCaptureTest, ItemsFollowTheCommandListInOrder) {
    OpenPages(1);
    ASSERT_EQ(Capture(1, 800, 600), qm::CaptureResult::Captured);
    const qm::PageLayout *page = cd.model.Current();
    ASSERT_NE(page, nullptr);
    EXPECT_TRUE(page->itemsBuilt);
    auto &cmds = cd.model.commands->commands;
    int lastIndex = -1;
    int seq = 0;
    for (auto &item : page->items) {
        EXPECT_EQ(item->seq, seq++);
        ASSERT_GE(item->commandIndex, lastIndex);
        ASSERT_LT(item->commandIndex, static_cast<int>(cmds.size()));
        EXPECT_EQ(item->command, &cmds[item->commandIndex]);
        if (!qm::IsTextKind(item->command->kind)) {
            EXPECT_GT(item->commandIndex, lastIndex);  // one item per non-text command
            EXPECT_EQ(item->viewBox, item->command->viewBox);
            EXPECT_EQ(item->outputBox, item->command->outputBox);
        }
        lastIndex = item->commandIndex;
    }
    // "Body  text  with words": each pair of blanks cuts before itself: "Body", "  text", "  with words".
    std::vector<int> runs;
    for (auto &item : page->items)
        if (item->command->kind == CommandKind::FillText && item->commandIndex == page->items[2]->commandIndex)
            runs.push_back(item->glyphCount);
    EXPECT_EQ(runs, (std::vector<int>{4, 6, 12}));
}

TEST_F(PageCaptureTest, ViewZoomFitsTheWindowAndNeverEnlarges) {
    OpenPages(1);
    ASSERT_EQ(Capture(1, 800, 600), qm::CaptureResult::Captured);
    EXPECT_EQ(cd.model.viewResolution, 54);  // height decides: 600 * 72 / 792
    EXPECT_EQ(cd.model.viewDeviceBox, (IntBox{0, 0, 459, 594}));
    EXPECT_EQ(cd.capture.FitZoom(300, 2000), 35);  // width decides: 300 * 72 / 612
    EXPECT_EQ(cd.capture.FitZoom(2000, 2000), 72);
    // With no view size the current resolution is kept.
    ASSERT_EQ(Capture(1, 0, 0), qm::CaptureResult::Captured);
    EXPECT_EQ(cd.model.viewResolution, 54);

    qmtest::CapturedDocument small;
    qmtest::PdfBuilder b;
    b.Text(b.AddPage(200, 100), 10, 50, "small");
    ASSERT_TRUE(b.Save(dir.File("small.pdf")));
    ASSERT_TRUE(small.Open(dir.File("small.pdf")));
    ASSERT_EQ(small.Draw(1), qm::CaptureResult::Captured);
    EXPECT_EQ(small.model.viewResolution, 72);
    EXPECT_EQ(small.model.viewDeviceBox, (IntBox{0, 0, 200, 100}));
}

TEST_F(PageCaptureTest, RecaptureAfterZoomChangeKeepsEditsAndScalesMargins) {
    OpenPages(2);
    qm::PageModel &model = cd.model;
    ASSERT_EQ(Capture(2, 800, 600), qm::CaptureResult::Captured);
    model.Current()->margins = {4, 6, 8, 10};
    ASSERT_EQ(Capture(1, 800, 600), qm::CaptureResult::Captured);
    qm::PageLayout *page = model.Current();
    ASSERT_EQ(page->pageNumber, 1);
    page->margins = {11, 21, 13, 7};
    size_t itemCount = page->items.size();
    ASSERT_GE(itemCount, 4u);
    page->items[1]->mark = 2;
    page->items[3]->disabled = 1;
    auto group = std::make_unique<qm::ItemGroup>();
    group->members = {page->items[0].get(), page->items[2].get()};
    group->mark = 1;
    for (auto *m : group->members) {
        m->grouped = true;
        m->group = group.get();
    }
    qm::ItemGroup *groupPtr = group.get();
    page->groups.push_back(std::move(group));
    int markedCommand = page->items[1]->commandIndex;

    auto expect = [](int m, double ratio, bool up) {
        return static_cast<int>(up ? std::ceil(m * ratio) : std::trunc(m * ratio));
    };
    std::array<int, 4> before = page->margins;
    std::array<int, 4> before2 = model.FindPageLayout(2)->margins;
    bool toggle = model.marginRoundUp;
    ASSERT_EQ(Capture(1, 400, 300), qm::CaptureResult::Captured);  // 54 -> 27 dpi
    ASSERT_EQ(model.Current(), page);
    EXPECT_EQ(model.marginRoundUp, !toggle);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(page->margins[i], expect(before[i], 0.5, !toggle)) << i;
        EXPECT_EQ(model.FindPageLayout(2)->margins[i], expect(before2[i], 0.5, !toggle)) << i;
    }
    // Items, marks and groups survive, re-attached to the new recording with its smaller boxes.
    ASSERT_EQ(page->items.size(), itemCount);
    EXPECT_EQ(page->items[1]->mark, 2);
    EXPECT_EQ(page->items[1]->commandIndex, markedCommand);
    EXPECT_EQ(page->items[1]->command, &model.commands->commands[markedCommand]);
    EXPECT_EQ(page->items[3]->disabled, 1);
    ASSERT_EQ(page->groups.size(), 1u);
    EXPECT_EQ(page->groups[0].get(), groupPtr);
    IntBox a = page->items[0]->viewBox, c = page->items[2]->viewBox;
    EXPECT_EQ(groupPtr->viewBox, (IntBox{std::min(a.x0, c.x0), std::min(a.y0, c.y0), std::max(a.x1, c.x1),
                                         std::max(a.y1, c.y1)}));
    const IntBox &v = model.viewDeviceBox;
    EXPECT_EQ(page->cropRect, (IntBox{v.x0 + page->margins[0], v.y0 + page->margins[1], v.x1 - page->margins[2],
                                      v.y1 - page->margins[3]}));

    // The next change rounds the other way.
    before = page->margins;
    ASSERT_EQ(Capture(1, 700, 500), qm::CaptureResult::Captured);  // 27 -> 45 dpi
    EXPECT_EQ(model.marginRoundUp, toggle);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(page->margins[i], expect(before[i], 45.0 / 27.0, toggle)) << i;
    // Same zoom again: nothing scales.
    before = page->margins;
    ASSERT_EQ(Capture(1, 700, 500), qm::CaptureResult::Captured);
    EXPECT_EQ(page->margins, before);
    EXPECT_EQ(model.marginRoundUp, toggle);
}

TEST_F(PageCaptureTest, OptionsAndMarginsApplyToRangesOfPages) {
    OpenPages(6);
    qm::PageModel &model = cd.model;
    ASSERT_EQ(Capture(2, 800, 600), qm::CaptureResult::Captured);
    qm::PageLayout *page = model.Current();
    qm::PageParseOptions opts;
    opts.noOutput = 1;
    opts.columnMode = 2;
    model.ApplyOptionsToPages(3, 5, opts);
    EXPECT_EQ(model.Current(), page);
    for (int p = 3; p <= 5; ++p) {
        ASSERT_NE(model.FindPageLayout(p), nullptr);
        EXPECT_EQ(model.FindPageLayout(p)->options, opts);
        EXPECT_FALSE(model.FindPageLayout(p)->itemsBuilt);
    }
    EXPECT_EQ(model.FindPageLayout(6), nullptr);

    const IntBox &v = model.viewDeviceBox;
    page->cropRect = IntBox{v.x0 + 9, v.y0 + 8, v.x1 - 7, v.y1 - 6};
    model.ApplyMarginsToPages(1, 4);
    EXPECT_EQ(model.Current(), page);
    for (int p = 1; p <= 4; ++p) EXPECT_EQ(model.FindPageLayout(p)->margins, (std::array<int, 4>{9, 8, 7, 6}));
    EXPECT_EQ(model.FindPageLayout(5)->margins, (std::array<int, 4>{0, 0, 0, 0}));
    // A page recorded later starts from the new default margins; page 3 keeps its options.
    ASSERT_EQ(Capture(6, 800, 600), qm::CaptureResult::Captured);
    EXPECT_EQ(model.Current()->margins, (std::array<int, 4>{9, 8, 7, 6}));
    ASSERT_EQ(Capture(3, 800, 600), qm::CaptureResult::Captured);
    EXPECT_EQ(model.Current()->options, opts);
    EXPECT_TRUE(model.Current()->itemsBuilt);
    EXPECT_FALSE(model.Current()->items.empty());
}

TEST_F(PageCaptureTest, CachesAreFlushedEveryTenLoadsAndOnlyTheCurrentPageIsHeld) {
    OpenPages(12);
    for (int p = 1; p <= 12; ++p) {
        ASSERT_EQ(Capture(p, 800, 600), qm::CaptureResult::Captured);
        EXPECT_EQ(cd.capture.PagesSinceFlush(), p <= qm::PageCapture::kLoadsPerFlush ? p : p - qm::PageCapture::kLoadsPerFlush);
        // Items of pages left behind no longer point at a released recording.
        if (p > 1) {
            for (auto &item : cd.model.FindPageLayout(p - 1)->items) EXPECT_EQ(item->command, nullptr);
        }
    }
    doc.Close();
    EXPECT_EQ(cd.Draw(1), qm::CaptureResult::Failed);
}

} // namespace
