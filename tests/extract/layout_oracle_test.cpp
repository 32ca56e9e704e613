// The indexed layout searches must give exactly the blocks and orders of the plain ones.
#include <gtest/gtest.h>

#include <random>

#include "layout_support.h"

using qm::IntBox;
using qmtest::SyntheticPage;

namespace {

std::string Describe(const qm::BlockList &list, int n) {
    std::string s;
    for (int i = 0; i < n; ++i) {
        const qm::TextBlock &b = list.blocks[static_cast<size_t>(i)];
        s += std::to_string(b.index) + (b.consumed ? "c" : "") + "[" + std::to_string(b.box.x0) + "," +
             std::to_string(b.box.y0) + "," + std::to_string(b.box.x1) + "," + std::to_string(b.box.y1) + "] s" +
             std::to_string(b.sameLineNext) + " n" + std::to_string(b.nextLine) + ":";
        for (const qm::BlockMember *m = b.first; m; m = m->next) {
            if (m->isGroup) s += 'g';
            s += std::to_string(m->isGroup ? m->group->members[0]->seq : m->item->seq) + " ";
        }
        s += "\n";
    }
    return s;
}

// A page of text lines in one to three columns with varied sizes and gaps, vector graphics (some
// overlapping each other, some under text), pictures, disabled and off-crop items, and groups.
void RandomPage(SyntheticPage &p, std::mt19937 &rng) {
    auto uni = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    p.page.options.columnMode = uni(0, 2);
    p.page.options.paragraphCheck = uni(0, 4) ? 1 : 0;
    p.page.options.ignoreVectorGraphics = uni(0, 9) == 0;
    p.page.options.ignoreImages = uni(0, 9) == 0;
    p.page.cropRect = IntBox{uni(0, 30), uni(0, 30), 800 - uni(0, 30), 1000 - uni(0, 30)};
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
                all.push_back(p.Text(IntBox{x, y, x + w, y + em + uni(0, 2)}, em, chars));
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
        all.push_back(p.Path(IntBox{x, y, x + uni(0, 120), y + uni(0, 80)}, kind));
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

struct Params {
    int flags;
    float tolX, tolY;
};

} // namespace

TEST(LayoutOracle, IndexedSearchesMatchPlainOnRandomPages) {
    std::mt19937 rng(20261209);
    const Params params[] = {{7, 2.0f, 0.5f}, {7, 1.0f, 0.5f}, {7, 1.0f, 1.0f}, {2, 1.0f, 1.0f}, {5, 1.0f, 0.5f}};
    int pages = 0, blocksSeen = 0;
    for (int round = 0; round < 150; ++round) {
        SyntheticPage page;
        RandomPage(page, rng);
        for (const Params &pr : params) {
            for (int usePrevious = 0; usePrevious < 2; ++usePrevious) {
                for (int single = 0; single < 2; ++single) {
                    qm::BlockList plain, fast;
                    int a = page.Build(plain, pr.flags, pr.tolX, pr.tolY, qm::LayoutEngine::Plain);
                    int b = page.Build(fast, pr.flags, pr.tolX, pr.tolY, qm::LayoutEngine::Indexed);
                    ASSERT_EQ(a, b) << "round " << round;
                    if (a <= 0) continue;
                    ASSERT_EQ(Describe(plain, a), Describe(fast, b)) << "build, round " << round << " flags " << pr.flags;
                    int na = qm::OrderBlocks(plain, usePrevious, single, qm::LayoutEngine::Plain);
                    int nb = qm::OrderBlocks(fast, usePrevious, single, qm::LayoutEngine::Indexed);
                    ASSERT_EQ(na, nb);
                    ASSERT_EQ(Describe(plain, a), Describe(fast, b)) << "order, round " << round;
                    for (int i = 0; i < na; ++i) {
                        qm::OrderMembers(plain.blocks[static_cast<size_t>(i)]);
                        qm::OrderMembers(fast.blocks[static_cast<size_t>(i)]);
                    }
                    ASSERT_EQ(Describe(plain, na), Describe(fast, nb)) << "members, round " << round;
                    blocksSeen += na;
                    ++pages;
                }
            }
        }
    }
    EXPECT_GT(pages, 500);
    EXPECT_GT(blocksSeen, 5000);
}

// Dense pages where many graphics overlap into figures and glyph-by-glyph text forms long chains:
// the growing-box scans and chain merges are where the two implementations could part.
TEST(LayoutOracle, DenseGraphicsAndGlyphRunsMatch) {
    std::mt19937 rng(77);
    for (int round = 0; round < 20; ++round) {
        SyntheticPage page;
        auto uni = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
        for (int i = 0; i < 300; ++i) {
            int x = uni(0, 700), y = uni(0, 900);
            page.Path(IntBox{x, y, x + uni(1, 60), y + uni(1, 60)});
        }
        for (int line = 0; line < 15; ++line) {
            for (int g = 0; g < 30; ++g) {
                int x = 30 + g * 9 + uni(0, 3), y = 40 + line * 14 + uni(0, 1);
                page.Text(IntBox{x, y, x + 7, y + 11}, 10, std::string(1, static_cast<char>('a' + g % 26)));
            }
        }
        for (int single = 0; single < 2; ++single) {
            page.page.options.columnMode = single ? 1 : 0;
            qm::BlockList plain, fast;
            int a = page.Analyse(plain, qm::LayoutEngine::Plain);
            int b = page.Analyse(fast, qm::LayoutEngine::Indexed);
            ASSERT_EQ(a, b);
            ASSERT_EQ(Describe(plain, static_cast<int>(plain.blocks.size())),
                      Describe(fast, static_cast<int>(fast.blocks.size())))
                << "round " << round;
        }
    }
}
