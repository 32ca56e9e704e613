// A printed contents page through quillmark-cli convert: its entries become one linked line each,
// pointing at the page's anchor, without leaders or lone page numbers; prose with numbers at its
// lines' ends is left alone; --keep-contents-pages keeps the page as it was.
#include <gtest/gtest.h>

#include <regex>

#include "cli_run.h"
#include "epub/zip_reader.h"
#include "platform/paths.h"
#include "support/pdf_fixture.h"

namespace {

constexpr double kRight = 540;  // where the page numbers end

// One contents line: the title at `x`, a leader of dots, the number set flush right. With
// `oneRun` the whole line is one text run, else title, leader and number are three.
void EntryLine(qmtest::PdfBuilder &b, int page, double x, double y, const std::string &title,
               const std::string &number, bool oneRun = false) {
    const double size = 11;
    const double titleEnd = x + qmtest::PdfBuilder::TextWidth(title, size);
    const double numberX = kRight - qmtest::PdfBuilder::TextWidth(number, size);
    const double dotWidth = qmtest::PdfBuilder::TextWidth(".", size);
    const int dots = static_cast<int>((numberX - titleEnd - 12) / dotWidth);
    const std::string leader(static_cast<size_t>(std::max(dots, 3)), '.');
    if (oneRun) {
        b.Text(page, x, y, title + " " + leader + " " + number, size, "Times-Roman");
        return;
    }
    b.Text(page, x, y, title, size, "Times-Roman");
    b.Text(page, titleEnd + 6, y, leader, size, "Times-Roman");
    b.Text(page, numberX, y, number, size, "Times-Roman");
}

// 30 pages: a title page, the contents page (two levels, roman and arabic numbers, an entry that
// wraps, one set as a single run), then pages of text.
void WriteContentsPdf(const std::string &path) {
    qmtest::PdfBuilder b;
    b.Text(b.AddPage(), 72, 700, "A Manual", 24);
    const int toc = b.AddPage();
    b.Text(toc, 72, 720, "Contents", 18, "Helvetica-Bold");
    EntryLine(b, toc, 72, 680, "Preface", "iii");
    EntryLine(b, toc, 72, 660, "Acknowledgements", "iv");
    EntryLine(b, toc, 72, 640, "1  Getting started", "5");
    EntryLine(b, toc, 90, 620, "1.1  Installing", "6");
    b.Text(toc, 90, 600, "1.2  A section whose title is long enough that it has to wrap onto the", 11, "Times-Roman");
    EntryLine(b, toc, 100, 586, "second line of the listing", "8");
    EntryLine(b, toc, 72, 566, "2  Working with files", "12");
    EntryLine(b, toc, 90, 546, "2.1  Opening & saving", "14");
    EntryLine(b, toc, 72, 526, "Index", "29", true);
    for (int p = 3; p <= 30; ++p) b.Text(b.AddPage(), 72, 700, "Text of page " + std::to_string(p));
    ASSERT_TRUE(b.Save(path));
}

class ContentsPageTest : public CliRunTest {
protected:
    // Converts `pdf` into folder `out` with `options`; the text of the book's entry `name`.
    std::string Convert(const std::string &pdf, const std::string &out, const std::string &options,
                        const std::string &name = "OPS/page-1.html") {
        qm::CreateFolder(dir.File(out));
        EXPECT_EQ(Cli("convert " + options + " " + Q(pdf) + " -o " + Q(out)), 0) << out;
        std::string bytes;
        const std::string stem = pdf.substr(0, pdf.rfind('.'));
        if (!qm::ReadFile(dir.File(out + "/" + stem + ".epub"), bytes)) return std::string();
        for (auto &e : qmtest::ReadZipArchive(bytes).entries)
            if (e.name == name) return e.data;
        return std::string();
    }
    std::string Book(const std::string &pdf, const std::string &out) {
        return dir.File(out + "/" + pdf.substr(0, pdf.rfind('.')) + ".epub");
    }
};

// Spans that hold nothing but a number: the lone page numbers of a torn-apart listing.
int LoneNumbers(const std::string &xhtml) {
    static const std::regex lone("<span[^>]*>\\s*([0-9]+|[ivx]+)\\s*</span>");
    return static_cast<int>(std::distance(std::sregex_iterator(xhtml.begin(), xhtml.end(), lone), std::sregex_iterator()));
}

TEST_F(ContentsPageTest, EntriesBecomeOneLinkedLineEachAndTheSwitchKeepsThePage) {
    WriteContentsPdf(dir.File("toc.pdf"));
    const std::string page = Convert("toc.pdf", "on", "");
    ASSERT_FALSE(page.empty());
    // Every entry links to its page's anchor in the file that holds it; the text is the title alone.
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"page-1.html#page-3", "Preface"},
        {"page-1.html#page-4", "Acknowledgements"},
        {"page-1.html#page-5", "1 Getting started"},
        {"page-1.html#page-6", "1.1 Installing"},
        {"page-1.html#page-8",
         "1.2 A section whose title is long enough that it has to wrap onto the second line of the listing"},
        {"page-1.html#page-12", "2 Working with files"},
        {"page-1.html#page-14", "2.1 Opening &amp; saving"},
        {"page-16.html#page-29", "Index"},
    };
    size_t at = 0;
    for (const auto &[href, title] : expected) {
        const std::regex entry("<p( style=\"margin-left:[0-9]+em;\")?><a href=\"" + std::regex_replace(href, std::regex("\\."), "\\.") +
                               "\"><span[^>]*>([^<]*)</span></a></p>");
        std::smatch m;
        const std::string rest = page.substr(at);
        ASSERT_TRUE(std::regex_search(rest, m, entry)) << href << "\n" << page;
        EXPECT_EQ(m[2].str(), title);
        // Sections are indented, chapters and front matter are not.
        EXPECT_EQ(m[1].matched, title.rfind("1.", 0) == 0 || title.rfind("2.", 0) == 0) << title;
        at += static_cast<size_t>(m.position(0) + m.length(0));
    }
    EXPECT_EQ(page.find("..."), std::string::npos);
    EXPECT_EQ(LoneNumbers(page), 0) << page;
    EXPECT_NE(page.find("Contents"), std::string::npos);
    EXPECT_NE(page.find("Text of page 3"), std::string::npos);
    std::string report;
    EXPECT_TRUE(qmtest::EpubCheck(Book("toc.pdf", "on"), &report)) << report;

    // The switch keeps the listing as layout analysis sees it: leaders and numbers, no links.
    const std::string kept = Convert("toc.pdf", "off", "--keep-contents-pages");
    EXPECT_EQ(kept.find("href=\"page-1.html#page-3\""), std::string::npos);
    EXPECT_NE(kept.find("..... iii</span>"), std::string::npos) << kept;
    // Strict mode follows the user's regions and is not touched either.
    const std::string strict = Convert("toc.pdf", "strict", "--mode strict");
    EXPECT_EQ(strict.find("href=\"page-1.html#page-3\""), std::string::npos);
}

