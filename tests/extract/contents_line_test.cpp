// Reading one line of a printed contents listing: where the title ends, whether the leader and
// number make it an entry, and which page the number names.
#include <gtest/gtest.h>

#include "extract/contents_page.h"

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
    qm::ContentsLine dots = qm::ParseContentsLine(Chars("Getting started ........ 12"), 10, 40);
    EXPECT_TRUE(dots.entry);
    EXPECT_EQ(dots.title, "Getting started");
    EXPECT_EQ(dots.number, "12");
    EXPECT_EQ(dots.page, 12);

    // A gap of more than two ems instead of dots; the title's own full stop stays.
    qm::ContentsLine gap = qm::ParseContentsLine(Chars("Notes on use.|xi", 30), 10, 40);
    EXPECT_TRUE(gap.entry);
    EXPECT_EQ(gap.title, "Notes on use.");
    EXPECT_EQ(gap.page, 11);

    // Dots glued to the number, markup characters escaped.
    qm::ContentsLine glued = qm::ParseContentsLine(Chars("Q&A .......7  "), 10, 40);
    EXPECT_TRUE(glued.entry);
    EXPECT_EQ(glued.title, "Q&amp;A");
    EXPECT_EQ(glued.page, 7);
}

TEST(ContentsLine, ProseEndingInANumberIsNoEntry) {
    // An ordinary word gap, no leader.
    EXPECT_FALSE(qm::ParseContentsLine(Chars("the results are shown in table 3"), 10, 40).entry);
    // A number that is no page of the document, even after a leader.
    qm::ContentsLine beyond = qm::ParseContentsLine(Chars("Founded ........ 1998"), 10, 40);
    EXPECT_FALSE(beyond.entry);
    EXPECT_EQ(beyond.page, 0);
    // Digits or roman letters inside a word, and a line of nothing but a number.
    EXPECT_FALSE(qm::ParseContentsLine(Chars("Upgrading to Windows10"), 10, 40).entry);
    EXPECT_FALSE(qm::ParseContentsLine(Chars("Our model ........ civil"), 10, 40).entry);
    EXPECT_FALSE(qm::ParseContentsLine(Chars("........ 12"), 10, 40).entry);
    EXPECT_FALSE(qm::ParseContentsLine(Chars("27"), 10, 40).entry);
    EXPECT_FALSE(qm::ParseContentsLine(Chars(""), 10, 40).entry);
}

} // namespace
