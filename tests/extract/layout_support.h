#pragma once
// Synthetic pages for layout tests and benchmarks: text runs and graphics built directly as page
// items over owned drawing commands, without a PDF. View space equals page space (identity view
// transform), so a run's font size in view pixels is the `em` given.
#include <algorithm>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "extract/layout.h"

namespace qmtest {

class SyntheticPage {
public:
    SyntheticPage() {
        page.items = &items;
        page.cropRect = qm::IntBox{0, 0, 800, 1000};
        page.viewPageBox = qm::IntBox{0, 0, 800, 1000};
        page.options.columnMode = static_cast<int32_t>(qm::ColumnMode::Multi);  // column-aware order
    }
    SyntheticPage(const SyntheticPage &) = delete;
    SyntheticPage &operator=(const SyntheticPage &) = delete;

    // A text run filling `box`, one glyph per character spread evenly across it, at `em` pixels.
    qm::PageItem *Text(const qm::IntBox &box, int em, const std::string &chars = "x") {
        auto cmd = std::make_unique<qm::DrawCommand>();
        cmd->kind = qm::CommandKind::FillText;
        cmd->text = std::make_unique<qm::CapturedText>();
        cmd->text->matrix = fz_scale(static_cast<float>(em), static_cast<float>(em));
        int n = static_cast<int>(chars.size());
        int w = box.x1 - box.x0;
        for (int i = 0; i < n; ++i) {
            qm::GlyphRecord g;
            g.glyphId = chars[static_cast<size_t>(i)] == ' ' ? 3 : 10 + i;
            g.unicode = static_cast<unsigned char>(chars[static_cast<size_t>(i)]);
            int gx0 = box.x0 + w * i / n, gx1 = box.x0 + w * (i + 1) / n;
            if (gx1 <= gx0) gx1 = gx0 + 1;
            g.viewBox = qm::IntBox{gx0, box.y0, gx1, box.y1};
            g.outputBox = g.viewBox;
            cmd->text->glyphs.push_back(g);
        }
        cmd->viewBox = box;
        auto *item = AddItem(std::move(cmd), box);
        item->glyphCount = n;
        return item;
    }
    qm::PageItem *Path(const qm::IntBox &box, qm::CommandKind kind = qm::CommandKind::FillPath) {
        auto cmd = std::make_unique<qm::DrawCommand>();
        cmd->kind = kind;
        cmd->viewBox = box;
        return AddItem(std::move(cmd), box);
    }
    qm::ItemGroup *Group(const std::vector<qm::PageItem *> &members) {
        auto g = std::make_unique<qm::ItemGroup>();
        bool first = true;
        for (qm::PageItem *m : members) {
            m->grouped = true;
            g->members.push_back(m);
            g->viewBox = first ? m->viewBox : qm::Union(g->viewBox, m->viewBox);
            first = false;
        }
        for (qm::PageItem *m : members) m->group = g.get();
        groups.push_back(std::move(g));
        return groups.back().get();
    }

    int Build(qm::BlockList &out, int flags, float tolX, float tolY,
              qm::LayoutEngine engine = qm::LayoutEngine::Indexed) {
        return qm::BuildBlocks(page, out, &items, &groups, nullptr, nullptr, flags, tolX, tolY, engine);
    }
    // Page-body analysis: build with the page body's factors, order, and order members.
    int Analyse(qm::BlockList &out, qm::LayoutEngine engine = qm::LayoutEngine::Indexed) {
        return qm::AnalysePageBody(page, items, groups, out, engine);
    }

