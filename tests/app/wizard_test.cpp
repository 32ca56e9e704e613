// The wizard's navigation: the button states page by page, Next/Prev/Repeat, the file list and the
// task-change rule, files from the command line, the settings file and the window's place, and
// "Save log".
#include "wizard_fixture.h"

#include <QFile>
#include <QDropEvent>
#include <QListWidget>
#include <QMimeData>
#include <QRadioButton>

#include "app/file_list_page.h"
#include "app/task_page.h"
#include "options/settings_file.h"
#include "platform/paths.h"

namespace {

using qm::MainWindow;

struct Buttons {
    bool saveLog, prev, next, repeat;
    bool operator==(const Buttons &) const = default;
};

class WizardTest : public qmtest::WizardFixture {
protected:
    Buttons Shown() {
        return {Find<QPushButton>("saveLog")->isEnabled(), Find<QPushButton>("prev")->isEnabled(),
                Find<QPushButton>("next")->isEnabled(), Find<QPushButton>("repeat")->isEnabled()};
    }
    // The page widgets that are visible now.
    int VisiblePages() {
        int n = 0;
        for (int i = 0; i < MainWindow::kPageCount; ++i) n += window_->PageWidget(i)->isVisible() ? 1 : 0;
        return n;
    }
};

TEST_F(WizardTest, FirstStartShowsTheTaskPageWithEveryButtonOnAndPrevDoesNothing) {
    MainWindow &w = Open();
    EXPECT_EQ(w.windowTitle(), "Quillmark");
    EXPECT_EQ(w.CurrentPage(), MainWindow::kTaskPage);
    EXPECT_TRUE(w.Tasks()->isVisible());
    EXPECT_EQ(VisiblePages(), 1);
    EXPECT_EQ(Shown(), (Buttons{true, true, true, true}));
    Click("prev");
    EXPECT_EQ(w.CurrentPage(), MainWindow::kTaskPage);
    Click("repeat");  // Repeat acts only on the finished page
    EXPECT_EQ(w.CurrentPage(), MainWindow::kTaskPage);
    EXPECT_EQ(Find<QPushButton>("next")->text(), "Next(&N)     ");
    EXPECT_EQ(Find<QPushButton>("prev")->text(), "      Prev(&P)");
}

TEST_F(WizardTest, NextOnAnEmptyFileListTellsAndStays) {
    MainWindow &w = Open();
    Click("next");
    ASSERT_EQ(w.CurrentPage(), MainWindow::kFileListPage);
    EXPECT_EQ(Shown(), (Buttons{false, true, true, false}));
    Click("next");
    EXPECT_EQ(w.CurrentPage(), MainWindow::kFileListPage);
    ASSERT_EQ(prompt_.messages.size(), 1u);
    EXPECT_EQ(prompt_.messages[0], "Please add the input files!");
    EXPECT_EQ(VisiblePages(), 1);
}

TEST_F(WizardTest, PrevFollowsTheTableAndTheButtonsFollowThePage) {
    MainWindow &w = Open();
    Click("next");
    w.Files()->AddFiles({QString::fromStdString(Sample())});
    Click("next");
    ASSERT_EQ(w.CurrentPage(), MainWindow::kOptionsPage);
    EXPECT_EQ(Shown(), (Buttons{false, true, true, false}));
    Click("prev");
    EXPECT_EQ(w.CurrentPage(), MainWindow::kFileListPage);
    Click("prev");
    EXPECT_EQ(w.CurrentPage(), MainWindow::kTaskPage);
    EXPECT_EQ(VisiblePages(), 1);
}

TEST_F(WizardTest, ChangingTheTaskEmptiesTheListAndKeepingItKeepsIt) {
    MainWindow &w = Open();
    Click("next");
    w.Files()->AddFiles({"/x/a.pdf", "/x/b.pdf"});
    Click("prev");
    Click("next");  // same task: the list stays
    EXPECT_EQ(w.Files()->Count(), 2);
    Click("prev");
    Click("documentsTask");
    Click("next");
    EXPECT_EQ(w.Files()->Count(), 0);
    EXPECT_EQ(options_.taskKind, 1);
    // Back to the first task, having filled the list for the second: emptied again.
    w.Files()->AddFiles({"/x/a.html"});
    Click("prev");
    Click("pdfTask");
    Click("next");
    EXPECT_EQ(w.Files()->Count(), 0);
}

TEST_F(WizardTest, TheSameFileAddedTwiceIsListedTwiceAndDeleteRemovesTheSelectedPair) {
    MainWindow &w = Open();
    Click("next");
    w.Files()->AddFiles({"/x/a.pdf", "/y/b.pdf"});
    w.Files()->AddFiles({"/x/a.pdf"});
    EXPECT_EQ(w.Files()->Paths(), (std::vector<std::string>{"/x/a.pdf", "/y/b.pdf", "/x/a.pdf"}));
    EXPECT_EQ(w.Files()->Names(), (std::vector<std::string>{"a.pdf", "b.pdf", "a.pdf"}));

    auto *names = Find<QListWidget>("fileNames");
    Click("deleteFile");  // nothing selected: nothing goes
    EXPECT_EQ(w.Files()->Count(), 3);
    names->setCurrentRow(1);
    Click("deleteFile");
    EXPECT_EQ(w.Files()->Paths(), (std::vector<std::string>{"/x/a.pdf", "/x/a.pdf"}));
    EXPECT_EQ(w.Files()->Names(), (std::vector<std::string>{"a.pdf", "a.pdf"}));
    Click("clearFiles");
    EXPECT_EQ(w.Files()->Count(), 0);
}

TEST_F(WizardTest, DroppedFilesMustSuitTheTask) {
    const std::string pdf = SampleCopy("a.pdf");
    const std::string html = MakeFolder("in/") + "page.html";
    qm::WriteFile(html, "<p>x</p>");
    using qm::FileListPage;
    EXPECT_TRUE(FileListPage::AcceptsDrop(QString::fromStdString(pdf), 0));
    EXPECT_FALSE(FileListPage::AcceptsDrop(QString::fromStdString(html), 0));
    EXPECT_TRUE(FileListPage::AcceptsDrop(QString::fromStdString(html), 1));
    EXPECT_FALSE(FileListPage::AcceptsDrop(QString::fromStdString(dir_.Path() + "in"), 0));  // a folder
    EXPECT_FALSE(FileListPage::AcceptsDrop(QString::fromStdString(dir_.File("in/missing.pdf")), 0));

    // A drop on the page lists what suits the task and leaves the rest out.
    MainWindow &w = Open();
    Click("next");
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(QString::fromStdString(pdf)), QUrl::fromLocalFile(QString::fromStdString(html))});
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w.Files(), &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w.Files(), &drop);
    EXPECT_TRUE(drop.isAccepted());
    EXPECT_EQ(w.Files()->Paths(), std::vector<std::string>{pdf});
}

