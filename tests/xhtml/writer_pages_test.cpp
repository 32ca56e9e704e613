// Whole pages through capture, analysis and the writer: the words of the XHTML are the words put
// on the page, in reading order; the files parse as XML and the book passes epubcheck.
#include <gtest/gtest.h>
#include <libxml/parser.h>

#include <fstream>
#include <sstream>

#include "epub/epub_builder.h"
#include "options/conversion_job.h"
#include "pdf/engine.h"
#include "pdf/pdf_document.h"
#include "platform/paths.h"
#include "support/pdf_fixture.h"
#include "support/temp_dir.h"
#include "writer_support.h"

namespace {

std::vector<std::string> Words(const std::string &text) {
    // Blanks and no-break spaces separate words.
    std::string s = text;
    for (size_t p = s.find("\xC2\xA0"); p != std::string::npos; p = s.find("\xC2\xA0", p)) s.replace(p, 2, 1, ' ');
    std::istringstream in(s);
    std::vector<std::string> words;
    for (std::string w; in >> w;) words.push_back(w);
    return words;
}

std::vector<std::string> Words(const std::vector<std::string> &lines) {
    std::vector<std::string> all;
    for (const std::string &l : lines)
        for (const std::string &w : Words(l)) all.push_back(w);
    return all;
}

// Width of a Helvetica text in points.
double HelveticaWidth(const std::string &text, double size) {
    fz_context *ctx = qm::EngineContext();
    fz_font *font = fz_new_base14_font(ctx, "Helvetica");
    double w = 0;
    for (unsigned char c : text) w += fz_advance_glyph(ctx, font, fz_encode_character(ctx, font, c), 0);
    fz_drop_font(ctx, font);
    return w * size;
}

// Lines set flush on both edges (word spacing), the last one left as it is.
void Justified(qmtest::PdfBuilder &b, int page, double x, double y, double width, const std::vector<std::string> &lines,
               double size = 11, double leading = 14) {
    std::string f = b.FontResource("Helvetica");
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::string &l = lines[i];
        size_t blanks = static_cast<size_t>(std::count(l.begin(), l.end(), ' '));
        double tw = (i + 1 < lines.size() && blanks) ? (width - HelveticaWidth(l, size)) / blanks : 0;
        std::ostringstream op;
        op << "BT /" << f << " " << size << " Tf " << tw << " Tw " << x << " " << y - leading * i << " Td (" << l
           << ") Tj ET\n";
        b.Raw(page, op.str());
    }
}

std::string ReadAll(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// Text of a page file from the anchor of page `page` up to the next page's anchor, parsed.
std::string PageText(const std::string &file, int page) {
    std::string start = "<p><a id=\"page-" + std::to_string(page) + "\"></a></p>";
    std::string next = "<p><a id=\"page-" + std::to_string(page + 1) + "\"></a></p>";
    size_t a = file.find(start);
    if (a == std::string::npos) return "<no page>";
    size_t e = file.find(next, a);
    size_t bodyEnd = file.find("</body>", a);
    if (e == std::string::npos) e = bodyEnd;
    return qmtest::XmlText(file.substr(a, e - a));
}

class WriterPages : public ::testing::Test {
protected:
    qmtest::TempDir dir;
    qm::PdfDocument doc;
    qm::ConversionJob job;
    std::string work;

    void SetUp() override {
        work = dir.File("work/");
        qm::CreateFolder(work);
        job.workFolder = work;
        job.scratchFolder = dir.File("scratch/");
        job.ignoreLinks = 0;
    }
    // Converts the PDF; returns page-1.html.
    std::string Convert(const std::string &pdf) {
        doc.Reset();
        EXPECT_EQ(0, doc.Open(pdf, "", ""));
        EXPECT_EQ(0, doc.ConvertDocument(&job));
        return ReadAll(work + "page-1.html");
    }
    bool Book(std::string *report) {
        std::ifstream list(work + "textlist.txt");
        qm::PackageJob pkg;
        for (std::string line; std::getline(list, line);)
            if (!line.empty()) pkg.items.push_back(qm::ManifestItem{line, qm::FileNamePart(line)});
        qm::BookMetadata meta{"Writer pages", "Quillmark tests", ""};
        pkg.metadata = &meta;
        pkg.epubPath = "book.epub";
        pkg.stagingFolder = dir.File("stage/");
        qm::CreateFolder(pkg.stagingFolder);
        qm::EpubBuilder builder;
        if (builder.Build(&pkg, true) != 0) return false;
        return qmtest::EpubCheck(pkg.stagingFolder + "book.epub", report);
    }
};

const std::vector<std::string> kParagraph = {
    "Quillmark turns the pages of portable documents into elec-",
    "tronic books that readers can enjoy on small screens and on",
    "large ones alike, keeping every word in its proper order.",
};
const std::vector<std::string> kParagraphWords = {
    "Quillmark", "turns", "the", "pages", "of", "portable", "documents", "into", "electronic", "books", "that",
    "readers", "can", "enjoy", "on", "small", "screens", "and", "on", "large", "ones", "alike,", "keeping",
    "every", "word", "in", "its", "proper", "order."};

} // namespace

