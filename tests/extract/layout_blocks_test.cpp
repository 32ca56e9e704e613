// Block building, reading order and alignment on synthetic pages.
#include <gtest/gtest.h>

#include "layout_support.h"
#include "platform/prompt.h"
#include "support/recording_prompt.h"

using qm::IntBox;
using qmtest::BlockSeqs;
using qmtest::SyntheticPage;
using Seqs = std::vector<std::string>;

namespace {

constexpr int kAuto = 0, kSingle = 1, kMulti = 2;

Seqs Analyse(SyntheticPage &p, int columnMode) {
    p.page.options.columnMode = columnMode;
    qm::BlockList list;
    int n = p.Analyse(list);
    return n <= 0 ? Seqs{} : BlockSeqs(list, n);
}

// Lines of one column: `count` runs 12 px high, `pitch` apart, from y0.
std::vector<qm::PageItem *> Column(SyntheticPage &p, int x0, int x1, int y0, int count, int pitch) {
    std::vector<qm::PageItem *> out;
    for (int i = 0; i < count; ++i) out.push_back(p.Text(IntBox{x0, y0 + i * pitch, x1, y0 + i * pitch + 12}, 12, "text"));
    return out;
}

class RecordingSink : public qm::BlockSink {
public:
    int SaveWholePagePicture(std::string &name) override {
        ++saves;
        name = "image-7.png";
        return saveResult;
    }
    void WriteRaw(const std::string &text) override { raw += text; }
    void BeginPage() override { ++begun; }
    void EndPage() override { ++ended; }
    void WriteBlock(const qm::LayoutPage &, std::vector<qm::TextBlock> &blocks, int index, int count,
                    const qm::TextBlock *previous, const qm::TextBlock *next) override {
        EXPECT_EQ(previous, index > 0 ? &blocks[static_cast<size_t>(index - 1)] : nullptr);
        EXPECT_EQ(next, index + 1 < count ? &blocks[static_cast<size_t>(index + 1)] : nullptr);
        std::string s;
        for (const qm::BlockMember *m = blocks[static_cast<size_t>(index)].first; m; m = m->next) {
            if (!s.empty()) s += ',';
            s += std::to_string(m->item ? m->item->seq : -1);
        }
        written.push_back(s);
    }
    int saveResult = 0, saves = 0, begun = 0, ended = 0;
    std::string raw;
    Seqs written;
};

using qmtest::RecordingPrompt;

} // namespace

TEST(LayoutRelate, CodesFollowTheOrderOfChecks) {
    IntBox a{100, 100, 200, 200};
    EXPECT_EQ(qm::RelateBoxes(a, a, 0, 0), 4);  // equal boxes: containment by A, not 6
    EXPECT_EQ(qm::RelateBoxes(a, IntBox{120, 120, 180, 180}, 0, 0), 4);
    EXPECT_EQ(qm::RelateBoxes(a, IntBox{50, 50, 250, 250}, 0, 0), 6);
    EXPECT_EQ(qm::RelateBoxes(a, IntBox{150, 150, 250, 250}, 0, 0), 5);
    EXPECT_EQ(qm::RelateBoxes(a, IntBox{120, 20, 180, 80}, 0, 0), 1);
    EXPECT_EQ(qm::RelateBoxes(a, IntBox{120, 220, 180, 280}, 0, 0), 9);
    EXPECT_EQ(qm::RelateBoxes(a, IntBox{20, 120, 80, 180}, 0, 0), 3);
    EXPECT_EQ(qm::RelateBoxes(a, IntBox{220, 120, 280, 180}, 0, 0), 7);
    EXPECT_EQ(qm::RelateBoxes(a, IntBox{20, 20, 80, 80}, 0, 0), 0);
    EXPECT_EQ(qm::RelateBoxes(a, IntBox{20, 220, 80, 280}, 0, 0), 8);
    EXPECT_EQ(qm::RelateBoxes(a, IntBox{220, 20, 280, 80}, 0, 0), 2);
    EXPECT_EQ(qm::RelateBoxes(a, IntBox{220, 220, 280, 280}, 0, 0), 10);
    // Touching boxes overlap with tolerance 0 but not with 1; -1 reaches one pixel apart.
    EXPECT_EQ(qm::RelateBoxes(a, IntBox{200, 100, 300, 200}, 0, 0), 5);
    EXPECT_EQ(qm::RelateBoxes(a, IntBox{200, 100, 300, 200}, 1, 1), 7);
    EXPECT_EQ(qm::RelateBoxes(a, IntBox{201, 100, 300, 200}, -1, -1), 5);
    EXPECT_EQ(qm::RelateBoxes(a, IntBox{202, 100, 300, 200}, -1, -1), 7);
}

