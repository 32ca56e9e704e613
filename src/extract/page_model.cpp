#include "extract/page_model.h"

#include "pdf/engine.h"

namespace qm {

const char *CommandKindName(CommandKind k) {
    static const char *const names[] = {"FillPath",     "StrokePath",   "ClipPath",    "ClipStrokePath",
                                        "FillText",     "StrokeText",   "ClipText",    "ClipStrokeText",
                                        "IgnoreText",   "FillShade",    "FillImage",   "FillImageMask",
                                        "ClipImageMask", "PopClip",     "BeginMask",   "EndMask",
                                        "BeginGroup",   "EndGroup",     "BeginTile",   "EndTile",
                                        "RenderFlags",  "DefaultColorspaces", "BeginLayer", "EndLayer"};
    int i = static_cast<int>(k);
    return (i >= 0 && i < static_cast<int>(sizeof names / sizeof names[0])) ? names[i] : "Unknown";
}

CommandList::~CommandList() { Release(); }

void CommandList::Release() {
    if (commands.empty()) return;
    fz_context *ctx = EngineContext();
    for (DrawCommand &c : commands) {
        fz_drop_path(ctx, c.path);
        if (c.text) {
            fz_drop_text(ctx, c.text->text);
            fz_drop_font(ctx, c.text->font);
        }
        fz_drop_shade(ctx, c.shade);
        fz_drop_image(ctx, c.image);
        fz_drop_stroke_state(ctx, c.stroke);
        fz_drop_colorspace(ctx, c.colorspace);
        fz_drop_default_colorspaces(ctx, c.defaultColorspaces);
    }
    commands.clear();
}

PageModel::PageModel() = default;
PageModel::~PageModel() = default;

void PageModel::Clear() {
    commands.reset();
    layouts_.clear();
    current_ = nullptr;
    lastViewZoom = 0;
}

PageLayout *PageModel::FindPageLayout(int pageNumber) const {
    auto it = layouts_.find(pageNumber);
    return it == layouts_.end() ? nullptr : it->second.get();
}

int PageModel::SelectPageLayout(int pageNumber) {
    auto it = layouts_.find(pageNumber);
    if (it == layouts_.end()) {
        auto layout = std::make_unique<PageLayout>();
        layout->pageNumber = pageNumber;
        current_ = layout.get();
        layouts_.emplace(pageNumber, std::move(layout));
        return 1;
    }
    current_ = it->second.get();
    return current_->itemsBuilt ? 0 : 2;
}

} // namespace qm
