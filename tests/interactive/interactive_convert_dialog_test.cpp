// The interactive converter window: thumbnails loaded on their own thread and closing refused
// meanwhile, navigation and "Go", the page option controls and their enabling, page defaults and
// options for several pages, font scale and resolution lists, the preview, and edits files.
#include <QCheckBox>
#include <QCoreApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <thread>

#include "gui_support/box_answerer.h"
#include "interactive/interactive_convert_dialog.h"
#include "interactive/page_view.h"
#include "interactive/preview_window.h"
#include "options/conversion_job.h"
#include "platform/paths.h"
#include "support/pdf_fixture.h"
#include "support/recording_prompt.h"
#include "support/temp_dir.h"
#include "ui/page_thumbnail_list.h"
#include "xhtml/document_converter.h"
#include "xhtml/strict_session.h"

namespace {

using qm::InteractiveConvertDialog;

// A document whose page i holds "Alpha i", "Beta i" and "Gamma i", one under the other.
bool WritePages(const std::string &path, int pages) {
    qmtest::PdfBuilder b;
    for (int i = 1; i <= pages; ++i) {
        const int p = b.AddPage(400, 400);
        b.Text(p, 40, 330, "Alpha " + std::to_string(i), 14);
        b.Text(p, 40, 200, "Beta " + std::to_string(i), 14);
        b.Text(p, 40, 70, "Gamma " + std::to_string(i), 14);
    }
    return b.Save(path);
}

// One open document with its converter, as a Strict run holds it while the window is open.
struct Opened {
    qmtest::RecordingPrompt prompt;
    qm::PdfDocument doc;
    qm::ConversionJob job;
    std::unique_ptr<qm::DocumentConverter> converter;
    std::unique_ptr<qm::StrictSession> session;

    bool Open(const std::string &path, const std::string &folder) {
        doc.SetPrompt(&prompt);
        if (doc.Open(path, "", "") != qm::OpenResult::Opened) return false;
        job.parseMode = static_cast<int32_t>(qm::ParseMode::Strict);
        job.workFolder = folder + "work/";
        job.scratchFolder = folder + "scratch/";
        qm::CreateFolders(job.workFolder);
        converter = std::make_unique<qm::DocumentConverter>(doc, job);
        session = std::make_unique<qm::StrictSession>(*converter);
        return true;
    }
    // The text of every file the conversion made, in book order.
    std::string Convert() {
        if (converter->Convert() != qm::ConvertResult::Done) return "(failed)";
        std::string all;
        for (const std::string &file : converter->ProducedFiles()) {
            std::string text;
            qm::ReadFile(file, text);
            all += text;
        }
        return all;
    }
};

bool Has(const std::string &text, const std::string &what) { return text.find(what) != std::string::npos; }

class InteractiveDialogTest : public ::testing::Test {
protected:
    qmtest::TempDir dir;
    qm::ConversionOptions options;
    Opened opened;
    std::unique_ptr<InteractiveConvertDialog> dialog;

