#include "extract/page_model.h"

#include <algorithm>
#include <cmath>

#include "options/conversion_job.h"
#include "pdf/engine.h"

namespace qm {
namespace {

// Margins never grow beyond this (view boxes stay far below it, so crop rectangles cannot
// overflow).
constexpr double kMaxMargin = 1e9;

} // namespace

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
            fz_drop_text(ctx, c.text->source);
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
    DetachItems();
    commands.reset();
    capturedPage = 0;
    layouts_.clear();
    current_ = nullptr;
    lastViewZoom = 0;
}

PageLayout *PageModel::FindPageLayout(int pageNumber) const {
    auto it = layouts_.find(pageNumber);
    return it == layouts_.end() ? nullptr : it->second.get();
}

std::vector<int> PageModel::RecordedPages() const {
    std::vector<int> numbers;
    for (const auto &entry : layouts_) numbers.push_back(entry.first);
    return numbers;
}

void PageModel::ReleasePageItems(int pageNumber) {
    PageLayout *page = FindPageLayout(pageNumber);
    if (!page || !page->groups.empty()) return;
    for (const auto &item : page->items)
        if (item->mark != 0 || item->disabled != 0 || item->grouped) return;
    std::vector<std::unique_ptr<PageItem>>().swap(page->items);
    page->itemsBuilt = false;
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

namespace qm {

void PageModel::DetachItems() {
    if (!current_) return;
    for (auto &item : current_->items) item->command = nullptr;
}

// A record made outside SelectPageLayout (by ApplyOptions/ApplyMargins) starts like one made by
// a capture: the default margins and the job's default page options.
static PageLayout *EnsureLayout(std::map<int, std::unique_ptr<PageLayout>> &layouts, int pageNumber,
                                const std::array<int, 4> &margins, const ConversionJob *job) {
    auto it = layouts.find(pageNumber);
    if (it != layouts.end()) return it->second.get();
    auto layout = std::make_unique<PageLayout>();
    layout->pageNumber = pageNumber;
    layout->margins = margins;
    if (job) layout->options = job->pageDefaults;
    PageLayout *raw = layout.get();
    layouts.emplace(pageNumber, std::move(layout));
    return raw;
}

void PageModel::BuildPageItems() {
    if (!commands) return;
    std::vector<DrawCommand> &cmds = commands->commands;
    int created = SelectPageLayout(capturedPage);
    PageLayout &page = *current_;
    if (created == 1) {
        page.margins = defaultMargins;
        if (job) page.options = job->pageDefaults;
    }
    if (created != 0) {
        page.items.clear();
        page.groups.clear();
        int seq = 0;
        for (size_t i = 0; i < cmds.size(); ++i) {
            DrawCommand *c = &cmds[i];
            if (IsTextKind(c->kind) && c->text) {
                seq = SplitTextRuns(c, static_cast<int>(i), seq);
                continue;
            }
            auto item = std::make_unique<PageItem>();
            item->seq = seq++;
            item->command = c;
            item->commandIndex = static_cast<int>(i);
            item->viewBox = c->viewBox;
            item->outputBox = c->outputBox;
            page.items.push_back(std::move(item));
        }
        page.itemsBuilt = true;
    } else {
        // The page was recorded again: the engine gives the same command sequence every time, so
        // items find their commands by index and keep their editing state.
        for (auto &item : page.items) {
            int k = item->commandIndex;
            if (k < 0 || k >= static_cast<int>(cmds.size())) {
                item->command = nullptr;
                continue;
            }
            DrawCommand *c = &cmds[k];
            item->command = c;
            item->viewBox = c->viewBox;
            item->outputBox = c->outputBox;
            if (IsTextKind(c->kind)) ComputeRunBoxes(*item);
        }
    }

    // Zoom change: margins of every page scale with the view.
    if (lastViewZoom != 0) {
        double ratio = static_cast<double>(viewResolution) / lastViewZoom;
        if (std::fabs(ratio - 1) > 0.001) {
            // Repeated zooming in and out would drift one way if every scaling rounded the same
            // way: each change rounds the other way from the one before.
            marginRoundUp = !marginRoundUp;
            const bool roundUp = marginRoundUp;
            auto scale = [&](int &m) {
                // Clamped before it becomes an int: zoom ratios of absurd pages are absurd too.
                double v = std::clamp(m * ratio, -kMaxMargin, kMaxMargin);
                m = static_cast<int>(roundUp ? std::ceil(v) : std::trunc(v));
            };
            for (auto &entry : layouts_)
                for (int &m : entry.second->margins) scale(m);
            // The margins pages not yet recorded will start from are view pixels too.
            for (int &m : defaultMargins) scale(m);
        }
        for (auto &group : page.groups) {
            bool first = true;
            for (PageItem *member : group->members) {
                group->viewBox = first ? member->viewBox : Union(group->viewBox, member->viewBox);
                first = false;
            }
        }
    }
    lastViewZoom = viewResolution;
    page.itemsScale = fz_matrix_expansion(viewTransform);

    page.cropRect = IntBox{viewDeviceBox.x0 + page.margins[0], viewDeviceBox.y0 + page.margins[1],
                           viewDeviceBox.x1 - page.margins[2], viewDeviceBox.y1 - page.margins[3]};
}

int PageModel::SplitTextRuns(DrawCommand *command, int commandIndex, int nextSeq) {
    if (!command || !command->text || !current_) return nextSeq;
    const std::vector<GlyphRecord> &g = command->text->glyphs;
    const int n = static_cast<int>(g.size());
    // Font size in page units, truncated to an integer (clamped first: a text matrix may say
    // anything, not a number included).
    const float expansion = fz_matrix_expansion(fz_concat(command->text->matrix, command->transform));
    const int size = expansion < 1e9f ? static_cast<int>(expansion) : expansion >= 1e9f ? 1000000000 : 0;
    const double limit = size * 1.3;
    auto append = [&](int first, int count) {
        auto item = std::make_unique<PageItem>();
        item->seq = nextSeq++;
        item->command = command;
        item->commandIndex = commandIndex;
        item->firstGlyph = first;
        item->glyphCount = count;
        ComputeRunBoxes(*item);
        current_->items.push_back(std::move(item));
    };
    int i = 0;
    while (i < n) {
        int end = i + 1;  // baseline run [i, end): exactly equal y
        while (end < n && g[end].y == g[i].y) ++end;
        int start = i;
        for (int m = i; m < end; ++m) {
            bool cut = m == end - 1 || (m + 2 < end && g[m + 1].IsBlank() && g[m + 2].IsBlank()) ||
                       !(limit > static_cast<double>(g[m + 1].x) - static_cast<double>(g[m].x));
            if (cut) {
                append(start, m - start + 1);
                start = m + 1;
            }
        }
        i = end;
    }
    return nextSeq;
}

void PageModel::ComputeRunBoxes(PageItem &item) {
    item.viewBox = IntBox{};
    if (!item.command || !item.command->text) return;
    const std::vector<GlyphRecord> &g = item.command->text->glyphs;
    int first = std::max(0, item.firstGlyph);
    int last = std::min(static_cast<int>(g.size()), item.firstGlyph + item.glyphCount);
    bool any = false;
    for (int k = first; k < last; ++k) {
        const GlyphRecord &r = g[k];
        if (r.glyphId < 0 || r.unicode == 32 || r.viewBox.Width() <= 0 || r.viewBox.Height() <= 0) continue;
        if (!any) {
            item.viewBox = r.viewBox;
            item.outputBox = r.outputBox;
            any = true;
        } else {
            item.viewBox = Union(item.viewBox, r.viewBox);
            item.outputBox = Union(item.outputBox, r.outputBox);
        }
    }
}

bool PageModel::IsBlankRun(const PageItem &item) const {
    if (!item.command || !item.command->text) return true;
    const std::vector<GlyphRecord> &g = item.command->text->glyphs;
    int first = std::max(0, item.firstGlyph);
    int last = std::min(static_cast<int>(g.size()), item.firstGlyph + item.glyphCount);
    for (int k = first; k < last; ++k)
        if (g[k].glyphId > 0 && g[k].unicode != 32) return false;
    return true;
}

void PageModel::ApplyOptionsToPages(int first, int last, const PageParseOptions &options) {
    int selected = current_ ? current_->pageNumber : 0;
    PageParseOptions copy = options;  // the caller usually passes the current page's own options
    for (int p = first; p <= last; ++p) EnsureLayout(layouts_, p, defaultMargins, job)->options = copy;
    if (selected) SelectPageLayout(selected);
}

std::array<int, 4> PageModel::CurrentMargins() const {
    if (!current_) return {};
    const IntBox &c = current_->cropRect;
    const IntBox &v = viewDeviceBox;
    return {c.x0 - v.x0, c.y0 - v.y0, v.x1 - c.x1, v.y1 - c.y1};
}

void PageModel::SetCurrentMargins(const std::array<int, 4> &margins) {
    if (!current_) return;
    current_->margins = margins;
    const IntBox &v = viewDeviceBox;
    current_->cropRect = IntBox{v.x0 + margins[0], v.y0 + margins[1], v.x1 - margins[2], v.y1 - margins[3]};
}

void PageModel::ApplyMarginsToFollowingPages() {
    if (!current_) return;
    defaultMargins = CurrentMargins();
    for (auto &[number, layout] : layouts_)
        if (number > current_->pageNumber) layout->margins = defaultMargins;
}

void PageModel::ApplyMarginsToPages(int first, int last) {
    if (!current_) return;
    std::array<int, 4> margins = CurrentMargins();
    defaultMargins = margins;
    int selected = current_->pageNumber;
    for (int p = first; p <= last; ++p) EnsureLayout(layouts_, p, defaultMargins, job)->margins = margins;
    SelectPageLayout(selected);
}

} // namespace qm
