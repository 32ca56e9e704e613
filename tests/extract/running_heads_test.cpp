// Running heads: the keys lines are compared by, and which repeated band lines are judged to be
// running heads, feet and page numbers.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "extract/roman_numeral.h"
#include "extract/running_heads.h"

namespace {

using qm::BandLine;
using qm::JudgeRunningHeads;
using qm::MakeBandLine;

fz_rect Box(float x0, float y0, float x1, float y1) { return fz_rect{x0, y0, x1, y1}; }

// A band line at a baseline, about 9 points high.
BandLine At(int band, float baseline, const std::string &text, int line = 0, float x0 = 72, float x1 = 300) {
    return MakeBandLine(band, line, Box(x0, baseline - 9, x1, baseline + 3), baseline, text);
}

TEST(RunningHeadKeys, NumbersAndRomanNumeralsReadAlike) {
    EXPECT_EQ(At(0, 40, "46  Program Manual 5.4").key, At(0, 40, "112 Program Manual 5.4").key);
    EXPECT_EQ(At(0, 40, "Chapter IV Basics").key, At(0, 40, "Chapter xii Basics").key);
    EXPECT_EQ(At(0, 40, "Page 3 of 12").key, "page # of #");
    EXPECT_NE(At(0, 40, "Paragraph one").key, At(0, 40, "Paragraph two").key);
    // Words made of numeral letters that are no numeral in its usual form stay words.
    EXPECT_EQ(qm::RomanValue("mix"), 1009);
    EXPECT_EQ(qm::RomanValue("did"), 0);
    EXPECT_EQ(qm::RomanValue("IIII"), 0);
    EXPECT_EQ(qm::RomanValue("Xi"), 0);
    EXPECT_EQ(qm::RomanValue("xiv"), 14);
    EXPECT_EQ(qm::RomanValue("MCMXCIX"), 1999);

    // Lone numbers, with the punctuation around them.
    EXPECT_EQ(At(1, 770, "- 12 -").loneKind, 0);  // three tokens
    const BandLine dashed = At(1, 770, "-12-");
    EXPECT_EQ(dashed.loneKind, 1);
    EXPECT_EQ(dashed.loneValue, 12);
    const BandLine roman = At(1, 770, "(vii)");
    EXPECT_EQ(roman.loneKind, 2);
    EXPECT_EQ(roman.loneValue, 7);
    EXPECT_EQ(At(1, 770, "1234567").loneKind, 0);  // too long to be a page number
    EXPECT_EQ(At(1, 770, "Index").loneKind, 0);
}

TEST(RunningHeadJudging, RepeatedLinesGoAndEverythingElseStays) {
    // Ten pages: a head on every page, a foot with a page number on every page, a first body
    // line in the top band that differs from page to page, and a line seen only twice.
    std::vector<std::vector<BandLine>> pages(10);
    for (int p = 1; p <= 10; ++p) {
        auto &lines = pages[static_cast<size_t>(p - 1)];
        lines.push_back(At(0, 36, "Program Manual " + std::to_string(p), 0));
        lines.push_back(At(0, 58, p % 2 ? "Body text begins here on an odd page" + std::string(p, 'x')
                                      : "Another sentence about page " + std::string(p, 'y'),
                           1));
        lines.push_back(At(1, 770, std::to_string(p + 4), 2, 300, 312));
        if (p == 3 || p == 7) lines.push_back(At(1, 755, "Draft copy", 3));
    }
    const qm::RunningHeads heads = JudgeRunningHeads(pages);
    for (int p = 1; p <= 10; ++p) {
        ASSERT_EQ(heads.Page(p).size(), 2u) << "page " << p;
        EXPECT_FLOAT_EQ(heads.Page(p)[0].y1, 39);
        EXPECT_FLOAT_EQ(heads.Page(p)[1].y1, 773);
    }
    EXPECT_EQ(heads.Count(), 20);
    EXPECT_TRUE(heads.Page(0).empty());
    EXPECT_TRUE(heads.Page(11).empty());
}

TEST(RunningHeadJudging, OddAndEvenPagesAreJudgedApart) {
    // Odd pages: the head at 36, the number at the right; even pages: at 48, on the left. Either
    // alone repeats on at least three pages of its parity; a third line changes its height on
    // every page and never repeats.
    std::vector<std::vector<BandLine>> pages(7);
    for (int p = 1; p <= 7; ++p) {
        auto &lines = pages[static_cast<size_t>(p - 1)];
        const float y = p % 2 ? 36.f : 48.f;
        lines.push_back(At(0, y, p % 2 ? "Chapter One" : "The Book", 0, 72, 200));
        lines.push_back(At(0, y, std::to_string(p), 0, 500, 520));
        lines.push_back(At(1, 740.f + 4.f * static_cast<float>(p), "Moving note", 1));
    }
    const qm::RunningHeads heads = JudgeRunningHeads(pages);
    for (int p = 1; p <= 7; ++p) {
        // Both pieces of the head line go: one area covering the whole line.
        ASSERT_EQ(heads.Page(p).size(), 1u) << "page " << p;
        EXPECT_FLOAT_EQ(heads.Page(p)[0].x0, 72);
        EXPECT_FLOAT_EQ(heads.Page(p)[0].x1, 520);
    }
}

TEST(RunningHeadJudging, PiecesAndNumbersAreJudgedOnTheirOwn) {
    std::vector<std::vector<BandLine>> pages(9);
    for (int p = 1; p <= 9; ++p) {
        auto &lines = pages[static_cast<size_t>(p - 1)];
        // A section title that changes every page beside a page number that follows the pages:
        // only the number goes.
        lines.push_back(At(0, 36, "Section title " + std::string(static_cast<size_t>(p), 'q'), 0, 72, 200));
        lines.push_back(At(0, 36, std::to_string(p + 10), 0, 500, 520));
        // Numbers in a foot that do not follow the pages (a table's column of figures) stay.
        lines.push_back(At(1, 770, std::to_string((p * 37) % 11), 1, 300, 310));
        // Roman numbers that follow the pages go.
        static const char *kRomans[] = {"i", "ii", "iii", "iv", "v", "vi", "vii", "viii", "ix"};
        lines.push_back(At(1, 780, kRomans[p - 1], 2, 300, 310));
    }
    const qm::RunningHeads heads = JudgeRunningHeads(pages);
    for (int p = 1; p <= 9; ++p) {
        const auto &areas = heads.Page(p);
        ASSERT_EQ(areas.size(), 2u) << "page " << p;
        EXPECT_FLOAT_EQ(areas[0].x0, 500);  // the number of the head, not its title
        EXPECT_FLOAT_EQ(areas[1].y1, 783);  // the roman foot, not the figures
    }
}

TEST(RunningHeadJudging, FewPagesOrFewRepeatsKeepEverything) {
    // Two pages alike: a line seen twice is never taken for a running head.
    std::vector<std::vector<BandLine>> two(2);
    for (int p = 1; p <= 2; ++p) {
        two[static_cast<size_t>(p - 1)].push_back(At(0, 36, "Program Manual", 0));
        two[static_cast<size_t>(p - 1)].push_back(At(1, 770, std::to_string(p), 1));
    }
    EXPECT_EQ(JudgeRunningHeads(two).Count(), 0);

    // Four pages, the head on two odd and two even pages at different heights: twice each.
    std::vector<std::vector<BandLine>> four(4);
    for (int p = 1; p <= 4; ++p) four[static_cast<size_t>(p - 1)].push_back(At(0, p % 2 ? 36.f : 50.f, "Manual", 0));
    EXPECT_EQ(JudgeRunningHeads(four).Count(), 0);

    // The same line three times, but never at the same height.
    std::vector<std::vector<BandLine>> drifting(3);
    for (int p = 1; p <= 3; ++p)
        drifting[static_cast<size_t>(p - 1)].push_back(At(0, 30.f + 10.f * static_cast<float>(p), "Manual", 0));
    EXPECT_EQ(JudgeRunningHeads(drifting).Count(), 0);
}

TEST(RunningHeadJudging, LinesLargerThanTheBodyAreHeadings) {
    // "Chapter N" at the top of every page, set at 18 points over 10-point body text, is each
    // page's heading; the 9-point foot is a running foot.
    std::vector<std::vector<BandLine>> pages(6);
    for (int p = 1; p <= 6; ++p) {
        BandLine heading = At(0, 52, "Chapter " + std::to_string(p), 0);
        heading.size = 18;
        BandLine foot = At(1, 770, "Keeper's log", 1);
        foot.size = 9;
        pages[static_cast<size_t>(p - 1)] = {heading, foot};
    }
    const std::vector<float> bodySizes(6, 10.0f);
    const qm::RunningHeads heads = JudgeRunningHeads(pages, &bodySizes);
    for (int p = 1; p <= 6; ++p) {
        ASSERT_EQ(heads.Page(p).size(), 1u);
        EXPECT_FLOAT_EQ(heads.Page(p)[0].y1, 773);
    }
    // Without the body sizes, nothing tells the heading from a running head.
    EXPECT_EQ(JudgeRunningHeads(pages).Count(), 12);
}

TEST(RunningHeadSampling, ShortDocumentsWholeLongOnesInWindowsOfBothParities) {
    EXPECT_TRUE(qm::RunningHeadSample(0).empty());
    EXPECT_EQ(qm::RunningHeadSample(5), (std::vector<int>{1, 2, 3, 4, 5}));
    EXPECT_EQ(qm::RunningHeadSample(36).size(), 36u);
    for (const int pages : {37, 200, 5000}) {
        const std::vector<int> sample = qm::RunningHeadSample(pages);
        ASSERT_FALSE(sample.empty());
        EXPECT_LE(sample.size(), 36u) << pages;
        EXPECT_EQ(sample.front(), 1) << pages;
        EXPECT_EQ(sample.back(), pages) << pages;
        EXPECT_TRUE(std::is_sorted(sample.begin(), sample.end()));
        EXPECT_EQ(std::adjacent_find(sample.begin(), sample.end()), sample.end()) << "a page twice";
        const auto odd = std::count_if(sample.begin(), sample.end(), [](int p) { return p % 2 == 1; });
        EXPECT_GE(odd, qm::kMinRepeats) << pages;
        EXPECT_GE(static_cast<long>(sample.size()) - odd, qm::kMinRepeats) << pages;
    }
}

TEST(RunningHeadJudging, PatternsLearnedFromTheSampleCutThePagesNotRead) {
    // 200 pages, each with a head, a page number following the pages and, on the pages 100 to
    // 102 only (none of them sampled), a note at the foot: the note stays, and so do a number
    // that does not follow the pages and the head's text at another height.
    constexpr int kPages = 200;
    auto linesOf = [](int p) {
        std::vector<BandLine> lines{At(0, 36, "Program Manual 5.4", 0), At(1, 770, std::to_string(p + 2), 1, 300, 312)};
        if (p >= 100 && p <= 102) lines.push_back(At(1, 755, "Draft copy", 2));
        return lines;
    };
    std::vector<qm::SampledPage> sample;
    for (const int p : qm::RunningHeadSample(kPages)) {
        ASSERT_FALSE(p >= 100 && p <= 102);
        sample.push_back(qm::SampledPage{p, linesOf(p), 10.0f});
    }
    const qm::RunningHeadPatterns patterns = qm::LearnRunningHeads(sample, kPages);
    for (int p = 99; p <= 103; ++p) {
        const auto areas = patterns.Areas(p, linesOf(p));
        ASSERT_EQ(areas.size(), 2u) << "page " << p;
        EXPECT_FLOAT_EQ(areas[0].y1, 39);
        EXPECT_FLOAT_EQ(areas[1].y1, 773);
    }
    EXPECT_TRUE(patterns.Areas(100, {At(1, 770, "7", 0), At(0, 60, "Program Manual 5.4", 1)}).empty());
    // A heading set clearly larger than the sample's body text is kept even where it reads like the head.
    BandLine large = At(0, 36, "Program Manual 5.4", 0);
    large.size = 16;
    EXPECT_TRUE(patterns.Areas(100, {large}).empty());
    // Two pages in a document: nothing is learned.
    EXPECT_TRUE(qm::LearnRunningHeads({qm::SampledPage{1, linesOf(1), 10.0f}, qm::SampledPage{2, linesOf(2), 10.0f}}, 2)
                    .Empty());
}

TEST(RunningHeadAreas, RunsInsideAnAreaOnly) {
    // Page space to view space at twice the size.
    const std::vector<qm::IntBox> view = qm::RunningHeadViewBoxes({Box(72, 30, 200, 42)}, fz_scale(2, 2));
    ASSERT_EQ(view.size(), 1u);
    EXPECT_TRUE(qm::InsideRunningHead(view, qm::IntBox{144, 58, 400, 84}));
    EXPECT_TRUE(qm::InsideRunningHead(view, qm::IntBox{140, 54, 404, 88}));  // glyph boxes a little wider
    EXPECT_FALSE(qm::InsideRunningHead(view, qm::IntBox{144, 58, 400, 130}));  // a run reaching into the body
    EXPECT_FALSE(qm::InsideRunningHead(view, qm::IntBox{600, 58, 700, 84}));
    EXPECT_FALSE(qm::InsideRunningHead({}, qm::IntBox{144, 58, 400, 84}));
}

} // namespace

