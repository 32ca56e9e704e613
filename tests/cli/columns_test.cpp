// Columns found by themselves: `convert` with no column option reads a page set in columns column
// by column and a table row by row; `--columns single` keeps the old top-to-bottom reading.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli_run.h"
#include "epub/zip_reader.h"
#include "platform/paths.h"
#include "support/pdf_fixture.h"

namespace {

class CliColumnsTest : public CliRunTest {
protected:
    // The text of the book's first page file, tags dropped, blanks collapsed, framed by blanks.
    std::string BookText(const std::string &epub) {
        std::string bytes, html;
        if (!qm::ReadFile(epub, bytes)) return "no book";
        for (auto &e : qmtest::ReadZipArchive(bytes).entries)
            if (e.name == "OPS/page-1.html") html = e.data;
        std::string text = " ";
        bool tag = false;
        for (char c : html.substr(std::min(html.size(), html.find("<body")))) {
            if (c == '<') tag = true;
            if (!tag) {
                if (c == ' ' || c == '\n' || c == '\t') {
                    if (text.back() != ' ') text += ' ';
                } else {
                    text += c;
                }
            }
            if (c == '>') {
                tag = false;
                if (text.back() != ' ') text += ' ';
            }
        }
        return text + ' ';
    }
};

// Whether every piece appears whole, each after the one before it.
bool InOrder(const std::string &text, const std::vector<std::string> &pieces) {
    size_t at = 0;
    for (const std::string &p : pieces) {
        size_t found = text.find(" " + p + " ", at);
        if (found == std::string::npos) return false;
        at = found + p.size();
    }
    return true;
}

TEST_F(CliColumnsTest, NoOptionReadsColumnsByColumnAndTablesByRow) {
    qmtest::PdfBuilder b;
    int p = b.AddPage();
    std::vector<std::string> left = qmtest::NumberedSentences("Left", 6), right = qmtest::NumberedSentences("Right", 6);
    double y = 700;
    b.Text(p, 72, 740, "Notes From The Two Columns", 18, "Helvetica-Bold");
    for (size_t i = 0; i < left.size(); i += 2)
        y = qmtest::ColumnParagraph(b, p, 72, y, 222, {left[i], left[i + 1]});
    y = 700;
    for (size_t i = 0; i < right.size(); i += 2)
        y = qmtest::ColumnParagraph(b, p, 318, y, 222, {right[i], right[i + 1]});
    const char *rows[][3] = {{"Item", "Count", "Remarks"},  {"Apples", "12", "kept cool"}, {"Pears", "7", "ripe soon"},
                             {"Plums", "30", "for jam"},    {"Quinces", "2", "very hard"}};
    for (int r = 0; r < 5; ++r)
        for (int c = 0; c < 3; ++c) b.Text(p, 72 + 160 * c, 300 - 16 * r, rows[r][c], 10, "Times-Roman");
    ASSERT_TRUE(b.Save(dir.File("cols.pdf")));

    std::vector<std::string> columnOrder{"Notes From The Two Columns"};
    columnOrder.insert(columnOrder.end(), left.begin(), left.end());
    columnOrder.insert(columnOrder.end(), right.begin(), right.end());
    const std::vector<std::string> rowOrder{"Item", "Count", "Remarks", "Apples", "12", "kept cool",
                                            "Pears", "7", "ripe soon", "Quinces", "2", "very hard"};

    ASSERT_EQ(Cli("convert --quiet " + Q("cols.pdf")), 0) << out;
    const std::string book = dir.File("cols.epub");
    std::string text = BookText(book);
    EXPECT_TRUE(InOrder(text, columnOrder)) << text;
    EXPECT_TRUE(InOrder(text, rowOrder)) << text;
    std::string report;
    EXPECT_TRUE(qmtest::EpubCheck(book, &report)) << report;

    // The old reading, asked for: paragraphs of the two columns interleave.
    ASSERT_EQ(Cli("convert --quiet --overwrite --columns single " + Q("cols.pdf")), 0) << out;
    text = BookText(book);
    EXPECT_FALSE(InOrder(text, columnOrder)) << text;
    EXPECT_TRUE(InOrder(text, rowOrder)) << text;

    ASSERT_EQ(Cli("inspect --blocks --columns 0 " + Q("cols.pdf")), 0) << out;
    EXPECT_NE(out.find("columns: auto -> 2"), std::string::npos) << out;
}

} // namespace
