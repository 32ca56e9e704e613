// Strict runs of the wizard on the bundled sample: the interactive converter opens for the
// document, a table and a picture are marked, a caption excluded and the margins cropped on every
// page through the page view; the book follows those choices, and the same choices saved to an
// edits file make the same pages with quillmark-cli. Closing the main window while the converter
// is open ends the run.
#include "wizard_fixture.h"

#include <QRadioButton>
#include <functional>
#include <map>

#include "page_view_driver.h"
#include "options/page_edits.h"
#include "platform/paths.h"
#include "support/book_entries.h"

namespace {

using qm::InteractiveConvertDialog;
using qm::MainWindow;
using qm::PageView;

using qmtest::BandCommand;
using qmtest::OnScreen;

// The content of a book: its pages, pictures and style sheet (the package files differ between a
// book the builder makes and one a conversion packages).
std::map<std::string, std::string> Contents(const std::string &epub) {
    std::map<std::string, std::string> kept;
    for (auto &[name, data] : qmtest::BookEntries(epub))
        if (name.find("page-") != std::string::npos || name.find("image-") != std::string::npos ||
            name.ends_with("styles.css"))
            kept[name] = data;
    return kept;
}

std::string PageText(const std::map<std::string, std::string> &contents) {
    std::string text;
    for (const auto &[name, data] : contents)
        if (name.ends_with(".html")) text += data;
    return text;
}

class StrictRunTest : public qmtest::WizardFixture {
protected:
    // The options page of a Strict run of the sample (copied as sample.pdf).
    MainWindow &ToOptions() {
        options_.useMyDocuments = 0;
        options_.outputFolder = out_;
        options_.parseMode = static_cast<int32_t>(qm::ParseMode::Strict);
        MainWindow &w = Open();
        Click("next");
        w.Files()->AddFiles({QString::fromStdString(SampleCopy("sample.pdf"))});
        Click("next");
        EXPECT_EQ(w.CurrentPage(), MainWindow::kOptionsPage);
        auto *strict = Find<QRadioButton>("strictMode");
        EXPECT_TRUE(strict->isEnabled());
        EXPECT_TRUE(strict->isChecked());
        return w;
    }
    // Calls `work` once inside the interactive converter, once it shows.
    void WhenConverterOpens(MainWindow &w, std::function<void(InteractiveConvertDialog &)> work) {
        qmtest::WhenConverterOpens(w, [this, work](InteractiveConvertDialog &dialog) {
            ++opened_;
            work(dialog);
        });
    }
    int opened_ = 0;
};

TEST_F(StrictRunTest, TheConvertersChoicesMakeTheBookAndTheirEditsFileTheSameBook) {
    MainWindow &w = ToOptions();
    const std::string editsPath = dir_.File("edits.json");
    WhenConverterOpens(w, [&](InteractiveConvertDialog &dialog) {
        PageView *view = dialog.View();
        qm::RegionEditor &editor = dialog.Editor();
        // Page 2: three lines of the first paragraph become a table; the top-left crop handle is
        // dragged down past the chapter title and the margins go to every page.
        dialog.ShowPage(2);
        ASSERT_EQ(view->Editor(), &editor);
        BandCommand(view, OnScreen(editor, 60, 88, 560, 136), PageView::ToTable);
        const double scale = fz_matrix_expansion(editor.Model().viewTransform);
        const qm::IntBox handle = editor.HandleScreenRects()[0];
        const QPoint grab((handle.x0 + handle.x1) / 2, (handle.y0 + handle.y1) / 2);
        const QPoint to = grab + QPoint(0, static_cast<int>(90 * scale));
        QTest::mousePress(view, Qt::LeftButton, {}, grab);
        QTest::mouseMove(view, to);
        QTest::mouseRelease(view, Qt::LeftButton, {}, to);
        const QPoint marginZone(editor.PageScreenRect().x0 + 200, editor.PageScreenRect().y0 + 20);
        QTest::mouseClick(view, Qt::RightButton, {}, marginZone);
        ASSERT_NE(view->OpenMenu(), nullptr);
        EXPECT_EQ(view->OpenMenuType(), PageView::MarginMenu);
        view->OpenMenu()->close();
        view->RunCommand(PageView::ApplyToAllPages);
        // Page 4: the bar chart becomes a picture and the caption under it is left out.
        dialog.ShowPage(4);
        BandCommand(view, OnScreen(editor, 320, 105, 550, 300), PageView::ToGraphic);
        BandCommand(view, OnScreen(editor, 320, 318, 545, 336), PageView::Disable);
        // What "Save Edits..." writes.
        std::vector<std::string> inexact;
        const qm::PageEdits edits = qm::EditsFromModel(editor.Model(), &inexact);
        EXPECT_TRUE(inexact.empty()) << inexact.front();
        std::string error;
        EXPECT_TRUE(qm::SavePageEdits(editsPath, edits, error)) << error;
        QTest::mouseClick(dialog.OkButton(), Qt::LeftButton);
    });
    Click("next");
    ASSERT_TRUE(WaitForPage(MainWindow::kBookBuilderPage));
    EXPECT_EQ(opened_, 1);
    Click("next");  // the book builder makes the book
    ASSERT_EQ(w.CurrentPage(), MainWindow::kFinishedPage);
    const std::string book = out_ + "sample.epub";
    std::string report;
    EXPECT_TRUE(qmtest::EpubCheck(book, &report)) << report;
    const auto contents = Contents(book);
    const std::string pages = PageText(contents);
    EXPECT_NE(pages.find("<table"), std::string::npos);
    EXPECT_NE(pages.find("Every evening at dusk"), std::string::npos);
    EXPECT_EQ(pages.find("Figure 2."), std::string::npos);  // excluded
    EXPECT_NE(pages.find("Figure 1."), std::string::npos);
    for (const char *outside : {"Chapter One", "Chapter Two", "Chapter Three"})
        EXPECT_EQ(pages.find(outside), std::string::npos) << outside;
    int pictures = 0;
    for (const auto &entry : contents) pictures += entry.first.find("image-") != std::string::npos;
    EXPECT_GE(pictures, 2);  // the photograph and the chart
    Close();
    EXPECT_EQ(qmtest::ListFolder(tmp_), std::vector<std::string>{});

    // The edits file gives quillmark-cli the same pages.
    const std::string cliOut = MakeFolder("cli/");
    std::string output;
    ASSERT_EQ(qmtest::RunCommand(std::string(QM_CLI_PATH) + " convert --mode strict --edits " +
                                     qmtest::ShellQuote(editsPath) + " " + qmtest::ShellQuote(Sample()) + " -o " +
                                     qmtest::ShellQuote(cliOut) + " </dev/null",
                                 &output),
              0)
        << output;
    EXPECT_EQ(Contents(cliOut + "sample.epub"), contents);
}

TEST_F(StrictRunTest, ClosingTheMainWindowWhileTheConverterIsOpenEndsTheRun) {
    MainWindow &w = ToOptions();
    WhenConverterOpens(w, [&](InteractiveConvertDialog &) { EXPECT_FALSE(w.close()); });
    Click("next");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !w.isVisible(); }, 60000));
    EXPECT_EQ(opened_, 1);
    EXPECT_EQ(w.InteractiveDialog(), nullptr);
    EXPECT_FALSE(w.RunActive());
    EXPECT_TRUE(w.LogLines().join("\n").contains("Cancelled."));
    Close();
    EXPECT_EQ(qmtest::ListFolder(tmp_), std::vector<std::string>{});
}

} // namespace
