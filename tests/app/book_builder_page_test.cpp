// The book builder page: the four lists kept in step, Up/Down/Set/Delete and their rules, what
// Open Folder and Preview open, the title dialog on entering, and books built from the user's
// documents and from a single PDF's content files.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <map>
#include <optional>

#include "app/book_builder_page.h"
#include "app/book_info_dialog.h"
#include "epub/zip_reader.h"
#include "platform/paths.h"
#include "epub/book_fixture.h"
#include "support/recording_prompt.h"
#include "support/temp_dir.h"
#include "worker/conversion_worker.h"

namespace {

const char *kPage = "<html><head><title>x</title></head><body><p>Text of %s</p></body></html>\n";

std::map<std::string, std::string> BookEntries(const std::string &epub) {
    std::map<std::string, std::string> out;
    std::string bytes;
    if (!qm::ReadFile(epub, bytes)) return out;
    for (auto &e : qmtest::ReadZipArchive(bytes).entries) out[e.name] = e.data;
    return out;
}

std::string EntryEndingIn(const std::map<std::string, std::string> &entries, const std::string &suffix) {
    for (const auto &[name, data] : entries)
        if (name.size() >= suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
            return data;
    return {};
}

class BookBuilderPageTest : public ::testing::Test {
protected:
    qmtest::TempDir dir;
    qmtest::TempDir temp;
    std::optional<qmtest::ScopedEnv> tmpEnv;
    qm::ConversionOptions options;
    qmtest::RecordingPrompt prompt;
    qm::RunState state;
    std::unique_ptr<qm::BookBuilderPage> page;
    std::vector<std::string> paths, names;

    void SetUp() override {
        tmpEnv.emplace("TMPDIR", temp.Path().c_str());
        options.outputFolder = dir.File("out/");
        ASSERT_TRUE(qm::CreateFolder(dir.File("out")));
        ASSERT_TRUE(qm::CreateFolder(dir.File("docs")));
        for (const char *name : {"a.html", "b.html"}) {
            char text[200];
            std::snprintf(text, sizeof text, kPage, name);
            ASSERT_TRUE(qm::WriteFile(dir.File(std::string("docs/") + name), text));
            paths.push_back(dir.File(std::string("docs/") + name));
            names.push_back(name);
        }
        ASSERT_TRUE(qm::WriteFile(dir.File("docs/pic.png"), qmtest::TinyPng()));
        page = std::make_unique<qm::BookBuilderPage>(options, prompt);
        page->resize(500, 400);
    }

    void EnterDocuments(const std::vector<std::string> &p, const std::vector<std::string> &n) {
        options.taskKind = static_cast<int32_t>(qm::TaskKind::DocumentsToEpub);
        page->SetAskTitle(false);
        page->Enter(p, n, state);
    }

    template <typename T> T *Find(const char *name) {
        T *w = page->findChild<T *>(name);
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    QListWidget *Names() { return Find<QListWidget>("namesList"); }
    void Click(const char *name) { QTest::mouseClick(Find<QPushButton>(name), Qt::LeftButton); }
    void Select(int row) { Names()->setCurrentRow(row); }
    std::vector<std::string> Column(std::string qm::BookBuilderPage::Entry::*field) {
        std::vector<std::string> out;
        for (const auto &e : page->Entries()) out.push_back(e.*field);
        return out;
    }
};

TEST_F(BookBuilderPageTest, ListsStayInStepThroughUpDownSetAndDelete) {
    EnterDocuments(paths, names);
    page->AddFiles({QString::fromStdString(dir.File("docs/pic.png")), QString::fromStdString(dir.File("docs/my.notes.txt"))});
    EXPECT_EQ(Column(&qm::BookBuilderPage::Entry::name),
              (std::vector<std::string>{"a.html", "b.html", "pic.png", "my.notes.txt"}));
    // Titles of documents run up to the first dot; every guide type is "0".
    EXPECT_EQ(Column(&qm::BookBuilderPage::Entry::title), (std::vector<std::string>{"a", "b", "pic", "my"}));
    EXPECT_EQ(Column(&qm::BookBuilderPage::Entry::guideType), (std::vector<std::string>(4, "0")));
    EXPECT_FALSE(Find<QPushButton>("deleteButton")->isEnabled());
    EXPECT_FALSE(Find<QPushButton>("previewButton")->isEnabled());

    // Without a selection Up, Down and Set say so and are disabled until the next selection.
    for (const char *button : {"upButton", "downButton", "setButton"}) {
        Click(button);
        EXPECT_FALSE(Find<QPushButton>(button)->isEnabled()) << button;
    }
    EXPECT_EQ(prompt.messages, std::vector<std::string>(3, "Please select a item first."));
    Select(1);
    for (const char *button : {"upButton", "downButton", "setButton", "deleteButton", "previewButton"})
        EXPECT_TRUE(Find<QPushButton>(button)->isEnabled()) << button;
    EXPECT_EQ(Find<QLineEdit>("titleEdit")->text(), "b");

    Click("upButton");
    EXPECT_EQ(Names()->currentRow(), 0);
    Click("upButton");  // already first: nothing moves
    EXPECT_EQ(Column(&qm::BookBuilderPage::Entry::path),
              (std::vector<std::string>{paths[1], paths[0], dir.File("docs/pic.png"), dir.File("docs/my.notes.txt")}));
    EXPECT_EQ(Column(&qm::BookBuilderPage::Entry::title), (std::vector<std::string>{"b", "a", "pic", "my"}));

    // A picture cannot be moved or titled.
    Select(2);
    for (const char *button : {"upButton", "downButton", "setButton"})
        EXPECT_FALSE(Find<QPushButton>(button)->isEnabled()) << button;
    EXPECT_FALSE(Find<QLineEdit>("titleEdit")->isEnabled());
    EXPECT_TRUE(Find<QPushButton>("deleteButton")->isEnabled());
    Click("deleteButton");
    EXPECT_EQ(Column(&qm::BookBuilderPage::Entry::name), (std::vector<std::string>{"b.html", "a.html", "my.notes.txt"}));
    EXPECT_EQ(Column(&qm::BookBuilderPage::Entry::title), (std::vector<std::string>{"b", "a", "my"}));

    // Set renames the selected entry only; Down at the end moves nothing.
    Select(2);
    EXPECT_TRUE(Find<QLineEdit>("titleEdit")->isEnabled());
    Find<QLineEdit>("titleEdit")->setText("Notes");
    Click("setButton");
    Click("downButton");
    EXPECT_EQ(Column(&qm::BookBuilderPage::Entry::title), (std::vector<std::string>{"b", "a", "Notes"}));
    EXPECT_EQ(Column(&qm::BookBuilderPage::Entry::name).back(), "my.notes.txt");

    // Deleting everything leaves nothing to delete or preview.
    for (int i = 0; i < 3; ++i) {
        Select(0);
        Click("deleteButton");
    }
    EXPECT_TRUE(page->Entries().empty());
    EXPECT_FALSE(Find<QPushButton>("deleteButton")->isEnabled());
    EXPECT_FALSE(Find<QPushButton>("previewButton")->isEnabled());
}

TEST_F(BookBuilderPageTest, OpenFolderAndPreviewOpenTheDocumentsPlaces) {
    std::vector<QString> opened;
    page->SetOpener([&](const QString &path) { opened.push_back(path); });
    EnterDocuments(paths, names);
    Click("openFolderButton");
    Select(1);
    Click("previewButton");
    ASSERT_EQ(opened.size(), 2u);
    EXPECT_EQ(opened[0], QString::fromStdString(dir.File("docs/")));  // the first listed document's folder
    EXPECT_EQ(opened[1], QString::fromStdString(paths[1]));

    // Files added on this page alone: the folder of the first of them.
    EnterDocuments({}, {});
    page->AddFiles({QString::fromStdString(dir.File("docs/pic.png"))});
    Click("openFolderButton");
    ASSERT_EQ(opened.size(), 3u);
    EXPECT_EQ(opened[2], QString::fromStdString(dir.File("docs/")));
}

TEST_F(BookBuilderPageTest, DocumentsBookFollowsTheListAndOwnsItsStagingFolder) {
    // Something else of the temporary folder that the build must leave alone.
    ASSERT_TRUE(qm::WriteFile(temp.File("keep.txt"), "not the builder's"));
    EnterDocuments(paths, names);
    Select(1);
    Click("upButton");  // b, a
    Select(1);
    Find<QLineEdit>("titleEdit")->setText("Chapter A");
    Click("setButton");
    // Cancel in the wait dialog does not leave the build behind: the book is still made.
    QTimer canceller;
    QObject::connect(&canceller, &QTimer::timeout, [&] {
        if (auto *cancel = QApplication::activeModalWidget()
                               ? QApplication::activeModalWidget()->findChild<QPushButton *>("waitCancel")
                               : nullptr) {
            cancel->click();
            canceller.stop();
        }
    });
    canceller.start(1);
    ASSERT_TRUE(page->BuildBook());

    const std::string book = dir.File("out/a.epub");  // named after the first listed file
    EXPECT_EQ(state.successCount, 1);
    EXPECT_EQ(state.lastOutputPath, book);
    EXPECT_EQ(state.producedBooks, std::vector<std::string>{book});
    auto entries = BookEntries(book);
    const std::string opf = EntryEndingIn(entries, ".opf");
    const size_t b = opf.find("<itemref idref=\"b\""), a = opf.find("<itemref idref=\"a\"");
    ASSERT_NE(a, std::string::npos) << opf;
    ASSERT_NE(b, std::string::npos) << opf;
    EXPECT_LT(b, a);
    const std::string ncx = EntryEndingIn(entries, ".ncx");
    EXPECT_NE(ncx.find("<text>Chapter A</text>"), std::string::npos) << ncx;
    EXPECT_NE(ncx.find("<text>b</text>"), std::string::npos) << ncx;
    std::string report;
    EXPECT_TRUE(qmtest::EpubCheck(book, &report)) << report;

    // The staging folder was the build's own: the rest of the temporary folder is untouched and
    // nothing of the build is left; the user's documents stay.
    EXPECT_EQ(qmtest::ListFolder(temp.Path()), std::vector<std::string>{"keep.txt"});
    EXPECT_TRUE(qm::FileExists(paths[0]));
    EXPECT_TRUE(qm::FileExists(paths[1]));
}

TEST_F(BookBuilderPageTest, SinglePdfContentFilesWithTheTitleDialog) {
    options.taskKind = static_cast<int32_t>(qm::TaskKind::PdfToEpub);
    const std::string pdf = std::string(QM_SOURCE_DIR) + "/samples/sample.pdf";
    qm::ConversionObserver observer;
    qm::ConversionRun run(options, prompt, observer);
    run.retryDelayMs = 0;
    ASSERT_EQ(run.StartConversion({pdf}, {"sample.pdf"}, true), qm::StartResult::Started);
    run.Wait();
    qm::RunState &s = run.State();
    ASSERT_FALSE(s.producedFiles.empty());

    std::vector<QString> opened;
    page->SetOpener([&](const QString &path) { opened.push_back(path); });
    // The title dialog opens filled with the PDF's own metadata, without "same as source pdf".
    QString shownTitle;
    bool checkBoxShown = true;
    QTimer::singleShot(0, [&] {
        auto *dialog = qobject_cast<qm::BookInfoDialog *>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        auto *title = dialog->findChild<QLineEdit *>("titleEdit");
        shownTitle = title->text();
        checkBoxShown = !dialog->findChild<QWidget *>("sameAsSourceCheck")->isHidden();
        title->setText("Edited Title");
        dialog->findChild<QPushButton *>("okButton")->click();
    });
    page->Enter({pdf}, {"sample.pdf"}, s);
    EXPECT_EQ(shownTitle, QString::fromStdString(s.sourceTitle));
    EXPECT_FALSE(checkBoxShown);
    EXPECT_EQ(page->Metadata().title, "Edited Title");
    EXPECT_EQ(page->Metadata().creator, s.sourceAuthor);

    // The content files in book order, titled up to their last dot.
    const auto entries = page->Entries();
    ASSERT_EQ(entries.size(), s.producedFiles.size());
    for (size_t i = 0; i < entries.size(); ++i) {
        EXPECT_EQ(entries[i].path, s.producedFiles[i]);
        EXPECT_EQ(entries[i].title, entries[i].name.substr(0, entries[i].name.rfind('.')));
    }
    Click("openFolderButton");
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0], QString::fromStdString(s.workRoot + "/"));

    ASSERT_TRUE(page->BuildBook());
    const std::string book = dir.File("out/sample.epub");
    EXPECT_EQ(s.lastOutputPath, book);
    EXPECT_NE(EntryEndingIn(BookEntries(book), ".opf").find("Edited Title"), std::string::npos);
    std::string report;
    EXPECT_TRUE(qmtest::EpubCheck(book, &report)) << report;
    EXPECT_FALSE(qm::FolderExists(s.workRoot));  // the content files went with their folder
    run.Finish();
    EXPECT_TRUE(qmtest::ListFolder(temp.Path()).empty());
}

} // namespace
