// The view state a window keeps over a page's items: pointer, selection, screen rectangles and
// the crop rectangle's handles.
#include <gtest/gtest.h>

#include "extract/page_model.h"
#include "extract/region_model.h"

namespace {

using qm::IntBox;
using qm::ItemGroup;
using qm::PageItem;
using qm::PageViewState;

PageItem Item(int seq) {
    PageItem item;
    item.seq = seq;
    return item;
}

TEST(PageViewState, MarksFollowTheItemSequenceAndTheGroup) {
    PageViewState view;
    view.ShowPage(3);
    PageItem a = Item(4), b = Item(7);
    ItemGroup g1, g2;
    view.Of(a).selected = true;
    view.Of(a).screenRect = IntBox{1, 2, 3, 4};
    view.Of(g2).selected = true;
    EXPECT_FALSE(view.Get(b).selected);
    EXPECT_FALSE(view.Get(g1).selected);
    EXPECT_TRUE(view.Get(g2).selected);

    // The same page captured again gives new item records with the same sequence numbers.
    PageItem again = Item(4);
    EXPECT_TRUE(view.Get(again).selected);
    EXPECT_EQ(view.Get(again).screenRect, (IntBox{1, 2, 3, 4}));
    view.Of(b).selected = true;
    EXPECT_EQ(view.SelectedItems(), (std::vector<int>{4, 7}));

    view.ClearSelection();
    EXPECT_TRUE(view.SelectedItems().empty());
    EXPECT_FALSE(view.Get(g2).selected);
    EXPECT_EQ(view.Get(a).screenRect, (IntBox{1, 2, 3, 4}));  // only the selection goes

    // Showing the same page keeps everything; another page starts clear.
    view.Of(a).selected = true;
    view.ShowPage(3);
    EXPECT_TRUE(view.Get(a).selected);
    view.ShowPage(4);
    EXPECT_EQ(view.PageNumber(), 4);
    EXPECT_FALSE(view.Get(a).selected);
    EXPECT_EQ(view.Get(a).screenRect, IntBox{});
}

TEST(PageViewState, OneThingUnderThePointerAtATime) {
    PageViewState view;
    PageItem a = Item(0), b = Item(1);
    ItemGroup g;
    view.HoverOnly(a, 1);
    view.HoverOnly(b, 2);
    EXPECT_EQ(view.Get(a).hover, 0);
    EXPECT_EQ(view.Get(b).hover, 2);
    view.HoverOnly(g, 1);
    EXPECT_EQ(view.Get(b).hover, 0);
    EXPECT_EQ(view.Get(g).hover, 1);
    view.Of(a).selected = true;
    view.ClearHover();
    EXPECT_EQ(view.Get(g).hover, 0);
    EXPECT_TRUE(view.Get(a).selected);
}

TEST(PageViewState, CropHandlesSitOnTheCorners) {
    PageViewState view;
    view.SetCropRect(IntBox{10, 20, 110, 220});
    const auto &h = view.CropHandles();
    EXPECT_EQ(h[0], (IntBox{7, 17, 13, 23}));
    EXPECT_EQ(h[1], (IntBox{107, 17, 113, 23}));
    EXPECT_EQ(h[2], (IntBox{7, 217, 13, 223}));
    EXPECT_EQ(h[3], (IntBox{107, 217, 113, 223}));
    EXPECT_EQ(view.CropHandleAt(10, 20), 0);
    EXPECT_EQ(view.CropHandleAt(7, 17), 0);
    EXPECT_EQ(view.CropHandleAt(13, 23), -1);  // right and bottom edges are outside
    EXPECT_EQ(view.CropHandleAt(112, 222), 3);
    EXPECT_EQ(view.CropHandleAt(60, 120), -1);

    // A crop rectangle narrower than a handle: the handles overlap and the first one wins.
    view.SetCropRect(IntBox{50, 50, 52, 150});
    EXPECT_EQ(view.CropHandleAt(51, 50), 0);
    EXPECT_EQ(view.CropHandleAt(51, 150), 2);

    // The handles move with the rectangle and are dropped with the page.
    view.SetCropRect(IntBox{0, 0, 10, 10});
    EXPECT_EQ(view.CropHandleAt(51, 50), -1);
    view.ShowPage(2);
    EXPECT_EQ(view.CropHandles()[3], IntBox{});
}

} // namespace
