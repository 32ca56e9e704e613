// Reading order of the runs inside a block: the program follows the adjacent-exchange sort the
// order is defined by without making every comparison; here it is checked against that sort
// itself, and its cost is checked on large and hostile blocks.
#include <gtest/gtest.h>

#include <chrono>
#include <deque>
#include <random>
#include <set>

#include "layout_support.h"
#include "support/pdf_fixture.h"
#include "support/temp_dir.h"

using qm::IntBox;
using qmtest::SyntheticPage;

namespace {

const IntBox &BoxOf(const qm::BlockMember *m) { return m->isGroup ? m->group->viewBox : m->item->viewBox; }

// The literal adjacent-exchange sort: for each position i, a pass from the back exchanges a
// member with its left neighbour when CompareMembers (member, neighbour, member at i - 1) is -1.
void ExchangeOrder(qm::TextBlock &block) {
    if (!block.first || !block.first->next || block.first->isGroup || !qm::IsTextItem(*block.first->item)) return;
    std::vector<qm::BlockMember *> m;
    for (qm::BlockMember *x = block.first; x; x = x->next) m.push_back(x);
    const size_t n = m.size();
    for (size_t i = 0; i < n; ++i) {
        const IntBox *prev = i > 0 ? &BoxOf(m[i - 1]) : nullptr;
        for (size_t j = n - 1; j >= i + 1; --j)
            if (qm::CompareMembers(BoxOf(m[j]), BoxOf(m[j - 1]), prev) == -1) std::swap(m[j], m[j - 1]);
    }
    for (size_t i = 0; i + 1 < n; ++i) m[i]->next = m[i + 1];
    m.back()->next = nullptr;
    block.first = m.front();
    block.last = m.back();
}

// One text block whose members are runs with the given boxes, in that order.
struct MemberBlock {
    explicit MemberBlock(const std::vector<IntBox> &boxes) {
        for (const IntBox &b : boxes) members.push_back(qm::BlockMember{false, page.Text(b, 10), nullptr, nullptr});
        for (size_t i = 0; i + 1 < members.size(); ++i) members[i].next = &members[i + 1];
        block.first = &members.front();
        block.last = &members.back();
    }
    // Run numbers in chain order.
    std::vector<int> Order() const {
        std::vector<int> out;
        for (const qm::BlockMember *m = block.first; m; m = m->next) out.push_back(m->item->seq);
        return out;
    }
    SyntheticPage page;
    std::deque<qm::BlockMember> members;
    qm::TextBlock block;
};

std::vector<int> Exact(const std::vector<IntBox> &boxes) {
    MemberBlock b(boxes);
    ExchangeOrder(b.block);
    return b.Order();
}

std::vector<int> Followed(const std::vector<IntBox> &boxes, long long *used = nullptr) {
    MemberBlock b(boxes);
    long long work = 1LL << 40;
    qm::OrderMembers(b.block, &work);
    if (used) *used = (1LL << 40) - work;
    return b.Order();
}

// Lines of runs left to right, each run starting 0 to 2 units after the last one ended (so
// it continues the line for the comparison), lines separated, touching or overlapping, with
// some runs raised or lowered, and the chain order disturbed in one of several ways.
std::vector<IntBox> Lines(std::mt19937 &rng, int lines, int perLine) {
    auto uni = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    std::vector<IntBox> boxes;
    int leading = uni(8, 14), height = 12, y = 10;
    for (int l = 0; l < lines; ++l) {
        int x = 20 + (uni(0, 4) == 0 ? uni(0, 30) : 0);
        for (int r = 0; r < perLine; ++r) {
            int w = uni(1, 9), dy = uni(0, 6) == 0 ? uni(-3, 3) : 0;
            boxes.push_back(IntBox{x, y + dy, x + w, y + dy + height + uni(-1, 1)});
            x += w + (uni(0, 3) == 0 ? uni(0, 2) : uni(0, 12));
        }
        y += leading;
    }
    switch (uni(0, 4)) {
    case 0: break;                                               // reading order
    case 1: std::reverse(boxes.begin(), boxes.end()); break;     // backwards
    case 2: std::shuffle(boxes.begin(), boxes.end(), rng); break;
    case 3:                                                      // a few runs out of place
        for (int k = 0; k < static_cast<int>(boxes.size()) / 8; ++k)
            std::swap(boxes[static_cast<size_t>(uni(0, static_cast<int>(boxes.size()) - 1))],
                      boxes[static_cast<size_t>(uni(0, static_cast<int>(boxes.size()) - 1))]);
        break;
    default:                                                     // each line backwards
        for (size_t at = 0; at < boxes.size(); at += static_cast<size_t>(perLine))
            std::reverse(boxes.begin() + static_cast<long>(at),
                         boxes.begin() + static_cast<long>(std::min(boxes.size(), at + static_cast<size_t>(perLine))));
        break;
    }
    return boxes;
}

// Boxes on a small lattice: equal boxes, equal edges, touching rows, runs continuing one another,
// boxes of no width or height, and now and then an inverted one.
std::vector<IntBox> Crowd(std::mt19937 &rng, int n) {
    auto uni = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    int span = uni(2, 40), size = uni(1, 10);
    std::vector<IntBox> boxes;
    for (int i = 0; i < n; ++i) {
        if (i > 0 && uni(0, 5) == 0) {
            boxes.push_back(boxes[static_cast<size_t>(uni(0, i - 1))]);  // a duplicate
            continue;
        }
        int x = uni(0, span), y = uni(0, span);
        IntBox b{x, y, x + uni(0, size), y + uni(0, size)};
        if (uni(0, 30) == 0) std::swap(b.x0, b.x1);
        if (uni(0, 30) == 0) std::swap(b.y0, b.y1);
        boxes.push_back(b);
    }
    return boxes;
}

} // namespace