TEST_F(WizardTest, FilesFromTheCommandLineAreListedForThePdfTask) {
    options_.taskKind = 1;
    options_.fileListTask = 1;
    qm::SettingsFile::Save(options_, SettingsPath());  // the last session chose documents
    const std::string a = SampleCopy("a.pdf");
    MainWindow &w = Open();
    w.AddStartupFiles({QString::fromStdString(a), QString::fromStdString(dir_.File("missing.pdf"))});
    EXPECT_EQ(Find<QRadioButton>("pdfTask")->isChecked(), true);
    Click("next");
    EXPECT_EQ(w.Files()->Paths(), std::vector<std::string>{a});
    EXPECT_TRUE(w.LogLines().join("\n").contains("missing.pdf"));
}

TEST_F(WizardTest, ClosingFromEveryPageSavesTheSettings) {
    for (int page : {MainWindow::kTaskPage, MainWindow::kFileListPage, MainWindow::kOptionsPage}) {
        SCOPED_TRACE(page);
        std::remove(SettingsPath().c_str());
        options_ = qm::ConversionOptions();
        MainWindow &w = Open();
        w.Files()->AddFiles({"/x/a.pdf"});
        for (int i = 0; i < page; ++i) Click("next");
        ASSERT_EQ(w.CurrentPage(), page);
        options_.bookTitle = "Title " + std::to_string(page);
        w.close();
        Close();
        qm::ConversionOptions loaded;
        ASSERT_EQ(qm::SettingsFile::Load(loaded, SettingsPath()), qm::SettingsLoad::Complete);
        EXPECT_EQ(loaded.bookTitle, "Title " + std::to_string(page));
    }
}

TEST_F(WizardTest, SettingsAreLoadedBeforeThePagesAndTheWindowKeepsItsPlace) {
    options_.taskKind = 1;
    options_.fileListTask = 1;
    options_.useMyDocuments = 0;
    options_.outputFolder = "/somewhere/books/";
    qm::SettingsFile::Save(options_, SettingsPath());
    options_ = qm::ConversionOptions();
    MainWindow &w = Open();
    EXPECT_EQ(Find<QRadioButton>("documentsTask")->isChecked(), true);
    w.setGeometry(40, 50, 700, 560);
    const QRect placed = w.geometry();
    Close();
    EXPECT_TRUE(qm::FileExists(MainWindow::GeometryPath(SettingsPath())));
    MainWindow &again = Open();
    EXPECT_EQ(again.geometry().size(), placed.size());
    EXPECT_EQ(options_.outputFolder, "/somewhere/books/");
}

TEST_F(WizardTest, SaveLogWritesTheFrameWithCrLfInUtf8) {
    MainWindow &w = Open();
    Click("next");
    Click("next");  // "Please add the input files!" goes into the log as well
    const QString path = QString::fromStdString(dir_.File("log.txt"));
    ASSERT_TRUE(w.SaveLog(path));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), QByteArray("Converting log start---------\r\n\r\n"
                                         "Please add the input files!\r\n"
                                         "---------Converting log end\r\n\r\n"
                                         "Burning log start---------\r\n\r\n"
                                         "---------Burning log end\r\n"));
    EXPECT_FALSE(w.SaveLog(QString::fromStdString(dir_.File("no/such/folder/log.txt"))));
}

} // namespace
