// quillmark-cli convert --mode strict --edits: the page choices and region actions of an edits
// file reach the book, a bad edits file gives one line and no book, and inspect shows the effect.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/cli_run.h"
#include "platform/paths.h"
#include "support/pdf_fixture.h"
#include "support/temp_dir.h"

namespace {

using qmtest::ShellQuote;

size_t Count(const std::string &text, const std::string &what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

class CliStrictTest : public CliRunTest {
protected:
    // Every page file of a book, one after the other.
    std::string Pages(const std::string &book) {
        std::string text;
        qmtest::RunCommand("unzip -p " + Q(book) + " 'OPS/page-*.html'", &text);
        return text;
    }
    void Edits(const std::string &json) { ASSERT_TRUE(qm::WriteFile(dir.File("edits.json"), json)); }

    // Three pages, each with a running head, a page number and a line of body text; page 1 has a
    // remark to exclude, page 2 a drawing with a label in it.
    void WriteBookPdf() {
        qmtest::PdfBuilder pdf;
        qmtest::DrawStrictBookPages(pdf);
        ASSERT_TRUE(pdf.Save(dir.File("book.pdf")));
    }
    // A ruled table of 3 rows and 4 columns (cells 100 x 30 points from (72, 500) to (472, 590)),
    // each cell holding "r<row>c<column>".
    void WriteTablePdf() {
        qmtest::PdfBuilder pdf;
        const int p = pdf.AddPage();
        pdf.Text(p, 72, 700, "Before the table", 12);
        std::vector<std::vector<std::string>> cells(3);
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 4; ++c) cells[r].push_back("r" + std::to_string(r + 1) + "c" + std::to_string(c + 1));
        pdf.RuledTable(p, 72, 590, {100, 100, 100, 100}, 30, cells);
        ASSERT_TRUE(pdf.Save(dir.File("table.pdf")));
    }
    static constexpr const char *kTableEdits =
        R"({"pages": [{"pages": "1", "regions": [{"rect": [60, 190, 485, 305], "action": "table"}]}]})";
};

TEST_F(CliStrictTest, EditsCropDisableMakePicturesAndDropPages) {
    WriteBookPdf();
    Edits(R"({"pages": [
      {"pages": "all", "margins": {"top": 50, "bottom": 50}},
      {"pages": "1", "regions": [{"rect": [60, 370, 400, 400], "action": "disable"}]},
      {"pages": "2", "regions": [{"rect": [90, 430, 310, 600], "action": "graphic"}]},
      {"pages": "3", "options": {"noOutput": true}}
    ]})");
    qm::CreateFolder(dir.File("books"));
    ASSERT_EQ(Cli("convert --mode strict --edits " + Q("edits.json") + " " + Q("book.pdf") + " -o " + Q("books")), 0)
        << out;
    const std::string pages = Pages("books/book.epub");
    EXPECT_NE(pages.find("Body text of page 1"), std::string::npos) << pages;
    EXPECT_NE(pages.find("Body text of page 2"), std::string::npos);
    for (const char *gone : {"Running Head", "Folio", "Secret remark", "Diagram label", "Body text of page 3"})
        EXPECT_EQ(pages.find(gone), std::string::npos) << gone;
    EXPECT_EQ(Count(pages, "<img "), 1u);  // the drawing with its label, as one picture
    EXPECT_NE(pages.find("id=\"page-3\""), std::string::npos);  // links to the page still land
    std::string report;
    EXPECT_TRUE(qmtest::EpubCheck(dir.File("books/book.epub"), &report)) << report;

    // The same PDF in Strict mode without edits is the Automatic book with its running heads.
    qm::CreateFolder(dir.File("auto"));
    qm::CreateFolder(dir.File("strict"));
    ASSERT_EQ(Cli("convert --keep-running-heads " + Q("book.pdf") + " -o " + Q("auto")), 0) << out;
    ASSERT_EQ(Cli("convert --mode strict " + Q("book.pdf") + " -o " + Q("strict")), 0) << out;
    const std::string automatic = Pages("auto/book.epub");
    EXPECT_NE(automatic.find("Running Head"), std::string::npos);
    EXPECT_EQ(Pages("strict/book.epub"), automatic);
}

