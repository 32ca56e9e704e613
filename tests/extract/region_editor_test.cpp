// Region editing of a page: what the pointer hits, selection, groups and marks, the crop handles,
// the page-wide choices, and the edits file applied to a captured page.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "extract/page_model.h"
#include "extract/region_editor.h"
#include "options/conversion_job.h"
#include "options/conversion_options.h"
#include "options/page_edits.h"

namespace {

using qm::CommandKind;
using qm::IntBox;
using qm::PageItem;

// A page model with one recorded page whose items are built by hand; view space is the page
// at `zoom` (view pixels per point), with the view device box at (vx, vy).
class EditedPage {
public:
    explicit EditedPage(int pageNumber = 1, float zoom = 1, int vx = 0, int vy = 0) {
        model.viewTransform = fz_scale(zoom, zoom);
        model.viewDeviceBox = IntBox{vx, vy, vx + 600, vy + 800};
        Select(pageNumber);
    }
    void Select(int pageNumber) {
        model.SelectPageLayout(pageNumber);
        model.SetCurrentMargins(model.Current()->margins);
    }
    PageItem *Add(CommandKind kind, const IntBox &box, const std::string &text = "") {
        auto cmd = std::make_unique<qm::DrawCommand>();
        cmd->kind = kind;
        cmd->viewBox = box;
        auto item = std::make_unique<PageItem>();
        item->seq = static_cast<int>(model.Current()->items.size());
        item->viewBox = box;
        if (qm::IsTextKind(kind)) {
            cmd->text = std::make_unique<qm::CapturedText>();
            for (char c : text.empty() ? std::string("x") : text) {
                qm::GlyphRecord g;
                g.glyphId = c == ' ' ? 3 : 20;
                g.unicode = static_cast<unsigned char>(c);
                g.viewBox = box;
                cmd->text->glyphs.push_back(g);
            }
            item->glyphCount = static_cast<int>(cmd->text->glyphs.size());
        }
        item->command = cmd.get();
        commands.push_back(std::move(cmd));
        model.Current()->items.push_back(std::move(item));
        return model.Current()->items.back().get();
    }
    PageItem *Text(const IntBox &box, const std::string &text = "word") { return Add(CommandKind::FillText, box, text); }
    qm::PageLayout &Page() { return *model.Current(); }