    std::vector<std::unique_ptr<qm::DrawCommand>> commands;
    std::vector<std::unique_ptr<qm::PageItem>> items;
    std::vector<std::unique_ptr<qm::ItemGroup>> groups;
    qm::LayoutPage page;

private:
    qm::PageItem *AddItem(std::unique_ptr<qm::DrawCommand> cmd, const qm::IntBox &box) {
        auto item = std::make_unique<qm::PageItem>();
        item->seq = static_cast<int>(items.size());
        item->command = cmd.get();
        item->commandIndex = static_cast<int>(commands.size());
        item->viewBox = box;
        item->outputBox = box;
        commands.push_back(std::move(cmd));
        items.push_back(std::move(item));
        return items.back().get();
    }
};

// Sequence numbers of the members of each live block, in order; one string per block, e.g. "3,4,7".
inline std::vector<std::string> BlockSeqs(const qm::BlockList &list, int n) {
    std::vector<std::string> out;
    for (int i = 0; i < n; ++i) {
        std::string s;
        for (const qm::BlockMember *m = list.blocks[static_cast<size_t>(i)].first; m; m = m->next) {
            if (!s.empty()) s += ",";
            if (m->isGroup) s += 'g';
            s += std::to_string(m->isGroup ? (m->group->members.empty() ? -1 : m->group->members[0]->seq)
                                           : m->item->seq);
        }
        out.push_back(s);
    }
    return out;
}

// A page of text lines in one to three columns with varied sizes and gaps, vector graphics (some
// overlapping each other, some under text), pictures, disabled and off-crop items, and groups.
inline void RandomPage(SyntheticPage &p, std::mt19937 &rng) {
    auto uni = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    p.page.options.columnMode = uni(0, 2);
    p.page.options.paragraphCheck = uni(0, 4) ? 1 : 0;
    p.page.options.ignoreVectorGraphics = uni(0, 9) == 0;
    p.page.options.ignoreImages = uni(0, 9) == 0;
    p.page.cropRect = qm::IntBox{uni(0, 30), uni(0, 30), 800 - uni(0, 30), 1000 - uni(0, 30)};
    int columns = uni(1, 3);
    int colWidth = 760 / columns;
    int lines = uni(0, 40);
    std::vector<qm::PageItem *> all;
    for (int c = 0; c < columns; ++c) {
        int y = uni(10, 80);
        for (int l = 0; l < lines; ++l) {
            int em = uni(0, 6) == 0 ? uni(14, 30) : uni(6, 12);
            int x = 20 + c * colWidth + (uni(0, 5) == 0 ? uni(0, 40) : 0);
            int runs = uni(1, 4);
            for (int r = 0; r < runs && x < 20 + (c + 1) * colWidth - 10; ++r) {
                int w = uni(em, 5 * em);
                std::string chars(static_cast<size_t>(std::max(1, w / std::max(1, em / 2))), 'a');
                if (uni(0, 15) == 0) chars = "  ";
                if (uni(0, 10) == 0) chars[0] = 'T';
                all.push_back(p.Text(qm::IntBox{x, y, x + w, y + em + uni(0, 2)}, em, chars));
                x += w + uni(0, 3 * em);
            }
            y += em + uni(-2, em);
            if (uni(0, 12) == 0) y += uni(20, 120);
        }
    }
    int paths = uni(0, 30);
    for (int i = 0; i < paths; ++i) {
        int x = uni(-20, 780), y = uni(-20, 980);
        auto kind = uni(0, 4) == 0 ? qm::CommandKind::FillImage : qm::CommandKind::FillPath;
        if (uni(0, 10) == 0) kind = qm::CommandKind::StrokePath;
        all.push_back(p.Path(qm::IntBox{x, y, x + uni(0, 120), y + uni(0, 80)}, kind));
    }
    for (qm::PageItem *it : all) {
        if (uni(0, 25) == 0) it->disabled = 1;
    }
    int groups = uni(0, 2);
    for (int g = 0; g < groups && all.size() > 4; ++g) {
        std::vector<qm::PageItem *> members;
        for (int k = 0; k < 3; ++k) {
            qm::PageItem *it = all[static_cast<size_t>(uni(0, static_cast<int>(all.size()) - 1))];
            if (!it->grouped && std::find(members.begin(), members.end(), it) == members.end()) members.push_back(it);
        }
        if (!members.empty()) p.Group(members);
    }
}

} // namespace qmtest
