// The block writer on synthetic blocks: paragraphs, fill spaces, joined lines, spacers,
// alignment, pictures, and markup that stays well-formed.
#include <gtest/gtest.h>

#include "options/conversion_job.h"
#include "writer_support.h"
#include "xhtml/block_writer.h"

using qmtest::SyntheticPage;
using qmtest::XmlCount;
using qmtest::XmlText;

namespace {

using Harness = qmtest::WriterHarness;

size_t Count(const std::string &s, const std::string &what) {
    size_t n = 0;
    for (size_t p = s.find(what); p != std::string::npos; p = s.find(what, p + 1)) ++n;
    return n;
}

} // namespace

TEST(WriterBlock, FillSpacesBetweenRunsOnOneLine) {
    SyntheticPage p;
    p.page.options.alignCheck = 0;
    // cw is 10 (size 10, identity view): a gap of 25 gives 25 / 10 + 1 = 3 fills, the first of
    // them a space where the line may wrap; runs set one after the other at the pen none.
    auto *a = p.Run("ab", 100, 100, 50);
    const int cd = p.NaturalWidth("cd");
    auto *b = p.Run("cd", 175, 100, cd);
    auto *c = p.Run("ef", 175 + cd, 100, p.NaturalWidth("ef"));
    p.Block({a, b, c});
    Harness h(p);
    std::string out = h.WriteAll();
    // Runs of one style share their span.
    EXPECT_NE(std::string::npos, out.find("<span class=\"font10\">ab &#160;&#160;cdef</span>")) << out;
    EXPECT_EQ(1u, Count(out, "<p>"));
    EXPECT_EQ(1, XmlCount(out, "//h:p"));
}

TEST(WriterBlock, ParagraphCheckOffGivesOneParagraphPerLine) {
    SyntheticPage p;
    p.page.options.alignCheck = 0;
    p.page.options.paragraphCheck = 0;
    auto *a = p.Run("Alpha", 100, 100, 200);
    auto *b = p.Run("beta", 100, 112, 200);
    auto *c = p.Run("gamma", 100, 124, 200);
    p.Block({a, b, c});
    Harness h(p);
    std::string out = h.WriteAll();
    EXPECT_EQ(3, XmlCount(out, "//h:p")) << out;

    // With the check on, the lines of the same left and right edges are one paragraph, joined
    // by one space each.
    p.page.options.paragraphCheck = 1;
    out = h.WriteAll();
    EXPECT_EQ(1, XmlCount(out, "//h:p")) << out;
    EXPECT_NE(std::string::npos, XmlText(out).find("Alpha beta gamma")) << out;
}

TEST(WriterBlock, JustifiedHyphenatedLineJoinsWithoutHyphen) {
    SyntheticPage p;
    p.page.options.alignCheck = 0;
    auto *a = p.Run("Justified para-", 100, 100, 300);
    auto *b = p.Run("graph text goes", 100, 112, 300);
    auto *c = p.Run("on here", 100, 124, 150);
    p.Block({a, b, c});
    Harness h(p);
    std::string out = h.WriteAll();
    EXPECT_NE(std::string::npos, out.find("Justified paragraph text goes")) << out;
    EXPECT_EQ(std::string::npos, out.find("para-"));
    EXPECT_EQ(1, XmlCount(out, "//h:p"));
}

TEST(WriterBlock, LinesOfAParagraphStayTwoWords) {
    // A block starting with a capital whose next line starts in lower case continues the
    // paragraph; the last word of a line and the first of the next must not run together.
    SyntheticPage p;
    p.page.options.alignCheck = 0;
    auto *a = p.Run("The quick", 100, 100, 120);
    auto *b = p.Run("brown fox", 100, 112, 200);
    auto *c = p.Run("jumps", 100, 124, 60);
    p.Block({a, b, c});
    Harness h(p);
    std::string text = XmlText(h.WriteAll());
    EXPECT_NE(std::string::npos, text.find("quick brown")) << text;
    EXPECT_NE(std::string::npos, text.find("fox jumps")) << text;
}

TEST(WriterBlock, SpacerAfterAGapOfThreeLineHeights) {
    SyntheticPage p;
    p.page.options.alignCheck = 0;
    auto *a = p.Run("First", 100, 100, 60);
    auto *b = p.Run("Second", 100, 140, 60);  // 30 below the first line's bottom: 3 line heights
    p.Block({a});
    p.Block({b});
    Harness h(p);
    std::string out = h.WriteAll();
    EXPECT_NE(std::string::npos, out.find("First</span></p>\n<div style=\"height:20px;width:1px;\"></div>\n")) << out;
    EXPECT_EQ(2, XmlCount(out, "//h:p"));
}

