// "Edit Before Output": the produced books, the editor it finds, and "Edit" without a selection.
#include <gtest/gtest.h>

#include <QApplication>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <sys/stat.h>

#include "gui_support/box_answerer.h"
#include "app/edit_before_output_dialog.h"
#include "platform/paths.h"
#include "support/temp_dir.h"

namespace {

TEST(EditBeforeOutputTest, EditNeedsASelectionAndStartsTheEditorWithTheBook) {
    qmtest::TempDir dir;
    // An editor under the program folder wins over one on the PATH.
    ASSERT_TRUE(qm::CreateFolders(dir.File("prog/editor")));
    ASSERT_TRUE(qm::CreateFolder(dir.File("bin")));
    for (const std::string &f : {dir.File("prog/editor/sigil"), dir.File("bin/sigil")}) {
        ASSERT_TRUE(qm::WriteFile(f, "#!/bin/sh\n"));
        ASSERT_EQ(chmod(f.c_str(), 0755), 0);
    }
    qmtest::ScopedEnv path("PATH", dir.File("bin").c_str());
    EXPECT_EQ(qm::EditBeforeOutputDialog::FindEditor(QString::fromStdString(dir.File("prog/"))),
              QString::fromStdString(dir.File("prog/editor/sigil")));
    EXPECT_EQ(qm::EditBeforeOutputDialog::FindEditor(QString::fromStdString(dir.File("elsewhere/"))),
              QString::fromStdString(dir.File("bin/sigil")));
    qm::EditBeforeOutputDialog dialog({"/books/a.epub", "/books/b.epub"});
    EXPECT_EQ(dialog.windowTitle(), "Edit Before Output");
    auto *list = dialog.findChild<QListWidget *>("bookList");
    ASSERT_EQ(list->count(), 2);
    std::vector<QString> started;
    dialog.SetLauncher([&](const QString &, const QString &book) {
        started.push_back(book);
        return true;
    });
    BoxAnswerer answerer;
    dialog.findChild<QPushButton *>("editButton")->click();
    EXPECT_EQ(answerer.LastText(), "Please select a file first!");
    EXPECT_TRUE(started.empty());

    list->setCurrentRow(1);
    dialog.findChild<QPushButton *>("editButton")->click();
    // The editor is looked up under the real program folder, then on the PATH (bin/sigil here).
    EXPECT_EQ(started, std::vector<QString>{"/books/b.epub"});

    // No editor anywhere: nothing starts and nothing is said.
    qmtest::ScopedEnv nowhere("PATH", dir.File("empty").c_str());
    answerer.texts.clear();
    dialog.findChild<QPushButton *>("editButton")->click();
    EXPECT_EQ(started.size(), 1u);
    EXPECT_TRUE(answerer.texts.isEmpty());
}

} // namespace
