// The e-book preview popup: its collapse tab, the reader-size list, the size kept in the options,
// dragging, and the page it writes and shows.
#include <QComboBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QWebEngineView>
#include <gtest/gtest.h>

#include "interactive/preview_window.h"
#include "options/conversion_job.h"
#include "pdf/pdf_document.h"
#include "platform/paths.h"
#include "support/pdf_fixture.h"
#include "support/recording_prompt.h"
#include "support/temp_dir.h"
#include "xhtml/document_converter.h"

namespace {

TEST(PreviewWindowSizes, ReaderItemsCarryTheirSizeAndTheFirstNone) {
    const QStringList items = qm::PreviewWindow::ReaderSizeItems();
    ASSERT_EQ(items.size(), 40);
    EXPECT_EQ(items[0], "(Select Reader Screen Size)");
    EXPECT_FALSE(qm::PreviewWindow::ParseReaderSize(items[0]).isValid());
    EXPECT_EQ(items[8], QString::fromUtf8("Kindle Dx(825\u00d71200)"));
    // Names with commas and digits of their own still give the size in the brackets.
    EXPECT_EQ(items[1], QString::fromUtf8("Sony Reader5,7,3,6(600\u00d7800)"));
    EXPECT_EQ(qm::PreviewWindow::ParseReaderSize(items[1]), QSize(600, 800));
    EXPECT_EQ(qm::PreviewWindow::ParseReaderSize(items[39]), QSize(1024, 600));
    // Texts without a whole size give none.
    EXPECT_FALSE(qm::PreviewWindow::ParseReaderSize("Odd(600x800)").isValid());
    EXPECT_FALSE(qm::PreviewWindow::ParseReaderSize(QString::fromUtf8("Odd(\u00d7800)")).isValid());
}

TEST(PreviewWindowSizes, ChoosingAReaderSizesThePopupAndTheFirstItemChangesNothing) {
    qm::ConversionOptions options;
    qm::PreviewWindow w(options);
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    w.resize(300, 400);
    w.ReaderSizes()->setCurrentIndex(8);  // Kindle Dx
    EXPECT_EQ(w.size(), QSize(825, 1220));
    EXPECT_EQ(options.previewWidth, 825);
    EXPECT_EQ(options.previewHeight, 1220);
    w.ReaderSizes()->setCurrentIndex(0);
    EXPECT_EQ(w.size(), QSize(825, 1220));
    // The browser fills the window below the tab row.
    const int top = w.ToggleButton()->height() + 3;
    EXPECT_EQ(w.Browser()->geometry(), QRect(0, top, 825, 1220 - top));
}

TEST(PreviewWindowCollapse, CollapsingKeepsTheExpandedSizeAndTheStateSurvivesARestart) {
    qm::ConversionOptions options;
    {
        qm::PreviewWindow w(options);
        EXPECT_EQ(w.size(), QSize(100, 200));  // never sized before
        EXPECT_EQ(w.ToggleButton()->text(), "-");
        w.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
        w.resize(500, 600);
        QTest::mouseClick(w.ToggleButton(), Qt::LeftButton);
        EXPECT_TRUE(w.Collapsed());
        EXPECT_EQ(w.ToggleButton()->text(), "+");
        EXPECT_LT(w.width(), 500);
        EXPECT_EQ(w.height(), w.ToggleButton()->height() + 5);
        EXPECT_FALSE(w.Browser()->isVisible());
        // The collapsed tab is not taken for the expanded size.
        EXPECT_EQ(options.previewWidth, 500);
        EXPECT_EQ(options.previewHeight, 600);
        EXPECT_EQ(options.previewExpanded, 0);
        QTest::mouseClick(w.ToggleButton(), Qt::LeftButton);
        EXPECT_EQ(w.size(), QSize(500, 600));
        EXPECT_EQ(options.previewExpanded, 1);
        QTest::mouseClick(w.ToggleButton(), Qt::LeftButton);
    }
    // A new popup (the next document, or the next start with the saved options) opens as left.
    qm::PreviewWindow again(options);
    EXPECT_TRUE(again.Collapsed());
    EXPECT_EQ(again.ToggleButton()->text(), "+");
    EXPECT_EQ(again.ExpandedSize(), QSize(500, 600));
    again.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&again));
    QTest::mouseClick(again.ToggleButton(), Qt::LeftButton);
    EXPECT_EQ(again.size(), QSize(500, 600));
}

