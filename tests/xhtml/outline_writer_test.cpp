// Outline page and navigation points: link targets by page-file rule, play order, nesting,
// escaping, and entries that point nowhere.
#include <gtest/gtest.h>
#include <mupdf/fitz.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "options/conversion_job.h"
#include "pdf/engine.h"
#include "pdf/pdf_document.h"
#include "xhtml/document_converter.h"
#include "platform/paths.h"
#include "platform/prompt.h"
#include "support/pdf_fixture.h"
#include "support/temp_dir.h"
#include "xhtml/outline_writer.h"

namespace {

// Captures what a writer puts into a FILE.
class MemFile {
public:
    MemFile() { file_ = open_memstream(&buf_, &size_); }
    ~MemFile() {
        if (file_) std::fclose(file_);
        std::free(buf_);
    }
    FILE *get() { return file_; }
    std::string Text() {
        std::fflush(file_);
        return std::string(buf_, size_);
    }

private:
    FILE *file_ = nullptr;
    char *buf_ = nullptr;
    size_t size_ = 0;
};

int Count(const std::string &text, const std::string &needle) {
    int n = 0;
    for (size_t p = text.find(needle); p != std::string::npos; p = text.find(needle, p + 1)) ++n;
    return n;
}

// Every text between `prefix` and the next `suffix`.
std::vector<std::string> Between(const std::string &text, const std::string &prefix, const std::string &suffix) {
    std::vector<std::string> out;
    for (size_t p = text.find(prefix); p != std::string::npos; p = text.find(prefix, p + 1)) {
        size_t start = p + prefix.size();
        size_t end = text.find(suffix, start);
        if (end == std::string::npos) break;
        out.push_back(text.substr(start, end - start));
    }
    return out;
}

class OutlineWriterTest : public ::testing::Test {
protected:
    qmtest::TempDir dir;
    qm::ConsolePrompt quiet{false, true};
    qm::PdfDocument pdf;
    qm::ConversionJob job;
    qm::DocumentConverter doc{pdf, job};

