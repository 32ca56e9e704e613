#include "extract/region_model.h"

#include "extract/page_model.h"

namespace qm {

void PageViewState::ShowPage(int pageNumber) {
    if (pageNumber == pageNumber_) return;
    pageNumber_ = pageNumber;
    items_.clear();
    groups_.clear();
    cropHandles_ = {};
}

PageViewState::Marks &PageViewState::Of(const PageItem &item) { return items_[item.seq]; }
PageViewState::Marks &PageViewState::Of(const ItemGroup &group) { return groups_[&group]; }

PageViewState::Marks PageViewState::Get(const PageItem &item) const {
    auto it = items_.find(item.seq);
    return it == items_.end() ? Marks{} : it->second;
}

PageViewState::Marks PageViewState::Get(const ItemGroup &group) const {
    auto it = groups_.find(&group);
    return it == groups_.end() ? Marks{} : it->second;
}

void PageViewState::ClearHover() {
    for (auto &entry : items_) entry.second.hover = 0;
    for (auto &entry : groups_) entry.second.hover = 0;
}

void PageViewState::HoverOnly(const PageItem &item, int hover) {
    ClearHover();
    Of(item).hover = hover;
}

void PageViewState::HoverOnly(const ItemGroup &group, int hover) {
    ClearHover();
    Of(group).hover = hover;
}

void PageViewState::ClearSelection() {
    for (auto &entry : items_) entry.second.selected = false;
    for (auto &entry : groups_) entry.second.selected = false;
}

std::vector<int> PageViewState::SelectedItems() const {
    std::vector<int> seqs;
    for (const auto &entry : items_)
        if (entry.second.selected) seqs.push_back(entry.first);
    return seqs;
}

void PageViewState::SetCropRect(const IntBox &c) {
    const int corners[4][2] = {{c.x0, c.y0}, {c.x1, c.y0}, {c.x0, c.y1}, {c.x1, c.y1}};
    for (int i = 0; i < 4; ++i)
        cropHandles_[i] = IntBox{corners[i][0] - 3, corners[i][1] - 3, corners[i][0] + 3, corners[i][1] + 3};
}

int PageViewState::CropHandleAt(int x, int y) const {
    for (int i = 0; i < 4; ++i) {
        const IntBox &h = cropHandles_[i];
        if (x >= h.x0 && x < h.x1 && y >= h.y0 && y < h.y1) return i;
    }
    return -1;
}

} // namespace qm
