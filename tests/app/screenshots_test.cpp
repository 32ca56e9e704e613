// Every page of the wizard and every dialog it opens, grabbed from the real widgets (the
// interactive converter of a Strict run with marked and selected regions, and its preview, too). Each picture
// must show drawn text; with QM_SCREENSHOT_DIR set (scripts/screenshots) the pictures are kept
// there for the documentation.
#include "wizard_fixture.h"

#include <QDir>
#include <QFontMetrics>
#include <QImage>
#include <QLabel>
#include <QListWidget>
#include <QPixmap>
#include <atomic>
#include <cstdlib>
#include <memory>

#include "app/book_info_dialog.h"
#include "app/edit_before_output_dialog.h"
#include "app/options_dialog.h"
#include "interactive/preview_window.h"
#include "page_view_driver.h"
#include "ui/wait_dialog.h"
#include "xhtml/strict_session.h"

namespace {

using qm::MainWindow;

class ScreenshotsTest : public qmtest::WizardFixture {
protected:
    void SetUp() override {
        const char *keep = std::getenv("QM_SCREENSHOT_DIR");
        folder_ = keep && *keep ? QString::fromUtf8(keep) : QString::fromStdString(MakeFolder("shots/"));
        QDir().mkpath(folder_);
    }
    void Grab(QWidget *widget, const QString &name) {
        QApplication::processEvents();
        const QImage image = widget->grab().toImage();
        ASSERT_FALSE(image.isNull()) << name.toStdString();
        // A picture of one colour shows nothing at all.
        const QRgb first = image.pixel(0, 0);
        bool varied = false;
        for (int y = 0; y < image.height() && !varied; y += 3)
            for (int x = 0; x < image.width() && !varied; x += 3) varied = image.pixel(x, y) != first;
        EXPECT_TRUE(varied) << name.toStdString();
        EXPECT_TRUE(image.save(folder_ + "/" + name + ".png")) << name.toStdString();
        shots_.push_back(name);
    }
    template <typename D> void GrabDialog(D &dialog, const QString &name) {
        dialog.show();
        Grab(&dialog, name);
        dialog.hide();
    }
    QString folder_;
    QStringList shots_;
};

TEST_F(ScreenshotsTest, EveryPageAndDialog) {
    ASSERT_TRUE(QFontMetrics(QApplication::font()).inFont(QChar('A'))) << "no font: install fonts-dejavu-core";
    options_.useMyDocuments = 0;
    options_.outputFolder = out_;
    MainWindow &w = Open();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    Grab(&w, "1-task");
    Click("next");
    w.Files()->AddFiles({QString::fromStdString(SampleCopy("first.pdf")), QString::fromStdString(SampleCopy("second.pdf"))});
    Grab(&w, "2-file-list");
    Click("next");
    Grab(&w, "3-options");

    // The converting page while a document is in work (a converter that waits to be cancelled).
    std::atomic<bool> started{false};
    w.Run().SetConverter([&](qm::PdfDocument &, qm::ConversionJob &job) {
        job.ReportProgress(40);
        started = true;
        while (!job.CancelRequested()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return qm::ConvertedDocument{qm::ConvertResult::Cancelled, {}};
    });
    Click("next");
    ASSERT_TRUE(QTest::qWaitFor([&] { return started.load() && Find<QLabel>("percentLabel")->text() == "40%"; }, 30000));
    Grab(&w, "4-converting");
    Click("cancel");
    ASSERT_TRUE(WaitForPage(MainWindow::kFinishedPage, 30000));

    // A real run over one PDF: the book builder, then the finished page.
    w.Run().SetConverter(nullptr);
    Click("prev");
    Click("prev");
    Find<QListWidget>("fileNames")->setCurrentRow(1);
    Click("deleteFile");
    Click("next");
    Click("next");
    ASSERT_TRUE(WaitForPage(MainWindow::kBookBuilderPage));
    Grab(&w, "5-book-builder");
    Click("next");
    ASSERT_EQ(w.CurrentPage(), MainWindow::kFinishedPage);
    Grab(&w, "6-finished");

    qm::OptionsDialog options(options_, false, &w);
    GrabDialog(options, "dialog-options");
    qm::BookInfoDialog info(qm::BookInfo{"My book", "Me", "Notes", "", false}, false, &w);
    GrabDialog(info, "dialog-set-ebook-title");
    qm::EditBeforeOutputDialog edit(w.Run().State().producedBooks.empty()
                                        ? std::vector<std::string>{out_ + "first.epub"}
                                        : w.Run().State().producedBooks,
                                    &w);
    GrabDialog(edit, "dialog-edit-before-output");
    qm::WaitDialog wait(std::make_shared<std::atomic<bool>>(false), &w);
    GrabDialog(wait, "dialog-wait");
    std::unique_ptr<QDialog> about(MainWindow::MakeAboutDialog(&w));
    GrabDialog(*about, "dialog-about");
    EXPECT_EQ(shots_.size(), 11);
}

TEST_F(ScreenshotsTest, TheInteractiveConverterAndItsPreview) {
    ASSERT_TRUE(QFontMetrics(QApplication::font()).inFont(QChar('A'))) << "no font: install fonts-dejavu-core";
    options_.useMyDocuments = 0;
    options_.outputFolder = out_;
    options_.parseMode = static_cast<int32_t>(qm::ParseMode::Strict);
    // The preview popup in a small reader's size.
    options_.previewWidth = 360;
    options_.previewHeight = 480;
    MainWindow &w = Open();
    Click("next");
    w.Files()->AddFiles({QString::fromStdString(SampleCopy("sample.pdf"))});
    Click("next");
    bool shown = false;
    qmtest::WhenConverterOpens(w, [&](qm::InteractiveConvertDialog &dialog) {
        shown = true;
        // The page with the photograph and the chart: the chart marked "to Graphic", the
        // caption under it excluded, the paragraph below selected.
        dialog.ShowPage(4);
        qm::RegionEditor &editor = dialog.Editor();
        qmtest::BandCommand(dialog.View(), qmtest::OnScreen(editor, 320, 105, 550, 300), qm::PageView::ToGraphic);
        qmtest::BandCommand(dialog.View(), qmtest::OnScreen(editor, 320, 318, 545, 336), qm::PageView::Disable);
        qmtest::BandCommand(dialog.View(), qmtest::OnScreen(editor, 60, 360, 560, 400), 0);
        Grab(&dialog, "7-interactive-converter");
        // The page as a reader shows it, in the window's own preview popup.
        qm::PreviewWindow *preview = dialog.Preview();
        ASSERT_NE(preview, nullptr);
        bool loaded = false;
        QObject::connect(preview, &qm::PreviewWindow::previewLoaded, preview, [&](bool ok) { loaded = ok; });
        EXPECT_EQ(preview->UpdatePreview(), 0);
        EXPECT_TRUE(QTest::qWaitFor([&] { return loaded; }, 30000));
        QTest::qWait(300);  // the engine paints a moment after the page has loaded
        Grab(preview, "8-preview");
        QTest::mouseClick(dialog.OkButton(), Qt::LeftButton);
    });
    Click("next");
    ASSERT_TRUE(WaitForPage(MainWindow::kBookBuilderPage));
    EXPECT_TRUE(shown);
    EXPECT_EQ(shots_.size(), 2);
}

} // namespace