    void Open(int pages, bool automaticPreview = false) {
        ASSERT_TRUE(WritePages(dir.File("doc.pdf"), pages));
        ASSERT_TRUE(opened.Open(dir.File("doc.pdf"), dir.File("a/")));
        options.automationPreview = automaticPreview ? 1 : 0;
        dialog = std::make_unique<InteractiveConvertDialog>(*opened.session, options);
    }
    void ShowWindow() {
        dialog->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog.get()));
    }
    template <typename T> T *Find(const char *name) {
        T *w = dialog->findChild<T *>(QString::fromUtf8(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    // A click near the left end, where a check box's indicator and text are.
    void Click(const char *name) {
        QAbstractButton *button = Find<QAbstractButton>(name);
        QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(8, button->height() / 2));
    }
    QString Counter() { return Find<QLabel>("pageCounter")->text(); }
    qm::PageLayout *Page(int n) { return opened.converter->Model().FindPageLayout(n); }
    // Loads the thumbnails and waits for the loader to finish.
    void LoadThumbnails() {
        dialog->StartThumbnails();
        QTRY_VERIFY_WITH_TIMEOUT(dialog->ThumbnailsLoaded(), 20000);
        QTRY_VERIFY(dialog->OkButton()->isEnabled());
    }
    // The first drawn text item of the shown page from the top.
    qm::PageItem *TopText() {
        qm::PageItem *top = nullptr;
        for (auto &item : opened.converter->Model().Current()->items)
            if (item->command && item->command->kind == qm::CommandKind::FillText &&
                dialog->Editor().Drawn(*item) && (!top || item->viewBox.y0 < top->viewBox.y0))
                top = item.get();
        return top;
    }
    // Selects the top text item of the shown page and disables (0) or enables (1) it.
    void SetTopEnabled(int enable) {
        qm::PageItem *item = TopText();
        ASSERT_NE(item, nullptr);
        const qm::IntBox r = dialog->Editor().View().Get(*item).screenRect;
        ASSERT_GT(dialog->Editor().SelectInRect({r.x0 - 1, r.y0 - 1, r.x1 + 1, r.y1 + 1}), 0);
        dialog->Editor().SetEnabled(enable);
    }
};

// ---- thumbnails and closing ----

TEST_F(InteractiveDialogTest, ClosingWaitsForTheThumbnailsWhichFillTheList) {
    Open(3);
    std::atomic<bool> release{false};
    std::atomic<int> rendered{0};
    dialog->SetThumbnailSource([&](int page) {
        while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ++rendered;
        return opened.doc.RenderThumbnail(page, 120, 150);
    });
    ShowWindow();
    // Whatever a failure below does, the loader must be able to finish before the window goes.
    struct Release {
        std::atomic<bool> &flag;
        ~Release() { flag = true; }
    } releaseAtEnd{release};
    dialog->StartThumbnails();
    EXPECT_FALSE(dialog->ThumbnailsLoaded());
    EXPECT_FALSE(dialog->OkButton()->isEnabled());
    QTRY_COMPARE(Counter(), QString("1/3(loading 1...)"));
    // OK (even when called directly), Escape and the close box are all refused.
    dialog->accept();
    QTest::keyClick(dialog.get(), Qt::Key_Escape);
    dialog->close();
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(dialog->result(), 0);

    release = true;
    QTRY_VERIFY_WITH_TIMEOUT(dialog->ThumbnailsLoaded(), 20000);
    QTRY_COMPARE(Counter(), QString("1/3"));
    EXPECT_TRUE(dialog->OkButton()->isEnabled());
    ASSERT_EQ(dialog->PageList()->count(), 3);
    EXPECT_EQ(rendered.load(), 3);
    EXPECT_EQ(dialog->PageList()->item(2)->text(), "page 3");
    // A second load started while the first one's pictures are still on their way to the window:
    // the list holds the second one's alone.
    dialog->StartThumbnails();
    while (!dialog->ThumbnailsLoaded()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    LoadThumbnails();
    QCoreApplication::processEvents();
    EXPECT_EQ(dialog->PageList()->count(), 3);
    // Enter does nothing; the close box now ends the window the OK way.
    QTest::keyClick(dialog.get(), Qt::Key_Return);
    EXPECT_TRUE(dialog->isVisible());
    dialog->close();
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
}

// The loader starts by itself once the window is up; a window closed at once starts none.
TEST_F(InteractiveDialogTest, ThumbnailsStartByThemselvesUnlessTheWindowClosedAtOnce) {
    Open(2);
    std::atomic<int> rendered{0};
    dialog->SetThumbnailSource([&](int page) {
        ++rendered;
        return opened.doc.RenderThumbnail(page, 120, 150);
    });
    ShowWindow();
    QTRY_COMPARE_WITH_TIMEOUT(dialog->PageList()->count(), 2, 20000);
    QTRY_VERIFY(dialog->ThumbnailsLoaded());

    dialog = std::make_unique<InteractiveConvertDialog>(*opened.session, options);
    dialog->SetThumbnailSource([&](int page) {
        ++rendered;
        return opened.doc.RenderThumbnail(page, 120, 150);
    });
    dialog->show();
    dialog->close();  // before any event is handled: the timer has not fired
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
    QTest::qWait(400);
    EXPECT_EQ(rendered.load(), 2);
    EXPECT_TRUE(dialog->ThumbnailsLoaded());
}

TEST_F(InteractiveDialogTest, AfterAFailedThumbnailEachItemStillShowsItsOwnPage) {
    Open(4);
    dialog->SetThumbnailSource([&](int page) {
        return page == 2 ? qm::Thumbnail{} : opened.doc.RenderThumbnail(page, 120, 150);
    });
    ShowWindow();
    LoadThumbnails();
    QListWidget *list = dialog->PageList();
    ASSERT_EQ(list->count(), 3);
    EXPECT_EQ(list->item(1)->text(), "page 3");
    EXPECT_EQ(list->item(2)->text(), "page 4");
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(1)).center());
    EXPECT_EQ(dialog->CurrentPage(), 3);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(0)).center());
    EXPECT_EQ(dialog->CurrentPage(), 1);
    EXPECT_EQ(Counter(), "1/4");
}

// ---- navigation ----