namespace {

// A head line with its font size, as the band readers give it.
BandLine Sized(int band, float baseline, const std::string &text, float size, int line = 0) {
    BandLine l = At(band, baseline, text, line);
    l.size = size;
    return l;
}

// 120 pages in chapters of 10: the head carries the chapter's name, the foot the page number.
std::vector<BandLine> ChapterPage(int p) {
    static const char *kNames[] = {"Ash", "Birch", "Elm", "Fern", "Hazel", "Oak", "Pine", "Rowan", "Yew", "Alder",
                                   "Beech", "Holly"};
    const std::string head = "Chapter " + std::to_string((p - 1) / 10 + 1) + " " + kNames[((p - 1) / 10) % 12];
    return {Sized(0, 36, head, 9, 0),
            Sized(1, 770, std::to_string(p), 9, 1)};
}

qm::RunningHeadPatterns LearnChapters(int pages, std::vector<BandLine> (*linesOf)(int)) {
    std::vector<qm::SampledPage> sample;
    for (const int p : qm::RunningHeadSample(pages)) sample.push_back(qm::SampledPage{p, linesOf(p), 11.0f});
    return qm::LearnRunningHeads(sample, pages);
}

} // namespace

TEST(RunningHeadSlots, HeadsThatChangePerChapterGoWhereTheyRepeatOnANeighbour) {
    constexpr int kPages = 120;
    const qm::RunningHeadPatterns patterns = LearnChapters(kPages, ChapterPage);
    ASSERT_EQ(patterns.Slots().size(), 1u);
    EXPECT_EQ(patterns.Slots()[0].band, 0);
    // Page 35 lies in a chapter no sample window reached: its head is no pattern.
    for (const int p : qm::RunningHeadSample(kPages)) ASSERT_NE((p - 1) / 10, 3);
    EXPECT_EQ(patterns.Areas(35, ChapterPage(35)).size(), 1u);  // the page number only

    // Neighbours at hand are asked first; a page is read only when those do not settle it.
    std::vector<std::pair<int, bool>> asked;
    auto neighbours = [&](std::vector<int> atHand, std::vector<BandLine> (*linesOf)(int)) {
        return [&asked, atHand, linesOf](int q, bool read, std::vector<BandLine> &out) {
            asked.emplace_back(q, read);
            if (!read && std::find(atHand.begin(), atHand.end(), q) == atHand.end()) return false;
            out = linesOf(q);
            return true;
        };
    };
    EXPECT_EQ(patterns.Areas(35, ChapterPage(35), neighbours({34, 33}, ChapterPage)).size(), 2u);
    EXPECT_EQ(asked, (std::vector<std::pair<int, bool>>{{34, false}, {36, false}, {33, false}}));
    asked.clear();
    // The chapter's first page with a head (page 32; page 31 opens the chapter without one) finds
    // it on the pages after, read from the document.
    auto opening = [](int q) { return q == 31 ? std::vector<BandLine>{} : ChapterPage(q); };
    EXPECT_EQ(patterns.Areas(32, ChapterPage(32), neighbours({31, 30}, opening)).size(), 2u);
    EXPECT_EQ(asked.back(), (std::pair<int, bool>{34, true}));
    // A head on odd pages only is found two and four pages on.
    auto odd = [](int q) { return q % 2 ? ChapterPage(q) : std::vector<BandLine>{}; };
    EXPECT_EQ(patterns.Areas(33, ChapterPage(33), neighbours({}, odd)).size(), 2u);

    // A line in the head's place that fewer than two neighbours repeat stays: the first body line
    // of a page without a head, a text seen on two pages only, a line of another size.
    EXPECT_EQ(patterns.Areas(35, {Sized(0, 36, "The first line of the text", 9)}, neighbours({34}, ChapterPage)).size(),
              0u);
    auto twice = [](int q) {
        return q == 36 ? ChapterPage(35) : std::vector<BandLine>{Sized(0, 36, "Chapter 9 Tale", 9, 0)};
    };
    EXPECT_EQ(patterns.Areas(35, ChapterPage(35), neighbours({}, twice)).size(), 1u);  // the page number only
    auto larger = [](int q) {
        std::vector<BandLine> lines = ChapterPage(q);
        lines[0].size = 10;
        return lines;
    };
    EXPECT_EQ(patterns.Areas(35, larger(35), neighbours({}, larger)).size(), 1u);  // the page number only
    // Neighbours are pages of the document only.
    asked.clear();
    patterns.Areas(kPages, {Sized(0, 36, "Closing words", 9)}, neighbours({}, ChapterPage));
    EXPECT_EQ(asked.size(), 8u);
    for (const auto &[q, read] : asked) EXPECT_TRUE(q >= kPages - 4 && q < kPages) << q;
}

TEST(RunningHeadSlots, OneTextInAPlaceMakesNoSlot) {
    // Every sampled page carries the same head: nothing is judged by repetition.
    auto same = [](int p) { return std::vector<BandLine>{Sized(0, 36, "Program Manual", 9), Sized(1, 770, std::to_string(p), 9, 1)}; };
    const qm::RunningHeadPatterns patterns = LearnChapters(120, +same);
    EXPECT_TRUE(patterns.Slots().empty());
    EXPECT_FALSE(patterns.Empty());
}
