// The page conversion driver: page files and their frame, the file list and its order, outline
// positions, cancel, clamping, messages, the preview page and thumbnails.
#include <gtest/gtest.h>
#include <libxml/parser.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "options/conversion_job.h"
#include "pdf/pdf_document.h"
#include "xhtml/document_converter.h"
#include "platform/paths.h"
#include "platform/prompt.h"
#include "support/pdf_fixture.h"
#include "support/scoped_tmpfs.h"
#include "support/temp_dir.h"
#include "support/recording_prompt.h"

namespace {

using qmtest::RecordingPrompt;

std::vector<std::string> ListedNames(const std::vector<std::string> &files, const std::string &workFolder) {
    std::vector<std::string> names;
    for (const std::string &path : files) {
        EXPECT_EQ(path.rfind(workFolder, 0), 0u) << path;  // full paths
        EXPECT_TRUE(qm::FileExists(path)) << path;
        names.push_back(qm::FileNamePart(path));
    }
    return names;
}

bool ParsesAsXml(const std::string &path) {
    xmlDoc *doc = xmlReadFile(path.c_str(), nullptr, XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    if (!doc) return false;
    xmlFreeDoc(doc);
    return true;
}

class PageDriverTest : public ::testing::Test {
protected:
    qmtest::TempDir dir;
    RecordingPrompt prompt;
    qm::PdfDocument doc;
    qm::ConversionJob job;
    std::vector<std::string> produced;
    long long maxFiles = 100000, maxBytes = 4LL << 30;
    int outputDpi = 0;
    std::atomic<unsigned char> cancel{0};
    std::atomic<int> percent{0};
    std::string work;

    void SetUp() override {
        work = dir.File("work/");
        qm::CreateFolder(work);
        job.workFolder = work;
        job.scratchFolder = dir.File("scratch/");
        job.cancelRequested = &cancel;
        job.progressPercent = &percent;
    }
    void Open(const std::string &path) {
        doc.SetPrompt(&prompt);
        ASSERT_EQ(doc.Open(path, "", ""), qm::OpenResult::Opened);
    }
    qm::ConvertResult Convert() {
        qm::DocumentConverter converter(doc, job);
        converter.maxProducedFiles = maxFiles;
        converter.maxProducedBytes = maxBytes;
        qm::ConvertResult rc = converter.Convert();
        produced = converter.ProducedFiles();
        outputDpi = converter.Model().outputResolution;
        return rc;
    }
    std::string OutlinedPdf(int pages) {
        qmtest::PdfBuilder b;
        for (int i = 0; i < pages; ++i) b.Text(b.AddPage(), 72, 700, "Page " + std::to_string(i + 1));
        b.SetInfo("Title", "Author", "Subject");
        b.AddOutline("Twenty", pages >= 20 ? 19 : 0);
        EXPECT_TRUE(b.Save(dir.File("doc.pdf")));
        return dir.File("doc.pdf");
    }
    std::string Read(const std::string &name) {
        std::string text;
        qm::ReadFile(work + name, text);
        return text;
    }
};

TEST_F(PageDriverTest, FifteenPagesPerFileInTextModeOnePerPageInImaging) {
    Open(OutlinedPdf(31));
    job.outputOutline = true;
    job.outlinePosition = 2;
    ASSERT_EQ(Convert(), qm::ConvertResult::Done);
    EXPECT_EQ(ListedNames(produced, work), (std::vector<std::string>{"styles.css", "page-1.html", "page-16.html", "page-31.html"}));
    EXPECT_EQ(percent.load(), 100);
    EXPECT_EQ(job.title, "Title");
    EXPECT_EQ(job.author, "Author");
    EXPECT_EQ(job.subject, "Subject");
    std::string first = Read("page-1.html");
    EXPECT_EQ(first.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE html  PUBLIC", 0), 0u);
    EXPECT_NE(first.find("<p><a id=\"page-1\"></a></p>"), std::string::npos);
    EXPECT_NE(first.find("<p><a id=\"page-15\"></a></p>"), std::string::npos);
    EXPECT_EQ(first.find("<p><a id=\"page-16\"></a></p>"), std::string::npos);
    EXPECT_EQ(first.find("override_css"), std::string::npos);
    EXPECT_EQ(first.substr(first.size() - 16), "</body>\n</html>\n");
    // The outline page at the last position, in the last file, pointing into page-16.html.
    std::string last = Read("page-31.html");
    EXPECT_NE(last.find("<h1>Document Outline</h1>"), std::string::npos);
    EXPECT_NE(last.find("href=\"page-16.html#page-20\""), std::string::npos);
    EXPECT_EQ(first.find("Document Outline"), std::string::npos);
    for (const char *name : {"page-1.html", "page-16.html", "page-31.html"}) EXPECT_TRUE(ParsesAsXml(work + name)) << name;

    // Imaging: one file per page, each preceded in the list by its picture.
    qm::DeleteFolderTree(work);
    qm::CreateFolder(work);
    job.parseMode = 2;
    ASSERT_EQ(Convert(), qm::ConvertResult::Done);
    std::vector<std::string> names = ListedNames(produced, work);
    ASSERT_EQ(names.size(), 1u + 2 * 31);
    EXPECT_EQ(names[0], "styles.css");
    for (int p = 1; p <= 31; ++p) {
        EXPECT_EQ(names[2 * p - 1].rfind("image-", 0), 0u);
        EXPECT_EQ(names[2 * p], "page-" + std::to_string(p) + ".html");
    }
    std::string twenty = Read("page-20.html");
    EXPECT_NE(twenty.find("<img title=\"img\" alt=\"img\" style=\"width:100%;height:100%;\" src=\"" + names[39] + "\" />"),
              std::string::npos)
        << twenty;
    EXPECT_NE(Read("page-31.html").find("href=\"page-20.html#page-20\""), std::string::npos);
    EXPECT_TRUE(ParsesAsXml(work + "page-31.html"));
}

TEST_F(PageDriverTest, CancelStillClosesListsAndFillsInfo) {
    Open(OutlinedPdf(20));
    cancel = 1;  // seen after the first page
    EXPECT_EQ(Convert(), qm::ConvertResult::Cancelled);
    EXPECT_EQ(ListedNames(produced, work), (std::vector<std::string>{"styles.css", "page-1.html"}));
    EXPECT_EQ(Read("page-1.html").find("page-2\""), std::string::npos);
    EXPECT_TRUE(ParsesAsXml(work + "page-1.html"));
    EXPECT_EQ(job.title, "Title");
    EXPECT_EQ(job.author, "Author");
    EXPECT_EQ(percent.load(), 5);
}

TEST_F(PageDriverTest, OutlinePositionsAndTheCover) {
    Open(OutlinedPdf(3));
    job.outputOutline = true;
    for (int position : {0, 1}) {
        qm::DeleteFolderTree(work);
        qm::CreateFolder(work);
        job.outlinePosition = position;
        job.createCover = false;
        ASSERT_EQ(Convert(), qm::ConvertResult::Done);
        std::string page = Read("page-1.html");
        size_t outline = page.find("<h1>Document Outline</h1>");
        size_t anchor2 = page.find("<a id=\"page-2\">");
        ASSERT_NE(outline, std::string::npos);
        EXPECT_LT(outline, anchor2);
        EXPECT_EQ(outline < page.find("<a id=\"page-1\">"), false);  // after the first anchor either way

        qm::DeleteFolderTree(work);
        qm::CreateFolder(work);
        job.createCover = true;
        ASSERT_EQ(Convert(), qm::ConvertResult::Done);
        EXPECT_EQ(Read("page-1.html").find("Document Outline"), std::string::npos) << position;
        EXPECT_EQ(ListedNames(produced, work), (std::vector<std::string>{"styles.css", "cover.png", "title_page.html", "page-1.html"}));
        std::string title = Read("title_page.html");
        EXPECT_NE(title.find("override_css"), std::string::npos);
        EXPECT_NE(title.find("src=\"cover.png\""), std::string::npos);
        EXPECT_TRUE(ParsesAsXml(work + "title_page.html"));
    }
}

TEST_F(PageDriverTest, ClampsFontScaleAndTruncatesImageDpi) {
    Open(OutlinedPdf(1));
    job.fontScale = 4.0;
    job.imageDpi = 96.7;
    ASSERT_EQ(Convert(), qm::ConvertResult::Done);
    EXPECT_EQ(job.fontScale, 3.0);
    EXPECT_EQ(outputDpi, 96);
    job.fontScale = 0.2;
    ASSERT_EQ(Convert(), qm::ConvertResult::Done);
    EXPECT_EQ(job.fontScale, 0.5);
    job.fontScale = std::nan("");
    ASSERT_EQ(Convert(), qm::ConvertResult::Done);
    EXPECT_EQ(job.fontScale, 0.5);
    job.parseMode = 7;
    EXPECT_EQ(Convert(), qm::ConvertResult::UnknownMode);
}

TEST_F(PageDriverTest, ZeroPagesWritesOnlyTheStyleSheetAndSaysSoWithOrWithoutCover) {
    qmtest::PdfBuilder b;
    b.SetInfo("Empty", "Nobody");
    ASSERT_TRUE(b.Save(dir.File("zero.pdf")));
    Open(dir.File("zero.pdf"));
    ASSERT_EQ(Convert(), qm::ConvertResult::Done);
    EXPECT_EQ(ListedNames(produced, work), (std::vector<std::string>{"styles.css"}));
    EXPECT_EQ(job.title, "Empty");
    EXPECT_EQ(prompt.messages, (std::vector<std::string>{"'zero.pdf' has no pages."}));

    // With a cover there is nothing to draw one from either: the same words, not a failed cover.
    prompt.messages.clear();
    job.createCover = true;
    ASSERT_EQ(Convert(), qm::ConvertResult::Done);
    EXPECT_EQ(prompt.messages, (std::vector<std::string>{"'zero.pdf' has no pages."}));
    EXPECT_EQ(ListedNames(produced, work), (std::vector<std::string>{"styles.css"}));
}

TEST_F(PageDriverTest, APageTreeThatLiesAboutItsSizeGivesTheRealPages) {
    qmtest::PdfBuilder b;
    b.Text(b.AddPage(), 72, 700, "One");
    b.Text(b.AddPage(), 72, 700, "Two");
    b.SetPageTreeCount(1e20);
    ASSERT_TRUE(b.Save(dir.File("count.pdf")));
    Open(dir.File("count.pdf"));
    job.createCover = true;
    ASSERT_EQ(Convert(), qm::ConvertResult::Done);
    EXPECT_EQ(ListedNames(produced, work), (std::vector<std::string>{"styles.css", "cover.png", "title_page.html", "page-1.html"}));
    ASSERT_EQ(prompt.messages.size(), 1u);
    EXPECT_EQ(prompt.messages[0].rfind("'count.pdf' claims ", 0), 0u) << prompt.messages[0];
    EXPECT_NE(prompt.messages[0].find("but only 2 can be read."), std::string::npos) << prompt.messages[0];
    EXPECT_NE(Read("page-1.html").find("page-2"), std::string::npos);
    EXPECT_EQ(Read("page-1.html").find("page-3"), std::string::npos);
}

TEST_F(PageDriverTest, ThePageLoopStopsAfterFiftyPagesInARowThatCannotBeRead) {
    // Written by hand (the engine repairs the missing cross-reference table): the inner node says
    // it holds 200 pages but holds one, so pages 3 to 201 cannot be found; page 202 can.
    std::string pdf = "%PDF-1.4\n"
                      "1 0 obj <</Type/Catalog/Pages 2 0 R>> endobj\n"
                      "2 0 obj <</Type/Pages/Count 202/Kids[3 0 R 4 0 R 6 0 R]>> endobj\n"
                      "3 0 obj <</Type/Page/Parent 2 0 R/MediaBox[0 0 200 200]>> endobj\n"
                      "4 0 obj <</Type/Pages/Parent 2 0 R/Count 200/Kids[5 0 R]>> endobj\n"
                      "5 0 obj <</Type/Page/Parent 4 0 R/MediaBox[0 0 200 200]>> endobj\n"
                      "6 0 obj <</Type/Page/Parent 2 0 R/MediaBox[0 0 200 200]>> endobj\n";
    pdf += "%" + std::string(4000, 'x') + "\n";  // a size that could hold 202 pages
    pdf += "trailer <</Root 1 0 R/Size 7>>\n%%EOF\n";
    ASSERT_TRUE(qm::WriteFile(dir.File("tree.pdf"), pdf));
    Open(dir.File("tree.pdf"));
    ASSERT_EQ(doc.PageCount(), 202);
    ASSERT_EQ(Convert(), qm::ConvertResult::Done);
    EXPECT_EQ(prompt.messages, (std::vector<std::string>{
                                   "Pages 3 to 52 of 'tree.pdf' could not be read; the pages after them were left out."}));
    EXPECT_EQ(ListedNames(produced, work), (std::vector<std::string>{"styles.css", "page-1.html", "page-16.html", "page-31.html",
                                                           "page-46.html"}));
    EXPECT_EQ(percent, 52 * 100 / 202);
}

TEST_F(PageDriverTest, FilesAndBytesPerDocumentAreCapped) {
    Open(OutlinedPdf(10));
    job.parseMode = 2;  // imaging: a page file and a picture per page
    maxFiles = 4;
    ASSERT_EQ(Convert(), qm::ConvertResult::Done);
    EXPECT_EQ(prompt.messages,
              (std::vector<std::string>{"Page 3 of 'doc.pdf' and the pages after it were left out: the book reached "
                                        "the limit of 4 files or 4096 MB."}));
    std::vector<std::string> names = ListedNames(produced, work);
    ASSERT_EQ(names.size(), 5u);
    EXPECT_EQ(names[4], "page-2.html");
    EXPECT_EQ(job.title, "Title");  // the document's end is still reached

    // The byte limit stops text pages once a finished page file has reached it.
    prompt.messages.clear();
    Open(OutlinedPdf(20));
    const std::string work2 = dir.File("work2/");
    qm::CreateFolder(work2);
    job.workFolder = work2;
    job.parseMode = 0;
    maxFiles = 100000;
    maxBytes = 1;
    ASSERT_EQ(Convert(), qm::ConvertResult::Done);
    EXPECT_EQ(ListedNames(produced, work2), (std::vector<std::string>{"styles.css", "page-1.html", "page-16.html"}));
    ASSERT_EQ(prompt.messages.size(), 1u);
    EXPECT_EQ(prompt.messages[0].rfind("Page 17 of 'doc.pdf' and the pages after it were left out", 0), 0u)
        << prompt.messages[0];
}

TEST_F(PageDriverTest, FailuresAreReportedAndEndTheConversion) {
    Open(OutlinedPdf(2));
    job.workFolder = dir.File("missing/");
    EXPECT_EQ(Convert(), qm::ConvertResult::Failed);
    EXPECT_EQ(prompt.messages, (std::vector<std::string>{"Couldn't create html file!"}));
    EXPECT_TRUE(job.title.empty());  // the conversion ended before the Info entries
    prompt.messages.clear();
    job.createCover = true;
    EXPECT_EQ(Convert(), qm::ConvertResult::Done);
    EXPECT_EQ(prompt.messages, (std::vector<std::string>{"Couldn't create cover image file!"}));
}

// A page file that does not reach the disk fails the document: a book without it would lack pages.
TEST_F(PageDriverTest, APageFileThatCannotBeWrittenFailsTheDocument) {
    qmtest::ScopedTmpfs small("16k");
    if (!small.Mounted()) GTEST_SKIP() << "cannot mount a tmpfs here";
    qmtest::PdfBuilder b;
    for (int i = 0; i < 20; ++i) {
        int p = b.AddPage();
        for (int line = 0; line < 30; ++line)
            b.Text(p, 72, 750 - line * 20, "Line " + std::to_string(line) + " of a page full of words and words", 10);
    }
    ASSERT_TRUE(b.Save(dir.File("doc.pdf")));
    Open(dir.File("doc.pdf"));
    job.workFolder = small.Path();
    EXPECT_EQ(Convert(), qm::ConvertResult::Failed);
    ASSERT_EQ(prompt.messages.size(), 1u);
    EXPECT_EQ(prompt.messages[0], "Couldn't write page-1.html of 'doc.pdf': No space left on device.");
    EXPECT_EQ(std::find(produced.begin(), produced.end(), small.File("page-1.html")), produced.end());
    EXPECT_FALSE(qm::FileExists(small.File("page-1.html")));  // no half-written file is left
}

TEST_F(PageDriverTest, InfoStringsAreCutAtACharacterBoundary) {
    qmtest::PdfBuilder b;
    b.Text(b.AddPage(), 72, 700, "x");
    std::string longTitle;
    for (int i = 0; i < 300; ++i) longTitle += "é";  // 600 bytes
    b.SetInfo(longTitle, "Au");
    ASSERT_TRUE(b.Save(dir.File("long.pdf")));
    Open(dir.File("long.pdf"));
    ASSERT_EQ(Convert(), qm::ConvertResult::Done);
    EXPECT_EQ(job.title.size(), 510u);
    EXPECT_EQ(job.title, longTitle.substr(0, 510));
    EXPECT_EQ(job.author, "Au");
}

TEST_F(PageDriverTest, PreviewPageWritesOneWholePageAndListsNothing) {
    Open(OutlinedPdf(2));
    char *buf = nullptr;
    size_t size = 0;
    FILE *mem = open_memstream(&buf, &size);
    qm::DocumentConverter converter(doc, job);
    ASSERT_EQ(converter.CapturePage(1), qm::CaptureResult::Captured);
    converter.WritePreviewPage(mem);
    std::fclose(mem);
    std::string preview(buf, size);
    std::free(buf);
    EXPECT_EQ(preview.rfind("<?xml", 0), 0u);
    EXPECT_NE(preview.find("Page 1"), std::string::npos);
    EXPECT_EQ(preview.substr(preview.size() - 16), "</body>\n</html>\n");
    EXPECT_TRUE(converter.ProducedFiles().empty());
}

} // namespace

namespace {

// The engine cuts font names at 31 bytes; the driver must still see "Bold" and "Italic" at the end
// of a long subset name, or the book loses the text's faces.
TEST_F(PageDriverTest, LongFontNamesKeepTheirFaces) {
    qmtest::PdfBuilder b;
    int p = b.AddPage();
    b.Text(p, 72, 700, "Long named bold italic text", 12, "ABCDEF+LongFamilyNameForTestingPS-BoldItalicMT");
    b.Text(p, 72, 600, "Plain text", 12, "Helvetica");
    ASSERT_TRUE(b.Save(dir.File("long.pdf")));
    Open(dir.File("long.pdf"));
    ASSERT_EQ(Convert(), qm::ConvertResult::Done);
    std::string page = Read("page-1.html");
    EXPECT_NE(page.find("<span class=\"font12 bold italic\">Long named bold italic text</span>"), std::string::npos)
        << page;
    EXPECT_NE(page.find("<span class=\"font12\">Plain text</span>"), std::string::npos) << page;
}

// A long conversion keeps no page's items once the page is written; a page the user edited keeps
// them, and a second conversion rebuilds the released ones with the same result.
TEST_F(PageDriverTest, WrittenPagesReleaseTheirItemsUnlessTheUserEditedThem) {
    qmtest::PdfBuilder b;
    for (int i = 0; i < 3; ++i) {
        const int p = b.AddPage();
        b.Text(p, 72, 700, "Keep line " + std::to_string(i + 1));
        b.Text(p, 72, 600, "Drop line " + std::to_string(i + 1));
    }
    ASSERT_TRUE(b.Save(dir.File("three.pdf")));
    Open(dir.File("three.pdf"));
    qm::DocumentConverter converter(doc, job);
    ASSERT_EQ(converter.Convert(), qm::ConvertResult::Done);
    const std::string first = Read("page-1.html");
    for (int p = 1; p <= 3; ++p) {
        const qm::PageLayout *page = converter.Model().FindPageLayout(p);
        ASSERT_NE(page, nullptr);
        EXPECT_TRUE(page->items.empty()) << p;
        EXPECT_FALSE(page->itemsBuilt) << p;
    }

    // The user leaves out the second line of page 2.
    ASSERT_EQ(converter.CapturePage(2), qm::CaptureResult::Captured);
    qm::PageLayout *two = converter.Model().FindPageLayout(2);
    ASSERT_FALSE(two->items.empty());
    int topEnd = two->items.front()->viewBox.y1;
    for (auto &item : two->items) topEnd = std::min(topEnd, item->viewBox.y1);
    int excluded = 0;
    for (auto &item : two->items) {
        if (item->viewBox.y0 >= topEnd) {
            item->disabled = 1;
            ++excluded;
        }
    }
    ASSERT_GT(excluded, 0);
    converter.Capture().Document().EndPageRun();

    ASSERT_EQ(converter.Convert(), qm::ConvertResult::Done);
    const std::string second = Read("page-1.html");
    EXPECT_EQ(second.find("Drop line 2"), std::string::npos) << second;
    EXPECT_NE(second.find("Keep line 2"), std::string::npos) << second;
    EXPECT_NE(second.find("Drop line 3"), std::string::npos) << second;
    EXPECT_FALSE(two->items.empty());
    EXPECT_TRUE(converter.Model().FindPageLayout(3)->items.empty());
    // Page 1, built again from its recording, is written as the first time.
    const size_t pageTwo = first.find("Keep line 2");
    ASSERT_NE(pageTwo, std::string::npos);
    EXPECT_EQ(second.substr(0, pageTwo), first.substr(0, pageTwo));
}

} // namespace
