// quillmark-cli convert: the run's JSON report, the metadata options, the notes about options
// that have no effect, --version, and what `info` shows of a bookmark without a page.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "cli/cli_run.h"
#include "platform/paths.h"
#include "support/pdf_fixture.h"
#include "support/temp_dir.h"

namespace {

using qmtest::ShellQuote;

class CliReportTest : public CliRunTest {
protected:
    std::string Opf(const std::string &book) {
        std::string opf;
        qmtest::RunCommand("unzip -p " + Q(book) + " OPS/content.opf", &opf);
        return opf;
    }
};

TEST_F(CliReportTest, ReportHasOneRecordPerDocumentIncludingFailures) {
    ASSERT_TRUE(qmtest::WriteSimplePdf(dir.File("good.pdf"), 3));
    ASSERT_TRUE(qmtest::WriteGarbageFile(dir.File("bad.pdf")));
    qm::CreateFolder(dir.File("books"));
    ASSERT_TRUE(qm::WriteFile(dir.File("run.json"), "an older report"));  // replaced whole

    EXPECT_EQ(Cli("convert " + Q("good.pdf") + " " + Q("bad.pdf") + " -o " + Q("books") + " --report " +
                  Q("run.json")),
              1)
        << out;
    std::string text;
    ASSERT_TRUE(qm::ReadFile(dir.File("run.json"), text));
    const nlohmann::json report = nlohmann::json::parse(text, nullptr, false);
    ASSERT_FALSE(report.is_discarded()) << text;
    EXPECT_EQ(report["cancelled"], false);
    const nlohmann::json &docs = report["documents"];
    ASSERT_EQ(docs.size(), 2u) << text;

    EXPECT_EQ(docs[0]["input"], dir.File("good.pdf"));
    EXPECT_EQ(docs[0]["book"], dir.File("books/good.epub"));
    EXPECT_TRUE(qm::FileExists(dir.File("books/good.epub")));
    EXPECT_EQ(docs[0]["pages"], 3);
    EXPECT_GE(docs[0]["seconds"].get<double>(), 0.0);
    EXPECT_GT(docs[0]["peak_memory_kb"].get<long>(), 0);
    EXPECT_TRUE(docs[0]["error"].is_null());

    // The failed document: no book, no pages, and the very line the user saw.
    EXPECT_EQ(docs[1]["input"], dir.File("bad.pdf"));
    EXPECT_TRUE(docs[1]["book"].is_null());
    EXPECT_TRUE(docs[1]["pages"].is_null());
    EXPECT_GE(docs[1]["peak_memory_kb"].get<long>(), docs[0]["peak_memory_kb"].get<long>());
    EXPECT_EQ(docs[1]["error"], "bad.pdf: Can't open the pdf file.");
    EXPECT_NE(out.find("bad.pdf: Can't open the pdf file.\n"), std::string::npos) << out;

    // Nothing but the report and the inputs is left beside it, and nothing in the temporary folder.
    EXPECT_EQ(qmtest::ListFolder(dir.Path()),
              (std::vector<std::string>{"bad.pdf", "books", "good.pdf", "run.json"}));
    EXPECT_TRUE(qmtest::ListFolder(temp.Path()).empty());

    // A report that cannot be written is a usage error found before any work is done.
    EXPECT_EQ(Cli("convert " + Q("good.pdf") + " --overwrite --report " + Q("no-such-folder/run.json")), 2) << out;
}

TEST_F(CliReportTest, EachMetadataOptionReplacesOnlyItsOwnField) {
    qmtest::PdfBuilder pdf;
    pdf.Text(pdf.AddPage(), 72, 700, "Body");
    pdf.SetInfo("Pdf Title", "Pdf Author", "Pdf Subject");
    ASSERT_TRUE(pdf.Save(dir.File("meta.pdf")));
    struct Case {
        const char *option, *title, *creator, *subject;
    };
    const Case cases[] = {
        {"--title 'New Title'", "New Title", "Pdf Author", "Pdf Subject"},
        {"--creator 'New Creator'", "Pdf Title", "New Creator", "Pdf Subject"},
        {"--subject 'New Subject'", "Pdf Title", "Pdf Author", "New Subject"},
        {"--title T --creator C --subject S", "T", "C", "S"},
    };
    for (const Case &c : cases) {
        ASSERT_EQ(Cli("convert --overwrite " + std::string(c.option) + " " + Q("meta.pdf")), 0) << out;
        const std::string opf = Opf("meta.epub");
        EXPECT_NE(opf.find("<dc:title>" + std::string(c.title) + "</dc:title>"), std::string::npos) << c.option << opf;
        EXPECT_NE(opf.find(">" + std::string(c.creator) + "</dc:creator>"), std::string::npos) << c.option << opf;
        EXPECT_NE(opf.find("<dc:subject>" + std::string(c.subject) + "</dc:subject>"), std::string::npos)
            << c.option << opf;
    }
}

TEST_F(CliReportTest, NotesVersionAndBookmarksWithoutAPage) {
    qmtest::PdfBuilder pdf;
    for (int i = 0; i < 3; ++i) pdf.Text(pdf.AddPage(), 72, 700, "Page " + std::to_string(i + 1));
    pdf.AddOutline("Nowhere", -1);
    pdf.AddOutline("Third", 2);
    pdf.AddOutlineToUri("Web", "https://example.com/");
    ASSERT_TRUE(pdf.Save(dir.File("outline.pdf")));

    EXPECT_EQ(Cli("info " + Q("outline.pdf")), 0) << out;
    EXPECT_NE(out.find("  - Nowhere\n"), std::string::npos) << out;
    EXPECT_NE(out.find("  - Third (page 3)\n"), std::string::npos) << out;
    EXPECT_NE(out.find("  - Web\n"), std::string::npos) << out;

    // An outline page asked for at the front is not written when a cover comes first: said once.
    const std::string note = "is ignored with --cover";
    EXPECT_EQ(Cli("convert --cover --outline second " + Q("outline.pdf")), 0) << out;
    EXPECT_NE(out.find("--outline second " + note), std::string::npos) << out;
    EXPECT_EQ(Cli("convert --overwrite --kindle --outline first " + Q("outline.pdf")), 0) << out;
    EXPECT_NE(out.find("--outline first is ignored with --kindle"), std::string::npos) << out;
    EXPECT_EQ(Cli("convert --overwrite --cover --outline last " + Q("outline.pdf")), 0) << out;
    EXPECT_EQ(out.find("ignored"), std::string::npos) << out;

    EXPECT_EQ(Cli("--version"), 0);
    EXPECT_EQ(out, "quillmark-cli " QM_VERSION "\n");
}

} // namespace