TEST(LayoutBlocks, SameLineGapOfOneAndAHalfEmMergesOnlyInSingleColumnMode) {
    for (int mode : {kSingle, kAuto, kMulti}) {
        SyntheticPage p;
        p.Text(IntBox{100, 100, 200, 112}, 12, "abcd");
        p.Text(IntBox{218, 100, 300, 112}, 12, "efgh");  // 18 px = 1.5 em
        // Auto reads a page without columns as "Single Column" does.
        EXPECT_EQ(Analyse(p, mode), mode != kMulti ? Seqs{"0,1"} : (Seqs{"0", "1"})) << mode;
    }
}

TEST(LayoutBlocks, ParagraphCheckSwitchesNextLineMerging) {
    for (int check : {1, 0}) {
        SyntheticPage p;
        p.page.options.paragraphCheck = check;
        p.Text(IntBox{100, 100, 300, 112}, 12, "line one");
        p.Text(IntBox{100, 117, 280, 129}, 12, "line two");  // gap 5 < 6 = half the run height
        p.Text(IntBox{100, 140, 290, 152}, 12, "far below");  // gap 11: a new block either way
        EXPECT_EQ(Analyse(p, kAuto), check ? (Seqs{"0,1", "2"}) : (Seqs{"0", "1", "2"})) << check;
    }
}

TEST(LayoutBlocks, GraphicsUnderTextAreDroppedBesideTextKept) {
    SyntheticPage p;
    p.Text(IntBox{100, 100, 300, 112}, 12, "caption");
    p.Path(IntBox{90, 95, 310, 118});                                // shading under the text
    p.Path(IntBox{400, 100, 500, 160});                              // a box beside it
    p.Path(IntBox{400, 300, 500, 360}, qm::CommandKind::FillImage);  // a picture further down
    EXPECT_EQ(Analyse(p, kAuto), (Seqs{"0", "2", "3"}));
    // Ignore switches drop the kinds they name.
    p.page.options.ignoreVectorGraphics = 1;
    EXPECT_EQ(Analyse(p, kAuto), (Seqs{"0", "3"}));
    p.page.options.ignoreImages = 1;
    EXPECT_EQ(Analyse(p, kAuto), (Seqs{"0"}));
}

TEST(LayoutBlocks, OverlappingPathsFormOneFigureSeparateOnesDoNot) {
    SyntheticPage joined;
    joined.Path(IntBox{100, 100, 150, 150});
    joined.Path(IntBox{300, 100, 350, 150});  // joins only through the third path
    joined.Path(IntBox{140, 120, 310, 130});
    // Path 0 takes path 2, then path 1 (already passed) takes the grown figure.
    EXPECT_EQ(Analyse(joined, kAuto), (Seqs{"1,0,2"}));

    SyntheticPage apart;
    apart.Path(IntBox{100, 100, 150, 150});
    apart.Path(IntBox{152, 100, 200, 150});
    apart.Path(IntBox{100, 152, 150, 200});
    EXPECT_EQ(Analyse(apart, kAuto).size(), 3u);
}

