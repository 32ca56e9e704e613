// quillmark-cli convert: headings in the text and the navigation made from them.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "cli/cli_run.h"
#include "support/pdf_fixture.h"
#include "support/temp_dir.h"

namespace {

class CliHeadingsTest : public CliRunTest {
protected:
    // Converts `pdf` with `options` into a fresh folder; the book's page files and toc.ncx.
    bool Convert(const std::string &pdf, const std::string &options, std::string &pages, std::string &ncx,
                 const std::string &folder = "out") {
        qmtest::RunCommand("mkdir -p " + Q(folder));
        const int rc = Cli("convert --quiet " + options + " " + Q(pdf) + " -o " + Q(folder));
        if (rc != 0) {
            ADD_FAILURE() << out;
            return false;
        }
        book = dir.File(folder + "/" + pdf.substr(0, pdf.rfind('.')) + ".epub");
        qmtest::RunCommand("unzip -p " + qmtest::ShellQuote(book) + " 'OPS/page-*.html'", &pages);
        qmtest::RunCommand("unzip -p " + qmtest::ShellQuote(book) + " OPS/toc.ncx", &ncx);
        std::string report;
        EXPECT_TRUE(qmtest::EpubCheck(book, &report)) << options << "\n" << report;
        return true;
    }
    // The heading elements of the pages: "h1:Chapter One Overview", ... in book order.
    static std::vector<std::string> Headings(const std::string &pages) {
        std::vector<std::string> found;
        static const std::regex heading("<h([1-6])[^>]*>(.*?)</h\\1>");
        static const std::regex tag("<[^>]*>");
        for (std::sregex_iterator it(pages.begin(), pages.end(), heading), end; it != end; ++it)
            found.push_back("h" + (*it)[1].str() + ":" + std::regex_replace((*it)[2].str(), tag, ""));
        return found;
    }
    // The labels of the navigation, each prefixed by its nesting depth ("0 Chapter One Overview").
    static std::vector<std::string> NavLabels(const std::string &ncx) {
        std::vector<std::string> labels;
        int depth = -1;
        size_t at = 0;
        while (true) {
            const size_t open = ncx.find("<navPoint", at), close = ncx.find("</navPoint>", at);
            if (open == std::string::npos && close == std::string::npos) break;
            if (close < open) {
                --depth;
                at = close + 1;
                continue;
            }
            ++depth;
            const size_t text = ncx.find("<text>", open), stop = ncx.find("</text>", open);
            labels.push_back(std::to_string(depth) + " " + ncx.substr(text + 6, stop - text - 6));
            at = open + 1;
        }
        return labels;
    }
    std::string book;
};

TEST_F(CliHeadingsTest, HeadingsByRankAndTheNavigationFromThemWithoutBookmarks) {
    ASSERT_TRUE(qmtest::WriteHeadingsPdf(dir.File("manual.pdf"), false));
    std::string pages, ncx;
    // Running heads kept in the text, to show they do not become headings either.
    ASSERT_TRUE(Convert("manual.pdf", "--keep-running-heads", pages, ncx));
    // The running head, the page numbers, the bold word in a paragraph and the bold cells of a
    // row stay paragraphs; the size of each heading gives its rank, bold at the body's size the
    // lowest.
    EXPECT_EQ(Headings(pages), (std::vector<std::string>{"h1:Chapter One Overview", "h2:Installing the Program",
                                                         "h3:Choosing a Folder", "h3:Before You Start",
                                                         "h1:Chapter Two Usage", "h2:Running a Conversion",
                                                         "h3:Appendix Notes"}));
    // The headings keep their span classes: they look as before.
    EXPECT_NE(pages.find("<h1 id=\"heading-1-1\"><span class=\"font24\">Chapter One Overview</span></h1>"),
              std::string::npos)
        << pages;
    EXPECT_NE(pages.find("Program Manual 5.4"), std::string::npos);
    EXPECT_NE(pages.find("warning"), std::string::npos);
    EXPECT_EQ(NavLabels(ncx), (std::vector<std::string>{"0 Chapter One Overview", "1 Installing the Program",
                                                        "2 Choosing a Folder", "2 Before You Start",
                                                        "0 Chapter Two Usage", "1 Running a Conversion",
                                                        "2 Appendix Notes"}))
        << ncx;
    EXPECT_NE(ncx.find("<content src=\"page-1.html#heading-2-2\"/>"), std::string::npos) << ncx;

}

TEST_F(CliHeadingsTest, BookmarksKeepTheirNavigationUnlessTheHeadingsAreAskedFor) {
    ASSERT_TRUE(qmtest::WriteHeadingsPdf(dir.File("marked.pdf"), true));
    std::string pages, ncx;
    ASSERT_TRUE(Convert("marked.pdf", "--bookmarks-toc", pages, ncx));
    EXPECT_EQ(NavLabels(ncx), (std::vector<std::string>{"0 First Bookmark", "0 Second Bookmark"}));
    EXPECT_EQ(Headings(pages).size(), 7u);

    ASSERT_TRUE(Convert("marked.pdf", "--bookmarks-toc --toc-from-headings", pages, ncx, "toc"));
    EXPECT_EQ(NavLabels(ncx).size(), 7u);
    EXPECT_EQ(NavLabels(ncx).front(), "0 Chapter One Overview");
}

TEST_F(CliHeadingsTest, NoHeadingsGivesParagraphsAndThePageNavigation) {
    ASSERT_TRUE(qmtest::WriteHeadingsPdf(dir.File("manual.pdf"), false));
    std::string pages, ncx;
    ASSERT_TRUE(Convert("manual.pdf", "--no-headings --toc-from-headings", pages, ncx));
    EXPECT_TRUE(Headings(pages).empty());
    EXPECT_EQ(pages.find("heading-"), std::string::npos);
    EXPECT_NE(pages.find("<p><span class=\"font24\">Chapter One Overview</span></p>"), std::string::npos) << pages;
    EXPECT_EQ(NavLabels(ncx).size(), 1u) << ncx;  // the one page file

    // Strict mode follows the user's regions: no headings either.
    ASSERT_TRUE(Convert("manual.pdf", "--mode strict", pages, ncx, "strict"));
    EXPECT_TRUE(Headings(pages).empty());
}

} // namespace