TEST(MemberOrder, FollowsTheExchangeSortOnCrowdedAndDisorderedBlocks) {
    std::mt19937 rng(31337);
    int blocks = 0;
    for (int round = 0; round < 3000; ++round) {
        int n = std::uniform_int_distribution<int>(2, round % 10 == 0 ? 300 : 40)(rng);
        std::vector<IntBox> boxes = Crowd(rng, n);
        ASSERT_EQ(Exact(boxes), Followed(boxes)) << "crowd, round " << round;
        ++blocks;
    }
    for (int round = 0; round < 400; ++round) {
        int lines = std::uniform_int_distribution<int>(1, 12)(rng);
        int perLine = std::uniform_int_distribution<int>(1, round % 20 == 0 ? 120 : 20)(rng);
        std::vector<IntBox> boxes = Lines(rng, lines, perLine);
        ASSERT_EQ(Exact(boxes), Followed(boxes)) << "lines, round " << round;
        ++blocks;
    }
    EXPECT_EQ(blocks, 3400);
}

TEST(MemberOrder, StacksOfRunsThatAllContinueThePreviousOne) {
    // Many runs start where the one before ends, some on top of each other: each pass looks at
    // the pairs around all of them.
    std::mt19937 rng(5);
    for (int round = 0; round < 30; ++round) {
        std::vector<IntBox> boxes;
        int stacks = std::uniform_int_distribution<int>(2, 6)(rng);
        for (int s = 0; s < stacks; ++s) {
            for (int k = std::uniform_int_distribution<int>(1, 60)(rng); k > 0; --k) {
                int dx = std::uniform_int_distribution<int>(0, 2)(rng), dy = std::uniform_int_distribution<int>(-2, 2)(rng);
                boxes.push_back(IntBox{100 + 10 * s + dx, 50 + dy, 110 + 10 * s + dx, 62 + dy});
            }
        }
        std::shuffle(boxes.begin(), boxes.end(), rng);
        ASSERT_EQ(Exact(boxes), Followed(boxes)) << "round " << round;
    }
}