TEST_F(ContentsPageTest, ProseAndListsEndingInNumbersAreUnchanged) {
    qmtest::PdfBuilder b;
    int p = b.AddPage();
    // Lines that end in numbers that are pages of the document, but without leaders.
    const char *lines[] = {"The installer is described in chapter 3",  "and its options are listed on page 4",
                           "while the release of the year before had 5", "new commands, of which the most used is 6",
                           "as the survey of users in section 7",        "showed most clearly for version 8"};
    double y = 700;
    for (const char *line : lines) {
        b.Text(p, 72, y, line, 11, "Times-Roman");
        y -= 14;
    }
    // A short list with numbers set apart, among more prose than list.
    b.Text(p, 72, 580, "Apples", 11, "Times-Roman");
    b.Text(p, 300, 580, "2", 11, "Times-Roman");
    b.Text(p, 72, 566, "Pears", 11, "Times-Roman");
    b.Text(p, 300, 566, "3", 11, "Times-Roman");
    b.Text(p, 72, 552, "Plums", 11, "Times-Roman");
    b.Text(p, 300, 552, "4", 11, "Times-Roman");
    for (int k = 0; k < 9; ++k) b.Text(p, 72, 520 - 14 * k, "More text of the page without any figure at all.", 11, "Times-Roman");
    for (int k = 0; k < 8; ++k) b.Text(b.AddPage(), 72, 700, "Another page");
    ASSERT_TRUE(b.Save(dir.File("prose.pdf")));
    const std::string on = Convert("prose.pdf", "on", "");
    const std::string off = Convert("prose.pdf", "off", "--keep-contents-pages");
    ASSERT_FALSE(on.empty());
    EXPECT_EQ(on, off);
    EXPECT_EQ(on.find("#page-4\""), std::string::npos);
}