TEST(LayoutBlocks, UserGroupIsOneBlockAndDisabledOrCroppedItemsAreLeftOut) {
    SyntheticPage p;
    auto *a = p.Text(IntBox{100, 100, 200, 112}, 12, "grouped");
    auto *b = p.Path(IntBox{100, 300, 200, 400});
    p.Group({a, b});
    p.Text(IntBox{100, 500, 200, 512}, 12, "plain")->disabled = 1;
    p.Text(IntBox{100, 1200, 200, 1212}, 12, "below the crop");
    qm::BlockList list;
    ASSERT_EQ(p.Build(list, 7, 1.0f, 0.5f), 1);
    EXPECT_TRUE(list.blocks[0].first->isGroup);
    EXPECT_EQ(list.blocks[0].box, (IntBox{100, 100, 200, 400}));
}

TEST(LayoutOrder, TwoColumnsReadColumnByColumnOrTopDownInSingleColumnMode) {
    SyntheticPage p;
    Column(p, 50, 350, 100, 4, 30);   // items 0..3
    Column(p, 450, 750, 100, 4, 30);  // items 4..7
    EXPECT_EQ(Analyse(p, kAuto), (Seqs{"0", "1", "2", "3", "4", "5", "6", "7"}));
    EXPECT_EQ(Analyse(p, kMulti), (Seqs{"0", "1", "2", "3", "4", "5", "6", "7"}));
    EXPECT_EQ(Analyse(p, kSingle), (Seqs{"0", "4", "1", "5", "2", "6", "3", "7"}));
}

TEST(LayoutOrder, HeadingFigureAndFootnoteAroundTwoColumns) {
    SyntheticPage p;
    p.Text(IntBox{50, 40, 750, 64}, 24, "Heading across both columns");  // 0
    Column(p, 50, 350, 100, 3, 30);                                     // 1..3
    Column(p, 450, 750, 100, 3, 30);                                    // 4..6
    p.Path(IntBox{300, 220, 500, 320}, qm::CommandKind::FillImage);     // 7: figure between columns
    Column(p, 50, 350, 340, 2, 30);                                     // 8, 9
    Column(p, 450, 750, 340, 2, 30);                                    // 10, 11
    p.Path(IntBox{50, 440, 250, 441});                                  // 12: footnote rule
    p.Text(IntBox{50, 450, 400, 460}, 10, "1 A footnote.");             // 13
    EXPECT_EQ(Analyse(p, kMulti),
              (Seqs{"0", "1", "2", "3", "4", "5", "6", "7", "8", "9", "10", "11", "12", "13"}));
}

TEST(LayoutOrder, MembersOfAParagraphReadLineByLine) {
    SyntheticPage p;
    // The right half of the first line comes first in the content; the second line joins it as
    // its next line and the left half, one pixel away, joins through the containment pass.
    p.Text(IntBox{160, 100, 300, 112}, 12, "first-b");
    p.Text(IntBox{100, 100, 159, 112}, 12, "first-a");
    p.Text(IntBox{100, 117, 300, 129}, 12, "second");
    EXPECT_EQ(Analyse(p, kAuto), (Seqs{"1,0,2"}));
}