// Whole pages: the blocks and their members in the order of the plain searches and the literal
// exchange sort.
TEST(MemberOrder, PagesAnalysedGiveTheExchangeSortOrder) {
    std::mt19937 rng(4242);
    int members = 0;
    for (int round = 0; round < 200; ++round) {
        SyntheticPage page;
        qmtest::RandomPage(page, rng);
        // The reference below follows the single and column-aware paths, not column detection.
        if (page.page.options.columnMode == 0) page.page.options.columnMode = 2;
        qm::BlockList expected, got;
        int created = qm::BuildBlocks(page.page, expected, &page.items, &page.groups, nullptr, nullptr, 7,
                                      qm::PageBodySameLineFactor(page.page.options), qm::kPageBodyNextLineFactor,
                                      qm::LayoutEngine::Plain);
        int n = created > 0 ? qm::OrderBlocks(expected, true, page.page.options.columnMode == 1,
                                              qm::LayoutEngine::Plain)
                            : -1;
        for (int i = 0; i < n; ++i) ExchangeOrder(expected.blocks[static_cast<size_t>(i)]);
        ASSERT_EQ(n, page.Analyse(got)) << "round " << round;
        if (n <= 0) continue;
        ASSERT_EQ(qmtest::BlockSeqs(expected, n), qmtest::BlockSeqs(got, n)) << "round " << round;
        for (int i = 0; i < n; ++i)
            for (const qm::BlockMember *m = got.blocks[static_cast<size_t>(i)].first; m; m = m->next) ++members;
    }
    EXPECT_GT(members, 10000);
}

// A page of 50 lines of 100 runs each: one block of 5,000 members. In reading order, or with each
// line drawn backwards, it costs a small multiple of its length instead of the 12.5 million
// comparisons of the exchange sort; drawn wholly backwards it needs about those and still fits
// the allowance.
TEST(MemberOrder, AFiveThousandMemberBlockIsCheap) {
    std::vector<IntBox> boxes;
    for (int line = 0; line < 50; ++line)
        for (int k = 0; k < 100; ++k) boxes.push_back(IntBox{20 + 7 * k, 20 + 14 * line, 26 + 7 * k, 32 + 14 * line});
    std::vector<IntBox> linesBackwards = boxes, backwards = boxes;
    for (size_t at = 0; at < boxes.size(); at += 100)
        std::reverse(linesBackwards.begin() + static_cast<long>(at), linesBackwards.begin() + static_cast<long>(at + 100));
    std::reverse(backwards.begin(), backwards.end());
    long long used = 0;
    EXPECT_EQ(Exact(boxes), Followed(boxes, &used));
    EXPECT_LT(used, 10LL * 5000);
    EXPECT_EQ(Exact(linesBackwards), Followed(linesBackwards, &used));
    EXPECT_LT(used, 200LL * 5000);
    EXPECT_EQ(Exact(backwards), Followed(backwards, &used));
    EXPECT_LT(used, qm::kMemberOrderWork);

    // The same through the analysis of a page, where the runs become one block.
    SyntheticPage page;
    page.page.cropRect = page.page.viewPageBox = IntBox{0, 0, 800, 800};
    for (const IntBox &b : linesBackwards) page.Text(b, 10, "x");
    qm::BlockList list;
    auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(1, page.Analyse(list));
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const std::string seqs = qmtest::BlockSeqs(list, 1)[0];
    EXPECT_EQ(5000, std::count(seqs.begin(), seqs.end(), ',') + 1);
    EXPECT_LT(seconds, 10.0);  // generous: the exchange sort alone took about a tenth of a second
}