TEST_F(ContentsPageTest, PrintedNumbersFollowThePageLabelsAndLinksWin) {
    // A title page labelled "T-1", two roman pages (the contents on "i"), then arabic from 1 on
    // page 4. The numbers stand in a column of their own, apart from the titles by wide space.
    qmtest::PdfBuilder b;
    b.Text(b.AddPage(), 72, 700, "A Guide", 24);
    const int toc = b.AddPage();
    b.Text(toc, 72, 720, "Contents", 18, "Helvetica-Bold");
    const std::vector<std::pair<std::string, std::string>> lines = {
        {"Preface", "ii"}, {"1 Start", "1"}, {"2 Going on", "5"}, {"3 The end", "20"}, {"Appendix", "22"}};
    double y = 680;
    for (const auto &[title, number] : lines) {
        b.Text(toc, 72, y, title, 11, "Times-Roman");
        b.Text(toc, kRight - qmtest::PdfBuilder::TextWidth(number, 11), y, number, 11, "Times-Roman");
        y -= 20;
    }
    // The appendix line links to the last page, whatever its printed number says (links are read
    // when the PDF's links are carried into the book).
    b.LinkToPage(toc, 70, 600 - 3, kRight, 600 + 10, 29);
    for (int p = 3; p <= 30; ++p) b.Text(b.AddPage(), 72, 700, "Text of page " + std::to_string(p));
    ASSERT_TRUE(b.Save(dir.File("labels.pdf")));
    ASSERT_TRUE(qmtest::AddPageLabels(dir.File("labels.pdf"), {{0, "D", "T-", 1}, {1, "r", "", 1}, {3, "D", "", 1}}));

    const std::string page = Convert("labels.pdf", "on", "--links");
    for (const char *href : {"page-1.html#page-3\"><span class=\"font11\">Preface<",
                             "page-1.html#page-4\"><span class=\"font11\">1 Start<",
                             "page-1.html#page-8\"><span class=\"font11\">2 Going on<",
                             "page-16.html#page-23\"><span class=\"font11\">3 The end<",
                             "page-16.html#page-30\"><span class=\"font11\">Appendix<"})
        EXPECT_NE(page.find(href), std::string::npos) << href << "\n" << page;
    EXPECT_EQ(LoneNumbers(page), 0) << page;
    std::string report;
    EXPECT_TRUE(qmtest::EpubCheck(Book("labels.pdf", "on"), &report)) << report;
}

// The hrefs of the linked entries of a converted page, in order, with their titles.
std::vector<std::pair<std::string, std::string>> LinkedEntries(const std::string &xhtml) {
    static const std::regex entry("<p[^>]*><a href=\"([^\"]+)\"><span[^>]*>([^<]*)</span></a></p>");
    std::vector<std::pair<std::string, std::string>> out;
    for (auto it = std::sregex_iterator(xhtml.begin(), xhtml.end(), entry); it != std::sregex_iterator(); ++it)
        out.emplace_back((*it)[1].str(), (*it)[2].str());
    return out;
}

const std::vector<qmtest::PrintedContentsEntry> kHandbook = {
    {"Introduction", "1"}, {"Background", "2"}, {"Methods", "4"}, {"Results", "6"}, {"Discussion", "9"}, {"Index", "12"}};