    void Open(qmtest::PdfBuilder &b, const std::string &name) {
        ASSERT_TRUE(b.Save(dir.File(name)));
        pdf.SetPrompt(&quiet);
        ASSERT_EQ(pdf.Open(dir.File(name), "", ""), qm::OpenResult::Opened);
    }
    static void AddPages(qmtest::PdfBuilder &b, int n) {
        for (int i = 0; i < n; ++i) b.Text(b.AddPage(), 72, 700, "Page " + std::to_string(i + 1));
    }
    std::string NavPoints() {
        job.navPointsFile.clear();
        EXPECT_EQ(doc.WriteNavPointsFile(), qm::OutlineResult::Done);
        std::string text;
        if (!job.navPointsFile.empty()) {
            EXPECT_TRUE(qm::ReadFile(job.navPointsFile, text));
            std::remove(job.navPointsFile.c_str());
        }
        return text;
    }
};

TEST_F(OutlineWriterTest, TargetsFollowThePageFileOfTheParseMode) {
    qmtest::PdfBuilder b;
    AddPages(b, 31);
    b.AddOutline("Twenty", 19);
    b.AddOutline("One", 0);
    b.AddOutline("Last", 30);
    Open(b, "31.pdf");

    MemFile text;
    ASSERT_EQ(doc.WriteOutlinePage(text.get()), qm::OutlineResult::Done);
    std::string page = text.Text();
    EXPECT_NE(page.find("<a href=\"page-16.html#page-20\">Twenty</a>"), std::string::npos) << page;
    EXPECT_NE(page.find("<a href=\"page-1.html#page-1\">One</a>"), std::string::npos);
    EXPECT_NE(page.find("<a href=\"page-31.html#page-31\">Last</a>"), std::string::npos);
    EXPECT_EQ(page.rfind("<p></p>\n<p><a id=\"outline\"></a></p>\n<h1>Document Outline</h1>\n<ul>\n", 0), 0u);

    job.parseMode = 2;
    MemFile imaging;
    ASSERT_EQ(doc.WriteOutlinePage(imaging.get()), qm::OutlineResult::Done);
    EXPECT_NE(imaging.Text().find("<a href=\"page-20.html#page-20\">Twenty</a>"), std::string::npos);
    std::string nav = NavPoints();
    EXPECT_NE(nav.find("<content src=\"page-20.html#page-20\"/>"), std::string::npos) << nav;
}

TEST_F(OutlineWriterTest, PlayOrderNestingAndEscaping) {
    qmtest::PdfBuilder b;
    AddPages(b, 6);
    b.AddOutline("A & B", 2);
    int parent = b.AddOutline("Same page", 2);
    b.AddOutline("Child <1>", 3, parent);
    b.AddOutline("Five", 4);
    Open(b, "order.pdf");

    std::string nav = NavPoints();
    EXPECT_EQ(Between(nav, "playOrder=\"", "\""), (std::vector<std::string>{"1", "1", "2", "3"})) << nav;
    EXPECT_EQ(Between(nav, "navPoint id=\"", "\""),
              (std::vector<std::string>{"navPoint-1", "navPoint-2", "navPoint-3", "navPoint-4"}));
    EXPECT_NE(nav.find("<text>A &amp; B</text>"), std::string::npos);
    // The child comes after its parent's content element and before the parent closes.
    size_t parentContent = nav.find("<content src=\"page-1.html#page-3\"/>", nav.find("Same page"));
    size_t child = nav.find("Child &lt;1&gt;");
    size_t closes = nav.find("</navPoint>", child);
    size_t five = nav.find("Five");
    ASSERT_NE(child, std::string::npos);
    EXPECT_LT(parentContent, child);
    EXPECT_LT(closes, five);
    EXPECT_EQ(nav.rfind("\t\t<navPoint id=\"navPoint-1\" playOrder=\"1\">\n\t\t\t<navLabel>\n\t\t\t\t<text>A &amp; B</text>\n"
                        "\t\t\t</navLabel>\n\t\t\t<content src=\"page-1.html#page-3\"/>\n\t\t</navPoint>\n",
                        0),
              0u)
        << nav;
    // The title is escaped in the outline page too.
    MemFile text;
    ASSERT_EQ(doc.WriteOutlinePage(text.get()), qm::OutlineResult::Done);
    EXPECT_NE(text.Text().find(">A &amp; B</a>"), std::string::npos);
}

TEST_F(OutlineWriterTest, EntriesWithoutPageTakeTheirFirstDescendantsOrAreLeftOut) {
    qmtest::PdfBuilder b;
    AddPages(b, 20);
    int part = b.AddOutline("Part one", -1);        // no destination
    int group = b.AddOutline("Group", -1, part);    // no destination either
    b.AddOutline("Chapter 18", 17, group);
    b.AddOutline("Chapter 19", 18, part);
    int empty = b.AddOutline("Empty part", -1);     // nothing below points anywhere
    b.AddOutline("Empty child", -1, empty);
    b.AddOutline("Chapter 20", 19);
    Open(b, "nolinks.pdf");

    std::string nav = NavPoints();
    EXPECT_EQ(nav.find("src=\"\""), std::string::npos) << nav;
    EXPECT_EQ(nav.find("playOrder=\"0\""), std::string::npos);
    EXPECT_EQ(nav.find("Empty"), std::string::npos);
    EXPECT_EQ(Between(nav, "<text>", "</text>"),
              (std::vector<std::string>{"Part one", "Group", "Chapter 18", "Chapter 19", "Chapter 20"}));
    EXPECT_EQ(Between(nav, "content src=\"", "\""),
              (std::vector<std::string>{"page-16.html#page-18", "page-16.html#page-18", "page-16.html#page-18",
                                        "page-16.html#page-19", "page-16.html#page-20"}));
    EXPECT_EQ(Between(nav, "playOrder=\"", "\""), (std::vector<std::string>{"1", "1", "1", "2", "3"}));
    EXPECT_EQ(Count(nav, "<navPoint "), Count(nav, "</navPoint>"));

    // The outline page still lists every entry; those without a link get an empty address.
    MemFile text;
    ASSERT_EQ(doc.WriteOutlinePage(text.get()), qm::OutlineResult::Done);
    EXPECT_NE(text.Text().find("<li><a href=\"\">Empty part</a>\n<ul>\n<li><a href=\"\">Empty child</a></li>\n</ul>\n</li>"),
              std::string::npos)
        << text.Text();
}

TEST_F(OutlineWriterTest, AddressLinksShowInThePageButNotInTheNavigation) {
    qmtest::PdfBuilder b;
    AddPages(b, 3);
    Open(b, "uri.pdf");
    // A hand-made outline: a web address with a child, then a page link.
    qm::OutlineEntry web{"Web", "https://example.org/a?b=1&c=2", true, -1, {}};
    web.children.push_back(qm::OutlineEntry{"Under web", "#page=2", false, 1, {}});
    std::vector<qm::OutlineEntry> outline{web};
    outline.push_back(qm::OutlineEntry{"Mail", "someone@example.org", false, -1, {}});
    outline.push_back(qm::OutlineEntry{"Page 3", "#page=3", false, 2, {}});
    outline.push_back(qm::OutlineEntry{"Beyond", "#page=99", false, 98, {}});

    MemFile list;
    doc.WriteOutlineList(list.get(), outline, 0);
    std::string text = list.Text();
    EXPECT_NE(text.find("<a href=\"https://example.org/a?b=1&amp;c=2\">Web</a>"), std::string::npos) << text;
    EXPECT_NE(text.find("<a href=\"mailto:someone@example.org\">Mail</a>"), std::string::npos);
    EXPECT_NE(text.find("<a href=\"\">Beyond</a>"), std::string::npos);

    MemFile navFile;
    int ids = 1;
    doc.WriteNavPoints(navFile.get(), outline, 0, ids);
    std::string nav = navFile.Text();
    EXPECT_EQ(nav.find("Web"), std::string::npos) << nav;
    EXPECT_EQ(nav.find("Under web"), std::string::npos);
    EXPECT_EQ(nav.find("Mail"), std::string::npos);
    EXPECT_EQ(nav.find("Beyond"), std::string::npos);
    EXPECT_NE(nav.find("<navPoint id=\"navPoint-1\" playOrder=\"1\">"), std::string::npos);
    EXPECT_EQ(ids, 2);
}

TEST_F(OutlineWriterTest, NoOutlineWritesNothing) {
    qmtest::PdfBuilder b;
    AddPages(b, 2);
    Open(b, "none.pdf");
    MemFile text;
    EXPECT_EQ(doc.WriteOutlinePage(text.get()), qm::OutlineResult::NoOutline);
    EXPECT_TRUE(text.Text().empty());
    EXPECT_EQ(doc.WriteNavPointsFile(), qm::OutlineResult::NoOutline);
    EXPECT_TRUE(job.navPointsFile.empty());
}

} // namespace
