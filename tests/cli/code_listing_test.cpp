// quillmark-cli convert on a page holding a program listing in a fixed-pitch font between prose:
// the listing keeps its lines, indentation and blank line in a monospace class, the prose is
// written as before, and --no-code (or another mode) gives the old book.
#include <gtest/gtest.h>

#include <regex>

#include "cli/cli_run.h"
#include "epub/zip_reader.h"
#include "platform/paths.h"
#include "support/pdf_fixture.h"

namespace {

class CodeListingTest : public CliRunTest {
protected:
    // Every entry of a book that is a page or the style sheet, concatenated in archive order.
    static std::string Entries(const std::string &epub, const std::string &suffix) {
        std::string bytes, all;
        if (!qm::ReadFile(epub, bytes)) return all;
        for (auto &e : qmtest::ReadZipArchive(bytes).entries)
            if (e.name.size() >= suffix.size() && e.name.compare(e.name.size() - suffix.size(), suffix.size(), suffix) == 0)
                all += e.data;
        return all;
    }
    static std::string Pages(const std::string &epub) { return Entries(epub, ".html"); }

    // Converts `pdf` with `options` into its own folder; the book's path. `check`: epubcheck it.
    std::string Convert(const std::string &pdf, const std::string &folder, const std::string &options,
                        bool check = true) {
        qm::CreateFolder(dir.File(folder));
        EXPECT_EQ(Cli("convert --quiet " + options + " " + Q(pdf) + " -o " + Q(folder)), 0) << out;
        const std::string book = dir.File(folder + "/" + pdf.substr(0, pdf.size() - 4) + ".epub");
        std::string report;
        if (check) {
            EXPECT_TRUE(qmtest::EpubCheck(book, &report)) << report;
        }
        return book;
    }

    // A paragraph of Times prose, a Courier listing of six lines (two indentation levels, a blank
    // line inside, a line indented by pen position rather than blanks), and a closing paragraph
    // with one Courier word in it.
    void WriteListingPdf(const std::string &name) {
        qmtest::PdfBuilder b;
        const int p = b.AddPage();
        b.Text(p, 72, 720, "The program below prints a greeting and then returns to its caller so", 12, "Times-Roman");
        b.Text(p, 72, 706, "that the shell sees a successful exit status of zero when it ends.", 12, "Times-Roman");
        const double step = 12;
        double y = 670;
        b.Text(p, 72, y, "int main(void)", 10, "Courier");
        b.Text(p, 72, y -= step, "{", 10, "Courier");
        b.Text(p, 72, y -= step, "    puts(\"hello\");", 10, "Courier");
        y -= step;  // a blank line
        b.Text(p, 72, y -= step, "    if (done)", 10, "Courier");
        b.Text(p, 72 + 8 * 6, y -= step, "return  0;", 10, "Courier");  // set by position, two blanks inside
        b.Text(p, 72, y -= step, "}", 10, "Courier");
        y -= 3 * step;
        b.TextLine(p, 72, y,
                   {{"Call ", 0, "Times-Roman", 12}, {"puts", 0, "Courier", 12},
                    {" to write one line of text to the standard output of the process.", 0, "Times-Roman", 12}});
        b.Text(p, 72, y - 14, "The line ends with a new line character that it adds itself.", 12, "Times-Roman");
        ASSERT_TRUE(b.Save(dir.File(name)));
    }
};

TEST_F(CodeListingTest, ListingKeepsLinesAndIndentationAndProseIsUnchanged) {
    WriteListingPdf("listing.pdf");
    const std::string on = Pages(Convert("listing.pdf", "on", ""));
    const std::string off = Pages(Convert("listing.pdf", "off", "--no-code"));
    ASSERT_FALSE(on.empty());

    // The listing: one left-aligned paragraph, its lines apart, indentation as no-break spaces,
    // the blank line kept as an empty line, and the blanks inside a line kept.
    const std::string nb = "&#160;";
    EXPECT_NE(on.find("<p style=\"text-align:left;text-indent:0;\"><span class=\"font10 mono\">int main(void)</span>"
                      "<br/><span class=\"font10 mono\">{</span><br/>" +
                      nb + nb + nb + nb + "<span class=\"font10 mono\">puts(&quot;hello&quot;);</span><br/><br/>" + nb + nb +
                      nb + nb + "<span class=\"font10 mono\">if (done)</span><br/>" + nb + nb + nb + nb + nb + nb +
                      nb + nb + "<span class=\"font10 mono\">return " + nb + "0;</span><br/>"
                      "<span class=\"font10 mono\">}</span></p>"),
              std::string::npos)
        << on;
    // The style sheet has the monospace rule.
    EXPECT_NE(Entries(dir.File("on/listing.epub"), "styles.css").find("span.mono{font-family:monospace;}"),
              std::string::npos);

    // Prose around it is written exactly as without the switch; the Courier word in the closing
    // paragraph has the class but stays in its paragraph.
    const std::regex prose("<p>.*greeting.*</p>");
    std::smatch a, b;
    ASSERT_TRUE(std::regex_search(on, a, prose));
    ASSERT_TRUE(std::regex_search(off, b, prose));
    EXPECT_EQ(a.str(), b.str());
    EXPECT_NE(on.find("Call </span><span class=\"font12 mono\">puts</span><span class=\"font12\"> to write"),
              std::string::npos)
        << on;

    // Off: no mono class anywhere, and the listing's lines are joined as before.
    EXPECT_EQ(off.find("mono"), std::string::npos);
    EXPECT_EQ(off.find("<br/>"), std::string::npos);
    EXPECT_EQ(Entries(dir.File("off/listing.epub"), "styles.css").find("mono"), std::string::npos);
}

// Only automatic mode reads the page's layout; the other modes are untouched by the switch.
TEST_F(CodeListingTest, OtherModesIgnoreTheSwitch) {
    WriteListingPdf("listing.pdf");
    for (const std::string mode : {"strict", "imaging"}) {
        // Books of these modes are checked by their own tests; here only their sameness counts.
        const std::string with = Pages(Convert("listing.pdf", mode + "-on", "--mode " + mode, false));
        const std::string without = Pages(Convert("listing.pdf", mode + "-off", "--mode " + mode + " --no-code", false));
        EXPECT_EQ(with, without) << mode;
        EXPECT_EQ(with.find("mono"), std::string::npos) << mode;
    }
}

} // namespace
