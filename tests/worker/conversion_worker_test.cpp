// Batch conversion runs: destinations, work folders, the overwrite question, cancel, failures,
// what is counted as a book, and what is left in the temporary folder afterwards.
#include <gtest/gtest.h>

#include <optional>

#include <cstdlib>
#include <dirent.h>
#include <mutex>
#include <string>
#include <vector>

#include "epub/zip_reader.h"
#include "options/conversion_job.h"
#include "options/conversion_options.h"
#include "pdf/pdf_document.h"
#include "platform/paths.h"
#include "platform/prompt.h"
#include "support/pdf_fixture.h"
#include "support/temp_dir.h"
#include "worker/conversion_worker.h"
#include "support/recording_prompt.h"

namespace {

using ScriptedPrompt = qmtest::RecordingPrompt;

struct RecordingObserver : qm::ConversionObserver {
    std::vector<std::string> started;
    int done = 0;
    bool batch = false;
    void DocumentStarted(int index, int count, const std::string &name) override {
        started.push_back(std::to_string(index + 1) + "/" + std::to_string(count) + " " + name);
    }
    void ConversionDone(bool b) override {
        ++done;
        batch = b;
    }
};

using qmtest::ListFolder;

std::string ZipEntry(const std::string &epub, const std::string &name) {
    std::string bytes;
    if (!qm::ReadFile(epub, bytes)) return std::string();
    qmtest::ZipArchiveInfo zip = qmtest::ReadZipArchive(bytes);
    for (auto &e : zip.entries)
        if (e.name == name) return e.data;
    return std::string();
}

class ConversionRunTest : public ::testing::Test {
protected:
    qmtest::TempDir dir;     // inputs and books
    qmtest::TempDir temp;    // the run's temporary folder
    qm::ConversionOptions options;
    ScriptedPrompt prompt;
    RecordingObserver observer;

    std::optional<qmtest::ScopedEnv> tmpEnv;

