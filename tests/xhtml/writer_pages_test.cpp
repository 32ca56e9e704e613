// Whole pages through capture, analysis and the writer: the words of the XHTML are the words put
// on the page, in reading order; the files parse as XML and the book passes epubcheck.
#include <gtest/gtest.h>
#include <libxml/parser.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "epub/epub_builder.h"
#include "options/conversion_job.h"
#include "pdf/engine.h"
#include "pdf/pdf_document.h"
#include "xhtml/document_converter.h"
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

// Lines set flush on both edges (word spacing), the last one left as it is.
void Justified(qmtest::PdfBuilder &b, int page, double x, double y, double width, const std::vector<std::string> &lines,
               double size = 11, double leading = 14) {
    std::string f = b.FontResource("Helvetica");
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::string &l = lines[i];
        size_t blanks = static_cast<size_t>(std::count(l.begin(), l.end(), ' '));
        double natural = qmtest::PdfBuilder::TextWidth(l, size, "Helvetica");
        double tw = (i + 1 < lines.size() && blanks) ? (width - natural) / blanks : 0;
        std::ostringstream op;
        op << "BT /" << f << " " << size << " Tf " << tw << " Tw " << x << " " << y - leading * i << " Td (" << l
           << ") Tj ET\n";
        b.Raw(page, op.str());
    }
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
    std::vector<std::string> produced;

    void SetUp() override {
        work = dir.File("work/");
        qm::CreateFolder(work);
        job.workFolder = work;
        job.scratchFolder = dir.File("scratch/");
        job.ignoreLinks = 0;
    }
    // Converts the PDF; returns page-1.html.
    std::string Convert(const std::string &pdf) {
        EXPECT_EQ(qm::OpenResult::Opened, doc.Open(pdf, "", ""));
        qm::DocumentConverter converter(doc, job);
        EXPECT_EQ(qm::ConvertResult::Done, converter.Convert());
        produced = converter.TakeProducedFiles();
        return qmtest::ReadAll(work + "page-1.html");
    }
    bool Book(std::string *report) {
        return qmtest::PackagedBookPasses(produced, dir.File("stage/"), "Writer pages", report);
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

    // Anchors: existing schemes kept as they are, the first page's file for the page link; one
    // anchor for each link, around all of its words.
    EXPECT_NE(std::string::npos, file.find("href=\"https://www.example.org/\"")) << file;
    EXPECT_NE(std::string::npos, file.find("href=\"mailto:someone@example.org\""));
    EXPECT_NE(std::string::npos, file.find("href=\"page-1.html#page-1\">Back to the start</a>"));
    size_t anchors = 0;
    for (size_t at = file.find("<a href="); at != std::string::npos; at = file.find("<a href=", at + 1)) ++anchors;
    EXPECT_EQ(3u, anchors) << file;
    // Runs on one line are parted by an ordinary space first, where a narrow screen may wrap the
    // line; only a wider gap adds no-break spaces after it.
    const std::string runs = PageText(file, 4);
    EXPECT_EQ(4, std::count(runs.begin(), runs.end(), ' ')) << runs;
    for (size_t at = runs.find("\xC2\xA0"); at != std::string::npos; at = runs.find("\xC2\xA0", at + 2))
        EXPECT_TRUE(at > 0 && (runs[at - 1] == ' ' || runs.compare(at - 2, 2, "\xC2\xA0") == 0)) << runs;
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
    int pages = 0;
    for (const std::string &line : produced) {
        if (line.size() > 5 && line.substr(line.size() - 5) == ".html") {
            ++pages;
            std::string text = qmtest::ReadAll(line);
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

namespace {

using Piece = qmtest::PdfBuilder::TextPiece;

// Words of `got` that `want` has as several neighbouring words run together, and the other way
// round (words cut apart).
struct GapFaults {
    std::vector<std::string> glued, split;
};

std::vector<std::string> RunTogether(const std::vector<std::string> &a, const std::vector<std::string> &b) {
    std::vector<std::string> found;
    for (const std::string &w : a) {
        if (std::find(b.begin(), b.end(), w) != b.end()) continue;
        bool hit = false;
        for (size_t i = 0; i < b.size() && !hit; ++i) {
            std::string run = b[i];
            for (size_t k = i + 1; k < b.size() && run.size() < w.size(); ++k) run += b[k];
            hit = run == w && w != b[i];
        }
        if (hit) found.push_back(w);
    }
    return found;
}

GapFaults CountGapFaults(const std::vector<std::string> &want, const std::vector<std::string> &got) {
    return GapFaults{RunTogether(got, want), RunTogether(want, got)};
}

std::string Join(const std::vector<std::string> &words) {
    std::string s;
    for (const std::string &w : words) s += (s.empty() ? "" : " ") + w;
    return s;
}

// A line of words set with the same pen gap (in em) between them, at the words' own advances.
std::vector<Piece> Spaced(const std::string &line, double gapEm, const std::string &font = "Times-Roman",
                          double size = 10) {
    std::vector<Piece> pieces;
    std::istringstream in(line);
    for (std::string w; in >> w;) pieces.push_back(Piece{w, pieces.empty() ? 0 : gapEm * size, font, size, 0});
    return pieces;
}

} // namespace

// Gaps that the page makes by moving the pen, not by a blank: word gaps of tight and loose
// justified lines become spaces, kerning and italic corrections do not, whatever font the
// neighbouring run has and however its glyphs overlap.
TEST_F(WriterPages, PenMovesBecomeWordGapsOnlyWhereWordsEnd) {
    qmtest::PdfBuilder b;
    std::vector<std::vector<std::string>> want;
    // 1: justified lines in two faces: tight (below the engine's own default of 0.2 em), usual
    // and loose word gaps, one TJ array per line as TeX writes them.
    int p = b.AddPage();
    double y = 740;
    const std::vector<std::pair<std::string, double>> lines = {
        {"Smith and Jones eventually release", 0.17}, {"the tightest lines of a paragraph", 0.16},
        {"with ordinary gaps between words", 0.25},   {"loose lines that have room", 0.6},
        {"very loose lines like these", 1.2}};
    want.emplace_back();
    for (const char *font : {"Times-Roman", "Helvetica"}) {
        for (const auto &[text, gap] : lines) {
            b.TextLine(p, 72, y, Spaced(text, gap, font));
            std::istringstream in(text);
            for (std::string w; in >> w;) want.back().push_back(w);
            y -= 30;
        }
    }
    // 2: kerned words (pairs moved back, and forward by less than a word gap), letter spacing
    // with Tc, and word spacing with Tw on real blanks.
    p = b.AddPage();
    b.TextLine(p, 72, 700,
               {{"W", 0}, {"a", -0.8}, {"ter", 0}, {"T", 2}, {"o", -0.9}, {"ken", 0.4}, {"A", 2}, {"V", -1.3},
                {"A", -1.3}, {"T", 0.5}, {"AR", 0.3}});
    b.TextLine(p, 72, 650, {{"letter spaced words", 0}}, 0.6);
    b.TextLine(p, 72, 600, {{"wide word spacing", 0}}, 0, 4);
    b.TextLine(p, 72, 550, {{"both at once here", 0}}, 0.8, 3);
    want.push_back({"Water", "Token", "AVATAR", "letter", "spaced", "words", "wide", "word", "spacing", "both", "at",
                    "once", "here"});
    // 3: runs of other fonts on one line: an italic word whose last glyph overhangs the gap after
    // it, an italic correction inside a word, a superscript, an address in a typewriter face
    // after a tight gap, and a bold word.
    p = b.AddPage();
    b.TextLine(p, 72, 700,
               {{"the", 0}, {"leaf", 2.5, "Times-Italic"}, {"fell", 1.6}, {"un", 2.5, "Times-Italic"},
                {"believable", 0.3}, {"note", 2.5}, {"1", 0, "Times-Roman", 6, 4}, {"said", 2.5}});
    b.TextLine(p, 72, 650, {{"look", 0}, {"at", 1.7}, {"https://example.org/x", 1.7, "Courier"}, {"today", 1.8}});
    b.TextLine(p, 72, 600,
               {{"a", 0, "Helvetica"}, {"bold", 2.2, "Helvetica-Bold"}, {"move", 2.2, "Helvetica"},
                {"ff", 1.8, "Helvetica-Oblique"}, {"ected", 0, "Helvetica"}});
    want.push_back({"the", "leaf", "fell", "unbelievable", "note1", "said", "look", "at", "https://example.org/x",
                    "today", "a", "bold", "move", "ffected"});
    // 4: centred lines set solid, so that the boxes of neighbouring lines touch.
    p = b.AddPage();
    const std::vector<std::string> centred = {"Abstract Syntax Notation library for the GNU system",
                                              "for version four, August", "with examples"};
    for (size_t i = 0; i < centred.size(); ++i) {
        double w = qmtest::PdfBuilder::TextWidth(centred[i], 11);
        b.Text(p, 306 - w / 2, 700 - 11.0 * static_cast<double>(i), centred[i], 11, "Times-Roman");
    }
    want.push_back(Words(centred));
    ASSERT_TRUE(b.Save(dir.File("gaps.pdf")));

    std::string file = Convert(dir.File("gaps.pdf"));
    for (size_t page = 0; page < want.size(); ++page) {
        SCOPED_TRACE("page " + std::to_string(page + 1));
        std::vector<std::string> got = Words(PageText(file, static_cast<int>(page + 1)));
        GapFaults faults = CountGapFaults(want[page], got);
        EXPECT_EQ(0u, faults.glued.size()) << "glued: " << Join(faults.glued);
        EXPECT_EQ(0u, faults.split.size()) << "split: " << Join(faults.split);
        EXPECT_EQ(Join(want[page]), Join(got));
    }
    std::string report;
    EXPECT_TRUE(Book(&report)) << report;
}
