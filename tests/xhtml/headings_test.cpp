// Which blocks become headings: the page's body style, what may never be one (page numbers,
// running heads, contents entries, bold paragraphs, rows of cells), headings over several lines,
// and the labels the navigation gets.
#include <gtest/gtest.h>

#include <atomic>
#include <regex>
#include <string>
#include <vector>

#include "options/conversion_job.h"
#include "options/conversion_options.h"
#include "pdf/pdf_document.h"
#include "platform/paths.h"
#include "support/pdf_fixture.h"
#include "support/recording_prompt.h"
#include "support/temp_dir.h"
#include "xhtml/document_converter.h"

namespace {

struct Book {
    std::string page;       // page-1.html
    std::string navPoints;  // the navigation points file, "" when none was made
};

class HeadingsTest : public ::testing::Test {
protected:
    qmtest::TempDir dir;
    qmtest::PdfBuilder b;

    // Ten lines of 10 pt body text from `top` down.
    void Body(int page, double top, int lines = 10) {
        for (int i = 0; i < lines; ++i)
            b.Text(page, 72, top - 12 * i, "plain words of the body text that fill a line of this page", 10);
    }

    Book Convert(int parseMode = 0) {
        const std::string pdf = dir.File("doc-" + std::to_string(runs_) + ".pdf");
        EXPECT_TRUE(b.Save(pdf));
        const std::string work = dir.File("work-" + std::to_string(runs_++) + "/");
        qm::CreateFolder(work);
        qmtest::RecordingPrompt prompt;
        qm::PdfDocument doc;
        doc.SetPrompt(&prompt);
        EXPECT_EQ(doc.Open(pdf, "", ""), qm::OpenResult::Opened);
        std::atomic<unsigned char> cancel{0};
        qm::ConversionJob job;
        job.workFolder = work;
        job.scratchFolder = dir.File("scratch/");
        job.cancelRequested = &cancel;
        job.parseMode = parseMode;
        {
            qm::DocumentConverter converter(doc, job);
            EXPECT_EQ(converter.Convert(), qm::ConvertResult::Done);
        }
        Book book;
        qm::ReadFile(work + "page-1.html", book.page);
        if (!job.navPointsFile.empty()) {
            qm::ReadFile(job.navPointsFile, book.navPoints);
            std::remove(job.navPointsFile.c_str());
        }
        return book;
    }