    std::vector<std::unique_ptr<qm::DrawCommand>> commands;  // outlive the model's items
    qm::PageModel model;
};

// Selects exactly the given items (as clicks with Ctrl held would).
void Select(qm::RegionEditor &editor, const std::vector<PageItem *> &items) {
    editor.ClearItemState();
    for (PageItem *item : items) editor.View().Of(*item).hover = 1;
    editor.CommitSelection(false);
}

TEST(RegionEditorPointer, NearestCornerWinsAndAPictureWinsTies) {
    EditedPage p;
    qm::RegionEditor editor(p.model);
    PageItem *far = p.Text(IntBox{100, 100, 300, 300});
    PageItem *near = p.Add(CommandKind::FillPath, IntBox{140, 140, 300, 300});
    PageItem *tieText = p.Text(IntBox{400, 400, 500, 500});
    PageItem *tieImage = p.Add(CommandKind::FillImage, IntBox{400, 400, 480, 480});
    PageItem *clip = p.Add(CommandKind::ClipPath, IntBox{0, 0, 600, 800});  // never hit
    editor.PlaceOnScreen(0, 0);

    EXPECT_EQ(editor.HitTest(150, 150), 1);
    EXPECT_EQ(editor.View().Get(*near).hover, 1);
    EXPECT_EQ(editor.View().Get(*far).hover, 0);
    EXPECT_EQ(editor.View().Get(*clip).hover, 0);

    // The text comes first in the list and is as near: the later picture still wins.
    EXPECT_EQ(editor.HitTest(410, 410), 1);
    EXPECT_EQ(editor.View().Get(*tieImage).hover, 1);
    EXPECT_EQ(editor.View().Get(*tieText).hover, 0);
    EXPECT_EQ(editor.View().Get(*near).hover, 0);  // hover moved on

    // Borders count; beyond them nothing is hovered any more.
    EXPECT_EQ(editor.HitTest(500, 500), 1);
    EXPECT_EQ(editor.View().Get(*tieText).hover, 1);
    EXPECT_EQ(editor.HitTest(550, 700), 0);
    EXPECT_EQ(editor.View().Get(*tieText).hover, 0);
}

TEST(RegionEditorPointer, ScreenOffsetMarginZoneGroupsAndContextMenu) {
    EditedPage p(1, 1, 10, 20);  // view device box starts at (10, 20)
    qm::RegionEditor editor(p.model);
    PageItem *a = p.Text(IntBox{110, 120, 210, 140});
    PageItem *b = p.Text(IntBox{110, 160, 210, 180});
    PageItem *c = p.Text(IntBox{300, 300, 400, 320});
    p.model.SetCurrentMargins({50, 50, 50, 50});
    editor.PlaceOnScreen(5, 5);  // screen = view - (10, 20) + (5, 5)
    EXPECT_EQ(editor.PageScreenRect(), (IntBox{5, 5, 605, 805}));
    EXPECT_EQ(editor.CropScreenRect(), (IntBox{55, 55, 555, 755}));

    EXPECT_EQ(editor.HitTest(20, 400), 3);  // on the page, outside the crop rectangle
    EXPECT_EQ(editor.HitTest(104, 110), 0);  // a is drawn at (105, 105) .. (205, 125)
    EXPECT_EQ(editor.HitTest(105, 105), 1);
    EXPECT_EQ(editor.View().Get(*a).hover, 1);
    EXPECT_EQ(editor.CommitSelection(false), 1);
    EXPECT_TRUE(editor.View().Get(*a).selected);
    EXPECT_EQ(editor.ContextTest(205, 125), 1);
    EXPECT_EQ(editor.ContextTest(105, 150), 0);  // b is not selected

    // Ctrl-click adds b; the two become a group, which is hit before the items under it.
    editor.HitTest(105, 150);
    editor.CommitSelection(true);
    EXPECT_TRUE(editor.View().Get(*a).selected && editor.View().Get(*b).selected);
    ASSERT_EQ(editor.SetMark(0), 2);
    EXPECT_EQ(editor.HitTest(150, 110), 2);
    EXPECT_EQ(editor.CommitSelection(false), 2);
    EXPECT_EQ(editor.ContextTest(150, 110), 2);

    // A rubber band over everything hovers only the ungrouped item.
    editor.ClearItemState();
    editor.HoverInRect(IntBox{0, 0, 700, 900});
    EXPECT_EQ(editor.View().Get(*c).hover, 1);
    EXPECT_EQ(editor.View().Get(*a).hover, 0);
}

TEST(RegionEditorRegions, TableOnTwoGroupsOnOneMarksAndDisableOnThreeGroups) {
    EditedPage p;
    qm::RegionEditor editor(p.model);
    PageItem *a = p.Text(IntBox{10, 10, 50, 20});
    PageItem *b = p.Text(IntBox{60, 10, 90, 20});
    PageItem *c = p.Text(IntBox{10, 30, 50, 40});
    PageItem *d = p.Text(IntBox{60, 30, 90, 40});
    PageItem *e = p.Text(IntBox{10, 50, 50, 60});
    editor.PlaceOnScreen(0, 0);

    EXPECT_EQ(editor.SetMark(1), 0);  // nothing selected: nothing changes
    EXPECT_TRUE(p.Page().groups.empty());

    Select(editor, {b, a});
    ASSERT_EQ(editor.SetMark(1), 2);
    ASSERT_EQ(p.Page().groups.size(), 1u);
    const qm::ItemGroup &table = *p.Page().groups[0];
    EXPECT_EQ(table.mark, 1);
    EXPECT_EQ(table.members, (std::vector<PageItem *>{a, b}));  // page item order
    EXPECT_EQ(table.viewBox, (IntBox{10, 10, 90, 20}));
    EXPECT_TRUE(a->grouped && a->group == &table && b->group == &table);
    EXPECT_EQ(a->mark, 0);

    Select(editor, {c});
    EXPECT_EQ(editor.SetMark(1), 1);
    EXPECT_EQ(c->mark, 1);
    EXPECT_FALSE(c->grouped);
    EXPECT_FALSE(editor.View().Get(*c).selected);
    EXPECT_EQ(p.Page().groups.size(), 1u);

    Select(editor, {c, d, e});
    ASSERT_EQ(editor.SetEnabled(0), 2);
    ASSERT_EQ(p.Page().groups.size(), 2u);
    const qm::ItemGroup &off = *p.Page().groups[1];
    EXPECT_EQ(off.disabled, 1);
    EXPECT_EQ(off.members.size(), 3u);
    EXPECT_EQ(c->disabled, 0);  // the group carries the flag

    // Selected groups take marks and flags before any item.
    editor.PlaceOnScreen(0, 0);
    editor.HitTest(20, 55);
    editor.CommitSelection(false);
    EXPECT_EQ(editor.SetEnabled(1), 2);
    EXPECT_EQ(off.disabled, 0);
    EXPECT_EQ(editor.SetMark(2), 2);
    EXPECT_EQ(off.mark, 2);
    EXPECT_EQ(table.mark, 1);
}

TEST(RegionEditorRegions, UngroupFreesTheGroupAndNoEmptyGroupIsEverMade) {
    EditedPage p;
    qm::RegionEditor editor(p.model);
    PageItem *a = p.Text(IntBox{10, 10, 50, 20});
    PageItem *b = p.Text(IntBox{60, 10, 90, 20});
    editor.PlaceOnScreen(0, 0);
    Select(editor, {a, b});
    ASSERT_EQ(editor.SetMark(1), 2);
    // a and b stay selected though grouped now: "Disable" must not make a group of nothing.
    EXPECT_EQ(editor.SetEnabled(0), 1);
    EXPECT_EQ(p.Page().groups.size(), 1u);
    EXPECT_EQ(a->disabled, 1);
    EXPECT_EQ(b->disabled, 1);
    EXPECT_EQ(editor.NewGroupFromSelection(), nullptr);

    editor.HitTest(20, 15);
    ASSERT_EQ(editor.CommitSelection(false), 2);
    editor.Ungroup();
    EXPECT_TRUE(p.Page().groups.empty());
    EXPECT_FALSE(a->grouped || b->grouped);
    EXPECT_EQ(a->group, nullptr);

    // A group made afterwards (perhaps where the old one lived) starts unselected.
    Select(editor, {a, b});
    ASSERT_EQ(editor.SetMark(0), 2);
    EXPECT_FALSE(editor.View().Get(*p.Page().groups[0]).selected);
    EXPECT_EQ(editor.SetMark(2), 0);  // no group selected, no ungrouped item selected
}

TEST(RegionEditorHandles, DraggingACornerMovesTheCropAndTheMargins) {
    EditedPage p(1, 1, 0, 0);
    qm::RegionEditor editor(p.model);
    p.model.SetCurrentMargins({20, 30, 40, 50});
    editor.PlaceOnScreen(100, 100);
    const auto handles = editor.HandleScreenRects();
    EXPECT_EQ(handles[3], (IntBox{657, 847, 663, 853}));  // around (560, 750) on screen

    EXPECT_EQ(editor.HandleHit(300, 300), 0);
    ASSERT_EQ(editor.HandleHit(660, 850), 1);
    EXPECT_EQ(editor.HitHandle(), 4);
    editor.StartDrag(660, 850);
    editor.DragHandle(670, 860);
    EXPECT_EQ(p.Page().cropRect, (IntBox{20, 30, 570, 760}));
    EXPECT_EQ(p.Page().margins, (std::array<int, 4>{20, 30, 30, 40}));
    EXPECT_EQ(editor.CropScreenRect(), (IntBox{120, 130, 670, 860}));
    editor.DragHandle(665, 850);  // measured from the press point, not the last move
    EXPECT_EQ(p.Page().margins, (std::array<int, 4>{20, 30, 35, 50}));
    editor.EndDrag();
    editor.DragHandle(0, 0);  // no drag: nothing moves
    EXPECT_EQ(p.Page().margins, (std::array<int, 4>{20, 30, 35, 50}));
}

TEST(RegionEditorPages, MarginsToFollowingPagesAndOptionsToAllPages) {
    EditedPage p(1);
    qm::ConversionJob job;
    job.pageDefaults.paragraphCheck = 0;
    p.model.job = &job;
    p.Select(2);
    p.Select(4);
    p.Select(3);
    p.model.SetCurrentMargins({5, 6, 7, 8});
    qm::RegionEditor editor(p.model);
    editor.ApplyMarginsToFollowingPages();
    EXPECT_EQ(p.model.FindPageLayout(4)->margins, (std::array<int, 4>{5, 6, 7, 8}));
    EXPECT_EQ(p.model.FindPageLayout(2)->margins, (std::array<int, 4>{}));
    EXPECT_EQ(p.model.FindPageLayout(1)->margins, (std::array<int, 4>{}));
    EXPECT_EQ(p.model.FindPageLayout(5), nullptr);  // not made, but starts from the defaults
    EXPECT_EQ(p.model.defaultMargins, (std::array<int, 4>{5, 6, 7, 8}));

    p.Page().options.columnMode = 2;
    p.Page().options.noOutput = 1;
    editor.ApplyToAllPages(6);
    for (int page = 1; page <= 6; ++page) {
        ASSERT_NE(p.model.FindPageLayout(page), nullptr) << page;
        EXPECT_EQ(p.model.FindPageLayout(page)->options.columnMode, 2) << page;
        EXPECT_EQ(p.model.FindPageLayout(page)->options.noOutput, 1) << page;
    }
    EXPECT_EQ(p.model.FindPageLayout(6)->margins, (std::array<int, 4>{5, 6, 7, 8}));
    EXPECT_EQ(p.model.Current()->pageNumber, 3);
    EXPECT_EQ(p.model.FindPageLayout(7), nullptr);

    // "Set to Default Setting": the page's options become the defaults, imageWholePage unsaved.
    qm::ConversionOptions options;
    p.Page().options.imageWholePage = 1;
    editor.SetToDefaultSetting(job, options);
    EXPECT_EQ(job.pageDefaults, p.Page().options);
    EXPECT_EQ(options.PageDefaults().columnMode, 2);
    EXPECT_EQ(options.PageDefaults().imageWholePage, 0);
}

TEST(RegionEditorEdits, RectanglesAndMarginsAreInPointsAndLaterEntriesWin) {
    EditedPage p(2, 0.5f);  // 36 dpi view: a point is half a pixel
    PageItem *head = p.Text(IntBox{50, 5, 250, 15}, "Running head");
    PageItem *x = p.Text(IntBox{50, 100, 100, 110});
    PageItem *y = p.Text(IntBox{110, 100, 160, 110});
    PageItem *pic = p.Add(CommandKind::FillImage, IntBox{50, 200, 150, 300});
    PageItem *outside = p.Text(IntBox{50, 400, 100, 410});

    std::string error;
    qm::PageEdits edits;
    ASSERT_TRUE(qm::ParsePageEdits(R"({"pages": [
        {"pages": "1,3", "options": {"noOutput": true}, "regions": [{"rect": [0, 0, 2000, 2000], "action": "disable"}]},
        {"pages": "2", "options": {"columns": "multi", "alignCheck": false}, "margins": {"top": 40, "left": 11},
         "regions": [{"rect": [100, 200, 320, 220], "action": "table"},
                     {"rect": [100, 400, 300, 600], "action": "graphic"},
                     {"rect": [0, 0, 1, 1], "action": "disable"}]},
        {"pages": "all", "options": {"columns": "single"}, "margins": {"left": 20}}]})",
                                   edits, error))
        << error;
    qm::ApplyPageEdits(p.model, edits);

    const qm::PageLayout &page = p.Page();
    EXPECT_EQ(page.options.noOutput, 0);      // entry for other pages
    EXPECT_EQ(page.options.columnMode, 1);    // the last entry wins
    EXPECT_EQ(page.options.alignCheck, 0);    // set earlier, untouched later
    EXPECT_EQ(page.margins, (std::array<int, 4>{10, 20, 0, 0}));
    EXPECT_EQ(page.cropRect, (IntBox{10, 20, 600, 800}));
    ASSERT_EQ(page.groups.size(), 1u);
    EXPECT_EQ(page.groups[0]->mark, 1);
    EXPECT_EQ(page.groups[0]->members, (std::vector<PageItem *>{x, y}));
    EXPECT_EQ(pic->mark, 2);  // one item: marked, not grouped
    EXPECT_FALSE(pic->grouped);
    EXPECT_EQ(head->disabled + outside->disabled, 0);  // the empty corner region holds nothing
}

} // namespace