TEST(LayoutPageBody, ResultsAndTheBlocksHandedToTheWriter) {
    RecordingPrompt prompt;
    {
        SyntheticPage p;
        Column(p, 50, 350, 100, 2, 30);
        RecordingSink sink;
        EXPECT_EQ(qm::WritePageBody(p.page, p.items, p.groups, sink, &prompt), qm::PageBodyResult::Written);
        EXPECT_EQ(sink.written, (Seqs{"0", "1"}));
        EXPECT_EQ(sink.begun, 1);
        EXPECT_EQ(sink.ended, 1);

        p.page.options.noOutput = 1;
        RecordingSink none;
        EXPECT_EQ(qm::WritePageBody(p.page, p.items, p.groups, none, &prompt), qm::PageBodyResult::Empty);
        EXPECT_EQ(none.begun, 0);
        EXPECT_TRUE(none.written.empty());
    }
    {
        // Every item disabled or outside the crop rectangle: no body.
        SyntheticPage p;
        p.Text(IntBox{100, 100, 200, 112}, 12, "off")->disabled = 1;
        p.Text(IntBox{100, 900, 200, 912}, 12, "cropped");
        p.page.cropRect = IntBox{0, 0, 800, 500};
        RecordingSink sink;
        EXPECT_EQ(qm::WritePageBody(p.page, p.items, p.groups, sink, &prompt), qm::PageBodyResult::NoBlock);
        EXPECT_TRUE(sink.written.empty());
    }
    {
        SyntheticPage p;
        p.page.options.imageWholePage = 1;
        RecordingSink sink;
        EXPECT_EQ(qm::WritePageBody(p.page, p.items, p.groups, sink, &prompt), qm::PageBodyResult::Empty);
        EXPECT_EQ(sink.raw,
                  "<p style=\"align:center;\"><img title=\"img\" alt=\"img\" style=\"width:100%;\" "
                  "src=\"image-7.png\" /></p>\n");
        EXPECT_TRUE(prompt.messages.empty());
        sink.saveResult = -1;
        sink.raw.clear();
        EXPECT_EQ(qm::WritePageBody(p.page, p.items, p.groups, sink, &prompt), qm::PageBodyResult::NoBlock);
        EXPECT_EQ(sink.raw, "");
        EXPECT_EQ(prompt.messages, (std::vector<std::string>{"Couldn't create page image file!"}));
        EXPECT_EQ(prompt.messageCaptions, (std::vector<std::string>{""}));
    }
}

TEST(LayoutAlignment, SingleLinesAndPictures) {
    SyntheticPage p;  // view page box 0..800
    auto align = [&](const IntBox &box, int lines = 1, bool left = true, bool right = true) {
        SyntheticPage q;
        q.Text(box, 12, "x");
        qm::BlockList list;
        q.Build(list, 0, 1.0f, 0.5f);
        return qm::BlockAlignment(q.page, list.blocks, 0, 1, lines, left, right);
    };
    EXPECT_EQ(align(IntBox{300, 100, 500, 112}), 1);  // centred
    EXPECT_EQ(align(IntBox{330, 100, 500, 112}), 1);  // off by 30 < 3 em = 36
    EXPECT_EQ(align(IntBox{340, 100, 500, 112}), 0);  // off by 40
    EXPECT_EQ(align(IntBox{690, 100, 750, 112}), 2);  // L 690 > R 50 + 3 x 60
    EXPECT_EQ(align(IntBox{500, 100, 750, 112}), 0);  // L 500 < R 50 + 3 x 250: left
    EXPECT_EQ(align(IntBox{50, 100, 750, 112}, 3, true, false), 0);
    EXPECT_EQ(align(IntBox{50, 100, 750, 112}, 3, false, false), 1);
    EXPECT_EQ(align(IntBox{50, 100, 750, 112}, 3, false, true), 0);

    auto picture = [&](const IntBox &box) {
        qm::TextBlock b;
        b.box = box;
        return qm::PictureAlignment(p.page, b);
    };
    EXPECT_EQ(picture(IntBox{300, 0, 500, 10}), 1);
    EXPECT_EQ(picture(IntBox{600, 0, 700, 10}), 2);  // L 600 > R 100 + 50
    EXPECT_EQ(picture(IntBox{10, 0, 110, 10}), 1);   // far left: still centred, never left
}

TEST(LayoutAlignment, FollowingBlocksOnTheSameRowWidenTheLine) {
    // A centred line cut into two blocks by a wide gap counts as one centred line.
    SyntheticPage p;
    p.Text(IntBox{250, 100, 380, 112}, 12, "left half");
    p.Text(IntBox{420, 100, 550, 112}, 12, "right half");
    qm::BlockList list;
    p.Build(list, 0, 1.0f, 0.5f);
    EXPECT_EQ(qm::BlockAlignment(p.page, list.blocks, 0, 2, 1, true, true), 1);
    EXPECT_EQ(qm::BlockAlignment(p.page, list.blocks, 0, 1, 1, true, true), 0);
}
