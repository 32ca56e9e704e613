// Stopping a run inside a page: Cancel reaches the engine while it paints, and a run over a page
// tree that lies about its size keeps its work folder small.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <optional>
#include <sys/stat.h>
#include <thread>

#include "options/conversion_job.h"
#include "options/conversion_options.h"
#include "pdf/pdf_document.h"
#include "platform/paths.h"
#include "support/pdf_fixture.h"
#include "support/recording_prompt.h"
#include "support/temp_dir.h"
#include "worker/conversion_worker.h"

namespace {

// Bytes of the files in a folder.
long long FolderBytes(const std::string &folder) {
    long long total = 0;
    for (const std::string &name : qmtest::ListFolder(folder)) {
        struct stat st {};
        if (stat((qm::WithTrailingSlash(folder) + name).c_str(), &st) == 0) total += st.st_size;
    }
    return total;
}

class PageStopTest : public ::testing::Test {
protected:
    qmtest::TempDir dir;
    qmtest::TempDir temp;
    qm::ConversionOptions options;
    qmtest::RecordingPrompt prompt;
    qm::ConversionObserver observer;
    std::optional<qmtest::ScopedEnv> tmpEnv;

    void SetUp() override {
        tmpEnv.emplace("TMPDIR", temp.Path().c_str());
        options.outputFolder = dir.File("out/");
        options.sameAsSource = 0;
        qm::CreateFolder(dir.File("out"));
    }
};

TEST_F(PageStopTest, CancelStopsThePageBeingPaintedAtOnce) {
    qmtest::PdfBuilder b;
    int p = b.AddPage();
    b.SlowStrokes(p, 5000);  // over half a minute to paint at 72 dpi
    ASSERT_TRUE(b.Save(dir.File("slow.pdf")));
    options.parseMode = 2;  // imaging: the page is painted whole

    qm::ConversionRun run(options, prompt, observer);
    run.retryDelayMs = 0;
    std::atomic<qm::PdfDocument *> converting{nullptr};
    run.SetConverter([&](qm::PdfDocument &doc, qm::ConversionJob &job) {
        converting = &doc;
        qm::ConvertedDocument rc = qm::ConvertDocument(doc, job);
        converting = nullptr;
        return rc;
    });
    ASSERT_EQ(run.StartConversion({dir.File("slow.pdf")}, {"slow.pdf"}, false), qm::StartResult::Started);
    // Wait until the page is captured and being painted.
    for (int i = 0; i < 1000; ++i) {
        qm::PdfDocument *doc = converting.load();
        if (doc && doc->CurrentPageRun().active) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const auto cancelled = std::chrono::steady_clock::now();
    run.Cancel();
    run.Wait();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - cancelled).count();
    EXPECT_LT(seconds, 2.0);  // generous; without the stop the page goes on for half a minute
    EXPECT_TRUE(run.State().cancelled);
    EXPECT_EQ(run.State().documentResults, (std::vector<int>{0}));
    EXPECT_FALSE(qm::FileExists(dir.File("out/slow.epub")));
    // The stopped page was never reported as a failed picture.
    EXPECT_TRUE(prompt.messages.empty()) << prompt.messages[0];
    run.Finish();
    EXPECT_TRUE(qmtest::ListFolder(temp.Path()).empty());
}

TEST_F(PageStopTest, APageTreeClaimingAHugeCountKeepsTheWorkFolderSmall) {
    qmtest::PdfBuilder b;
    b.Text(b.AddPage(), 72, 700, "One");
    b.Text(b.AddPage(), 72, 700, "Two");
    b.SetPageTreeCount(1e20);
    ASSERT_TRUE(b.Save(dir.File("count.pdf")));
    for (int mode : {0, 2}) {
        options.parseMode = mode;
        options.overwriteExisting = 1;
        qm::ConversionRun run(options, prompt, observer);
        run.retryDelayMs = 0;
        long long bytes = -1;
        size_t files = 0;
        run.SetConverter([&](qm::PdfDocument &doc, qm::ConversionJob &job) {
            qm::ConvertedDocument rc = qm::ConvertDocument(doc, job);
            bytes = FolderBytes(job.workFolder);
            files = qmtest::ListFolder(job.workFolder).size();
            return rc;
        });
        const auto start = std::chrono::steady_clock::now();
        ASSERT_EQ(run.StartConversion({dir.File("count.pdf")}, {"count.pdf"}, false), qm::StartResult::Started);
        run.Wait();
        EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 30.0);
        EXPECT_GE(bytes, 0);
        EXPECT_LT(bytes, 100LL << 20) << mode;
        EXPECT_LE(files, 6u) << mode;  // styles, list, two pages (and their pictures)
        EXPECT_EQ(run.State().documentResults, (std::vector<int>{1})) << mode;
    }
}

} // namespace
