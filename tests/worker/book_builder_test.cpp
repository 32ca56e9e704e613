// The book builder: reading order, naming, what happens to documents that are not XHTML, the
// title page mark, and clean-up.
#include <gtest/gtest.h>

#include <optional>
#include <libxml/parser.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <dirent.h>
#include <map>
#include <string>
#include <vector>

#include "epub/zip_reader.h"
#include "options/conversion_options.h"
#include "platform/paths.h"
#include "platform/prompt.h"
#include "support/pdf_fixture.h"
#include "support/temp_dir.h"
#include "worker/book_builder.h"
#include "worker/conversion_worker.h"

namespace {

using qmtest::ListFolder;

std::map<std::string, std::string> Entries(const std::string &epub) {
    std::map<std::string, std::string> out;
    std::string bytes;
    if (!qm::ReadFile(epub, bytes)) return out;
    for (auto &e : qmtest::ReadZipArchive(bytes).entries) out[e.name] = e.data;
    return out;
}

bool ParsesAsXml(const std::string &text) {
    xmlDoc *doc = xmlReadMemory(text.data(), static_cast<int>(text.size()), nullptr, nullptr,
                                XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    if (!doc) return false;
    xmlFreeDoc(doc);
    return true;
}

class BookBuilderTest : public ::testing::Test {
protected:
    qmtest::TempDir dir;
    qmtest::TempDir temp;
    qm::ConversionOptions options;
    qm::ConsolePrompt prompt{false, true};

    std::optional<qmtest::ScopedEnv> tmpEnv;

    void SetUp() override {
        tmpEnv.emplace("TMPDIR", temp.Path().c_str());
        options.outputFolder = dir.File("out/");
        qm::CreateFolder(dir.File("out"));
    }
};

const char *kTagSoup =
    "<html><head><title>t</title><script>alert(1)</script><style>p{}</style></head>"
    "<body bgcolor=red>Loose text &amp; more<p>One<br>two&nbsp;<b>bold<p>Next <div>block in p</div>"
    "<font color=red>font</font><center>centred</center><li>stray item</li>"
    "<img src=\"pic.png\"><img src=\"gone.png\"><a href=\"b.xhtml#x\" name=\"here\" onclick=\"x()\">to b</a>"
    "<a href=\"elsewhere.html\">nowhere</a><a href=\"https://example.org/?a=1&b=2\">web</a>"
    "<ul>text in list<li>ok</li></ul><table><tr>cell text<td>c</td></tr></table><ul></ul>"
    "<p id=\"1bad\">bad id</p><p id=\"dup\">a</p><p id=\"dup\">b</p><!-- comment --></body></html>";

TEST_F(BookBuilderTest, DocumentsInTheGivenOrderNonXhtmlConvertedUserFilesUntouched) {
    const std::string xhtml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<html xmlns=\"http://www.w3.org/1999/xhtml\"><head><title>B</title>"
        "</head><body><p id=\"x\">Well formed &amp; kept</p></body></html>\n";
    ASSERT_TRUE(qm::WriteFile(dir.File("a.html"), kTagSoup));
    ASSERT_TRUE(qm::WriteFile(dir.File("b.xhtml"), xhtml));
    ASSERT_TRUE(qm::WriteFile(dir.File("notes.txt"), "Fish & chips <today>\nsecond line\n\n\nNew paragraph\n"));
    // A picture the HTML shows but the list does not name.
    static const unsigned char png[] = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A, 0x00, 0x00, 0x00, 0x0D, 0x49,
                                        0x48, 0x44, 0x52, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x08, 0x06,
                                        0x00, 0x00, 0x00, 0x1F, 0x15, 0xC4, 0x89, 0x00, 0x00, 0x00, 0x0D, 0x49, 0x44,
                                        0x41, 0x54, 0x78, 0x9C, 0x63, 0xF8, 0xFF, 0xFF, 0x3F, 0x00, 0x05, 0xFE, 0x02,
                                        0xFE, 0xA7, 0x35, 0x81, 0x84, 0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4E, 0x44,
                                        0xAE, 0x42, 0x60, 0x82};
    ASSERT_TRUE(qm::WriteFile(dir.File("pic.png"), std::string(reinterpret_cast<const char *>(png), sizeof png)));

    qm::BookBuildRequest request;
    // The list was a, b, notes; b was moved up: the book is still named after a.
    request.files = {{dir.File("b.xhtml"), "Bee"}, {dir.File("a.html"), "A"}, {dir.File("notes.txt"), "Notes"}};
    request.firstListedPath = dir.File("a.html");
    request.firstListedName = "a.html";
    request.metadata = qm::BookMetadata{"Docs", "Me", ""};
    qm::RunState run;
    std::atomic<bool> done{false};
    ASSERT_EQ(qm::BookBuilderWorker(options, request, run, prompt, &done), 0);
    EXPECT_TRUE(done);
    const std::string book = dir.File("out/a.epub");
    EXPECT_EQ(run.successCount, 1);
    EXPECT_EQ(run.producedBooks, (std::vector<std::string>{book}));

    auto entries = Entries(book);
    ASSERT_TRUE(entries.count("OPS/content.opf"));
    const std::string &opf = entries["OPS/content.opf"];
    size_t b = opf.find("<itemref idref=\"b\""), a = opf.find("<itemref idref=\"a\""), n = opf.find("<itemref idref=\"notes\"");
    ASSERT_NE(b, std::string::npos) << opf;
    ASSERT_NE(a, std::string::npos);
    ASSERT_NE(n, std::string::npos);
    EXPECT_LT(b, a);
    EXPECT_LT(a, n);
    EXPECT_EQ(opf.find("linear=\"no\""), std::string::npos);  // no title page of the program's own
    EXPECT_NE(opf.find("pic.png"), std::string::npos);         // the picture the page shows came along

    EXPECT_EQ(entries["OPS/b.xhtml"], xhtml);  // well-formed XHTML goes in unchanged
    ASSERT_TRUE(entries.count("OPS/a.html"));
    const std::string &a_html = entries["OPS/a.html"];
    EXPECT_TRUE(ParsesAsXml(a_html)) << a_html;
    EXPECT_EQ(a_html.find("script"), std::string::npos);
    EXPECT_EQ(a_html.find("onclick"), std::string::npos);
    EXPECT_EQ(a_html.find("gone.png"), std::string::npos);
    EXPECT_EQ(a_html.find("elsewhere.html"), std::string::npos);
    EXPECT_NE(a_html.find("href=\"b.xhtml#x\""), std::string::npos);
    EXPECT_NE(a_html.find("https://example.org/?a=1&amp;b=2"), std::string::npos);
    EXPECT_NE(a_html.find("Loose text &amp; more"), std::string::npos);
    ASSERT_TRUE(entries.count("OPS/notes.html"));
    const std::string &notes = entries["OPS/notes.html"];
    EXPECT_NE(notes.find("<p>Fish &amp; chips &lt;today&gt;\nsecond line</p>\n<p>New paragraph</p>"), std::string::npos)
        << notes;

    // The user's files are as they were, and the staging folder is gone.
    std::string original;
    ASSERT_TRUE(qm::ReadFile(dir.File("a.html"), original));
    EXPECT_EQ(original, kTagSoup);
    EXPECT_EQ(ListFolder(dir.Path()), (std::vector<std::string>{"a.html", "b.xhtml", "notes.txt", "out", "pic.png"}));
    EXPECT_TRUE(ListFolder(temp.Path()).empty());

    std::string report;
    EXPECT_TRUE(qmtest::EpubCheck(book, &report)) << report;
}

TEST_F(BookBuilderTest, SinglePdfRunTitlePageOnlyWithCover) {
    ASSERT_TRUE(qmtest::WriteSimplePdf(dir.File("my.book.pdf"), 3));
    for (int cover : {0, 1}) {
        options.createCover = cover;
        qm::ConversionObserver observer;
        qm::ConversionRun run(options, prompt, observer);
        run.retryDelayMs = 0;
        ASSERT_EQ(run.StartConversion({dir.File("my.book.pdf")}, {"my.book.pdf"}, true), 0);
        run.Wait();
        qm::RunState &s = run.State();
        std::string list;
        ASSERT_TRUE(qm::ReadFile(s.workRoot + "/textlist.txt", list));
        qm::BookBuildRequest request;
        size_t pos = 0;
        while (pos < list.size()) {
            size_t end = list.find('\n', pos);
            std::string line = list.substr(pos, end - pos);
            std::string name = qm::FileNamePart(line);
            request.files.push_back({line, name.substr(0, name.rfind('.'))});
            pos = end + 1;
        }
        request.firstListedPath = dir.File("my.book.pdf");
        request.firstListedName = "my.book.pdf";
        request.fromPdfRun = true;
        std::atomic<bool> done{false};
        ASSERT_EQ(qm::BookBuilderWorker(options, request, s, prompt, &done), 0);
        const std::string book = dir.File("out/my.epub");  // first dot in the single-document case
        auto entries = Entries(book);
        const std::string &opf = entries["OPS/content.opf"];
        EXPECT_EQ(opf.find("linear=\"no\"") != std::string::npos, cover == 1) << opf;
        EXPECT_FALSE(qm::FolderExists(s.workRoot));
        run.Finish();
        EXPECT_TRUE(ListFolder(temp.Path()).empty());
        std::remove(book.c_str());
    }
}

TEST(HtmlToXhtmlTest, TagSoupBecomesWellFormedXhtml) {
    std::string page = qm::HtmlToXhtml(kTagSoup, "T & U");
    EXPECT_TRUE(qm::IsWellFormedXhtml(page)) << page;
    EXPECT_NE(page.find("<title>T &amp; U</title>"), std::string::npos);
    EXPECT_EQ(page.find("<ul/>"), std::string::npos);
    EXPECT_EQ(page.find("id=\"1bad\""), std::string::npos);
    EXPECT_EQ(page.find("id=\"dup\"", page.find("id=\"dup\"") + 1), std::string::npos);
    EXPECT_EQ(page.find("<center"), std::string::npos);
    EXPECT_NE(page.find("centred"), std::string::npos);
    // Nothing but blocks directly in the body; no block inside a paragraph.
    EXPECT_EQ(page.find("<body>Loose"), std::string::npos);
    EXPECT_EQ(page.find("<p>Next <div>"), std::string::npos);
    EXPECT_TRUE(qm::IsWellFormedXhtml(qm::HtmlToXhtml("", "")));
    EXPECT_TRUE(qm::IsWellFormedXhtml(qm::HtmlToXhtml(std::string("\0\xff\xfe<<<", 6), "")));
    EXPECT_FALSE(qm::IsWellFormedXhtml("<html><body><p>unclosed</body></html>"));
    EXPECT_FALSE(qm::IsWellFormedXhtml("<html><body/></html>"));  // no XHTML namespace
}

TEST(TextToXhtmlTest, EscapesAndSplitsAtBlankLines) {
    std::string page = qm::TextToXhtml("\xEF\xBB\xBFOne\r\ntwo\r\n \r\n<three> & \"four\"\n", "Title");
    EXPECT_TRUE(qm::IsWellFormedXhtml(page)) << page;
    EXPECT_NE(page.find("<body>\n<p>One\ntwo</p>\n<p>&lt;three&gt; &amp; &quot;four&quot;</p>\n</body>"), std::string::npos)
        << page;
    EXPECT_TRUE(qm::IsWellFormedXhtml(qm::TextToXhtml("", "")));
}

TEST_F(BookBuilderTest, NoDoneFlagDoesNothing) {
    qm::BookBuildRequest request;
    qm::RunState run;
    EXPECT_EQ(qm::BookBuilderWorker(options, request, run, prompt, nullptr), -1);
    EXPECT_EQ(run.successCount, 0);
    EXPECT_TRUE(ListFolder(temp.Path()).empty());
}

} // namespace