TEST_F(ContentsPageTest, UnnumberedFrontMatterShiftsTheLinksByThePrintedPageNumbers) {
    // Four unnumbered front pages, then body pages numbered from 1 in their feet: printed page N
    // is page N + 4 of the file.
    ASSERT_TRUE(qmtest::WritePrintedContentsPdf(dir.File("front.pdf"), 4, 12, kHandbook, false));
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"page-1.html#page-5", "Introduction"}, {"page-1.html#page-6", "Background"},
        {"page-1.html#page-8", "Methods"},      {"page-1.html#page-10", "Results"},
        {"page-1.html#page-13", "Discussion"},  {"page-16.html#page-16", "Index"}};
    const std::string page = Convert("front.pdf", "on", "");
    EXPECT_EQ(LinkedEntries(page), expected) << page;
    std::string report;
    EXPECT_TRUE(qmtest::EpubCheck(Book("front.pdf", "on"), &report)) << report;
    // Keeping the running heads in the text does not lose what their numbers say.
    EXPECT_EQ(LinkedEntries(Convert("front.pdf", "heads", "--keep-running-heads")), expected);
    EXPECT_TRUE(LinkedEntries(Convert("front.pdf", "off", "--keep-contents-pages")).empty());

    // Feet whose numbers jump part way (two different starts) prove nothing: printed N is page N.
    ASSERT_TRUE(qmtest::WritePrintedContentsPdf(dir.File("jump.pdf"), 4, 12, kHandbook, false, 7));
    const std::vector<std::pair<std::string, std::string>> unshifted = {
        {"page-1.html#page-1", "Introduction"}, {"page-1.html#page-2", "Background"},
        {"page-1.html#page-4", "Methods"},      {"page-1.html#page-6", "Results"},
        {"page-1.html#page-9", "Discussion"},   {"page-1.html#page-12", "Index"}};
    const std::string jump = Convert("jump.pdf", "on", "");
    EXPECT_EQ(LinkedEntries(jump), unshifted) << jump;
    EXPECT_TRUE(qmtest::EpubCheck(Book("jump.pdf", "on"), &report)) << report;
}

TEST_F(ContentsPageTest, TwoColumnListingGivesOneLinePerEntryInReadingOrder) {
    ASSERT_TRUE(qmtest::WritePrintedContentsPdf(dir.File("two.pdf"), 4, 12, kHandbook, true));
    const std::string page = Convert("two.pdf", "on", "");
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"page-1.html#page-5", "Introduction"}, {"page-1.html#page-6", "Background"},
        {"page-1.html#page-8", "Methods"},      {"page-1.html#page-10", "Results"},
        {"page-1.html#page-13", "Discussion"},  {"page-16.html#page-16", "Index"}};
    EXPECT_EQ(LinkedEntries(page), expected) << page;
    // Both columns start at their own left edge: no entry is taken for a sub-entry.
    EXPECT_EQ(page.find("margin-left"), std::string::npos) << page;
    EXPECT_EQ(page.find("..."), std::string::npos);
    EXPECT_EQ(LoneNumbers(page), 0) << page;
    std::string report;
    EXPECT_TRUE(qmtest::EpubCheck(Book("two.pdf", "on"), &report)) << report;

    // inspect marks the runs taken as entries (title, leader and number of each) and lists the
    // entries with the pages they lead to; the heading is no entry.
    ASSERT_EQ(Cli("inspect " + Q("two.pdf") + " --page 2 --blocks"), 0) << out;
    const std::regex marked("\\{contents\\}");
    EXPECT_EQ(std::distance(std::sregex_iterator(out.begin(), out.end(), marked), std::sregex_iterator()), 18) << out;
    EXPECT_EQ(out.find("Contents {contents}"), std::string::npos) << out;
    for (const char *line : {"contents: Introduction -> page 5\n", "contents: Discussion -> page 13\n",
                             "contents: Index -> page 16\n"})
        EXPECT_NE(out.find(line), std::string::npos) << line << out;
    // A page of prose has none.
    ASSERT_EQ(Cli("inspect " + Q("two.pdf") + " --page 6 --blocks"), 0) << out;
    EXPECT_EQ(out.find("contents"), std::string::npos) << out;
}

} // namespace

