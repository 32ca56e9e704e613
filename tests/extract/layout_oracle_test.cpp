// The indexed layout searches must give exactly the blocks and orders of the plain ones.
#include <gtest/gtest.h>

#include <random>

#include "layout_support.h"

using qm::IntBox;
using qmtest::RandomPage;
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
        for (int mode : {1, 2, 0}) {  // single, multi, auto
            page.page.options.columnMode = mode;
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