TEST_F(InteractiveDialogTest, OnAOnePageDocumentEveryButtonShowsPageOne) {
    Open(1);
    ShowWindow();
    for (const char *button : {"nextPage", "lastPage", "previousPage", "firstPage", "nextPage"}) {
        Click(button);
        EXPECT_EQ(dialog->CurrentPage(), 1) << button;
        EXPECT_EQ(Counter(), "1/1") << button;
    }
    ASSERT_NE(dialog->View()->Editor(), nullptr);  // the page is drawn and editable
}

TEST_F(InteractiveDialogTest, GoClampsToThePagesAndRefusesWhatIsNoNumber) {
    Open(5);
    ShowWindow();
    auto *edit = Find<QLineEdit>("goToPage");
    edit->setText("3");
    Click("goButton");
    EXPECT_EQ(dialog->CurrentPage(), 3);
    edit->setText("0");
    Click("goButton");
    EXPECT_EQ(dialog->CurrentPage(), 1);
    edit->setText("4000000000");
    Click("goButton");
    EXPECT_EQ(dialog->CurrentPage(), 5);
    EXPECT_EQ(Counter(), "5/5");
    Click("previousPage");
    EXPECT_EQ(dialog->CurrentPage(), 4);
    // Not a number: the message, then the number given last (the last page).
    BoxAnswerer answerer;
    for (const char *bad : {"abc", "-2", ""}) {
        edit->setText(bad);
        Click("goButton");
        EXPECT_EQ(answerer.LastText(), "Please enter a positive integer.") << bad;
        EXPECT_EQ(dialog->CurrentPage(), 5) << bad;
        Click("firstPage");
    }
    EXPECT_EQ(answerer.texts.size(), 3);
}

// ---- page options ----

TEST_F(InteractiveDialogTest, NoOutputAndWholePageDisableTheOtherOptions) {
    Open(2);
    ShowWindow();
    const std::vector<const char *> content = {"singleColumn", "multiColumns", "paragraphCheck", "alignCheck",
                                               "ignoreImages", "ignoreVectorGraphics"};
    auto enabled = [&](const char *name) { return Find<QWidget>(name)->isEnabled(); };
    for (const char *name : content) EXPECT_TRUE(enabled(name)) << name;
    EXPECT_EQ(Find<QRadioButton>("multiColumns")->text(), "Multi Columns");

    Click("noOutput");
    EXPECT_EQ(Page(1)->options.noOutput, 1);
    EXPECT_FALSE(enabled("imageWholePage"));
    for (const char *name : content) EXPECT_FALSE(enabled(name)) << name;
    EXPECT_TRUE(enabled("noOutput"));

    Click("noOutput");
    Click("imageWholePage");
    EXPECT_EQ(Page(1)->options.imageWholePage, 1);
    EXPECT_TRUE(enabled("imageWholePage"));
    for (const char *name : content) EXPECT_FALSE(enabled(name)) << name;
    Click("imageWholePage");
    Click("multiColumns");
    Click("paragraphCheck");
    EXPECT_EQ(Page(1)->options.columnMode, 2);
    EXPECT_EQ(Page(1)->options.paragraphCheck, 0);
    for (const char *name : content) EXPECT_TRUE(enabled(name)) << name;

    // Each page shows its own options.
    Click("nextPage");
    EXPECT_TRUE(Find<QRadioButton>("singleColumn")->isChecked());
    EXPECT_TRUE(Find<QCheckBox>("paragraphCheck")->isChecked());
    Click("firstPage");
    EXPECT_TRUE(Find<QRadioButton>("multiColumns")->isChecked());
    EXPECT_FALSE(Find<QCheckBox>("paragraphCheck")->isChecked());
}

// Pages never shown start from the defaults set on page 3; page 1, shown already, keeps its own.
TEST_F(InteractiveDialogTest, DefaultsSetOnOnePageReachThePagesNotYetShown) {
    Open(6);
    ShowWindow();
    dialog->ShowPage(3);
    Click("noOutput");
    Click("setToDefault");
    EXPECT_EQ(opened.job.pageDefaults.noOutput, 1);
    EXPECT_EQ(options.noOutput, 1);
    dialog->accept();
    const std::string book = opened.Convert();
    EXPECT_TRUE(Has(book, "Beta 1"));
    for (int page = 2; page <= 6; ++page) EXPECT_FALSE(Has(book, "Beta " + std::to_string(page))) << page;
}

