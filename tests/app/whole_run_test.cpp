// The wizard driven through whole runs on the bundled sample: a batch of two ends on the finished
// page with two valid books, a single PDF goes through the book builder, the documents task builds
// its own book, and closing the window during a run cancels it, waits for it and leaves no
// temporary files.
#include "wizard_fixture.h"

#include <QLabel>
#include <atomic>

#include "app/converting_page.h"
#include "options/settings_file.h"
#include "platform/paths.h"
#include "ui/hyperlink_static.h"

namespace {

using qm::MainWindow;

class WholeRunTest : public qmtest::WizardFixture {
protected:
    // Lists `files` for the PDF task and writes the books into out_.
    MainWindow &ListPdfs(const std::vector<std::string> &files) {
        options_.useMyDocuments = 0;
        options_.outputFolder = out_;
        MainWindow &w = Open();
        Click("next");
        QStringList list;
        for (const std::string &f : files) list << QString::fromStdString(f);
        w.Files()->AddFiles(list);
        Click("next");
        EXPECT_EQ(w.CurrentPage(), MainWindow::kOptionsPage);
        return w;
    }
    QString Label(const char *name) { return Find<QLabel>(name)->text(); }
};

TEST_F(WholeRunTest, TwoPdfsEndOnTheFinishedPageWithTwoValidBooks) {
    MainWindow &w = ListPdfs({SampleCopy("one.pdf"), SampleCopy("two.pdf")});
    Click("next");
    EXPECT_EQ(optionOffers_, 1);  // Automatic: the layout options are offered once
    ASSERT_TRUE(WaitForPage(MainWindow::kFinishedPage));
    EXPECT_EQ(Label("totalFiles"), "2");
    EXPECT_EQ(Label("succeededFiles"), "2");
    EXPECT_EQ(Find<qm::HyperlinkStatic>("outputFolderLink")->text().toStdString(), out_);
    for (const char *name : {"one.epub", "two.epub"}) {
        std::string report;
        EXPECT_TRUE(qmtest::EpubCheck(out_ + name, &report)) << name << "\n" << report;
    }
    // "Edit Before Output" is offered the books a moment after the page shows.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !editorOffers_.empty(); }, 5000));
    EXPECT_EQ(editorOffers_[0], (std::vector<std::string>{out_ + "one.epub", out_ + "two.epub"}));
    const QString log = w.LogLines().join("\n");
    EXPECT_TRUE(log.contains("one.pdf: book made")) << log.toStdString();
    EXPECT_TRUE(log.contains("two.pdf: book made")) << log.toStdString();
    // Nothing of the run is left in the temporary folder.
    EXPECT_EQ(qmtest::ListFolder(tmp_), std::vector<std::string>{});

    // Prev goes back to the options; a second run finds the books there and is told No.
    Click("prev");
    EXPECT_EQ(w.CurrentPage(), MainWindow::kOptionsPage);
    Click("next");
    ASSERT_TRUE(WaitForPage(MainWindow::kFinishedPage));
    EXPECT_EQ(prompt_.questions.size(), 2u);
    EXPECT_EQ(Label("succeededFiles"), "0");
    // The log is the second run's: the questions with their answers, no line of the first run.
    const QString second = w.LogLines().join("\n");
    EXPECT_TRUE(second.contains("one.epub have exist. writeover it?  No")) << second.toStdString();
    EXPECT_FALSE(second.contains("book made")) << second.toStdString();
    EXPECT_TRUE(qm::FileExists(out_ + "one.epub"));
    // Repeat starts over at the task page with the list kept.
    Click("repeat");
    EXPECT_EQ(w.CurrentPage(), MainWindow::kTaskPage);
    Click("next");
    EXPECT_EQ(w.Files()->Count(), 2);
}

TEST_F(WholeRunTest, OnePdfGoesThroughTheBookBuilder) {
    MainWindow &w = ListPdfs({SampleCopy("my.book.pdf")});
    Click("next");
    ASSERT_TRUE(WaitForPage(MainWindow::kBookBuilderPage));
    EXPECT_EQ(w.Run().State().successCount, 0);
    const auto entries = w.Builder()->Entries();
    ASSERT_FALSE(entries.empty());
    EXPECT_TRUE(qm::FileExists(entries.front().path));
    EXPECT_TRUE(Find<QPushButton>("next")->isEnabled());
    EXPECT_FALSE(Find<QPushButton>("repeat")->isEnabled());

    Click("next");  // builds the book, then the finished page
    ASSERT_EQ(w.CurrentPage(), MainWindow::kFinishedPage);
    const std::string book = out_ + "my.epub";  // the builder names it up to the first dot
    std::string report;
    EXPECT_TRUE(qmtest::EpubCheck(book, &report)) << report;
    EXPECT_EQ(Label("totalFiles"), "1");
    EXPECT_EQ(Label("succeededFiles"), "1");
    auto *link = Find<qm::HyperlinkStatic>("outputFolderLink");
    EXPECT_EQ(link->text().toStdString(), out_);
    EXPECT_EQ(link->Url().toStdString(), book);
    EXPECT_TRUE(link->FolderMode());
    EXPECT_TRUE(w.LogLines().join("\n").contains("Book made: " + QString::fromStdString(book)));
    Close();
    EXPECT_EQ(qmtest::ListFolder(tmp_), std::vector<std::string>{});
}

TEST_F(WholeRunTest, TheDocumentsTaskBuildsItsBookAndSettingsAreSavedFromItsPages) {
    const std::string html = MakeFolder("in/") + "notes.html";
    qm::WriteFile(html, "<html><head><title>n</title></head><body><p>Hello</p></body></html>");
    for (int page : {MainWindow::kBookBuilderPage, MainWindow::kFinishedPage}) {
        SCOPED_TRACE(page);
        std::remove(SettingsPath().c_str());
        options_ = qm::ConversionOptions();
        options_.useMyDocuments = 0;
        options_.outputFolder = out_;
        MainWindow &w = Open();
        Click("documentsTask");
        Click("next");
        w.Files()->AddFiles({QString::fromStdString(html)});
        Click("next");
        Click("next");
        ASSERT_EQ(w.CurrentPage(), MainWindow::kBookBuilderPage);
        if (page == MainWindow::kFinishedPage) {
            Click("next");
            ASSERT_EQ(w.CurrentPage(), MainWindow::kFinishedPage);
            EXPECT_EQ(Label("succeededFiles"), "1");
            EXPECT_TRUE(qmtest::EpubCheck(out_ + "notes.epub"));
            EXPECT_TRUE(qm::FileExists(html));  // the user's own file stays
        }
        w.close();
        Close();
        qm::ConversionOptions loaded;
        ASSERT_EQ(qm::SettingsFile::Load(loaded, SettingsPath()), qm::SettingsLoad::Complete);
        EXPECT_EQ(loaded.taskKind, 1);
        EXPECT_EQ(loaded.outputFolder, out_);
    }
    EXPECT_EQ(qmtest::ListFolder(tmp_), std::vector<std::string>{});
}

// A converter that works until it is cancelled, as a long document would.
class EndlessDocument {
public:
    qm::ConversionRun::Converter Converter() {
        return [this](qm::PdfDocument &, qm::ConversionJob &job) {
            started = true;
            while (!job.CancelRequested()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
            cancelled = true;
            return qm::ConvertedDocument{qm::ConvertResult::Cancelled, {}};
        };
    }
    std::atomic<bool> started{false}, cancelled{false};
};

TEST_F(WholeRunTest, ClosingDuringARunCancelsItWaitsAndLeavesNoTemporaryFiles) {
    MainWindow &w = ListPdfs({SampleCopy("one.pdf"), SampleCopy("two.pdf")});
    EndlessDocument endless;
    w.Run().SetConverter(endless.Converter());
    Click("next");
    ASSERT_TRUE(QTest::qWaitFor([&] { return endless.started.load(); }, 30000));
    EXPECT_TRUE(w.RunActive());
    options_.bookTitle = "kept";
    EXPECT_FALSE(w.close());  // the close waits for the run ...
    ASSERT_TRUE(QTest::qWaitFor([&] { return !w.isVisible(); }, 30000));  // ... and then happens
    EXPECT_TRUE(endless.cancelled);
    EXPECT_FALSE(w.RunActive());
    Close();
    EXPECT_FALSE(qm::FileExists(out_ + "one.epub"));
    EXPECT_FALSE(qm::FileExists(out_ + "two.epub"));
    EXPECT_EQ(qmtest::ListFolder(tmp_), std::vector<std::string>{});
    qm::ConversionOptions loaded;
    ASSERT_EQ(qm::SettingsFile::Load(loaded, SettingsPath()), qm::SettingsLoad::Complete);
    EXPECT_EQ(loaded.bookTitle, "kept");
}

TEST_F(WholeRunTest, DestroyingTheWindowDuringARunStopsTheRunFirst) {
    MainWindow &w = ListPdfs({SampleCopy("one.pdf")});
    EndlessDocument endless;
    w.Run().SetConverter(endless.Converter());
    Click("next");
    ASSERT_TRUE(QTest::qWaitFor([&] { return endless.started.load(); }, 30000));
    Close();  // no close event: the window object goes at once
    EXPECT_TRUE(endless.cancelled);
    EXPECT_TRUE(qm::FileExists(SettingsPath()));
    EXPECT_EQ(qmtest::ListFolder(tmp_), std::vector<std::string>{});
}

TEST_F(WholeRunTest, CancelDropsTheCurrentDocumentAndTheFinishedPageFollows) {
    MainWindow &w = ListPdfs({SampleCopy("one.pdf"), SampleCopy("two.pdf")});
    EndlessDocument endless;
    w.Run().SetConverter(endless.Converter());
    Click("next");
    ASSERT_TRUE(QTest::qWaitFor([&] { return endless.started.load(); }, 30000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return Label("fileLabel") == "one.pdf"; }, 5000));
    EXPECT_EQ(Label("countLabel"), "1/2");
    for (const char *b : {"saveLog", "prev", "next", "repeat"}) EXPECT_FALSE(Find<QPushButton>(b)->isEnabled()) << b;
    Click("cancel");
    ASSERT_TRUE(WaitForPage(MainWindow::kFinishedPage, 30000));
    EXPECT_EQ(Label("succeededFiles"), "0");
    EXPECT_TRUE(w.LogLines().join("\n").contains("Cancelled."));
    EXPECT_EQ(qmtest::ListFolder(tmp_), std::vector<std::string>{});
}

} // namespace