TEST(WriterBlock, AlignmentOfSingleLinesAndPictures) {
    SyntheticPage p;
    p.page.options.alignCheck = 1;
    auto *t = p.Run("Title", 250, 100, 100);         // centred on the 600-pixel page
    auto *left = p.Picture(0, 200, 100, 300);        // at the left edge: still centred
    auto *right = p.Picture(480, 400, 580, 500);     // far right
    p.Block({t});
    p.Block({left});
    p.Block({right});
    Harness h(p);
    std::string out = h.WriteAll();
    EXPECT_NE(std::string::npos, out.find("<p style=\"text-align:center;\"><span class=\"font10\">Title")) << out;
    EXPECT_EQ(std::string::npos, out.find("text-align:left")) << out;
    EXPECT_NE(std::string::npos, out.find("<div style=\"text-align:center;\"><img title=\"img\" alt=\"img\" "
                                          "src=\"image-1.png\" /></div>"));
    EXPECT_NE(std::string::npos, out.find("<div style=\"text-align:right;\"><img title=\"img\" alt=\"img\" "
                                          "src=\"image-2.png\" /></div>"));
    EXPECT_EQ(2, XmlCount(out, "//h:img"));

    // A picture that cannot be saved leaves its block out.
    h.setup.savePicture = [](const qm::IntBox *, std::string &) { return qm::PngResult::FileFailed; };
    out = h.WriteAll();
    EXPECT_EQ(0, XmlCount(out, "//h:img"));
}

TEST(WriterBlock, PictureInsideAnOpenParagraphKeepsMarkupValid) {
    SyntheticPage p;
    p.page.options.alignCheck = 0;
    // The first block's line continues on the same line in the next block, whose first run the
    // user marked "to Graphic": the paragraph is still open when the picture comes.
    auto *a = p.Run("Before", 100, 100, 60);
    auto *g = p.Run("G", 170, 100, 10);
    g->mark = 2;
    auto *b = p.Run("after", 190, 100, 50);
    p.Block({a});
    p.Block({g, b});
    Harness h(p);
    std::string out = h.WriteAll();
    // The paragraph is closed before the picture and reopened after it.
    EXPECT_NE(std::string::npos, out.find("Before</span> &#160;</p>\n<div style=\"text-align:center;\"><img title=\"img\" "
                                          "alt=\"img\" src=\"image-1.png\" /></div>\n<p>")) << out;
    EXPECT_EQ(0, XmlCount(out, "//h:p//h:div")) << out;
    EXPECT_EQ(1, XmlCount(out, "//h:img"));
    std::string text = XmlText(out);
    EXPECT_LT(text.find("Before"), text.find("after"));
}

TEST(WriterBlock, StatisticsOfOneLineAndOfRaggedText) {
    SyntheticPage p;
    auto *a = p.Run("One line", 100, 100, 80);
    auto *l1 = p.Run("Ragged text", 100, 200, 300);
    auto *l2 = p.Run("with room at", 100, 212, 120);
    auto *l3 = p.Run("the ends of it", 100, 224, 280);
    p.Block({a});
    p.Block({l1, l2, l3});
    Harness h(p);
    std::string out;
    qm::BlockWriter w(out, h.setup);
    w.SetPage(p.page);
    w.BeginWriterState();
    w.State()->block = &p.blocks[0];
    w.BlockStatistics();
    EXPECT_EQ(1, w.State()->lineCount);
    EXPECT_TRUE(w.State()->leftAligned);
    EXPECT_TRUE(w.State()->rightAligned);
    EXPECT_TRUE(w.State()->startsWithCapital);
    w.State()->block = &p.blocks[1];
    w.BlockStatistics();
    EXPECT_EQ(3, w.State()->lineCount);
    EXPECT_TRUE(w.State()->leftAligned);
    // "the" (3 glyphs of 280 / 14 px) would have fitted after "Ragged text"? No room is left there,
    // but 180 px after "with room at": ragged.
    EXPECT_FALSE(w.State()->rightAligned);
    EXPECT_EQ((qm::IntBox{100, 224, 160, 234}), w.FirstWordBox(*l3));
}

TEST(WriterBlock, OpenMarkupIsClosedAtTheEndOfThePage) {
    SyntheticPage p;
    p.page.options.alignCheck = 0;
    auto *a = p.Run("Dangling", 100, 100, 80);
    p.Block({a});
    Harness h(p);
    std::string out;
    {
        qm::BlockWriter w(out, h.setup);
        w.SetPage(p.page);
        w.BeginPage();
        w.State()->paragraphOpen = true;  // as left by a block continued on a next one
        out += "<p>";
        w.State()->spanOpen = true;
        out += "<span>";
        w.EndPage();
    }
    EXPECT_EQ(1, XmlCount(out, "//h:p")) << out;
}
