// Reading one line of a printed contents listing: where the title ends, whether the leader and
// number make it an entry, and which page the number names.
#include <gtest/gtest.h>

#include "extract/contents_page.h"
#include "extract/running_heads.h"

namespace {

// Characters laid out left to right, 5 units each; a '|' in `text` stands for a gap of `gapUnits`.
std::vector<qm::TextChar> Chars(const std::string &text, int gapUnits = 0) {
    std::vector<qm::TextChar> chars;
    int x = 0;
    for (char c : text) {
        if (c == '|') {
            x += gapUnits;
            continue;
        }
        chars.push_back(qm::TextChar{static_cast<unsigned char>(c), qm::IntBox{x, 0, x + 5, 10}});
        x += 5;
    }
    return chars;
}

const qm::PageNumbering kForty{40, nullptr};

TEST(ContentsLine, RomanNumeralsOnlyInTheirUsualForm) {
    EXPECT_EQ(qm::RomanValue("iii"), 3);
    EXPECT_EQ(qm::RomanValue("xiv"), 14);
    EXPECT_EQ(qm::RomanValue("XLIX"), 49);
    EXPECT_EQ(qm::RomanValue("mcmxc"), 1990);
    // Words made of the same letters, mixed case and non-shortest forms are no numbers.
    EXPECT_EQ(qm::RomanValue("mild"), 0);
    EXPECT_EQ(qm::RomanValue("did"), 0);
    EXPECT_EQ(qm::RomanValue("iiii"), 0);
    EXPECT_EQ(qm::RomanValue("ic"), 0);
    EXPECT_EQ(qm::RomanValue("Xiv"), 0);
    EXPECT_EQ(qm::RomanValue(""), 0);
}

TEST(ContentsLine, DotLeaderOrWideGapBeforeAPageMakesAnEntry) {
    qm::ContentsLine dots = qm::ParseContentsLine(Chars("Getting started ........ 12"), 10, kForty);
    EXPECT_TRUE(dots.entry);
    EXPECT_EQ(dots.title, "Getting started");
    EXPECT_EQ(dots.number, "12");
    EXPECT_EQ(dots.page, 12);

    // A gap of more than two ems instead of dots; the title's own full stop stays.
    qm::ContentsLine gap = qm::ParseContentsLine(Chars("Notes on use.|xi", 30), 10, kForty);
    EXPECT_TRUE(gap.entry);
    EXPECT_EQ(gap.title, "Notes on use.");
    EXPECT_EQ(gap.page, 11);

    // Dots glued to the number, markup characters escaped.
    qm::ContentsLine glued = qm::ParseContentsLine(Chars("Q&A .......7  "), 10, kForty);
    EXPECT_TRUE(glued.entry);
    EXPECT_EQ(glued.title, "Q&amp;A");
    EXPECT_EQ(glued.page, 7);
}

TEST(ContentsLine, ProseEndingInANumberIsNoEntry) {
    // An ordinary word gap, no leader.
    EXPECT_FALSE(qm::ParseContentsLine(Chars("the results are shown in table 3"), 10, kForty).entry);
    // A number that is no page of the document, even after a leader.
    qm::ContentsLine beyond = qm::ParseContentsLine(Chars("Founded ........ 1998"), 10, kForty);
    EXPECT_FALSE(beyond.entry);
    EXPECT_EQ(beyond.page, 0);
    // Digits or roman letters inside a word, and a line of nothing but a number.
    EXPECT_FALSE(qm::ParseContentsLine(Chars("Upgrading to Windows10"), 10, kForty).entry);
    EXPECT_FALSE(qm::ParseContentsLine(Chars("Our model ........ civil"), 10, kForty).entry);
    EXPECT_FALSE(qm::ParseContentsLine(Chars("........ 12"), 10, kForty).entry);
    EXPECT_FALSE(qm::ParseContentsLine(Chars("27"), 10, kForty).entry);
    EXPECT_FALSE(qm::ParseContentsLine(Chars(""), 10, kForty).entry);
}

} // namespace

