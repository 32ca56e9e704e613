// quillmark-cli convert: the book's language (--language, else the PDF's /Lang, else the default)
// and EPUB 3 books (--epub3), judged by reading the books back and by epubcheck.
#include <gtest/gtest.h>

#include <map>

#include "cli/cli_run.h"
#include "epub/zip_reader.h"
#include "platform/paths.h"
#include "support/pdf_fixture.h"
#include "support/temp_dir.h"

namespace {

using Book = std::map<std::string, std::string>;

Book ReadBook(const std::string &path) {
    Book book;
    std::string bytes;
    if (!qm::ReadFile(path, bytes)) return book;
    qmtest::ZipArchiveInfo zip = qmtest::ReadZipArchive(bytes);
    for (const qmtest::ZipEntryInfo &e : zip.entries) book[e.name] = e.data;
    return book;
}

size_t Count(const std::string &text, const std::string &what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

// Two pages of text, a picture, a link from page 1 to page 2 and, when `outline`, bookmarks.
bool WriteRichPdf(const std::string &path, bool outline) {
    qmtest::PdfBuilder b;
    int p1 = b.AddPage();
    int p2 = b.AddPage();
    b.Text(p1, 72, 720, "Chapter One & more", 18, "Helvetica-Bold");
    b.Text(p1, 72, 690, "Go to the second chapter.", 12);
    b.LinkToPage(p1, 70, 685, 250, 705, p2);
    b.Image(p1, 72, 400, 200, 150, 32, 32);
    b.Text(p2, 72, 720, "Chapter Two", 18, "Helvetica-Bold");
    b.Text(p2, 72, 690, "The end of the book.", 12);
    if (outline) {
        int top = b.AddOutline("Chapter One & more", p1);
        b.AddOutline("Inside one", p1, top, 690);
        b.AddOutline("Chapter Two", p2);
    }
    b.SetInfo("Rich <Book>", "An Author");
    return b.Save(path);
}

class BookLanguageTest : public CliRunTest {
protected:
    // Converts `pdf` with `args`; the book's files, or an empty map when no book came out.
    Book Convert(const std::string &pdf, const std::string &args) {
        const std::string outDir = dir.File("out");
        qm::CreateFolders(outDir);
        const std::string book = outDir + "/" + qm::FileNamePart(pdf).substr(0, qm::FileNamePart(pdf).rfind('.')) + ".epub";
        std::remove(book.c_str());
        EXPECT_EQ(Cli("convert --overwrite -o " + qmtest::ShellQuote(outDir) + " " + args + " " +
                      qmtest::ShellQuote(pdf)),
                  0)
            << out;
        lastBook = book;
        return ReadBook(book);
    }
    void ExpectClean() {
        std::string report;
        EXPECT_TRUE(qmtest::EpubCheck(lastBook, &report)) << report;
    }
    std::string lastBook;
};

TEST_F(BookLanguageTest, LanguageComesFromTheOptionElseThePdfElseTheDefault) {
    const std::string plain = dir.File("plain.pdf");
    ASSERT_TRUE(qmtest::WriteSimplePdf(plain, 2));

    // Nothing named: the default, and the pages carry no language of their own (as before).
    Book book = Convert(plain, "");
    EXPECT_NE(book["OPS/content.opf"].find("<dc:language>en-gb</dc:language>"), std::string::npos);
    EXPECT_NE(book["OPS/toc.ncx"].find("xml:lang=\"en-gb\""), std::string::npos);
    EXPECT_EQ(book["OPS/page-1.html"].find("xml:lang"), std::string::npos);

    // The option wins over the PDF's own.
    const std::string french = dir.File("french.pdf");
    ASSERT_TRUE(qmtest::WriteSimplePdf(french, 2));
    ASSERT_TRUE(qmtest::SetCatalogLanguage(french, "fr-CA"));
    book = Convert(french, "--language de");
    EXPECT_NE(book["OPS/content.opf"].find("<dc:language>de</dc:language>"), std::string::npos);
    EXPECT_NE(book["OPS/toc.ncx"].find("xml:lang=\"de\""), std::string::npos);
    EXPECT_NE(book["OPS/page-1.html"].find("<html xmlns=\"http://www.w3.org/1999/xhtml\" xml:lang=\"de\">"),
              std::string::npos);
    ExpectClean();

    // The PDF's own, as a string and as a name.
    book = Convert(french, "--cover");
    EXPECT_NE(book["OPS/content.opf"].find("<dc:language>fr-CA</dc:language>"), std::string::npos);
    EXPECT_NE(book["OPS/title_page.html"].find("xml:lang=\"fr-CA\""), std::string::npos);
    ExpectClean();
    ASSERT_TRUE(qmtest::SetCatalogLanguage(french, "pt-BR", true));
    book = Convert(french, "");
    EXPECT_NE(book["OPS/content.opf"].find("<dc:language>pt-BR</dc:language>"), std::string::npos);
}

TEST_F(BookLanguageTest, AMalformedPdfLanguageIsIgnored) {
    const std::string pdf = dir.File("bad.pdf");
    for (const std::string &bad : {std::string("en\"><script>"), std::string("english language"), std::string("-de"),
                                   std::string(300, 'a')}) {
        ASSERT_TRUE(qmtest::WriteSimplePdf(pdf, 1));
        ASSERT_TRUE(qmtest::SetCatalogLanguage(pdf, bad));
        Book book = Convert(pdf, "--epub3");
        EXPECT_NE(book["OPS/content.opf"].find("<dc:language>en-gb</dc:language>"), std::string::npos) << bad;
        EXPECT_NE(book["OPS/page-1.xhtml"].find("xml:lang=\"en-gb\""), std::string::npos) << bad;
        EXPECT_EQ(book["OPS/page-1.xhtml"].find("script"), std::string::npos) << bad;
    }
}

TEST_F(BookLanguageTest, AMalformedLanguageOptionIsRefusedAndNoBookIsMade) {
    const std::string pdf = dir.File("doc.pdf");
    ASSERT_TRUE(qmtest::WriteSimplePdf(pdf, 1));
    for (const char *bad : {"'en gb'", "en_GB", "de-", "''", "'<x>'"}) {
        EXPECT_NE(Cli("convert --overwrite --language " + std::string(bad) + " " + qmtest::ShellQuote(pdf)), 0) << bad;
        EXPECT_NE(out.find("not a language tag"), std::string::npos) << out;
        EXPECT_FALSE(qm::FileExists(dir.File("doc.epub"))) << bad;
    }
}

TEST_F(BookLanguageTest, Epub3BooksHaveANavigationDocumentAndPassEpubcheck) {
    const std::string withOutline = dir.File("outlined.pdf");
    const std::string without = dir.File("plain.pdf");
    ASSERT_TRUE(WriteRichPdf(withOutline, true));
    ASSERT_TRUE(WriteRichPdf(without, false));

    // Bookmarks, links, a picture and a cover, in Kindle form: every navigation point of the NCX is
    // in the navigation document, nested as there.
    Book book = Convert(withOutline, "--epub3 --kindle --bookmarks-toc --links --language de-AT");
    ExpectClean();
    const std::string &opf = book["OPS/content.opf"];
    EXPECT_NE(opf.find("version=\"3.0\""), std::string::npos);
    EXPECT_NE(opf.find("<meta property=\"dcterms:modified\">"), std::string::npos);
    EXPECT_NE(opf.find("properties=\"nav\""), std::string::npos);
    EXPECT_NE(opf.find("href=\"cover.png\" media-type=\"image/png\" properties=\"cover-image\""), std::string::npos);
    EXPECT_NE(opf.find("<spine toc=\"ncx\">"), std::string::npos);
    const std::string &nav = book["OPS/nav.xhtml"];
    const std::string &ncx = book["OPS/toc.ncx"];
    EXPECT_EQ(Count(ncx, "<navPoint "), 3u);
    EXPECT_EQ(Count(nav, "<li>"), 3u);
    EXPECT_EQ(Count(nav, "<ol>"), 2u);  // "Inside one" nested below chapter one
    EXPECT_NE(nav.find("<a href=\"page-1.xhtml#page-1\">Chapter One &amp; more</a>"), std::string::npos) << nav;
    EXPECT_NE(book["OPS/page-1.xhtml"].find("href=\"page-1.xhtml#page-2\""), std::string::npos);
    EXPECT_NE(opf.find("<itemref idref=\"title\" linear=\"no\" />"), std::string::npos);
    EXPECT_NE(opf.find("href=\"title_page.xhtml\" type=\"cover\""), std::string::npos);
    EXPECT_NE(nav.find("epub:type=\"toc\""), std::string::npos);
    EXPECT_NE(nav.find("xml:lang=\"de-AT\""), std::string::npos);
    EXPECT_NE(book["OPS/page-1.xhtml"].find("<!DOCTYPE html>\n"), std::string::npos);

    // No bookmarks, no cover, pages as pictures: one entry per document, no cover image.
    book = Convert(without, "--epub3 --mode imaging");
    ExpectClean();
    EXPECT_EQ(book["OPS/content.opf"].find("cover-image"), std::string::npos);
    EXPECT_EQ(Count(book["OPS/nav.xhtml"], "<li>"), Count(book["OPS/toc.ncx"], "<navPoint "));
}

TEST_F(BookLanguageTest, TheBundledSampleIsACleanEpub3Book) {
    Convert(std::string(QM_SOURCE_DIR) + "/samples/sample.pdf", "--epub3 --cover --bookmarks-toc --links --outline first -j 2");
    ExpectClean();
}

} // namespace