    // "h2:text" for each heading of the page, its markup left out.
    static std::vector<std::string> Headings(const std::string &page) {
        std::vector<std::string> found;
        static const std::regex heading("<h([1-6])[^>]*>(.*?)</h\\1>");
        static const std::regex tag("<[^>]*>");
        for (std::sregex_iterator it(page.begin(), page.end(), heading), end; it != end; ++it)
            found.push_back("h" + (*it)[1].str() + ":" + std::regex_replace((*it)[2].str(), tag, ""));
        return found;
    }

private:
    int runs_ = 0;
};

TEST_F(HeadingsTest, NumbersLeadersMarginsAndLongBoldTextAreNoHeadings) {
    const int p = b.AddPage();
    b.Text(p, 72, 770, "Program Manual", 12, "Helvetica-Bold");  // running head, a little larger
    b.Text(p, 72, 700, "2024", 24);                               // a number alone
    b.Text(p, 72, 660, "Introduction . . . . . . . . . 7", 14, "Helvetica-Bold");
    Body(p, 620, 6);
    // A bold paragraph of five lines.
    for (int i = 0; i < 5; ++i)
        b.Text(p, 72, 520 - 12 * i, "every word of this warning is set in bold type and runs on", 10, "Helvetica-Bold");
    Body(p, 440, 6);
    b.Text(p, 300, 30, "Page 3 of 9", 10, "Helvetica-Bold");  // a running foot with words
    const Book book = Convert();
    EXPECT_TRUE(Headings(book.page).empty()) << book.page;
    EXPECT_NE(book.page.find("2024"), std::string::npos);
}

TEST_F(HeadingsTest, LargeTextInTheMarginStillCountsAndLinesOfAHeadingAreOne) {
    const int p = b.AddPage();
    b.Text(p, 72, 760, "Part Two", 28);  // near the top, but far larger than the body
    b.Text(p, 72, 690, "A Heading Set Over", 16);
    b.Text(p, 72, 670, "Two Lines", 16);
    Body(p, 630);
    const Book book = Convert();
    EXPECT_EQ(Headings(book.page), (std::vector<std::string>{"h1:Part Two", "h2:A Heading Set Over Two Lines"}))
        << book.page;
    // Without bookmarks the navigation comes from them, nested by rank.
    EXPECT_NE(book.navPoints.find("<text>A Heading Set Over Two Lines</text>"), std::string::npos) << book.navPoints;
    EXPECT_LT(book.navPoints.find("<text>A Heading"), book.navPoints.find("</navPoint>"));

    // A strict run follows the user's regions: the same page has no headings.
    const Book strict = Convert(static_cast<int>(qm::ParseMode::Strict));
    EXPECT_TRUE(Headings(strict.page).empty());
    EXPECT_TRUE(strict.navPoints.empty());
}

TEST_F(HeadingsTest, ABlockABookmarkNamesIsAHeadingOfTheBookmarksRank) {
    const int p = b.AddPage();
    Body(p, 700, 6);
    b.Text(p, 72, 600, "Getting Started", 10);  // the body's own style
    Body(p, 570, 6);
    const int top = b.AddOutline("Guide", p);
    b.AddOutline("Getting  started", p, top);  // blanks and case as bookmarks often differ
    const Book book = Convert();
    EXPECT_EQ(Headings(book.page), (std::vector<std::string>{"h2:Getting Started"})) << book.page;
    // The PDF has bookmarks: the navigation is not made from the headings.
    EXPECT_TRUE(book.navPoints.empty());
}

TEST_F(HeadingsTest, APageOfOneStyleHasNoHeadings) {
    // The body is what most characters are set in, however large: a page in 18 pt is all body.
    const int p = b.AddPage();
    for (int i = 0; i < 8; ++i) b.Text(p, 72, 700 - 40 * i, "Line " + std::to_string(i) + " in one size", 18);
    const Book book = Convert();
    EXPECT_TRUE(Headings(book.page).empty()) << book.page;
    EXPECT_TRUE(book.navPoints.empty());
}

TEST_F(HeadingsTest, TheNavigationTakesABoundedNumberPerPageAndLabelsStayWhole) {
    const int p = b.AddPage();
    // A label longer than the navigation keeps, with an escaped character near where it is cut.
    std::string longTitle;
    while (longTitle.size() < 150) longTitle += "Words & more ";
    b.Text(p, 72, 740, longTitle, 14, "Helvetica-Bold");
    for (int i = 0; i < 18; ++i) b.Text(p, 72, 710 - 28 * i, "Bold line " + std::to_string(i), 10, "Helvetica-Bold");
    Body(p, 200);
    const Book book = Convert();
    const std::vector<std::string> headings = Headings(book.page);
    ASSERT_EQ(headings.size(), 19u) << book.page;
    EXPECT_EQ(headings[0].substr(0, 14), "h2:Words &amp;");
    EXPECT_EQ(headings[18], "h3:Bold line 17");
    // The label is cut before an entity, never inside one; the navigation keeps 16 per page.
    const size_t text = book.navPoints.find("<text>") + 6;
    const std::string label = book.navPoints.substr(text, book.navPoints.find("</text>") - text);
    EXPECT_LE(label.size(), 160u);
    EXPECT_GT(label.size(), 140u);
    EXPECT_EQ(label.find('&', label.size() - 4), std::string::npos) << label;
    size_t points = 0;
    for (size_t at = book.navPoints.find("<navPoint"); at != std::string::npos;
         at = book.navPoints.find("<navPoint", at + 1))
        ++points;
    EXPECT_EQ(points, 16u);
}

} // namespace