namespace {

TEST(ContentsLine, PrintedNumbersNamePagesThroughTheLabels) {
    // Two title pages labelled "T-1", "T-2", one roman page, then arabic from 1 (as a typesetter
    // numbers a manual); 30 pages in all.
    const std::vector<qm::PageLabelRange> labels = {{1, 'D', "T-", 1}, {3, 'r', "", 1}, {4, 'D', "", 1}};
    const qm::PageNumbering numbering{30, &labels};
    EXPECT_EQ(numbering.PageOf("1"), 4);
    EXPECT_EQ(numbering.PageOf("27"), 30);
    EXPECT_EQ(numbering.PageOf("28"), 0);  // beyond the last page
    EXPECT_EQ(numbering.PageOf("i"), 3);
    EXPECT_EQ(numbering.PageOf("ii"), 0);  // the roman range is one page long
    EXPECT_EQ(numbering.PageOf("I"), 0);   // no upper-case roman range
    // A roman range that starts from a later number, and no labels at all.
    const std::vector<qm::PageLabelRange> later = {{1, 'r', "", 3}, {5, 'D', "", 1}};
    EXPECT_EQ((qm::PageNumbering{30, &later}.PageOf("iv")), 2);
    EXPECT_EQ((qm::PageNumbering{30, &later}.PageOf("ii")), 0);
    EXPECT_EQ((qm::PageNumbering{30, nullptr}.PageOf("xii")), 12);
    EXPECT_EQ((qm::PageNumbering{30, nullptr}.PageOf("99999999999999")), 0);
}

// Without labels, a learned shift moves the printed numbers; one that leads off the document
// names no page, and labels win over it.
TEST(ContentsLine, ShiftedNumberingWithoutLabels) {
    qm::PageNumbering numbering{20, nullptr};
    numbering.arabicShift = 4;
    numbering.romanShift = 0;
    EXPECT_EQ(numbering.PageOf("1"), 5);
    EXPECT_EQ(numbering.PageOf("16"), 20);
    EXPECT_EQ(numbering.PageOf("17"), 0);
    EXPECT_EQ(numbering.PageOf("iii"), 3);
    numbering.arabicShift = -200;  // an article printed from page 201
    EXPECT_EQ(numbering.PageOf("201"), 1);
    EXPECT_EQ(numbering.PageOf("200"), 0);
    numbering.arabicShift = 9000000000000LL;
    EXPECT_EQ(numbering.PageOf("5"), 0);
    const std::vector<qm::PageLabelRange> labels = {{1, 'D', "", 1}};
    qm::PageNumbering labelled{20, &labels};
    labelled.arabicShift = 4;
    EXPECT_EQ(labelled.PageOf("1"), 1);
}

// The shift comes from page numbers printed in the feet: one sequence gives it, two sequences that
// disagree (or none) give nothing, and the caller's value is left as it was.
TEST(ContentsLine, PageNumberShiftIsLearnedOnlyWhenTheFeetAgree) {
    const auto learn = [](int jumpFrom) {
        std::vector<qm::SampledPage> sample;
        for (int page = 1; page <= 16; ++page) {
            qm::SampledPage s;
            s.pageNumber = page;
            if (page > 4) {
                const int printed = page - 4 + (jumpFrom && page >= jumpFrom ? 5 : 0);
                s.lines.push_back(qm::MakeBandLine(1, 0, fz_rect{300, 750, 310, 760}, 758, std::to_string(printed)));
            }
            sample.push_back(std::move(s));
        }
        return qm::LearnRunningHeads(sample, 16);
    };
    long long shift = 77;
    EXPECT_TRUE(learn(0).NumberShift(1, shift));
    EXPECT_EQ(shift, 4);
    shift = 77;
    EXPECT_FALSE(learn(0).NumberShift(2, shift));  // no roman numbers printed
    EXPECT_FALSE(learn(10).NumberShift(1, shift));
    EXPECT_FALSE(qm::RunningHeadPatterns().NumberShift(1, shift));
    EXPECT_EQ(shift, 77);
}

} // namespace