TEST_F(CliStrictTest, ABadEditsFileGivesOneLineAndNoBook) {
    WriteBookPdf();
    qm::CreateFolder(dir.File("books"));
    std::string pdfBefore;
    ASSERT_TRUE(qm::ReadFile(dir.File("book.pdf"), pdfBefore));
    struct Case {
        std::string json, says;
        int status;
    };
    const std::vector<Case> cases = {
        {R"({"pages": [{"pages": "2,9", "options": {"noOutput": true}}]})", "page 9", 1},
        {R"({"pages": [{"pages": "1", "regions": [)", "not a JSON file", 2},
        {R"({"pages": [{"pages": "1", "regions": [{"rect": [0, 0, 9, 9], "action": "shred"}]}]})",
         "\"shred\" is unknown", 2},
    };
    for (const Case &c : cases) {
        Edits(c.json);
        EXPECT_EQ(Cli("convert --mode strict --edits " + Q("edits.json") + " " + Q("book.pdf") + " -o " + Q("books")),
                  c.status)
            << c.json << "\n" << out;
        EXPECT_NE(out.find(c.says), std::string::npos) << out;
        EXPECT_EQ(Count(out, "\n"), 1u) << out;
        EXPECT_TRUE(qmtest::ListFolder(dir.File("books")).empty()) << c.json;
        EXPECT_TRUE(qmtest::ListFolder(temp.Path()).empty()) << c.json;  // nothing left behind
    }
    std::string pdfAfter;
    ASSERT_TRUE(qm::ReadFile(dir.File("book.pdf"), pdfAfter));
    EXPECT_EQ(pdfAfter, pdfBefore);

    // Edits belong to strict conversions only.
    Edits(R"({"pages": []})");
    EXPECT_EQ(Cli("convert --edits " + Q("edits.json") + " " + Q("book.pdf") + " -o " + Q("books")), 2);
    EXPECT_NE(out.find("--mode strict"), std::string::npos) << out;
}

TEST_F(CliStrictTest, InspectShowsTheEffectOfTheEditsAndBoxesInPoints) {
    WriteTablePdf();
    Edits(kTableEdits);
    ASSERT_EQ(Cli("inspect " + Q("table.pdf") + " --blocks --edits " + Q("edits.json")), 0) << out;
    // One block holds the table group with all twelve cells.
    const size_t table = out.find("[table:");
    ASSERT_NE(table, std::string::npos) << out;
    const std::string group = out.substr(table, out.find('\n', table) - table);
    for (const char *cell : {"r1c1", "r1c4", "r2c2", "r3c1", "r3c4"}) EXPECT_NE(group.find(cell), std::string::npos) << group;
    EXPECT_EQ(group.find("Before the table"), std::string::npos);

    // Boxes in points: "r1c1" sits 4 points into its cell, at x 76 from the left, on a baseline
    // 792 - 572 = 220 from the top.
    ASSERT_EQ(Cli("inspect " + Q("table.pdf") + " --json"), 0) << out;
    const size_t cell = out.find("\"text\": \"r1c1\"");
    ASSERT_NE(cell, std::string::npos) << out;
    const size_t box = out.rfind("\"box\": [", cell);
    ASSERT_NE(box, std::string::npos);
    double x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    ASSERT_EQ(std::sscanf(out.c_str() + box, "\"box\": [%lf, %lf, %lf, %lf]", &x0, &y0, &x1, &y1), 4);
    EXPECT_NEAR(x0, 76, 2);
    EXPECT_NEAR(y1, 220, 4);
    EXPECT_GT(y0, 203);
}

// A ruled grid marked as a table comes out as one: three rows of four cells, the empty one included.
TEST_F(CliStrictTest, RuledTableMarkedTableBecomesATableOfThreeRowsOfFourCells) {
    WriteTablePdf();
    Edits(kTableEdits);
    qm::CreateFolder(dir.File("books"));
    ASSERT_EQ(Cli("convert --mode strict --edits " + Q("edits.json") + " " + Q("table.pdf") + " -o " + Q("books")), 0)
        << out;
    const std::string pages = Pages("books/table.epub");
    // The outer table holds one row per inner table; a grid that lines up is one inner table.
    const size_t outer = pages.find("<table");
    ASSERT_NE(outer, std::string::npos) << pages;
    const size_t start = pages.find("<table", outer + 1);
    ASSERT_NE(start, std::string::npos) << pages;
    EXPECT_EQ(pages.find("<table", start + 1), std::string::npos) << pages;
    const std::string table = pages.substr(start, pages.find("</table>", start) - start);
    EXPECT_EQ(Count(table, "<tr"), 3u) << table;
    EXPECT_EQ(Count(table, "<td"), 12u) << table;
    EXPECT_NE(table.find("r3c4"), std::string::npos);
    std::string report;
    EXPECT_TRUE(qmtest::EpubCheck(dir.File("books/table.epub"), &report)) << report;
}

} // namespace
