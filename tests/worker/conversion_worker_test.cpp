// Batch conversion runs: destinations, work folders, the overwrite question, cancel, failures,
// what is counted as a book, and what is left in the temporary folder afterwards.
#include <gtest/gtest.h>

#include <latch>
#include <optional>
#include <random>

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
#include "support/scoped_tmpfs.h"
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
        ASSERT_EQ(run.StartConversion(paths, names, single), qm::StartResult::Started);
        run.Wait();
    }
};

TEST_F(ConversionRunTest, BatchDestinationsWorkFoldersAndNothingLeftBehind) {
    std::vector<std::string> workFolders;
    qm::ConversionRun run(options, prompt, observer);
    run.SetConverter([&](qm::PdfDocument &doc, qm::ConversionJob &job) {
        workFolders.push_back(job.workFolder);
        return qm::ConvertDocument(doc, job);
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
        return qm::ConvertDocument(doc, job);
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
        qm::ConvertedDocument rc = qm::ConvertDocument(doc, job);
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
    // A stale book at the destination, and a conversion that makes no files.
    ASSERT_TRUE(qm::WriteFile(dir.File("out/stale.epub"), "old book"));
    options.overwriteExisting = 1;
    qm::ConversionRun run(options, prompt, observer);
    run.SetConverter([](qm::PdfDocument &, qm::ConversionJob &) { return qm::ConvertedDocument{}; });
    Run(run, {Pdf("stale.pdf")});
    EXPECT_TRUE(prompt.messages.empty());
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
    EXPECT_NE(std::find(files.begin(), files.end(), "page-1.html"), files.end());
    EXPECT_EQ(s.producedFiles.size(), files.size());  // every file of the folder, listed
    ASSERT_FALSE(s.producedFiles.empty());
    EXPECT_EQ(s.producedFiles.front(), s.workRoot + "/styles.css");
    EXPECT_EQ(std::find(files.begin(), files.end(), "0"), files.end());
    // The book builder's destination decides the question: stem up to the first dot.
    EXPECT_EQ(qm::BuilderDestination(options, dir.File("my.book.pdf"), "my.book.pdf"), dir.File("out/my.epub"));
    EXPECT_EQ(qm::BatchDestination(options, dir.File("my.book.pdf"), "my.book.pdf"), dir.File("out/my.book.epub"));
    run.Finish();
    EXPECT_TRUE(ListFolder(temp.Path()).empty());
}

// Two runs (as two programs would) finish the same book at once, both having found the name
// free: one book is placed, the other run is asked, and the placed book is never replaced.
TEST_F(ConversionRunTest, TwoRunsRacingForOneBookMakeExactlyOne) {
    const std::string pdf = Pdf("race.pdf");
    qm::ConversionOptions optionsB = options;
    options.useSourceMetadata = optionsB.useSourceMetadata = 0;
    options.bookTitle = "Run A";
    optionsB.bookTitle = "Run B";
    ScriptedPrompt promptB;
    RecordingObserver observerB;
    qm::ConversionRun a(options, prompt, observer), b(optionsB, promptB, observerB);
    std::latch converted(2);
    auto meet = [&](qm::PdfDocument &doc, qm::ConversionJob &job) {
        qm::ConvertedDocument rc = qm::ConvertDocument(doc, job);
        converted.arrive_and_wait();
        return rc;
    };
    a.SetConverter(meet);
    b.SetConverter(meet);
    a.retryDelayMs = b.retryDelayMs = 0;
    ASSERT_EQ(a.StartConversion({pdf}, {"race.pdf"}, false), qm::StartResult::Started);
    ASSERT_EQ(b.StartConversion({pdf}, {"race.pdf"}, false), qm::StartResult::Started);
    a.Wait();
    b.Wait();
    ASSERT_EQ(a.State().documentResults[0] + b.State().documentResults[0], 1);
    const bool aWon = a.State().documentResults[0] == 1;
    const std::string book = dir.File("out/race.epub");
    EXPECT_TRUE((aWon ? prompt : promptB).questions.empty());
    EXPECT_EQ((aWon ? promptB : prompt).questions,
              (std::vector<std::string>{"The file: " + book + " have exist. writeover it? "}));
    EXPECT_NE(ZipEntry(book, "OPS/content.opf").find(aWon ? "Run A" : "Run B"), std::string::npos);
    EXPECT_EQ(ListFolder(dir.File("out")), (std::vector<std::string>{"race.epub"}));
    std::string report;
    EXPECT_TRUE(qmtest::EpubCheck(book, &report)) << report;
    a.Finish();
    b.Finish();
    EXPECT_TRUE(ListFolder(temp.Path()).empty());
}

// a/x.pdf and b/x.pdf into one folder: the second book gets its own name, even with overwrite on,
// which replaces only the book an earlier run left.
TEST_F(ConversionRunTest, SameBookNameFromTwoSourcesGivesDistinctBooks) {
    for (const char *folder : {"a", "b"}) {
        qm::CreateFolder(dir.File(folder));
        qmtest::PdfBuilder pdf;
        pdf.Text(pdf.AddPage(), 72, 700, "Text");
        pdf.SetInfo(std::string("Book ") + folder);
        ASSERT_TRUE(pdf.Save(dir.File(std::string(folder) + "/x.pdf")));
    }
    ASSERT_TRUE(qm::WriteFile(dir.File("out/x.epub"), "book of an earlier run"));
    options.overwriteExisting = 1;
    qm::ConversionRun run(options, prompt, observer);
    Run(run, {dir.File("a/x.pdf"), dir.File("b/x.pdf")});
    EXPECT_EQ(run.State().documentResults, (std::vector<int>{1, 1}));
    EXPECT_EQ(run.State().producedBooks, (std::vector<std::string>{dir.File("out/x.epub"), dir.File("out/x-2.epub")}));
    EXPECT_EQ(prompt.messages, (std::vector<std::string>{"Another document of this run (" + dir.File("a/x.pdf") +
                                                         ") makes " + dir.File("out/x.epub") + "; this book is named " +
                                                         dir.File("out/x-2.epub") + "."}));
    EXPECT_NE(ZipEntry(dir.File("out/x.epub"), "OPS/content.opf").find("Book a"), std::string::npos);
    EXPECT_NE(ZipEntry(dir.File("out/x-2.epub"), "OPS/content.opf").find("Book b"), std::string::npos);
    std::string report;
    EXPECT_TRUE(qmtest::EpubCheck(dir.File("out/x-2.epub"), &report)) << report;
}

TEST(BatchDestinationsTest, RenamedBooksSkipNamesOtherDocumentsHave) {
    qm::ConversionOptions options;
    options.outputFolder = "/books/";
    std::vector<int> owner;
    // The same file listed again keeps its name (and the overwrite question); x-2 is c's own name.
    const std::vector<std::string> paths = {"/a/x.pdf", "/b/x.pdf", "/c/x-2.pdf", "/a/x.pdf", "/d/x.PDF"};
    const std::vector<std::string> names = {"x.pdf", "x.pdf", "x-2.pdf", "x.pdf", "x.PDF"};
    EXPECT_EQ(qm::BatchDestinations(options, paths, names, &owner),
              (std::vector<std::string>{"/books/x.epub", "/books/x-3.epub", "/books/x-2.epub", "/books/x.epub",
                                        "/books/x-4.epub"}));
    EXPECT_EQ(owner, (std::vector<int>{-1, 0, -1, -1, 0}));

    // Next to the sources: one folder written two ways is still one folder.
    qmtest::TempDir dir;
    ASSERT_TRUE(qm::WriteFile(dir.File("r.pdf"), "1"));
    ASSERT_TRUE(qm::WriteFile(dir.File("r.PDF"), "2"));
    options.sameAsSource = 1;
    EXPECT_EQ(qm::BatchDestinations(options, {dir.File("r.pdf"), dir.File("./r.PDF")}, {"r.pdf", "r.PDF"}),
              (std::vector<std::string>{dir.File("r.epub"), dir.File("./r-2.epub")}));
}

TEST_F(ConversionRunTest, ACancelAfterTheBookIsInPlaceCountsTheBookAsMade) {
    struct CancelOnBook : RecordingObserver {
        qm::ConversionRun *run = nullptr;
        void DocumentFinished(int, bool bookMade) override {
            if (bookMade) run->Cancel();
        }
    };
    for (int documents : {1, 2}) {
        CancelOnBook cancelling;
        qm::ConversionRun run(options, prompt, cancelling);
        cancelling.run = &run;
        std::vector<std::string> pdfs = {Pdf("first.pdf")};
        if (documents == 2) pdfs.push_back(Pdf("second.pdf"));
        options.overwriteExisting = 1;
        Run(run, pdfs);
        // With one document the run is complete; with two the second was never started.
        EXPECT_EQ(run.State().cancelled, documents == 2);
        EXPECT_EQ(run.State().documentResults[0], 1);
        EXPECT_EQ(run.State().successCount, 1);
        EXPECT_TRUE(qm::FileExists(dir.File("out/first.epub")));
        EXPECT_FALSE(qm::FileExists(dir.File("out/second.epub")));
    }
}

// Saying Yes to the question, or converting with overwrite on, keeps the old book until the new
// one is complete and in place: a conversion or a copy that fails loses nothing.
TEST_F(ConversionRunTest, AnOldBookStaysUntilItsReplacementIsInPlace) {
    ASSERT_TRUE(qm::WriteFile(dir.File("out/kept.epub"), "old book"));
    prompt.answer = true;
    {
        qm::ConversionRun run(options, prompt, observer);
        run.SetConverter([](qm::PdfDocument &, qm::ConversionJob &) { return qm::ConvertedDocument{}; });  // no files
        Run(run, {Pdf("kept.pdf")});
        EXPECT_EQ(prompt.questions.size(), 1u);
        EXPECT_EQ(run.State().documentResults, (std::vector<int>{0}));
    }
    std::string text;
    ASSERT_TRUE(qm::ReadFile(dir.File("out/kept.epub"), text));
    EXPECT_EQ(text, "old book");

    // The destination's disk is full: the book that does not fit is not placed, the old one stays.
    qmtest::ScopedTmpfs small("32k");
    if (!small.Mounted()) GTEST_SKIP() << "cannot mount a tmpfs here";
    ASSERT_TRUE(qm::WriteFile(small.File("kept.epub"), "old book"));
    options.outputFolder = small.Path();
    options.overwriteExisting = 1;
    prompt.messages.clear();
    qm::ConversionRun run(options, prompt, observer);
    run.SetConverter([](qm::PdfDocument &, qm::ConversionJob &job) {
        std::string noise(96 * 1024, '\0');  // does not compress: the book outgrows the disk
        std::mt19937 random(7);
        for (char &c : noise) c = static_cast<char>(random());
        const std::string folder = qm::WithTrailingSlash(job.workFolder);
        qm::WriteFile(folder + "page-1.html", "<html xmlns=\"http://www.w3.org/1999/xhtml\"><body/></html>");
        qm::WriteFile(folder + "noise.png", noise);
        return qm::ConvertedDocument{qm::ConvertResult::Done, {folder + "page-1.html", folder + "noise.png"}};
    });
    Run(run, {dir.File("kept.pdf")});
    EXPECT_EQ(run.State().documentResults, (std::vector<int>{0}));
    EXPECT_EQ(prompt.messages, (std::vector<std::string>{"The book could not be written to " + small.File("kept.epub") +
                                                         ": No space left on device."}));
    ASSERT_TRUE(qm::ReadFile(small.File("kept.epub"), text));
    EXPECT_EQ(text, "old book");
    EXPECT_EQ(ListFolder(small.Path()), (std::vector<std::string>{"kept.epub"}));
    EXPECT_TRUE(ListFolder(run.State().workRoot).empty());
}

TEST(OutputResolutionTest, TruncatesAndKeepsWithinBounds) {
    EXPECT_EQ(qm::OutputResolution(96.7), 96);
    EXPECT_EQ(qm::OutputResolution(0), 72);
    EXPECT_EQ(qm::OutputResolution(-5), 72);
    EXPECT_EQ(qm::OutputResolution(1e9), 600);
}

} // namespace
