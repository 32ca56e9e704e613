// Batches converted several documents at once: the same books as one at a time, books that do not
// depend on the documents converted before them, failures and questions that stay with their
// document, reports in list order, and cancel.
#include <gtest/gtest.h>

#include <chrono>
#include <latch>
#include <thread>
#include <algorithm>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "epub/zip_reader.h"
#include "options/conversion_job.h"
#include "options/conversion_options.h"
#include "platform/paths.h"
#include "support/book_entries.h"
#include "support/corpus.h"
#include "support/pdf_fixture.h"
#include "support/recording_prompt.h"
#include "support/temp_dir.h"
#include "worker/conversion_worker.h"

namespace {

using qmtest::ListFolder;

// Everything the front end hears, in the order it hears it.
struct Transcript : qm::ConversionObserver, qm::UserPrompt {
    std::mutex m;
    std::vector<std::string> events;
    bool answer = false;
    void DocumentStarted(int index, int, const std::string &) override { Add("started " + std::to_string(index)); }
    void DocumentFinished(int index, bool made) override {
        Add("finished " + std::to_string(index) + (made ? " made" : " none"));
    }
    void Message(const std::string &text, const std::string &) override { Add("message " + text); }
    bool AskYesNo(const std::string &text, const std::string &) override {
        Add("question " + text);
        return answer;
    }
    void Add(const std::string &e) {
        std::lock_guard<std::mutex> g(m);
        events.push_back(e);
    }
    std::vector<std::string> Without(const std::string &prefix) {
        std::vector<std::string> kept;
        for (const std::string &e : events)
            if (e.rfind(prefix, 0) != 0) kept.push_back(e);
        return kept;
    }
};

using qmtest::BookEntries;

class ParallelRunTest : public ::testing::Test {
protected:
    qmtest::TempDir dir;
    qmtest::TempDir temp;  // the runs' temporary folder
    std::optional<qmtest::ScopedEnv> tmpEnv;
    qm::ConversionOptions options;
    Transcript front;

