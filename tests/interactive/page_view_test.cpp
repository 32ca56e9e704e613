// The page view: painting of a captured page and its regions, pointer selection (hover, click,
// Ctrl+click, rubber band), the context menus and their commands, and crop handle dragging.
#include <gtest/gtest.h>

#include <QMenu>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>
#include <algorithm>
#include <vector>

#include "extract/page_capture.h"
#include "extract/region_editor.h"
#include "interactive/page_view.h"
#include "interactive/region_painter.h"
#include "support/captured_document.h"
#include "support/pdf_fixture.h"
#include "support/temp_dir.h"

namespace {

using qm::CommandKind;
using qm::PageItem;
using qm::PageView;

QPoint Centre(const qm::IntBox &b) { return QPoint((b.x0 + b.x1) / 2, (b.y0 + b.y1) / 2); }

// A document of square 300 pt pages, each with three words one under the other and a grey box,
// captured at 72 dpi into a view of 500 x 400 pixels (the page is drawn at (100, 50)).
class PageViewTest : public ::testing::Test {
protected:
    void Open(int pages = 1) {
        qmtest::PdfBuilder b;
        for (int i = 0; i < pages; ++i) {
            const int p = b.AddPage(300, 300);
            b.Text(p, 20, 250, "Alpha", 12);
            b.Text(p, 20, 200, "Beta", 12);
            b.Text(p, 20, 150, "Gamma", 12);
            b.FillRect(p, 150, 40, 80, 60, {0.5, 0.5, 0.5});
        }
        ASSERT_TRUE(b.Save(dir.File("doc.pdf")));
        ASSERT_TRUE(cd.Open(dir.File("doc.pdf")));
        pageCount = pages;
        Show(1);
        view.resize(500, 400);
        view.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
        view.SetModel(&editor, &cd.capture, pageCount);
    }
    void Show(int page) {
        ASSERT_EQ(cd.Draw(page, 300, 300), qm::CaptureResult::Captured);
        view.Redraw();  // the view raster is painted within the page run
        cd.doc.EndPageRun();
    }
    std::vector<PageItem *> Items(CommandKind kind) {
        std::vector<PageItem *> found;
        for (auto &item : cd.model.Current()->items)
            if (item->command && item->command->kind == kind && editor.Drawn(*item)) found.push_back(item.get());
        std::sort(found.begin(), found.end(), [](PageItem *a, PageItem *b) { return a->viewBox.y0 < b->viewBox.y0; });
        return found;
    }
    qm::IntBox Screen(const PageItem *item) { return editor.View().Get(*item).screenRect; }
    bool Selected(const PageItem *item) { return editor.View().Get(*item).selected; }
    QRgb Pixel(int x, int y) { return view.BackBuffer().pixel(x, y); }
    void Move(QPoint p) { QTest::mouseMove(&view, p); }
    void Click(QPoint p, Qt::KeyboardModifiers mods = {}) { QTest::mouseClick(&view, Qt::LeftButton, mods, p); }
    void CloseMenu() {
        if (QMenu *menu = view.OpenMenu()) menu->close();
        QTRY_VERIFY(!view.OpenMenu());
    }
    // Runs a command as the user would: through the open menu's entry.
    void Choose(int command) {
        QMenu *menu = view.OpenMenu();
        ASSERT_NE(menu, nullptr);
        auto *action = menu->findChild<QAction *>(QStringLiteral("command%1").arg(command));
        ASSERT_NE(action, nullptr) << command;
        action->trigger();
        QTRY_VERIFY(!view.OpenMenu());
    }