TEST_F(InteractiveDialogTest, OptionsForChosenPagesKeepThePagesOwnOutputSwitches) {
    Open(4);
    ShowWindow();
    LoadThumbnails();
    dialog->ShowPage(3);
    Click("noOutput");
    Click("applyToAllPages");  // every page: no output
    for (int page = 1; page <= 4; ++page) EXPECT_EQ(Page(page)->options.noOutput, 1) << page;
    dialog->ShowPage(2);
    Click("noOutput");         // page 2 has output again
    dialog->SetPageOptionsChooser([](QWidget *, const qm::ConversionOptions &, qm::PageParseOptions &o) {
        o.columnMode = 2;
        o.ignoreImages = 1;
        o.noOutput = 1;  // the chooser offers no such switch: ignored
        return true;
    });
    QListWidget *list = dialog->PageList();
    list->item(1)->setSelected(true);
    list->item(2)->setSelected(true);
    dialog->SetParseOptionsOfSelection();
    for (int page : {2, 3}) {
        EXPECT_EQ(Page(page)->options.columnMode, 2) << page;
        EXPECT_EQ(Page(page)->options.ignoreImages, 1) << page;
    }
    EXPECT_EQ(Page(2)->options.noOutput, 0);
    EXPECT_EQ(Page(3)->options.noOutput, 1);
    EXPECT_EQ(Page(1)->options.columnMode, 1);
    // The controls show the current page's new values.
    EXPECT_TRUE(Find<QRadioButton>("multiColumns")->isChecked());
}

// ---- layout ----

// The list on the left, the option column on the right, the page between them, OK in the corner
// and the preview under "Preview Update"; the page is drawn again for the view's new size.
TEST_F(InteractiveDialogTest, ResizingPlacesTheControlsAndDrawsThePageAgain) {
    Open(1);
    ShowWindow();
    for (QSize size : {QSize(1100, 760), QSize(900, 640)}) {
        const int draws = dialog->View()->DrawCount();
        dialog->resize(size);
        QTRY_COMPARE(dialog->size(), size);
        const QRect list = dialog->PageList()->geometry();
        const QRect view = dialog->View()->geometry();
        const QRect column = Find<QCheckBox>("noOutput")->geometry();
        EXPECT_EQ(list.left(), 0);
        EXPECT_EQ(list.height(), size.height());
        EXPECT_EQ(view.left(), list.right() + 2);
        EXPECT_EQ(view.bottom(), size.height() - 1);
        EXPECT_EQ(view.right() + 1 + 4 + 3, column.left());
        EXPECT_EQ(Find<QPushButton>("previewUpdate")->x(), column.left());
        EXPECT_EQ(dialog->OkButton()->geometry().bottomRight(), QPoint(size.width() - 6, size.height() - 6));
        EXPECT_GT(dialog->View()->DrawCount(), draws);
        // The page is centred in the view at its new size.
        const QRect page = dialog->View()->PageScreenRect();
        ASSERT_FALSE(page.isEmpty());
        EXPECT_LE(std::abs(page.center().x() - view.width() / 2), 1);
        const QPoint under = dialog->mapToGlobal(Find<QPushButton>("previewUpdate")->geometry().bottomLeft());
        EXPECT_EQ(dialog->Preview()->pos(), under + QPoint(0, 4));
    }
}

// ---- font scale, resolution, preview ----

TEST_F(InteractiveDialogTest, FontScaleWithoutAutomaticPreviewWaitsForPreviewUpdate) {
    Open(1);
    ShowWindow();
    qm::PreviewWindow *preview = dialog->Preview();
    auto *scale = Find<QComboBox>("fontScale");
    EXPECT_EQ(scale->currentText(), "1.0");
    scale->setCurrentIndex(scale->findText("3.0"));
    EXPECT_EQ(opened.job.fontScale, 3.0);
    EXPECT_EQ(options.fontScaleText, "3.0");
    EXPECT_TRUE(preview->ShownFile().isEmpty());
    EXPECT_FALSE(qm::FileExists(opened.job.scratchFolder + "preview.html"));
    Click("previewUpdate");
    EXPECT_FALSE(preview->ShownFile().isEmpty());
    EXPECT_TRUE(qm::FileExists(opened.job.scratchFolder + "preview.html"));
}

TEST_F(InteractiveDialogTest, ResolutionListBoundsAreInclusiveAndStoredTextIsShown) {
    options.imageDpiText = "150";
    options.fontScaleText = "2.3";
    Open(1);
    ShowWindow();
    auto *dpi = Find<QComboBox>("imageDpi");
    EXPECT_EQ(dpi->currentText(), "150");
    EXPECT_EQ(Find<QComboBox>("fontScale")->currentText(), "2.3");
    for (const char *text : {"52", "300", "110"}) {
        dpi->setCurrentIndex(dpi->findText(text));
        const int value = std::atoi(text);
        EXPECT_EQ(opened.job.imageDpi, value) << text;
        EXPECT_EQ(options.imageDpiText, text);
        EXPECT_EQ(opened.converter->Model().outputResolution, value);
        EXPECT_EQ(opened.converter->Capture().outputDpi, value);
    }
}