    void SetUp() override {
        tmpEnv.emplace("TMPDIR", temp.Path().c_str());
        // Pictures, an outline page and navigation points, links, a cover, columns.
        options.SetCreateCover(true);
        options.outputOutline = 1;
        options.importBookmarksToToc = 1;
        options.ignoreLinks = 0;
        options.columnMode = 2;
        options.overwriteExisting = 1;
    }
    // Converts `files` (names in dir) into dir/`outName` with `jobs` at once; the run's state.
    std::vector<int> Convert(const std::vector<std::string> &files, const std::string &outName, int jobs,
                             qm::ConversionRun::Converter converter = nullptr) {
        qm::CreateFolder(dir.File(outName));
        options.sameAsSource = 0;
        options.outputFolder = dir.File(outName + "/");
        qm::ConversionRun run(options, front, front);
        run.retryDelayMs = 0;
        run.jobs = jobs;
        run.pageTimeoutSeconds = pageTimeout;
        if (converter) run.SetConverter(converter);
        std::vector<std::string> paths, names;
        for (const std::string &f : files) {
            paths.push_back(dir.File(f));
            names.push_back(qm::FileNamePart(f));
        }
        EXPECT_EQ(run.StartConversion(paths, names, false), qm::StartResult::Started);
        run.Wait();
        books = run.State().producedBooks;
        cancelled = run.State().cancelled;
        EXPECT_TRUE(ListFolder(run.State().workRoot).empty());
        run.Finish();
        EXPECT_TRUE(ListFolder(temp.Path()).empty());
        return run.State().documentResults;
    }
    std::vector<std::string> books;
    bool cancelled = false;
    double pageTimeout = 0;
};

TEST_F(ParallelRunTest, TwoAtOnceGiveTheSameBooksAsOneAtATime) {
    ASSERT_TRUE(qmtest::WriteMixedPdf(dir.File("mixed.pdf")));
    ASSERT_TRUE(qmtest::WriteTwoColumnPdf(dir.File("columns.pdf"), 3));
    ASSERT_TRUE(qmtest::WriteMixedPdf(dir.File("mixed2.pdf")));
    ASSERT_TRUE(qmtest::WriteTextPdf(dir.File("text.pdf"), 4));
    const std::vector<std::string> files{"mixed.pdf", "columns.pdf", "mixed2.pdf", "text.pdf"};

    EXPECT_EQ(Convert(files, "one", 1), (std::vector<int>{1, 1, 1, 1}));
    const std::vector<std::string> oneEvents = front.events;
    front.events.clear();
    EXPECT_EQ(Convert(files, "two", 2), (std::vector<int>{1, 1, 1, 1}));
    // Books listed in list order.
    ASSERT_EQ(books.size(), 4u);
    for (size_t i = 0; i < files.size(); ++i)
        EXPECT_EQ(books[i], dir.File("two/" + files[i].substr(0, files[i].size() - 4) + ".epub"));
    // Reports in list order, as one at a time gives them (documents may start earlier).
    std::vector<std::string> finishedOne;
    for (const std::string &e : oneEvents)
        if (e.rfind("started", 0) != 0) finishedOne.push_back(e);
    EXPECT_EQ(front.Without("started"), finishedOne);

    for (const std::string &f : files) {
        const std::string stem = f.substr(0, f.size() - 4);
        auto a = BookEntries(dir.File("one/" + stem + ".epub")), b = BookEntries(dir.File("two/" + stem + ".epub"));
        ASSERT_FALSE(a.empty()) << f;
        EXPECT_EQ(a, b) << f;
    }
    // The books have pictures, so their numbers count: each book numbers its own from 1.
    auto mixed2 = BookEntries(dir.File("two/mixed2.epub"));
    EXPECT_EQ(mixed2.count("OPS/image-1.png"), 1u);
}

TEST_F(ParallelRunTest, ABookDoesNotDependOnTheDocumentsBeforeIt) {
    ASSERT_TRUE(qmtest::WriteMixedPdf(dir.File("first.pdf")));
    ASSERT_TRUE(qmtest::WriteTwoColumnPdf(dir.File("second.pdf"), 2));
    ASSERT_TRUE(qmtest::WriteMixedPdf(dir.File("third.pdf")));
    qm::CreateFolder(dir.File("alone"));
    ASSERT_TRUE(qmtest::WriteMixedPdf(dir.File("alone/third.pdf")));

    Convert({"alone/third.pdf"}, "single", 1);
    Convert({"first.pdf", "second.pdf", "third.pdf"}, "batch1", 1);
    Convert({"first.pdf", "second.pdf", "third.pdf"}, "batch2", 2);
    auto alone = BookEntries(dir.File("single/third.epub"));
    ASSERT_FALSE(alone.empty());
    EXPECT_EQ(BookEntries(dir.File("batch1/third.epub")), alone);
    EXPECT_EQ(BookEntries(dir.File("batch2/third.epub")), alone);
}

TEST_F(ParallelRunTest, FailuresAndQuestionsStayWithTheirDocument) {
    ASSERT_TRUE(qmtest::WriteSimplePdf(dir.File("a.pdf"), 12));
    ASSERT_TRUE(qmtest::WriteGarbageFile(dir.File("b.pdf")));
    ASSERT_TRUE(qmtest::WriteSimplePdf(dir.File("c.pdf"), 2));
    ASSERT_TRUE(qmtest::WriteSimplePdf(dir.File("d.pdf"), 2));
    ASSERT_TRUE(qm::CreateFolder(dir.File("out")));
    ASSERT_TRUE(qmtest::WriteGarbageFile(dir.File("out/c.epub"), 10));  // an old book, kept
    options.overwriteExisting = 0;

    EXPECT_EQ(Convert({"a.pdf", "b.pdf", "c.pdf", "d.pdf"}, "out", 2), (std::vector<int>{1, 0, 0, 1}));
    EXPECT_EQ(books, (std::vector<std::string>{dir.File("out/a.epub"), dir.File("out/d.epub")}));
    EXPECT_FALSE(cancelled);
    std::string old;
    EXPECT_TRUE(qm::ReadFile(dir.File("out/c.epub"), old));
    EXPECT_EQ(old.size(), 10u);
    // The failure's message right before its report; the question after every earlier report.
    EXPECT_EQ(front.Without("started"),
              (std::vector<std::string>{"finished 0 made", "message Can't open the pdf file.", "finished 1 none",
                                        "question The file: " + dir.File("out/c.epub") + " have exist. writeover it? ",
                                        "finished 2 none", "finished 3 made"}));
}

TEST_F(ParallelRunTest, CancelStopsEveryDocumentInWorkAndStartsNoMore) {
    for (const char *name : {"a.pdf", "b.pdf", "c.pdf", "d.pdf"}) ASSERT_TRUE(qmtest::WriteSimplePdf(dir.File(name), 30));
    std::latch bothInWork(2);
    qm::ConversionRun *current = nullptr;
    std::mutex m;
    int calls = 0;
    auto converter = [&](qm::PdfDocument &doc, qm::ConversionJob &job) {
        int call;
        {
            std::lock_guard<std::mutex> g(m);
            call = ++calls;
        }
        bothInWork.arrive_and_wait();
        if (call == 1) {
            std::lock_guard<std::mutex> g(m);
            current->Cancel();
        }
        return qm::ConvertDocument(doc, job);
    };
    // The run is reached through `current` once it exists.
    qm::CreateFolder(dir.File("out"));
    options.sameAsSource = 0;
    options.outputFolder = dir.File("out/");
    qm::ConversionRun run(options, front, front);
    run.retryDelayMs = 0;
    run.jobs = 2;
    {
        std::lock_guard<std::mutex> g(m);
        current = &run;
    }
    run.SetConverter(converter);
    std::vector<std::string> paths{dir.File("a.pdf"), dir.File("b.pdf"), dir.File("c.pdf"), dir.File("d.pdf")};
    ASSERT_EQ(run.StartConversion(paths, {"a.pdf", "b.pdf", "c.pdf", "d.pdf"}, false), qm::StartResult::Started);
    run.Wait();
    EXPECT_EQ(calls, 2);
    EXPECT_TRUE(run.State().cancelled);
    EXPECT_EQ(run.State().documentResults, (std::vector<int>{0, 0, 0, 0}));
    EXPECT_EQ(run.State().successCount, 0);
    EXPECT_TRUE(run.State().producedBooks.empty());
    EXPECT_EQ(front.Without("started"), (std::vector<std::string>{"finished 0 none", "finished 1 none"}));
    EXPECT_TRUE(ListFolder(dir.File("out")).empty());
    EXPECT_TRUE(ListFolder(run.State().workRoot).empty());
    run.Finish();
    EXPECT_TRUE(ListFolder(temp.Path()).empty());
}

// A single document gets the run's threads for its pages: the same book as one thread makes.
TEST_F(ParallelRunTest, OneLongDocumentSharesItsPagesAndGivesTheSameBook) {
    ASSERT_TRUE(qmtest::WritePicturePdf(dir.File("pictures.pdf"), 40));
    EXPECT_EQ(Convert({"pictures.pdf"}, "one", 1), (std::vector<int>{1}));
    EXPECT_EQ(Convert({"pictures.pdf"}, "two", 2), (std::vector<int>{1}));
    auto one = BookEntries(dir.File("one/pictures.epub"));
    EXPECT_EQ(one.count("OPS/image-80.png"), 1u);
    EXPECT_EQ(BookEntries(dir.File("two/pictures.epub")), one);
}

// Pages `slowFrom`..`slowTo` carry a drawing of thick strokes that takes several seconds to
// paint into its picture.
std::string SlowPagesPdf(const std::string &path, int pages, int slowFrom, int slowTo) {
    qmtest::PdfBuilder b;
    std::string drawing = "q 0.2 0.4 0.8 RG 20 w 1 J\n";
    for (int i = 0; i < 20000; ++i) {
        const std::string y = std::to_string(200 + i % 300), y2 = std::to_string(500 - i % 300);
        drawing += "150 " + y + " m 450 " + y2 + " l 300 200 l 150 500 l S\n";
    }
    drawing += "Q";
    for (int i = 1; i <= pages; ++i) {
        const int p = b.AddPage();
        b.Text(p, 72, 700, "Page " + std::to_string(i));
        if (i >= slowFrom && i <= slowTo) b.Raw(p, drawing);
    }
    EXPECT_TRUE(b.Save(path));
    return path;
}

TEST_F(ParallelRunTest, CancelStopsThePagesEveryThreadIsWorkingOn) {
    SlowPagesPdf(dir.File("slow.pdf"), 24, 3, 12);
    qm::CreateFolder(dir.File("out"));
    options.sameAsSource = 0;
    options.outputFolder = dir.File("out/");
    options.SetCreateCover(false);
    qm::ConversionRun run(options, front, front);
    run.retryDelayMs = 0;
    run.jobs = 2;
    ASSERT_EQ(run.StartConversion({dir.File("slow.pdf")}, {"slow.pdf"}, false), qm::StartResult::Started);
    // The quick pages are in the book; both threads are painting slow ones.
    for (int i = 0; i < 2000 && run.State().percent.load() < 8; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_GE(run.State().percent.load(), 8);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const auto cancelled = std::chrono::steady_clock::now();
    run.Cancel();
    run.Wait();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - cancelled).count();
    EXPECT_LT(seconds, 4.0);  // generous; the pages in work would go on for many seconds
    EXPECT_LT(run.State().percent.load(), 100);
    EXPECT_TRUE(run.State().cancelled);
    EXPECT_EQ(run.State().documentResults, (std::vector<int>{0}));
    EXPECT_TRUE(ListFolder(dir.File("out")).empty());
    EXPECT_TRUE(ListFolder(run.State().workRoot).empty());
    run.Finish();
    EXPECT_TRUE(ListFolder(temp.Path()).empty());
}

TEST_F(ParallelRunTest, ASlowPageOnAPageThreadIsSkippedAsWithOneThread) {
    SlowPagesPdf(dir.File("slow.pdf"), 20, 11, 11);
    options.SetCreateCover(false);
    pageTimeout = 1;
    const std::string line = "message Page 11 of 'slow.pdf' took longer than 1 second and was skipped.";
    EXPECT_EQ(Convert({"slow.pdf"}, "one", 1), (std::vector<int>{1}));
    EXPECT_EQ(front.Without("started"), (std::vector<std::string>{line, "finished 0 made"}));
    front.events.clear();
    EXPECT_EQ(Convert({"slow.pdf"}, "two", 2), (std::vector<int>{1}));
    EXPECT_EQ(front.Without("started"), (std::vector<std::string>{line, "finished 0 made"}));
    auto one = BookEntries(dir.File("one/slow.epub"));
    ASSERT_FALSE(one.empty());
    EXPECT_EQ(BookEntries(dir.File("two/slow.epub")), one);
}

} // namespace
