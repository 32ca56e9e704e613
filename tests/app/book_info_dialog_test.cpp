// "Set eBook Title": the check box locks the edits but keeps their texts, and only OK transfers.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "app/book_info_dialog.h"

namespace {

TEST(BookInfoDialogTest, SameAsSourceDisablesButKeepsTextsAndOnlyOkTransfers) {
    const qm::BookInfo given{"Title", "Creator", "Subject", "Author", false};
    for (bool ok : {false, true}) {
        qm::BookInfoDialog dialog(given, false);
        EXPECT_EQ(dialog.windowTitle(), "Set eBook Title");
        auto *title = dialog.findChild<QLineEdit *>("titleEdit");
        auto *check = dialog.findChild<QCheckBox *>("sameAsSourceCheck");
        ASSERT_TRUE(title && check);
        EXPECT_TRUE(title->isEnabled());
        QTimer::singleShot(0, &dialog, [&] {
            title->setText("New");
            check->click();
            EXPECT_FALSE(title->isEnabled());
            EXPECT_FALSE(dialog.findChild<QLineEdit *>("subjectEdit")->isEnabled());
            EXPECT_EQ(title->text(), "New");
            dialog.findChild<QPushButton *>(ok ? "okButton" : "cancelButton")->click();
        });
        EXPECT_EQ(dialog.exec(), ok ? int(QDialog::Accepted) : int(QDialog::Rejected));
        const qm::BookInfo v = dialog.Values();
        EXPECT_EQ(v.title, ok ? "New" : "Title");
        EXPECT_EQ(v.sameAsSource, ok);
        EXPECT_EQ(v.creator, "Creator");
        EXPECT_EQ(v.author, "Author");  // never shown, still carried
    }
}

TEST(BookInfoDialogTest, HiddenCheckBoxNeverLocksTheEdits) {
    qm::BookInfoDialog dialog({"T", "C", "S", "", true}, true);
    dialog.show();
    EXPECT_FALSE(dialog.findChild<QCheckBox *>("sameAsSourceCheck")->isVisible());
    EXPECT_TRUE(dialog.findChild<QLineEdit *>("titleEdit")->isEnabled());
}

} // namespace