TEST(PreviewWindowDrag, APressOnTheSurfaceMovesTheCaptionlessPopup) {
    qm::ConversionOptions options;
    qm::PreviewWindow w(options);
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    w.resize(300, 300);
    w.move(100, 100);
    const QPoint start = w.pos();
    // Below the toggle button, above the browser: the popup's own surface.
    const QPoint grip(2, w.ToggleButton()->height() + 1);
    ASSERT_EQ(w.childAt(grip), nullptr);
    QTest::mousePress(&w, Qt::LeftButton, {}, grip);
    QMouseEvent move(QEvent::MouseMove, QPointF(grip + QPoint(40, 30)), w.mapToGlobal(QPointF(grip + QPoint(40, 30))),
                     Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&w, &move);
    QTest::mouseRelease(&w, Qt::LeftButton, {}, grip + QPoint(40, 30));
    EXPECT_EQ(w.pos(), start + QPoint(40, 30));
}

class PreviewPageTest : public ::testing::Test {
protected:
    qmtest::TempDir dir;
    qmtest::RecordingPrompt prompt;
    qm::PdfDocument doc;
    qm::ConversionJob job;
    qm::ConversionOptions options;

    void SetUp() override {
        qmtest::PdfBuilder b;
        b.Text(b.AddPage(), 72, 700, "Preview words", 14, "Helvetica-Bold");
        ASSERT_TRUE(b.Save(dir.File("one.pdf")));
        doc.SetPrompt(&prompt);
        ASSERT_EQ(doc.Open(dir.File("one.pdf"), "", ""), qm::OpenResult::Opened);
        job.workFolder = dir.File("work/");
        qm::CreateFolder(job.workFolder);
        job.scratchFolder = dir.File("scratch/");
    }
    std::string Read(const std::string &path) {
        std::string text;
        qm::ReadFile(path, text);
        return text;
    }
};

TEST_F(PreviewPageTest, ThePageIsWrittenWithItsOwnSheetAndLoads) {
    qm::DocumentConverter converter(doc, job);
    ASSERT_EQ(converter.CapturePage(1), qm::CaptureResult::Captured);
    // Left over from an earlier preview: must go.
    qm::CreateFolders(job.scratchFolder);
    ASSERT_TRUE(qm::WriteFile(job.scratchFolder + "image-1.png", "old"));
    qm::PreviewWindow w(options);
    w.SetConverter(&converter);
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    QSignalSpy loaded(&w, &qm::PreviewWindow::previewLoaded);
    ASSERT_EQ(w.UpdatePreview(), 0);
    EXPECT_EQ(w.ShownFile().toStdString(), job.scratchFolder + "preview.html");
    EXPECT_EQ(qmtest::ListFolder(job.scratchFolder), (std::vector<std::string>{"preview.html", "styles.css"}));
    const std::string page = Read(job.scratchFolder + "preview.html");
    EXPECT_NE(page.find("Preview words"), std::string::npos);
    EXPECT_NE(page.find("styles.css"), std::string::npos);
    // The span classes of the page are in the preview's sheet, not in a book's.
    EXPECT_NE(Read(job.scratchFolder + "styles.css").find("span.bold"), std::string::npos);
    EXPECT_TRUE(qmtest::ListFolder(job.workFolder).empty());
    ASSERT_TRUE(loaded.wait(20000) || loaded.count() > 0);
    EXPECT_TRUE(loaded.takeFirst().at(0).toBool());
}

TEST_F(PreviewPageTest, ANoOutputPageShowsAnEmptyPage) {
    qm::DocumentConverter converter(doc, job);
    ASSERT_EQ(converter.CapturePage(1), qm::CaptureResult::Captured);
    converter.Model().Current()->options.noOutput = 1;
    qm::PreviewWindow w(options);
    w.SetConverter(&converter);
    ASSERT_EQ(w.UpdatePreview(), 0);
    EXPECT_FALSE(w.ShownFile().isEmpty());
    const std::string page = Read(job.scratchFolder + "preview.html");
    EXPECT_EQ(page.find("Preview words"), std::string::npos);
    EXPECT_EQ(page.substr(page.size() - 16), "</body>\n</html>\n");
}

