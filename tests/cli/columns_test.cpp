// Columns found by themselves: `convert` with no column option reads a page set in columns column
// by column and a table row by row; `--columns single` keeps the old top-to-bottom reading.
#include <gtest/gtest.h>

#include <cstdio>

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

// A page: a heading over two columns of three paragraphs each, and a table of five rows
// beneath them. `columnOrder` and `rowOrder` are the texts in the order they are meant to be read.
struct TwoColumnPage {
    std::vector<std::string> columnOrder, rowOrder;
};

TwoColumnPage WriteTwoColumnPage(const std::string &path) {
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
    EXPECT_TRUE(b.Save(path));

    TwoColumnPage page;
    page.columnOrder = {"Notes From The Two Columns"};
    page.columnOrder.insert(page.columnOrder.end(), left.begin(), left.end());
    page.columnOrder.insert(page.columnOrder.end(), right.begin(), right.end());
    page.rowOrder = {"Item", "Count", "Remarks", "Apples", "12", "kept cool",
                     "Pears", "7", "ripe soon", "Quinces", "2", "very hard"};
    return page;
}

TEST_F(CliColumnsTest, NoOptionReadsColumnsByColumnAndTablesByRow) {
    const auto [columnOrder, rowOrder] = WriteTwoColumnPage(dir.File("cols.pdf"));

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

// The first run of each block `inspect --blocks` printed, in the order printed.
std::vector<std::string> BlockLeads(const std::string &out) {
    std::vector<std::string> leads;
    size_t at = out.find('\n');
    while (at != std::string::npos && at + 1 < out.size()) {
        const size_t end = out.find('\n', at + 1);
        const std::string line = out.substr(at + 1, end == std::string::npos ? std::string::npos : end - at - 1);
        at = end;
        int index = -1, x0, y0, x1, y1, members, used = 0;
        if (std::sscanf(line.c_str(), "%d %d,%d,%d,%d %d %n", &index, &x0, &y0, &x1, &y1, &members, &used) != 6)
            continue;
        std::string lead = line.substr(static_cast<size_t>(used));
        lead = lead.substr(0, lead.find(" | "));
        while (!lead.empty() && lead.back() == ' ') lead.pop_back();
        if (!lead.empty()) leads.push_back(lead);
    }
    return leads;
}

// inspect --blocks reads the page as convert writes it: by default both find the columns, and
// with the same --columns word both read it the same other way.
TEST_F(CliColumnsTest, InspectBlocksFollowConvertsColumnMode) {
    const auto [columnOrder, rowOrder] = WriteTwoColumnPage(dir.File("cols.pdf"));
    const std::string book = dir.File("cols.epub");

    ASSERT_EQ(Cli("convert --quiet " + Q("cols.pdf")), 0) << out;
    std::string text = BookText(book);
    ASSERT_EQ(Cli("inspect --blocks " + Q("cols.pdf")), 0) << out;
    EXPECT_NE(out.find("columns: auto -> 2"), std::string::npos) << out;
    EXPECT_NE(out.find("options: columns 0"), std::string::npos) << out;
    std::vector<std::string> leads = BlockLeads(out);
    EXPECT_GE(leads.size(), 6u) << out;
    EXPECT_TRUE(InOrder(text, leads)) << out << "\n" << text;
    // The left column's paragraphs are all printed before the right column's.
    std::string printed;
    for (const std::string &lead : leads) printed += " " + lead + " ";
    EXPECT_TRUE(InOrder(printed, {"Left sentence 1", "Left sentence 5", "Right sentence 1"})) << printed;

    ASSERT_EQ(Cli("convert --quiet --overwrite --columns single " + Q("cols.pdf")), 0) << out;
    text = BookText(book);
    for (const char *single : {"--columns single", "--columns 1"}) {
        ASSERT_EQ(Cli("inspect --blocks " + std::string(single) + " " + Q("cols.pdf")), 0) << out;
        EXPECT_EQ(out.find("columns: auto"), std::string::npos) << out;
        leads = BlockLeads(out);
        EXPECT_GE(leads.size(), 6u) << out;
        EXPECT_TRUE(InOrder(text, leads)) << single << "\n" << out << "\n" << text;
    }

    // A word convert refuses, inspect refuses too.
    EXPECT_NE(Cli("inspect --blocks --columns double " + Q("cols.pdf")), 0);
    EXPECT_NE(Cli("inspect --blocks --columns 3 " + Q("cols.pdf")), 0);
}

// An edits entry that says "auto" finds the columns as --columns auto does, over a run default
// of single; one that says "single" keeps the top-to-bottom reading over a default of auto.
TEST_F(CliColumnsTest, StrictEditsColumnsAutoActsAsTheAutoOption) {
    const auto [columnOrder, rowOrder] = WriteTwoColumnPage(dir.File("cols.pdf"));
    ASSERT_TRUE(qm::CreateFolder(dir.File("auto")) && qm::CreateFolder(dir.File("edits")));
    ASSERT_EQ(Cli("convert --quiet --mode strict --columns auto -o " + Q("auto") + " " + Q("cols.pdf")), 0) << out;
    ASSERT_TRUE(qm::WriteFile(dir.File("auto.json"), R"({"pages": [{"pages": "all", "options": {"columns": "auto"}}]})"));
    ASSERT_EQ(Cli("convert --quiet --mode strict --columns single --edits " + Q("auto.json") + " -o " + Q("edits") +
                  " " + Q("cols.pdf")),
              0)
        << out;
    const std::string byOption = BookText(dir.File("auto/cols.epub")), byEdits = BookText(dir.File("edits/cols.epub"));
    EXPECT_TRUE(InOrder(byEdits, columnOrder)) << byEdits;
    EXPECT_TRUE(InOrder(byEdits, rowOrder)) << byEdits;
    EXPECT_EQ(byEdits, byOption);

    ASSERT_TRUE(qm::WriteFile(dir.File("single.json"), R"({"pages": [{"pages": "1", "options": {"columns": "single"}}]})"));
    ASSERT_EQ(Cli("convert --quiet --overwrite --mode strict --edits " + Q("single.json") + " -o " + Q("edits") + " " +
                  Q("cols.pdf")),
              0)
        << out;
    const std::string single = BookText(dir.File("edits/cols.epub"));
    EXPECT_FALSE(InOrder(single, columnOrder)) << single;
    EXPECT_TRUE(InOrder(single, rowOrder)) << single;

    // inspect applies the same entry over its own default.
    ASSERT_EQ(Cli("inspect --blocks --columns single --edits " + Q("auto.json") + " " + Q("cols.pdf")), 0) << out;
    EXPECT_NE(out.find("columns: auto -> 2"), std::string::npos) << out;
}

} // namespace