// A heap of overlapping runs makes the exchange sort's work grow with the square of its size;
// the allowance bounds it and every member is still written once.
TEST(MemberOrder, AHeapOfRunsIsOrderedWithinTheAllowance) {
    std::mt19937 rng(9);
    std::vector<IntBox> boxes;
    for (int i = 0; i < 20000; ++i) {
        int x = std::uniform_int_distribution<int>(0, 400)(rng), y = std::uniform_int_distribution<int>(0, 400)(rng);
        boxes.push_back(IntBox{x, y, x + 9, y + 12});
    }
    MemberBlock b(boxes);
    long long work = qm::kMemberOrderWork;
    auto start = std::chrono::steady_clock::now();
    qm::OrderMembers(b.block, &work);
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_LE(work, 0);                       // spent: the rest went by rows
    EXPECT_GT(work, -qm::kMemberOrderWork / 4);  // and not much beyond
    EXPECT_LT(seconds, 5.0);
    std::vector<int> order = b.Order();
    ASSERT_EQ(order.size(), boxes.size());
    EXPECT_EQ(std::set<int>(order.begin(), order.end()).size(), boxes.size());
    EXPECT_EQ(b.block.last->item->seq, order.back());
    EXPECT_EQ(b.block.last->next, nullptr);

    // Lines from the top and left edges within them once the allowance is gone from the start;
    // lines that touch or overlap a little stay apart, a raised run stays in its line.
    std::vector<IntBox> lines{{50, 40, 60, 50}, {10, 0, 20, 10}, {30, 42, 40, 52}, {0, 5, 8, 15}, {5, 60, 9, 70}};
    MemberBlock l(lines);
    long long none = 0;
    qm::OrderMembers(l.block, &none);
    EXPECT_EQ((std::vector<int>{3, 1, 2, 0, 4}), l.Order());
    std::vector<IntBox> touching;
    for (int line = 0; line < 3; ++line)
        for (int k = 0; k < 4; ++k) touching.push_back(IntBox{10 * k, 11 * line, 10 * k + 8, 11 * line + 12});
    std::shuffle(touching.begin(), touching.end(), rng);
    MemberBlock t(touching);
    none = 0;
    qm::OrderMembers(t.block, &none);
    std::vector<int> read;
    for (const qm::BlockMember *m = t.block.first; m; m = m->next) {
        const IntBox &box = m->item->viewBox;
        read.push_back(box.y0 / 11 * 4 + box.x0 / 10);
    }
    EXPECT_EQ((std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}), read);
}

// The same size of block from a PDF (50 lines set glyph by glyph, so close that they make one
// block) through the whole conversion.
TEST(MemberOrder, APdfWithAFiveThousandMemberBlockConverts) {
    qmtest::TempDir dir;
    qmtest::PdfBuilder pdf;
    pdf.AddPage(800, 1000);
    for (int line = 0; line < 50; ++line)
        pdf.GlyphByGlyph(0, 20, 960 - 6 * line, std::string(100, static_cast<char>('a' + line % 26)), 7, 10, "Courier");
    ASSERT_TRUE(pdf.Save(dir.File("dense.pdf")));
    const std::string cli = qmtest::ShellQuote(QM_CLI_PATH), file = qmtest::ShellQuote(dir.File("dense.pdf"));
    std::string out;
    ASSERT_EQ(0, qmtest::RunCommand(cli + " inspect " + file + " --page 1 --blocks", &out)) << out;
    EXPECT_NE(out.find(": 1 blocks"), std::string::npos) << out.substr(0, 200);
    EXPECT_NE(out.find(" 5000  "), std::string::npos) << out.substr(0, 200);
    auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(0, qmtest::RunCommand(cli + " convert " + file + " -o " + qmtest::ShellQuote(dir.Path()), &out)) << out;
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_LT(seconds, 10.0);  // generous: well under a second on an idle machine
    std::string page;
    ASSERT_EQ(0, qmtest::RunCommand("unzip -p " + qmtest::ShellQuote(dir.File("dense.epub")) + " OPS/page-1.html", &page));
    EXPECT_EQ(100, std::count(page.begin(), page.end(), 'z'));  // line 26's glyphs, all written
}
