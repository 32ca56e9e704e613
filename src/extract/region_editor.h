#pragma once
// The user's region editing of the current page of a page model, with no window in it: pointer
// hit tests, hover and selection, grouping, marking items or groups "to Table" or "to Graphic",
// excluding them ("Disable"), moving the crop rectangle by its corner handles, and the page-wide
// choices (margins to the following pages, options to all pages, options as the defaults).
//
// Marks, disabled flags, groups, margins and crop rectangles are page data and stay with the page
// record (page_model.h). Hover, selection and where things are on screen belong to the editor
// (its PageViewState): a window places the page on screen, forwards pointer events and draws from
// what the editor holds. Screen rectangles are view-space boxes moved so that the view raster's
// top-left corner lands on the window's (ox, oy).
//
// Operations answer with selection codes: 0 nothing, 1 item(s), 2 group(s), 3 the margin zone
// (inside the page, outside the crop rectangle). A point is inside a rectangle when
// x0 <= x <= x1 and y0 <= y <= y1.
#include <array>
#include <string>
#include <vector>

#include "extract/geometry.h"
#include "extract/page_model.h"
#include "extract/region_model.h"
#include "options/page_edits.h"

namespace qm {

struct ConversionJob;
struct ConversionOptions;

class RegionEditor {
public:
    explicit RegionEditor(PageModel &model) : model_(model) {}

    PageModel &Model() const { return model_; }
    // Hover, selection and screen rectangles of the page shown (it starts over when the model's
    // current page changes).
    PageViewState &View();

    // Stores the screen rectangles of a draw with the view raster's top-left corner at (ox, oy):
    // the page, the crop rectangle, its handles, every group and every ungrouped item that is
    // drawn (paths, text runs that are not blank, pictures; shades and image masks have no usable
    // box and get an empty rectangle at the view's corner).
    void PlaceOnScreen(int ox, int oy);
    IntBox ScreenRect(const IntBox &viewBox) const;
    const IntBox &PageScreenRect() const { return pageScreen_; }
    const IntBox &CropScreenRect() const { return cropScreen_; }
    // The four crop handles (top-left, top-right, bottom-left, bottom-right) on screen.
    std::array<IntBox, 4> HandleScreenRects();
    // Whether a window draws the item: paths, text runs that are not blank, pictures, shades and
    // image masks (whose rectangle is empty).
    bool Drawn(const PageItem &item) const;

    // ---- pointer ----
    // Hover goes to the first group under the point, else to the nearest ungrouped item under it
    // (nearest top-left corner; at equal distance a picture beats anything else).
    int HitTest(int x, int y);
    // Rubber band: hover on exactly the ungrouped items whose screen rectangles lie inside `rect`.
    void HoverInRect(const IntBox &rect);
    // A click or a finished rubber band: the hovered groups, else the hovered items, become
    // selected; the others are deselected unless keepOthers (Ctrl).
    int CommitSelection(bool keepOthers);
    // No item hovered or selected.
    void ClearItemState();
    // What a right click at the point is on: the margin zone, a selected group or a selected item.
    int ContextTest(int x, int y);

    // ---- crop handles ----
    // 1 (and the handle remembered for a drag) when the point is on a handle, else 0.
    int HandleHit(int x, int y);
    void StartDrag(int x, int y);
    // Moves the dragged handle's corner of the crop rectangle with the pointer and sets the
    // page's margins from it. Nothing keeps the rectangle inside the page or its corners in order.
    void DragHandle(int x, int y);
    void EndDrag();
    // 1 top-left, 2 top-right, 3 bottom-left, 4 bottom-right, 0 none.
    int HitHandle() const { return hitHandle_; }
    int DraggedHandle() const { return dragHandle_; }

    // ---- regions ----
    // mark: 0 plain group, 1 "to Table", 2 "to Graphic". Selected groups get it; else one selected
    // ungrouped item gets it (and is deselected); else two or more become a new group with it.
    int SetMark(int mark);
    // enable 0 "Disable", else "Enable", on selected groups; else on one selected item; else two
    // or more selected items become a new group with it.
    int SetEnabled(int enable);
    // Selected groups are dissolved; their members become ungrouped.
    void Ungroup();
    // A group of the selected ungrouped items (page item order), appended to the page's groups;
    // null (and nothing made) when no such item is selected. The items stay selected.
    ItemGroup *NewGroupFromSelection();
    // Selects what lies inside `rect` (screen): the groups, or when there are none the ungrouped
    // items, as a rubber band would with nothing else selected. The selection code.
    int SelectInRect(const IntBox &rect);

    // ---- page-wide choices ----
    void ApplyMarginsToFollowingPages();
    // "Apply to All Pages": pages 1 .. pageCount get the current page's options.
    void ApplyToAllPages(int pageCount);
    // "Set to Default Setting": the current page's options become the job's page defaults (pages
    // not yet recorded start from them) and the saved defaults of the options (imageWholePage is
    // not saved).
    void SetToDefaultSetting(ConversionJob &job, ConversionOptions &options);

private:
    PageLayout *Page();
    bool Inside(int x, int y, const IntBox &r) const { return x >= r.x0 && x <= r.x1 && y >= r.y0 && y <= r.y1; }

    PageModel &model_;
    PageViewState view_;
    int ox_ = 0, oy_ = 0;
    IntBox pageScreen_, cropScreen_;
    int hitHandle_ = 0, dragHandle_ = 0;
    int pressX_ = 0, pressY_ = 0;
    IntBox savedCrop_;
};

// Applies to the model's current page every entry of `edits` that covers it, in order: its
// parse switches, its margins (points, at the page's view zoom) and its region actions, each on
// the items and groups inside the region's rectangle, through the editor's own operations.
void ApplyPageEdits(PageModel &model, const PageEdits &edits);
// ApplyPageEdits on the current page unless it has had them already (a page shown in the
// interactive converter is captured again by the conversion). True when they were applied now.
bool ApplyPageEditsOnce(PageModel &model, const PageEdits &edits);
// Every recorded page may get edits again (other edits were taken into the job).
void ForgetAppliedEdits(PageModel &model);

// The edits of a page model written down so that ApplyPageEdits on freshly captured pages gives
// them back: first an entry for every page with the default margins (and the job's default page
// options), then one per recorded page with its options, its margins and regions that recreate
// its marked and excluded items and then its groups in the order they were made. Margins and
// rectangles are converted to points at the current view zoom. A group or item that no rectangle
// can select alone (another item or group lies inside its box, or a group of one item) is
// written as well as it can be and named, one line each, in `inexact` when it is given.
PageEdits EditsFromModel(const PageModel &model, std::vector<std::string> *inexact = nullptr);

} // namespace qm