TEST_F(PreviewPageTest, FailuresLeaveTheOldPreviewShown) {
    qm::DocumentConverter converter(doc, job);
    ASSERT_EQ(converter.CapturePage(1), qm::CaptureResult::Captured);
    qm::PreviewWindow w(options);
    EXPECT_EQ(w.UpdatePreview(), -1);  // no document yet
    EXPECT_FALSE(qm::FolderExists(job.scratchFolder));
    w.SetConverter(&converter);
    ASSERT_EQ(w.UpdatePreview(), 0);
    const QString first = w.ShownFile();
    const std::string shownFolder = job.scratchFolder;
    job.scratchFolder = dir.Path() + std::string(500 - dir.Path().size(), 'd') + "/";
    ASSERT_EQ(job.scratchFolder.size(), 501u);
    EXPECT_EQ(w.UpdatePreview(), -2);
    EXPECT_EQ(w.ShownFile(), first);
    EXPECT_TRUE(qm::FileExists(shownFolder + "preview.html"));
    // A folder that cannot be made: nothing is written anywhere else either.
    job.scratchFolder = dir.File("one.pdf/sub/");
    EXPECT_EQ(w.UpdatePreview(), -3);
    job.scratchFolder.clear();
    EXPECT_EQ(w.UpdatePreview(), -3);
    EXPECT_EQ(w.ShownFile(), first);
}

// A second preview starts from an empty folder: the first one's pictures go, and the numbers of
// the pictures keep counting up, so the browser never shows a stale picture under an old name.
TEST_F(PreviewPageTest, ASecondPreviewReplacesTheFirstPictures) {
    qmtest::PdfBuilder b;
    const int p = b.AddPage();
    b.Text(p, 72, 700, "Above the picture");
    b.Image(p, 72, 300, 200, 200);
    ASSERT_TRUE(b.Save(dir.File("pic.pdf")));
    qm::PdfDocument pictured;
    pictured.SetPrompt(&prompt);
    ASSERT_EQ(pictured.Open(dir.File("pic.pdf"), "", ""), qm::OpenResult::Opened);
    qm::DocumentConverter converter(pictured, job);
    qm::PreviewWindow w(options);
    w.SetConverter(&converter);
    ASSERT_EQ(converter.CapturePage(1), qm::CaptureResult::Captured);
    ASSERT_EQ(w.UpdatePreview(), 0);
    const std::vector<std::string> first = qmtest::ListFolder(job.scratchFolder);
    ASSERT_EQ(first.size(), 3u);  // the page, its sheet and one picture
    ASSERT_EQ(converter.CapturePage(1), qm::CaptureResult::Captured);
    ASSERT_EQ(w.UpdatePreview(), 0);
    const std::vector<std::string> second = qmtest::ListFolder(job.scratchFolder);
    ASSERT_EQ(second.size(), 3u);
    EXPECT_NE(first[0], second[0]);
    EXPECT_LT(first[0], second[0]);  // image-1.png, then image-2.png
    EXPECT_NE(Read(job.scratchFolder + "preview.html").find(second[0]), std::string::npos);
    EXPECT_TRUE(qmtest::ListFolder(job.workFolder).empty());
}

// The preview has its own style sheet: previewing a page after the book was written leaves the
// book's sheet as it was, and the preview's sheet still gets the page's rules.
TEST_F(PreviewPageTest, APreviewLeavesTheBooksStyleSheetAlone) {
    qm::DocumentConverter converter(doc, job);
    ASSERT_EQ(converter.Convert(), qm::ConvertResult::Done);
    const std::string bookSheet = job.workFolder + "styles.css";
    const std::string before = Read(bookSheet);
    ASSERT_NE(before.find("span.bold"), std::string::npos);
    qm::PreviewWindow w(options);
    w.SetConverter(&converter);
    ASSERT_EQ(converter.CapturePage(1), qm::CaptureResult::Captured);
    ASSERT_EQ(w.UpdatePreview(), 0);
    EXPECT_EQ(Read(bookSheet), before);
    EXPECT_NE(Read(job.scratchFolder + "styles.css").find("span.bold"), std::string::npos);
    ASSERT_NE(converter.Styles(), nullptr);
    EXPECT_EQ(converter.Styles()->StyleSheetPath(), bookSheet);
}

} // namespace
