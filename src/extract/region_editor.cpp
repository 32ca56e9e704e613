#include "extract/region_editor.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "options/conversion_job.h"
#include "options/conversion_options.h"

namespace qm {

PageViewState &RegionEditor::View() {
    Page();
    return view_;
}

PageLayout *RegionEditor::Page() {
    PageLayout *page = model_.Current();
    if (page && page->pageNumber != view_.PageNumber()) {
        view_.ShowPage(page->pageNumber);
        hitHandle_ = dragHandle_ = 0;
    }
    return page;
}

namespace {

// Items a window draws and the user can hover and select.
bool DrawnItem(const PageModel &model, const PageItem &item) {
    if (!item.command) return false;
    switch (item.command->kind) {
    case CommandKind::FillPath:
    case CommandKind::StrokePath:
    case CommandKind::FillShade:
    case CommandKind::FillImage:
    case CommandKind::FillImageMask:
        return true;
    case CommandKind::FillText:
    case CommandKind::StrokeText:
        return !model.IsBlankRun(item);
    default:
        return false;
    }
}

// The view box a drawn item is placed on screen with: shades and image masks have no usable box
// of their own and sit at the view's corner.
IntBox PlacedBox(const PageItem &item) {
    const CommandKind kind = item.command ? item.command->kind : CommandKind::FillPath;
    return kind == CommandKind::FillShade || kind == CommandKind::FillImageMask ? IntBox{} : item.viewBox;
}

} // namespace

bool RegionEditor::Drawn(const PageItem &item) const { return DrawnItem(model_, item); }

IntBox RegionEditor::ScreenRect(const IntBox &b) const {
    const IntBox &v = model_.viewDeviceBox;
    return IntBox{b.x0 - v.x0 + ox_, b.y0 - v.y0 + oy_, b.x1 - v.x0 + ox_, b.y1 - v.y0 + oy_};
}

void RegionEditor::PlaceOnScreen(int ox, int oy) {
    PageLayout *page = Page();
    ox_ = ox;
    oy_ = oy;
    pageScreen_ = ScreenRect(model_.viewDeviceBox);
    if (!page) return;
    cropScreen_ = ScreenRect(page->cropRect);
    view_.SetCropRect(page->cropRect);
    for (const auto &item : page->items) {
        if (item->grouped || !Drawn(*item)) continue;
        view_.Of(*item).screenRect = ScreenRect(PlacedBox(*item));
    }
    for (const auto &group : page->groups) view_.Of(*group).screenRect = ScreenRect(group->viewBox);
}

std::array<IntBox, 4> RegionEditor::HandleScreenRects() {
    std::array<IntBox, 4> rects{};
    if (PageLayout *page = Page()) {
        view_.SetCropRect(page->cropRect);
        for (size_t i = 0; i < 4; ++i) rects[i] = ScreenRect(view_.CropHandles()[i]);
    }
    return rects;
}

int RegionEditor::HitTest(int x, int y) {
    PageLayout *page = Page();
    if (!page) return 0;
    if (Inside(x, y, pageScreen_) && !Inside(x, y, cropScreen_)) return 3;
    for (const auto &group : page->groups) {
        if (Inside(x, y, view_.Get(*group).screenRect)) {
            view_.HoverOnly(*group, 1);
            return 2;
        }
    }
    const PageItem *best = nullptr;
    long long bestDistance = 0;
    for (const auto &item : page->items) {
        if (item->grouped || !Drawn(*item) || !IsDisplayableKind(item->command->kind)) continue;
        const IntBox r = view_.Get(*item).screenRect;
        if (!Inside(x, y, r)) continue;
        const double dx = static_cast<double>(x) - r.x0, dy = static_cast<double>(y) - r.y0;
        const long long distance = static_cast<long long>(std::sqrt(dx * dx + dy * dy));
        const bool image = item->command->kind == CommandKind::FillImage;
        const bool bestImage = best && best->command->kind == CommandKind::FillImage;
        if (!best || distance < bestDistance || (distance == bestDistance && image && !bestImage)) {
            best = item.get();
            bestDistance = distance;
        }
    }
    if (!best) {
        view_.ClearHover();
        return 0;
    }
    view_.HoverOnly(*best, 1);
    return 1;
}

void RegionEditor::HoverInRect(const IntBox &rect) {
    PageLayout *page = Page();
    if (!page) return;
    for (const auto &item : page->items) {
        if (item->grouped) continue;
        const IntBox r = view_.Get(*item).screenRect;
        const bool inside = Drawn(*item) && r.x0 >= rect.x0 && r.y0 >= rect.y0 && r.x1 <= rect.x1 && r.y1 <= rect.y1;
        if (inside) view_.Of(*item).hover = 1;
        else if (view_.Get(*item).hover != 0) view_.Of(*item).hover = 0;
    }
}

int RegionEditor::CommitSelection(bool keepOthers) {
    PageLayout *page = Page();
    if (!page) return 0;
    bool anyGroup = false;
    for (const auto &group : page->groups) {
        PageViewState::Marks &m = view_.Of(*group);
        if (m.hover == 1) {
            m.selected = true;
            m.hover = 0;
            anyGroup = true;
        } else if (!keepOthers) {
            m.selected = false;
        }
    }
    if (anyGroup) return 2;
    bool anyItem = false;
    for (const auto &item : page->items) {
        const PageViewState::Marks now = view_.Get(*item);
        if (now.hover == 1) {
            PageViewState::Marks &m = view_.Of(*item);
            m.selected = true;
            m.hover = 0;
            anyItem = true;
        } else if (!keepOthers && now.selected) {
            view_.Of(*item).selected = false;
        }
    }
    return anyItem ? 1 : 0;
}

void RegionEditor::ClearItemState() {
    PageLayout *page = Page();
    if (!page) return;
    for (const auto &item : page->items) {
        const PageViewState::Marks now = view_.Get(*item);
        if (now.hover != 0 || now.selected) {
            PageViewState::Marks &m = view_.Of(*item);
            m.hover = 0;
            m.selected = false;
        }
    }
}

int RegionEditor::ContextTest(int x, int y) {
    PageLayout *page = Page();
    if (!page) return 0;
    if (Inside(x, y, pageScreen_) && !Inside(x, y, cropScreen_)) return 3;
    for (const auto &group : page->groups) {
        const PageViewState::Marks m = view_.Get(*group);
        if (m.selected && Inside(x, y, m.screenRect)) return 2;
    }
    for (const auto &item : page->items) {
        if (item->grouped || !Drawn(*item) || !IsDisplayableKind(item->command->kind)) continue;
        const PageViewState::Marks m = view_.Get(*item);
        if (m.selected && Inside(x, y, m.screenRect)) return 1;
    }
    return 0;
}

int RegionEditor::HandleHit(int x, int y) {
    PageLayout *page = Page();
    hitHandle_ = 0;
    if (!page) return 0;
    view_.SetCropRect(page->cropRect);
    // Back to view space, where the handles are kept.
    const int handle = view_.CropHandleAt(x - ox_ + model_.viewDeviceBox.x0, y - oy_ + model_.viewDeviceBox.y0);
    if (handle < 0) return 0;
    hitHandle_ = handle + 1;
    return 1;
}

void RegionEditor::StartDrag(int x, int y) {
    PageLayout *page = Page();
    pressX_ = x;
    pressY_ = y;
    dragHandle_ = page ? hitHandle_ : 0;
    if (page) savedCrop_ = page->cropRect;
}

void RegionEditor::DragHandle(int x, int y) {
    PageLayout *page = Page();
    if (!page || dragHandle_ < 1 || dragHandle_ > 4) return;
    const int dx = x - pressX_, dy = y - pressY_;
    IntBox crop = savedCrop_;
    if (dragHandle_ == 1 || dragHandle_ == 3) crop.x0 += dx;
    else crop.x1 += dx;
    if (dragHandle_ == 1 || dragHandle_ == 2) crop.y0 += dy;
    else crop.y1 += dy;
    const IntBox &v = model_.viewDeviceBox;
    model_.SetCurrentMargins({crop.x0 - v.x0, crop.y0 - v.y0, v.x1 - crop.x1, v.y1 - crop.y1});
    view_.SetCropRect(page->cropRect);
    cropScreen_ = ScreenRect(page->cropRect);
}

void RegionEditor::EndDrag() { hitHandle_ = dragHandle_ = 0; }

ItemGroup *RegionEditor::NewGroupFromSelection() {
    PageLayout *page = Page();
    if (!page) return nullptr;
    auto group = std::make_unique<ItemGroup>();
    for (const auto &item : page->items) {
        if (item->grouped || !view_.Get(*item).selected) continue;
        group->viewBox = group->members.empty() ? item->viewBox : Union(group->viewBox, item->viewBox);
        group->members.push_back(item.get());
    }
    // A group of nothing would be written and shown as a region of no size.
    if (group->members.empty()) return nullptr;
    for (PageItem *member : group->members) {
        member->grouped = true;
        member->group = group.get();
    }
    page->groups.push_back(std::move(group));
    ItemGroup *made = page->groups.back().get();
    view_.Of(*made).screenRect = ScreenRect(made->viewBox);
    return made;
}

int RegionEditor::SetMark(int mark) {
    PageLayout *page = Page();
    if (!page) return 0;
    bool anyGroup = false;
    for (const auto &group : page->groups)
        if (view_.Get(*group).selected) {
            group->mark = mark;
            anyGroup = true;
        }
    if (anyGroup) return 2;
    PageItem *only = nullptr;
    int count = 0;
    for (const auto &item : page->items)
        if (!item->grouped && view_.Get(*item).selected) {
            only = item.get();
            ++count;
        }
    if (count == 0) return 0;
    if (count == 1) {
        only->mark = mark;
        view_.Of(*only).selected = false;
        return 1;
    }
    NewGroupFromSelection()->mark = mark;
    return 2;
}

int RegionEditor::SetEnabled(int enable) {
    PageLayout *page = Page();
    if (!page) return 0;
    const int disabled = enable == 0 ? 1 : 0;
    bool anyGroup = false;
    for (const auto &group : page->groups)
        if (view_.Get(*group).selected) {
            group->disabled = disabled;
            anyGroup = true;
        }
    if (anyGroup) return 2;
    std::vector<PageItem *> selected;
    for (const auto &item : page->items)
        if (view_.Get(*item).selected) selected.push_back(item.get());
    if (selected.empty()) return 0;
    if (selected.size() == 1) {
        selected.front()->disabled = disabled;
        return 1;
    }
    if (ItemGroup *group = NewGroupFromSelection()) {
        group->disabled = disabled;
        return 2;
    }
    // Every selected item is in a group already (selected, then grouped by a mark): no new group
    // can hold them, so each gets the value itself.
    for (PageItem *item : selected) item->disabled = disabled;
    return 1;
}

void RegionEditor::Ungroup() {
    PageLayout *page = Page();
    if (!page) return;
    auto &groups = page->groups;
    for (auto it = groups.begin(); it != groups.end();) {
        if (!view_.Get(**it).selected) {
            ++it;
            continue;
        }
        for (PageItem *member : (*it)->members) {
            member->grouped = false;
            member->group = nullptr;
        }
        view_.Forget(**it);
        it = groups.erase(it);
    }
}

int RegionEditor::SelectInRect(const IntBox &rect) {
    PageLayout *page = Page();
    if (!page) return 0;
    view_.ClearHover();
    view_.ClearSelection();
    for (const auto &group : page->groups) {
        const IntBox r = view_.Get(*group).screenRect;
        if (r.x0 >= rect.x0 && r.y0 >= rect.y0 && r.x1 <= rect.x1 && r.y1 <= rect.y1) view_.Of(*group).hover = 1;
    }
    HoverInRect(rect);
    const int code = CommitSelection(false);
    view_.ClearHover();
    return code;
}

void RegionEditor::ApplyMarginsToFollowingPages() {
    if (Page()) model_.ApplyMarginsToFollowingPages();
}

void RegionEditor::ApplyToAllPages(int pageCount) {
    if (PageLayout *page = Page()) model_.ApplyOptionsToPages(1, pageCount, page->options);
}

void RegionEditor::SetToDefaultSetting(ConversionJob &job, ConversionOptions &options) {
    PageLayout *page = Page();
    if (!page) return;
    job.pageDefaults = page->options;
    options.SetPageDefaults(page->options);
}

// ---------------------------------------------------------------------------------------------

namespace {

void ApplySwitches(const PageEdits::Entry &e, PageParseOptions &o) {
    if (e.columnMode) o.columnMode = *e.columnMode;
    if (e.noOutput) o.noOutput = *e.noOutput;
    if (e.imageWholePage) o.imageWholePage = *e.imageWholePage;
    if (e.ignoreImages) o.ignoreImages = *e.ignoreImages;
    if (e.ignoreVectorGraphics) o.ignoreVectorGraphics = *e.ignoreVectorGraphics;
    if (e.paragraphCheck) o.paragraphCheck = *e.paragraphCheck;
    if (e.alignCheck) o.alignCheck = *e.alignCheck;
}

int ClampToInt(double v) { return static_cast<int>(std::clamp(v, -1e9, 1e9)); }

// A region's rectangle in view space, rounded outwards so that an item whose box was printed
// from its view box is inside it.
IntBox RegionViewRect(const fz_matrix &t, const PageEdits::Region &region) {
    const fz_rect r = fz_transform_rect(fz_make_rect(static_cast<float>(region.x0), static_cast<float>(region.y0),
                                                     static_cast<float>(region.x1), static_cast<float>(region.y1)),
                                        t);
    return IntBox{ClampToInt(std::floor(r.x0)), ClampToInt(std::floor(r.y0)), ClampToInt(std::ceil(r.x1)),
                  ClampToInt(std::ceil(r.y1))};
}

} // namespace

void ApplyPageEdits(PageModel &model, const PageEdits &edits) {
    PageLayout *page = model.Current();
    if (!page) return;
    // Points to view pixels: the view transform is a scale (the page's own rotation is part of
    // page space already).
    const fz_matrix &t = model.viewTransform;
    const double scale = fz_matrix_expansion(t);
    RegionEditor editor(model);
    for (const PageEdits::Entry &e : edits.entries) {
        if (!e.Covers(page->pageNumber)) continue;
        ApplySwitches(e, page->options);
        std::array<int, 4> margins = model.CurrentMargins();
        bool marginsSet = false;
        for (size_t side = 0; side < 4; ++side)
            if (e.margins[side]) {
                margins[side] = ClampToInt(std::lround(*e.margins[side] * scale));
                marginsSet = true;
            }
        if (marginsSet) model.SetCurrentMargins(margins);
        for (const PageEdits::Region &region : e.regions) {
            // Screen space is view space here.
            editor.PlaceOnScreen(model.viewDeviceBox.x0, model.viewDeviceBox.y0);
            if (editor.SelectInRect(RegionViewRect(t, region)) == 0) continue;
            switch (region.action) {
            case RegionAction::Group: editor.SetMark(0); break;
            case RegionAction::Table: editor.SetMark(1); break;
            case RegionAction::Graphic: editor.SetMark(2); break;
            case RegionAction::Disable: editor.SetEnabled(0); break;
            case RegionAction::Enable: editor.SetEnabled(1); break;
            }
        }
    }
}

bool ApplyPageEditsOnce(PageModel &model, const PageEdits &edits) {
    PageLayout *page = model.Current();
    if (!page || page->editsApplied) return false;
    ApplyPageEdits(model, edits);
    page->editsApplied = true;
    return true;
}

void ForgetAppliedEdits(PageModel &model) {
    for (int number : model.RecordedPages())
        if (PageLayout *page = model.FindPageLayout(number)) page->editsApplied = false;
}

namespace {

void SetSwitches(PageEdits::Entry &e, const PageParseOptions &o) {
    e.columnMode = o.columnMode;
    e.noOutput = o.noOutput;
    e.imageWholePage = o.imageWholePage;
    e.ignoreImages = o.ignoreImages;
    e.ignoreVectorGraphics = o.ignoreVectorGraphics;
    e.paragraphCheck = o.paragraphCheck;
    e.alignCheck = o.alignCheck;
}

bool Holds(const IntBox &outer, const IntBox &b) {
    return b.x0 >= outer.x0 && b.y0 >= outer.y0 && b.x1 <= outer.x1 && b.y1 <= outer.y1;
}

// A rectangle in points that comes back as exactly `box` in view space: pulled in by a quarter
// pixel on every side, so that the outward rounding of the reader does not widen it.
PageEdits::Region RegionOf(const IntBox &box, double scale, RegionAction action) {
    PageEdits::Region r;
    const double inX = box.x1 > box.x0 ? 0.25 : 0, inY = box.y1 > box.y0 ? 0.25 : 0;
    r.x0 = (box.x0 + inX) / scale;
    r.y0 = (box.y0 + inY) / scale;
    r.x1 = (box.x1 - inX) / scale;
    r.y1 = (box.y1 - inY) / scale;
    r.action = action;
    return r;
}

RegionAction MarkAction(int mark) {
    return mark == 1 ? RegionAction::Table : mark == 2 ? RegionAction::Graphic : RegionAction::Group;
}

} // namespace

PageEdits EditsFromModel(const PageModel &model, std::vector<std::string> *inexact) {
    PageEdits edits;
    const fz_matrix &t = model.viewTransform;
    const double scale = fz_matrix_expansion(t);
    if (!(scale > 0) || !std::isfinite(scale)) return edits;
    auto note = [&](int page, const std::string &what) {
        if (inexact) inexact->push_back("page " + std::to_string(page) + ": " + what);
    };

    PageEdits::Entry all;
    all.pages = {{1, INT_MAX}};
    for (size_t side = 0; side < 4; ++side) all.margins[side] = model.defaultMargins[side] / scale;
    if (model.job) SetSwitches(all, model.job->pageDefaults);
    edits.entries.push_back(std::move(all));

    for (int number : model.RecordedPages()) {
        const PageLayout *page = model.FindPageLayout(number);
        PageEdits::Entry e;
        e.pages = {{number, number}};
        SetSwitches(e, page->options);
        for (size_t side = 0; side < 4; ++side) e.margins[side] = page->margins[side] / scale;
        // Margins follow every zoom change; the boxes of a page not shown now are those of its
        // last capture, at the zoom of that capture.
        const double boxScale = page->itemsScale > 0 && std::isfinite(page->itemsScale) ? page->itemsScale : scale;
        const fz_matrix boxT = fz_scale(static_cast<float>(boxScale), static_cast<float>(boxScale));

        // What a region can select when the page is captured again. Items of a page not shown
        // now have no command to tell whether they are drawn: each counts, which can only make
        // a rectangle look less exact than it is.
        struct Candidate {
            const PageItem *item;
            IntBox box;
        };
        std::vector<Candidate> selectable;
        for (const auto &item : page->items)
            if (!item->command || DrawnItem(model, *item))
                selectable.push_back({item.get(), item->command ? PlacedBox(*item) : item->viewBox});
        auto boxOf = [&](const PageItem &item) {
            for (const Candidate &c : selectable)
                if (c.item == &item) return std::optional<IntBox>(c.box);
            return std::optional<IntBox>();
        };
        // The edits are applied at the conversion's zoom, where a box rounds out to as much as
        // two pixels more than the one written down here: a rectangle is grown by as many points
        // as it can take while it holds no more items (nor groups made before) than it does now.
        auto widened = [&](const PageEdits::Region &region, const std::vector<const ItemGroup *> &madeBefore) {
            auto holds = [&](const PageEdits::Region &r) {
                const IntBox rect = RegionViewRect(boxT, r);
                std::vector<bool> held;
                for (const Candidate &c : selectable) held.push_back(Holds(rect, c.box));
                for (const ItemGroup *before : madeBefore) held.push_back(Holds(rect, before->viewBox));
                return held;
            };
            const std::vector<bool> now = holds(region);
            for (const double grow : {4.0, 3.0, 2.0, 1.0}) {
                PageEdits::Region r = region;
                r.x0 -= grow;
                r.y0 -= grow;
                r.x1 += grow;
                r.y1 += grow;
                if (holds(r) == now) return r;
            }
            return region;
        };

        // Marked and excluded items first, while no group exists yet: each rectangle must hold
        // that item alone.
        for (const auto &item : page->items) {
            if (item->mark == 0 && item->disabled == 0) continue;
            const std::optional<IntBox> box = boxOf(*item);
            if (!box) {
                note(number, "item " + std::to_string(item->seq) + " cannot be selected");
                continue;
            }
            PageEdits::Region region = RegionOf(*box, boxScale, MarkAction(item->mark));
            const IntBox rect = RegionViewRect(boxT, region);
            for (const Candidate &c : selectable)
                if (c.item != item.get() && Holds(rect, c.box)) {
                    note(number, "the rectangle of item " + std::to_string(item->seq) + " holds other items");
                    break;
                }
            region = widened(region, {});
            if (item->mark == 1 || item->mark == 2) e.regions.push_back(region);
            if (item->disabled) {
                region.action = RegionAction::Disable;
                e.regions.push_back(region);
            }
        }

        // Groups in the order they were made: a rectangle makes one from the ungrouped items
        // inside it, unless it holds a group made before, which it would select instead.
        std::vector<const ItemGroup *> made;
        for (const auto &group : page->groups) {
            PageEdits::Region region = RegionOf(group->viewBox, boxScale, MarkAction(group->mark));
            const IntBox rect = RegionViewRect(boxT, region);
            bool exact = group->members.size() >= 2;
            for (const ItemGroup *before : made)
                if (Holds(rect, before->viewBox)) exact = false;
            for (const Candidate &c : selectable) {
                if (!Holds(rect, c.box)) continue;
                const bool inBefore = c.item->group && c.item->group != group.get() &&
                                      std::find(made.begin(), made.end(), c.item->group) != made.end();
                if (!inBefore && c.item->group != group.get()) exact = false;
            }
            for (const PageItem *member : group->members)
                if (!boxOf(*member) || !Holds(rect, *boxOf(*member))) exact = false;
            if (!exact) note(number, "a group of " + std::to_string(group->members.size()) +
                                         " items has no rectangle that selects just its items");
            region = widened(region, made);
            e.regions.push_back(region);
            if (group->disabled) {
                region.action = RegionAction::Disable;
                e.regions.push_back(region);
            }
            made.push_back(group.get());
        }
        edits.entries.push_back(std::move(e));
    }
    return edits;
}

} // namespace qm