TEST_F(WriterPages, WordsOfGeneratedPagesInReadingOrder) {
    qmtest::PdfBuilder b;
    // 1: one justified paragraph with a hyphenated line end.
    int p1 = b.AddPage();
    b.Text(p1, 72, 740, "A Heading Line", 16);
    Justified(b, p1, 72, 700, 330, kParagraph);
    // 2: two columns.
    int p2 = b.AddPage();
    std::vector<std::string> left = {"Left column first line", "left column second line", "left column third line",
                                     "left column last line"};
    std::vector<std::string> right = {"Right column first line", "right column second line",
                                      "right column third line", "right column last line"};
    for (size_t i = 0; i < left.size(); ++i) {
        b.Text(p2, 72, 700 - 14.0 * i, left[i], 11);
        b.Text(p2, 330, 700 - 14.0 * i, right[i], 11);
    }
    // 3: links to the web, to a mail address and to the first page.
    int p3 = b.AddPage();
    b.Text(p3, 72, 700, "Visit example.org or write to me", 12);
    b.LinkToUri(p3, 100, 695, 150, 712, "https://www.example.org/");
    b.LinkToUri(p3, 180, 695, 240, 712, "mailto:someone@example.org");
    b.Text(p3, 72, 650, "Back to the start", 12);
    b.LinkToPage(p3, 72, 645, 200, 662, 0);
    // 4: bold, italic and coloured runs.
    int p4 = b.AddPage();
    b.Text(p4, 72, 700, "Plain", 12, "Helvetica");
    b.Text(p4, 110, 700, "bold", 12, "Helvetica-Bold");
    b.Text(p4, 145, 700, "italic", 12, "Helvetica-Oblique");
    b.Text(p4, 185, 700, "red", 12, "Helvetica", qmtest::Rgb{1, 0, 0});
    b.Text(p4, 215, 700, "words.", 12, "Times-Italic");
    // 5: accented and Greek text, and ligatures.
    int p5 = b.AddPage();
    b.UnicodeText(p5, 72, 700, "Caf\xC3\xA9 na\xC3\xAFve \xC3\xA0 la cr\xC3\xA8me", 12);
    b.UnicodeText(p5, 72, 680, "\xCE\x95\xCE\xBB\xCE\xBB\xCE\xB7\xCE\xBD\xCE\xB9\xCE\xBA\xCE\xAC "
                               "\xCE\xBA\xCE\xB5\xCE\xAF\xCE\xBC\xCE\xB5\xCE\xBD\xCE\xBF", 12);
    b.UnicodeText(p5, 72, 660, "\xEF\xAC\x81sh \xEF\xAC\x82ow o\xEF\xAC\x83" "ce", 12);
    ASSERT_TRUE(b.Save(dir.File("pages.pdf")));

    job.pageDefaults.columnMode = static_cast<int32_t>(qm::ColumnMode::AutoDetect);
    std::string file = Convert(dir.File("pages.pdf"));

    std::vector<std::string> page1 = {"A", "Heading", "Line"};
    page1.insert(page1.end(), kParagraphWords.begin(), kParagraphWords.end());
    EXPECT_EQ(page1, Words(PageText(file, 1)));
    std::vector<std::string> page2 = Words(left);
    for (const std::string &w : Words(right)) page2.push_back(w);
    EXPECT_EQ(page2, Words(PageText(file, 2)));
    EXPECT_EQ(Words(std::vector<std::string>{"Visit example.org or write to me", "Back to the start"}),
              Words(PageText(file, 3)));
    EXPECT_EQ(Words(std::string("Plain bold italic red words.")), Words(PageText(file, 4)));
    EXPECT_EQ(Words(std::string("Caf\xC3\xA9 na\xC3\xAFve \xC3\xA0 la cr\xC3\xA8me "
                                "\xCE\x95\xCE\xBB\xCE\xBB\xCE\xB7\xCE\xBD\xCE\xB9\xCE\xBA\xCE\xAC "
                                "\xCE\xBA\xCE\xB5\xCE\xAF\xCE\xBC\xCE\xB5\xCE\xBD\xCE\xBF fish flow office")),
              Words(PageText(file, 5)));

    // Anchors: existing schemes kept as they are, the first page's file for the page link.
    EXPECT_NE(std::string::npos, file.find("href=\"https://www.example.org/\"")) << file;
    EXPECT_NE(std::string::npos, file.find("href=\"mailto:someone@example.org\""));
    EXPECT_NE(std::string::npos, file.find("href=\"page-1.html#page-1\""));
    // Styles of the runs.
    EXPECT_NE(std::string::npos, file.find(" bold\">bold<")) << file;
    EXPECT_NE(std::string::npos, file.find(" italic\">italic<"));
    EXPECT_NE(std::string::npos, file.find(" Cff0000\">red<"));

    xmlDoc *x = xmlReadMemory(file.data(), static_cast<int>(file.size()), "page-1.html", nullptr,
                              XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    EXPECT_NE(nullptr, x) << file;
    if (x) xmlFreeDoc(x);

    std::string report;
    EXPECT_TRUE(Book(&report)) << report;
}

TEST_F(WriterPages, BundledSampleMakesAValidBook) {
    std::string sample = std::string(QM_SOURCE_DIR) + "/samples/sample.pdf";
    job.imageDpi = 96;
    Convert(sample);
    std::ifstream list(work + "textlist.txt");
    int pages = 0;
    for (std::string line; std::getline(list, line);) {
        if (line.size() > 5 && line.substr(line.size() - 5) == ".html") {
            ++pages;
            std::string text = ReadAll(line);
            xmlDoc *x = xmlReadMemory(text.data(), static_cast<int>(text.size()), "page.html", nullptr,
                                      XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
            EXPECT_NE(nullptr, x) << line;
            if (x) xmlFreeDoc(x);
        }
    }
    EXPECT_GT(pages, 0);
    std::string report;
    EXPECT_TRUE(Book(&report)) << report;
}