    qmtest::TempDir dir;
    qmtest::CapturedDocument cd;
    qm::RegionEditor editor{cd.model};
    PageView view;
    int pageCount = 0;
};

TEST_F(PageViewTest, PageIsCentredAndHoverOutlineFollowsThePointer) {
    Open();
    EXPECT_EQ(view.PageScreenRect(), QRect(100, 50, 300, 300));
    EXPECT_EQ(Pixel(5, 5), PageView::kBackground);
    EXPECT_EQ(qAlpha(Pixel(250, 20)), 255);
    const std::vector<PageItem *> words = Items(CommandKind::FillText);
    ASSERT_EQ(words.size(), 3u);
    const qm::IntBox alpha = Screen(words[0]);
    ASSERT_GE(alpha.x0, 100);  // placed on the page as drawn
    const int midY = (alpha.y0 + alpha.y1) / 2;
    EXPECT_NE(Pixel(alpha.x0, midY), qm::region_colours::kItemHovered);

    Move(Centre(alpha));
    EXPECT_EQ(editor.View().Get(*words[0]).hover, 1);
    EXPECT_EQ(Pixel(alpha.x0, midY), qm::region_colours::kItemHovered);
    // Off the page (grey background) the hover goes; the outline takes the kind colour again.
    Move(QPoint(20, 20));
    EXPECT_EQ(editor.View().Get(*words[0]).hover, 0);
    EXPECT_NE(Pixel(alpha.x0, midY), qm::region_colours::kItemHovered);
    EXPECT_FALSE(view.OpenMenu());
}

TEST_F(PageViewTest, ClickAndCtrlClickSelectWithoutMenuAndEmptyAreaClears) {
    Open();
    const std::vector<PageItem *> words = Items(CommandKind::FillText);
    ASSERT_EQ(words.size(), 3u);
    Move(Centre(Screen(words[0])));
    Click(Centre(Screen(words[0])));
    EXPECT_TRUE(Selected(words[0]));
    Move(Centre(Screen(words[1])));
    Click(Centre(Screen(words[1])), Qt::ControlModifier);
    EXPECT_TRUE(Selected(words[0]));
    EXPECT_TRUE(Selected(words[1]));
    EXPECT_FALSE(view.OpenMenu());
    const int midY = (Screen(words[1]).y0 + Screen(words[1]).y1) / 2;
    EXPECT_EQ(Pixel(Screen(words[1]).x0, midY), qm::region_colours::kItemSelected);

    // A plain click replaces the selection.
    Move(Centre(Screen(words[2])));
    Click(Centre(Screen(words[2])));
    EXPECT_FALSE(Selected(words[0]));
    EXPECT_FALSE(Selected(words[1]));
    EXPECT_TRUE(Selected(words[2]));
    // Empty page area clears it.
    const QPoint empty(300, 80);
    Move(empty);
    Click(empty);
    EXPECT_FALSE(Selected(words[2]));
    EXPECT_FALSE(view.OpenMenu());
}

TEST_F(PageViewTest, BandSelectsOpensRegionMenuInColumnsAndGroupsGetUnGroup) {
    Open();
    const std::vector<PageItem *> words = Items(CommandKind::FillText);
    ASSERT_EQ(words.size(), 3u);
    const QPoint from(Screen(words[0]).x0 - 5, Screen(words[0]).y0 - 5);
    const QPoint to(Screen(words[2]).x1 + 40, Screen(words[2]).y1 + 5);
    QTest::mousePress(&view, Qt::LeftButton, {}, from);
    Move(from + QPoint(10, 10));
    EXPECT_FALSE(view.Band().isEmpty());
    Move(to);
    EXPECT_EQ(view.Band(), QRect(from, to));
    for (PageItem *w : words) EXPECT_EQ(editor.View().Get(*w).hover, 1);
    QTest::mouseRelease(&view, Qt::LeftButton, {}, to);
    EXPECT_TRUE(view.Band().isEmpty());
    for (PageItem *w : words) EXPECT_TRUE(Selected(w));
    ASSERT_EQ(view.OpenMenuType(), PageView::ItemMenu);

    // Two columns: the marks, then the switches; no "UnGroup" on items.
    QMenu *menu = view.OpenMenu();
    auto x = [&](int command) {
        auto *b = menu->findChild<QToolButton *>(QStringLiteral("command%1").arg(command));
        return b ? b->mapTo(menu, QPoint(0, 0)).x() : -1;
    };
    QTRY_VERIFY(menu->isVisible());
    EXPECT_EQ(x(PageView::ToGraphic), x(PageView::ToTable));
    EXPECT_EQ(x(PageView::ToTable), x(PageView::MakeGroup));
    EXPECT_GT(x(PageView::Disable), x(PageView::MakeGroup));
    EXPECT_EQ(x(PageView::Disable), x(PageView::Enable));
    EXPECT_EQ(x(PageView::UnGroup), -1);
    Choose(PageView::MakeGroup);

    ASSERT_EQ(cd.model.Current()->groups.size(), 1u);
    const qm::ItemGroup &group = *cd.model.Current()->groups[0];
    EXPECT_EQ(group.mark, 0);
    EXPECT_EQ(group.members.size(), 3u);
    // A plain group is outlined dashed in green.
    const qm::IntBox g = editor.View().Get(group).screenRect;
    int green = 0, other = 0;
    for (int px = g.x0; px < g.x1; ++px) (Pixel(px, g.y1 - 1) == qm::region_colours::kGroupPlain ? green : other)++;
    EXPECT_GT(green, 0);
    EXPECT_GT(other, 0);

    // A click on the group selects it and offers "UnGroup" in a third column.
    const QPoint onGroup(g.x1 - 2, (g.y0 + g.y1) / 2);
    Move(onGroup);
    Click(onGroup);
    ASSERT_EQ(view.OpenMenuType(), PageView::GroupMenu);
    menu = view.OpenMenu();
    QTRY_VERIFY(menu->isVisible());
    EXPECT_GT(x(PageView::UnGroup), x(PageView::Disable));
    Choose(PageView::ToTable);
    EXPECT_EQ(group.mark, 1);
    // The table icon (compiled into the program) stands at the group's top-left corner.
    ASSERT_NE(qm::RegionIcon(1, true), nullptr);
    ASSERT_FALSE(qm::RegionIcon(1, true)->isNull());
    EXPECT_EQ(Pixel(g.x0 + 4, g.y0 + 4), qm::RegionIcon(1, true)->pixel(4, 4));
    EXPECT_EQ(qAlpha(qm::RegionIcon(1, true)->pixel(4, 4)), 255);
    EXPECT_EQ(qm::RegionIcon(0, false), nullptr);  // an item without a mark has no icon

    // Right click on the grey background: no menu, nothing selected any more.
    Move(QPoint(20, 20));
    QTest::mouseClick(&view, Qt::RightButton, {}, QPoint(20, 20));
    EXPECT_FALSE(view.OpenMenu());
    EXPECT_FALSE(editor.View().Get(group).selected);
    for (PageItem *w : words) EXPECT_FALSE(Selected(w));

    // Right click on the group again (hovered, committed) offers the group menu; UnGroup frees it.
    Move(onGroup);
    QTest::mouseClick(&view, Qt::RightButton, {}, onGroup);
    ASSERT_EQ(view.OpenMenuType(), PageView::GroupMenu);
    Choose(PageView::UnGroup);
    EXPECT_TRUE(cd.model.Current()->groups.empty());
    for (PageItem *w : words) EXPECT_FALSE(w->grouped);
}

TEST_F(PageViewTest, BandDraggedUpwardsIsNormalisedAndAnEmptyBandClears) {
    Open();
    const std::vector<PageItem *> words = Items(CommandKind::FillText);
    ASSERT_EQ(words.size(), 3u);
    const qm::IntBox beta = Screen(words[1]);
    Move(Centre(Screen(words[0])));
    Click(Centre(Screen(words[0])));
    ASSERT_TRUE(Selected(words[0]));
    // From below right to above left, around "Beta" only.
    const QPoint from(beta.x1 + 3, beta.y1 + 3), to(beta.x0 - 3, beta.y0 - 3);
    QTest::mousePress(&view, Qt::LeftButton, {}, from);
    Move(to);
    EXPECT_EQ(view.Band(), QRect(to, from));
    QTest::mouseRelease(&view, Qt::LeftButton, {}, to);
    EXPECT_TRUE(Selected(words[1]));
    EXPECT_FALSE(Selected(words[0]));
    EXPECT_EQ(view.OpenMenuType(), PageView::ItemMenu);
    CloseMenu();

    // A band over empty page area selects nothing, clears the selection and opens no menu.
    QTest::mousePress(&view, Qt::LeftButton, {}, QPoint(300, 60));
    Move(QPoint(330, 90));
    QTest::mouseRelease(&view, Qt::LeftButton, {}, QPoint(330, 90));
    EXPECT_FALSE(Selected(words[1]));
    EXPECT_FALSE(view.OpenMenu());
}

TEST_F(PageViewTest, DisableFillsTheItemAndTheMarginZoneHasItsOwnMenu) {
    Open();
    const std::vector<PageItem *> boxes = Items(CommandKind::FillPath);
    ASSERT_FALSE(boxes.empty());
    PageItem *box = boxes.back();
    const qm::IntBox r = Screen(box);
    Move(Centre(r));
    Click(Centre(r));
    EXPECT_TRUE(Selected(box));
    EXPECT_FALSE(view.OpenMenu());
    const QRgb before = Pixel(Centre(r).x(), Centre(r).y());
    QSignalSpy edited(&view, &PageView::RegionsEdited);
    QTest::mouseClick(&view, Qt::RightButton, {}, Centre(r));
    ASSERT_EQ(view.OpenMenuType(), PageView::ItemMenu);
    EXPECT_EQ(edited.count(), 0);  // selecting is no edit
    Choose(PageView::Disable);
    EXPECT_EQ(box->disabled, 1);
    EXPECT_EQ(edited.count(), 1);
    EXPECT_NE(Pixel(Centre(r).x(), Centre(r).y()), before);

    cd.model.SetCurrentMargins({30, 30, 30, 30});
    view.Redraw();
    const QPoint margin(110, 200);  // on the page, left of the crop rectangle
    Move(margin);
    QTest::mouseClick(&view, Qt::RightButton, {}, margin);
    ASSERT_EQ(view.OpenMenuType(), PageView::MarginMenu);
    QMenu *menu = view.OpenMenu();
    EXPECT_TRUE(menu->findChild<QAction *>(QStringLiteral("command%1").arg(PageView::ApplyToAfterPages)));
    EXPECT_TRUE(menu->findChild<QAction *>(QStringLiteral("command%1").arg(PageView::ApplyToAllPages)));
    EXPECT_FALSE(menu->findChild<QAction *>(QStringLiteral("command%1").arg(PageView::ToTable)));
    CloseMenu();
}

TEST_F(PageViewTest, ApplyToAfterPagesReachesShownAndUnseenLaterPagesOnly) {
    Open(10);
    for (int page : {1, 3, 5, 7}) Show(page);
    Show(5);
    cd.model.SetCurrentMargins({12, 14, 16, 18});
    view.RunCommand(PageView::ApplyToAfterPages);
    const std::array<int, 4> margins{12, 14, 16, 18};
    EXPECT_EQ(cd.model.FindPageLayout(7)->margins, margins);
    EXPECT_NE(cd.model.FindPageLayout(3)->margins, margins);
    EXPECT_NE(cd.model.FindPageLayout(1)->margins, margins);
    EXPECT_EQ(cd.model.FindPageLayout(6), nullptr);
    for (int page : {6, 10}) {
        Show(page);
        EXPECT_EQ(cd.model.CurrentMargins(), margins) << page;
    }
    Show(2);
    EXPECT_EQ(cd.model.CurrentMargins(), margins);  // not recorded before: the new default

    // "Apply to All Pages" reaches the earlier pages too.
    Show(4);
    cd.model.SetCurrentMargins({1, 2, 3, 4});
    view.RunCommand(PageView::ApplyToAllPages);
    for (int page : {1, 3, 9}) EXPECT_EQ(cd.model.FindPageLayout(page)->margins, (std::array<int, 4>{1, 2, 3, 4}));
}

TEST_F(PageViewTest, DraggingAHandleRepaintsEachMoveAndKeepsTheMargins) {
    Open();
    const qm::IntBox handle = editor.HandleScreenRects()[3];  // bottom-right
    const QPoint start = Centre(handle);
    const QPoint inside(start.x() - 40, start.y() - 30);
    const QRgb pageBefore = Pixel(start.x() - 20, start.y() - 15);
    QTest::mousePress(&view, Qt::LeftButton, {}, start);
    int draws = view.DrawCount();
    for (int step = 1; step <= 4; ++step) {
        Move(start + (inside - start) * step / 4);
        EXPECT_EQ(view.DrawCount(), draws + 1) << step;
        draws = view.DrawCount();
    }
    EXPECT_TRUE(view.Band().isEmpty());  // a handle drag is no rubber band
    QTest::mouseRelease(&view, Qt::LeftButton, {}, inside);
    EXPECT_EQ(cd.model.CurrentMargins(), (std::array<int, 4>{0, 0, 40, 30}));
    EXPECT_EQ(Pixel(inside.x() - 3, inside.y() - 3 + 3), qm::region_colours::kHandle);
    EXPECT_NE(Pixel(start.x() - 20, start.y() - 15), pageBefore);  // now in the shaded margin zone
    EXPECT_FALSE(view.OpenMenu());

    Show(1);  // captured again: the margins stay
    EXPECT_EQ(cd.model.CurrentMargins(), (std::array<int, 4>{0, 0, 40, 30}));
}

// A raster as the engine lays it out: rows of `stride` bytes.
fz_pixmap Raster(unsigned char *samples, int w, int h, int n, int stride) {
    fz_pixmap p{};
    p.w = w, p.h = h, p.n = static_cast<unsigned char>(n), p.alpha = n == 2 || n == 4, p.stride = stride;
    p.samples = samples;
    return p;
}

TEST(RegionPainter, RastersOfTheEngineBecomeImages) {
    unsigned char bgra[8] = {10, 20, 30, 255, 0, 0, 0, 0};
    fz_pixmap colour = Raster(bgra, 2, 1, 4, 8);
    EXPECT_EQ(qm::ViewRasterImage(&colour).pixel(0, 0), qRgba(30, 20, 10, 255));

    unsigned char grey[12] = {200, 255, 100, 255, 0, 0, 0, 0, 50, 255, 0, 0};  // rows of 6 bytes
    fz_pixmap twoRows = Raster(grey, 2, 2, 2, 6);
    const QImage image = qm::ViewRasterImage(&twoRows);
    ASSERT_EQ(image.size(), QSize(2, 2));
    EXPECT_EQ(image.pixel(1, 0), qRgba(100, 100, 100, 255));
    EXPECT_EQ(image.pixel(0, 1), qRgba(0, 0, 0, 0));
    EXPECT_EQ(image.pixel(1, 1), qRgba(50, 50, 50, 255));  // the second row starts at its stride

    fz_pixmap rgb = Raster(bgra, 2, 1, 3, 8);
    EXPECT_TRUE(qm::ViewRasterImage(&rgb).isNull());
    EXPECT_TRUE(qm::ViewRasterImage(nullptr).isNull());
}

} // namespace