TEST_F(InteractiveDialogTest, AutomaticPreviewOfANoOutputPageShowsNoText) {
    Open(2, true);
    ShowWindow();
    const std::string preview = opened.job.scratchFolder + "preview.html";
    std::string text;
    ASSERT_TRUE(qm::ReadFile(preview, text));  // previewed on opening
    EXPECT_TRUE(Has(text, "Beta 1"));
    Click("noOutput");
    ASSERT_TRUE(qm::ReadFile(preview, text));
    EXPECT_FALSE(Has(text, "Beta 1"));
    Click("nextPage");
    ASSERT_TRUE(qm::ReadFile(preview, text));
    EXPECT_TRUE(Has(text, "Beta 2"));
}

// ---- edits files ----

// Edits saved from the window and loaded into another window give the book the command line's
// --edits gives; each page gets them once, so a change made after loading stays.
TEST_F(InteractiveDialogTest, SavedEditsLoadedAgainGiveTheSameConversion) {
    Open(3);
    ShowWindow();
    dialog->ShowPage(2);
    SetTopEnabled(0);
    opened.converter->Model().SetCurrentMargins({0, 0, 0, dialog->View()->height() / 4});
    const std::string edits = dir.File("edits.json");
    ASSERT_TRUE(dialog->SaveEdits(QString::fromStdString(edits)));
    dialog.reset();

    // The command line's way: the edits in the job before the conversion.
    Opened cli;
    ASSERT_TRUE(cli.Open(dir.File("doc.pdf"), dir.File("cli/")));
    qm::PageEdits loaded;
    std::string error;
    ASSERT_TRUE(qm::LoadPageEdits(edits, loaded, error)) << error;
    cli.job.pageEdits = std::make_shared<const qm::PageEdits>(loaded);
    const std::string expected = cli.Convert();
    EXPECT_FALSE(Has(expected, "Alpha 2"));
    EXPECT_FALSE(Has(expected, "Gamma 2"));  // below the crop
    EXPECT_TRUE(Has(expected, "Beta 2"));
    EXPECT_TRUE(Has(expected, "Alpha 3"));

    // Loaded in the window, pages 2 and 3 shown before the conversion.
    Opened window;
    ASSERT_TRUE(window.Open(dir.File("doc.pdf"), dir.File("win/")));
    {
        InteractiveConvertDialog d(*window.session, options);
        ASSERT_TRUE(d.LoadEdits(QString::fromStdString(edits)));
        d.ShowPage(2);
        d.ShowPage(3);
        d.ShowPage(2);
    }
    EXPECT_EQ(window.Convert(), expected);

    // A change after loading is not undone by the conversion.
    Opened changed;
    ASSERT_TRUE(changed.Open(dir.File("doc.pdf"), dir.File("chg/")));
    dialog = std::make_unique<InteractiveConvertDialog>(*changed.session, options);
    ShowWindow();
    ASSERT_TRUE(dialog->LoadEdits(QString::fromStdString(edits)));
    dialog->ShowPage(2);
    ASSERT_EQ(TopText()->disabled, 1);
    SetTopEnabled(1);
    dialog.reset();
    EXPECT_TRUE(Has(changed.Convert(), "Alpha 2"));
}

TEST_F(InteractiveDialogTest, EditsThatCannotBeUsedAreRefusedWithAMessage) {
    Open(2);
    ShowWindow();
    BoxAnswerer answerer;
    EXPECT_FALSE(dialog->LoadEdits(QString::fromStdString(dir.File("missing.json"))));
    EXPECT_TRUE(answerer.LastText().startsWith("The edits could not be loaded"));
    // Edits for a longer document would make the conversion fail: not taken.
    ASSERT_TRUE(qm::WriteFile(dir.File("long.json"), R"({"pages": [{"pages": "5", "options": {"noOutput": true}}]})"));
    EXPECT_FALSE(dialog->LoadEdits(QString::fromStdString(dir.File("long.json"))));
    EXPECT_EQ(opened.job.pageEdits, nullptr);
    EXPECT_FALSE(dialog->SaveEdits(QString::fromStdString(dir.File("no/such/folder/e.json"))));
    EXPECT_TRUE(answerer.LastText().startsWith("The edits could not be saved"));
    EXPECT_EQ(answerer.texts.size(), 3);
}

} // namespace