    void SetUp() override {
        tmpEnv.emplace("TMPDIR", temp.Path().c_str());
        options.outputFolder = dir.File("out/");
        qm::CreateFolder(dir.File("out"));
    }
    std::string Pdf(const std::string &name, int pages = 3) {
        EXPECT_TRUE(qmtest::WriteSimplePdf(dir.File(name), pages));
        return dir.File(name);
    }
    // Runs to the end and cleans up; returns the run's state for inspection.
    void Run(qm::ConversionRun &run, const std::vector<std::string> &paths, bool single = false) {
        run.retryDelayMs = 0;
        std::vector<std::string> names;
        for (auto &p : paths) names.push_back(qm::FileNamePart(p));
        ASSERT_EQ(run.StartConversion(paths, names, single), 0);
        run.Wait();
    }
};

TEST_F(ConversionRunTest, BatchDestinationsWorkFoldersAndNothingLeftBehind) {
    std::vector<std::string> workFolders;
    qm::ConversionRun run(options, prompt, observer);
    run.SetConverter([&](qm::PdfDocument &doc, qm::ConversionJob &job) {
        workFolders.push_back(job.workFolder);
        return doc.ConvertDocument(&job);
    });
    Run(run, {Pdf("a.b.pdf"), Pdf("d.pdf", 2)});
    qm::RunState &s = run.State();
    EXPECT_EQ(observer.done, 1);
    EXPECT_TRUE(observer.batch);
    EXPECT_EQ(observer.started, (std::vector<std::string>{"1/2 a.b.pdf", "2/2 d.pdf"}));
    ASSERT_EQ(workFolders.size(), 2u);
    EXPECT_EQ(workFolders[0], s.workRoot + "/0");
    EXPECT_EQ(workFolders[1], s.workRoot + "/1");
    EXPECT_EQ(s.workRoot, temp.Path() + s.runStem);
    EXPECT_EQ(s.runStem.rfind("qmrk_", 0), 0u);
    EXPECT_EQ(s.successCount, 2);
    EXPECT_EQ(s.producedBooks, (std::vector<std::string>{dir.File("out/a.b.epub"), dir.File("out/d.epub")}));
    EXPECT_EQ(s.lastOutputPath, dir.File("out/d.epub"));
    EXPECT_EQ(s.sourceTitle, "Fixture Title");
    EXPECT_TRUE(prompt.messages.empty());
    // Packaged documents' work folders are gone at once; the rest goes when the run is finished.
    EXPECT_TRUE(ListFolder(s.workRoot).empty());
    run.Finish();
    EXPECT_TRUE(ListFolder(temp.Path()).empty()) << ListFolder(temp.Path()).size();

    // Without a cover the first page file stays in the reading order.
    std::string opf = ZipEntry(dir.File("out/d.epub"), "OPS/content.opf");
    ASSERT_FALSE(opf.empty());
    EXPECT_EQ(opf.find("linear=\"no\""), std::string::npos) << opf;
    std::string report;
    EXPECT_TRUE(qmtest::EpubCheck(dir.File("out/d.epub"), &report)) << report;
}

TEST_F(ConversionRunTest, CoverBookMarksItsTitlePageAndBookmarksBecomeTheToc) {
    qmtest::PdfBuilder b;
    for (int i = 0; i < 4; ++i) b.Text(b.AddPage(), 72, 700, "Page " + std::to_string(i + 1));
    int part = b.AddOutline("Part & whole", -1);
    b.AddOutline("Chapter", 2, part);
    ASSERT_TRUE(b.Save(dir.File("cover.pdf")));
    options.createCover = 1;
    options.importBookmarksToToc = 1;
    options.outputOutline = 1;
    options.outlinePosition = 2;
    qm::ConversionRun run(options, prompt, observer);
    Run(run, {dir.File("cover.pdf"), Pdf("x.pdf")});
    ASSERT_EQ(run.State().successCount, 2);
    const std::string book = dir.File("out/cover.epub");
    std::string opf = ZipEntry(book, "OPS/content.opf");
    EXPECT_NE(opf.find("linear=\"no\""), std::string::npos) << opf;
    std::string ncx = ZipEntry(book, "OPS/toc.ncx");
    EXPECT_NE(ncx.find("Part &amp; whole"), std::string::npos) << ncx;
    EXPECT_EQ(ncx.find("src=\"\""), std::string::npos);
    std::string report;
    EXPECT_TRUE(qmtest::EpubCheck(book, &report)) << report;
    run.Finish();
    EXPECT_TRUE(ListFolder(temp.Path()).empty());  // navigation-points files and placeholders too
}

TEST_F(ConversionRunTest, SamePdfTwiceAsksAboutTheFirstBook) {
    const std::string pdf = Pdf("twice.pdf");
    {
        prompt.answer = false;
        qm::ConversionRun run(options, prompt, observer);
        Run(run, {pdf, pdf});
        EXPECT_EQ(prompt.questions,
                  (std::vector<std::string>{"The file: " + dir.File("out/twice.epub") + " have exist. writeover it? "}));
        EXPECT_EQ(run.State().successCount, 1);
        EXPECT_EQ(run.State().documentResults, (std::vector<int>{1, 0}));
    }
    {
        prompt.questions.clear();
        prompt.answer = true;
        qm::ConversionRun run(options, prompt, observer);
        Run(run, {pdf});
        EXPECT_EQ(prompt.questions.size(), 1u);
        EXPECT_EQ(run.State().successCount, 1);
    }
    EXPECT_TRUE(ListFolder(temp.Path()).empty());
}

TEST_F(ConversionRunTest, CancelDuringTheSecondOfThree) {
    qm::ConversionRun run(options, prompt, observer);
    int calls = 0;
    run.SetConverter([&](qm::PdfDocument &doc, qm::ConversionJob &job) {
        if (++calls == 2) run.Cancel();
        return doc.ConvertDocument(&job);
    });
    Run(run, {Pdf("one.pdf"), Pdf("two.pdf", 20), Pdf("three.pdf")});
    qm::RunState &s = run.State();
    EXPECT_EQ(calls, 2);
    EXPECT_TRUE(s.cancelled);
    EXPECT_TRUE(qm::FileExists(dir.File("out/one.epub")));
    EXPECT_FALSE(qm::FileExists(dir.File("out/two.epub")));
    EXPECT_FALSE(qm::FileExists(dir.File("out/three.epub")));
    EXPECT_EQ(s.successCount, 1);
    EXPECT_EQ(observer.done, 1);
    EXPECT_TRUE(observer.batch);
    EXPECT_TRUE(ListFolder(s.workRoot).empty());  // the cancelled document's folder is gone
    run.Finish();
    EXPECT_TRUE(ListFolder(temp.Path()).empty());
}

TEST_F(ConversionRunTest, ACancelDuringPackagingStillEndsTheRun) {
    qm::ConversionRun run(options, prompt, observer);
    int calls = 0;
    run.SetConverter([&](qm::PdfDocument &doc, qm::ConversionJob &job) {
        int rc = doc.ConvertDocument(&job);
        if (++calls == 1) run.Cancel();  // after the pages, before packaging
        return rc;
    });
    Run(run, {Pdf("one.pdf"), Pdf("two.pdf")});
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(run.State().cancelled);
    EXPECT_FALSE(qm::FileExists(dir.File("out/two.epub")));
}

TEST_F(ConversionRunTest, UnopenableDocumentsAreReportedAndTheBatchGoesOn) {
    qmtest::PdfBuilder b;
    b.Text(b.AddPage(), 72, 700, "secret");
    ASSERT_TRUE(b.SaveEncrypted(dir.File("locked.pdf"), "right"));
    ASSERT_TRUE(qmtest::WriteZeroByteFile(dir.File("empty.pdf")));
    ASSERT_TRUE(qmtest::WriteGarbageFile(dir.File("noise.pdf")));
    options.pdfPassword = "wrong";
    qm::ConversionRun run(options, prompt, observer);
    Run(run, {dir.File("locked.pdf"), dir.File("empty.pdf"), dir.File("missing.pdf"), dir.File("noise.pdf"),
              Pdf("good.pdf")});
    qm::RunState &s = run.State();
    EXPECT_EQ(prompt.messages, (std::vector<std::string>{"Invalid password.", "Can't open the pdf file.",
                                                         "Can't open the pdf file.", "Can't open the pdf file.",
                                                         "Can't open the pdf file."}));
    EXPECT_EQ(s.documentResults, (std::vector<int>{0, 0, 0, 0, 1}));
    EXPECT_EQ(s.successCount, 1);
    EXPECT_TRUE(ListFolder(s.workRoot).empty());
    EXPECT_EQ(ListFolder(dir.File("out")), (std::vector<std::string>{"good.epub"}));
}

TEST_F(ConversionRunTest, ABookIsCountedOnlyWhenBuiltInThisRun) {
    // A stale book at the destination, and a conversion that leaves no file list.
    ASSERT_TRUE(qm::WriteFile(dir.File("out/stale.epub"), "old book"));
    options.overwriteExisting = 1;
    qm::ConversionRun run(options, prompt, observer);
    run.SetConverter([](qm::PdfDocument &, qm::ConversionJob &) { return 0; });
    Run(run, {Pdf("stale.pdf")});
    EXPECT_EQ(prompt.messages, (std::vector<std::string>{"cannt open textlist.txt!"}));
    EXPECT_EQ(run.State().successCount, 0);
    EXPECT_TRUE(run.State().producedBooks.empty());
    EXPECT_TRUE(ListFolder(run.State().workRoot).empty());

    // The copy fails: the output folder does not exist.
    options.outputFolder = dir.File("nowhere/");
    qm::ConversionRun second(options, prompt, observer);
    Run(second, {Pdf("lost.pdf")});
    EXPECT_EQ(second.State().successCount, 0);
    EXPECT_TRUE(second.State().producedBooks.empty());
    EXPECT_TRUE(ListFolder(second.State().workRoot).empty());
}

TEST_F(ConversionRunTest, SingleDocumentModeStopsBeforePackaging) {
    qm::ConversionRun run(options, prompt, observer);
    Run(run, {Pdf("my.book.pdf")}, true);
    qm::RunState &s = run.State();
    EXPECT_EQ(observer.done, 1);
    EXPECT_FALSE(observer.batch);
    EXPECT_EQ(s.successCount, 0);
    EXPECT_TRUE(ListFolder(dir.File("out")).empty());
    std::vector<std::string> files = ListFolder(s.workRoot);
    EXPECT_NE(std::find(files.begin(), files.end(), "textlist.txt"), files.end());
    EXPECT_NE(std::find(files.begin(), files.end(), "page-1.html"), files.end());
    EXPECT_EQ(std::find(files.begin(), files.end(), "0"), files.end());
    // The book builder's destination decides the question: stem up to the first dot.
    EXPECT_EQ(qm::BuilderDestination(options, dir.File("my.book.pdf"), "my.book.pdf"), dir.File("out/my.epub"));
    EXPECT_EQ(qm::BatchDestination(options, dir.File("my.book.pdf"), "my.book.pdf"), dir.File("out/my.book.epub"));
    run.Finish();
    EXPECT_TRUE(ListFolder(temp.Path()).empty());
}

TEST(OutputResolutionTest, TruncatesAndKeepsWithinBounds) {
    EXPECT_EQ(qm::OutputResolution(96.7), 96);
    EXPECT_EQ(qm::OutputResolution(0), 72);
    EXPECT_EQ(qm::OutputResolution(-5), 72);
    EXPECT_EQ(qm::OutputResolution(1e9), 600);
}

} // namespace
