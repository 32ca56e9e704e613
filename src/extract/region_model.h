#pragma once
// What a window shows over the items of the page it displays while the user edits regions: the
// item or group under the pointer, the selection, where each is drawn on screen and the handles of
// the crop rectangle. None of it changes a conversion, so the page data (page_model.h) keeps only
// geometry and the user's marks, and a window owns one of these per page it shows.
//
// Items are known by their sequence number, which stays when a page is captured again; groups by
// their address, which stays for as long as the group exists. Nothing here is ever dereferenced.
#include <array>
#include <map>
#include <vector>

#include "extract/geometry.h"

namespace qm {

struct PageItem;
struct ItemGroup;

class PageViewState {
public:
    // The view state of one item or group.
    struct Marks {
        int hover = 0;         // 0 the pointer is elsewhere; other values are the window's own
        bool selected = false;
        IntBox screenRect;     // where the window drew it
    };

    // Starts over for `pageNumber` when it is not the page shown so far (every mark is dropped).
    void ShowPage(int pageNumber);
    int PageNumber() const { return pageNumber_; }

    Marks &Of(const PageItem &item);
    Marks &Of(const ItemGroup &group);
    // The marks of an item or group, all clear when it has none.
    Marks Get(const PageItem &item) const;
    Marks Get(const ItemGroup &group) const;

    // Hover goes to one item or group at a time: the one given gets `hover`, all others 0.
    void HoverOnly(const PageItem &item, int hover);
    void HoverOnly(const ItemGroup &group, int hover);
    void ClearHover();
    void ClearSelection();
    // Drops what is kept about a group that is about to be freed (a group made later may get its
    // address).
    void Forget(const ItemGroup &group) { groups_.erase(&group); }
    // Sequence numbers of the selected items, ascending.
    std::vector<int> SelectedItems() const;

    // Square handles of 6 x 6 pixels centred on the corners of `cropRect`, in the order top-left,
    // top-right, bottom-left, bottom-right.
    void SetCropRect(const IntBox &cropRect);
    const std::array<IntBox, 4> &CropHandles() const { return cropHandles_; }
    // The handle (0-3, in the order above) containing point x, y, or -1. A point on a handle's
    // right or bottom edge is outside it; where handles overlap the first in that order wins.
    int CropHandleAt(int x, int y) const;

private:
    int pageNumber_ = 0;
    std::map<int, Marks> items_;
    std::map<const ItemGroup *, Marks> groups_;
    std::array<IntBox, 4> cropHandles_{};
};

} // namespace qm
