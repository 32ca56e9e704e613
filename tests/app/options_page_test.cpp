// The options page and the "Options" dialog: folder enabling, the documents task, the cover and
// Kindle coupling, a saved Strict mode, what is stored on leaving, and the
// dialog's outline list and OK-only transfer.
#include "wizard_fixture.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QTimer>

#include "app/book_info_dialog.h"
#include "app/options_dialog.h"
#include "app/options_page.h"
#include "platform/paths.h"

namespace {

using qm::MainWindow;

class OptionsPageTest : public qmtest::WizardFixture {
protected:
    // Opens the window and goes to the options page with one file listed.
    MainWindow &ToOptions() {
        MainWindow &w = Open();
        Click("next");
        w.Files()->AddFiles({"/x/a.pdf"});
        Click("next");
        EXPECT_EQ(w.CurrentPage(), MainWindow::kOptionsPage);
        return w;
    }
    bool FolderUsable() { return Find<QLineEdit>("outputFolder")->isEnabled() && Find<QPushButton>("browse")->isEnabled(); }
};

TEST_F(OptionsPageTest, FolderAndBrowseAreUsableOnlyWithBothBoxesUnchecked) {
    ToOptions();
    // First start: the documents folder is used.
    EXPECT_TRUE(Find<QCheckBox>("useMyDocuments")->isChecked());
    EXPECT_EQ(Find<QLineEdit>("outputFolder")->text().toStdString(), docs_);
    EXPECT_FALSE(FolderUsable());
    Click("useMyDocuments");
    EXPECT_TRUE(FolderUsable());
    Click("sameAsSource");
    EXPECT_FALSE(FolderUsable());
    Click("useMyDocuments");
    EXPECT_FALSE(FolderUsable());
    Click("sameAsSource");
    EXPECT_FALSE(FolderUsable());  // "My Documents" still on
    Click("useMyDocuments");
    EXPECT_TRUE(FolderUsable());
}

TEST_F(OptionsPageTest, BrowseAppendsTheSlashAndLeavingStoresEveryControl) {
    MainWindow &w = ToOptions();
    w.Options()->SetFolderChooser([&](QWidget *, const QString &title, const QString &) {
        EXPECT_EQ(title, "Select Destination Path:");
        return QString::fromStdString(out_ + "chosen");
    });
    Click("useMyDocuments");
    Click("browse");
    EXPECT_EQ(Find<QLineEdit>("outputFolder")->text().toStdString(), out_ + "chosen/");
    Find<QComboBox>("fontScale")->setEditText("1.5");
    Find<QComboBox>("imageDpi")->setEditText("150");
    Find<QLineEdit>("pdfPassword")->setText("secret");
    Click("imagingMode");
    Click("overwriteExisting");
    Click("prev");
    EXPECT_EQ(options_.outputFolder, out_ + "chosen/");
    EXPECT_EQ(options_.useMyDocuments, 0);
    EXPECT_EQ(options_.fontScaleText, "1.5");
    EXPECT_EQ(options_.imageDpiText, "150");
    EXPECT_EQ(options_.pdfPassword, "secret");
    EXPECT_EQ(options_.parseMode, static_cast<int32_t>(qm::ParseMode::Imaging));
    EXPECT_EQ(options_.overwriteExisting, 1);
    // Typed texts are held to ten characters.
    EXPECT_EQ(Find<QComboBox>("fontScale")->lineEdit()->maxLength(), 10);
}

TEST_F(OptionsPageTest, AnEmptyFolderBecomesTheHomeFolderOnLeaving) {
    options_.useMyDocuments = 0;
    options_.outputFolder = "";
    qm::SettingsFile::Save(options_, SettingsPath());
    ToOptions();
    EXPECT_EQ(Find<QLineEdit>("outputFolder")->text(), "");
    Click("prev");
    EXPECT_EQ(options_.outputFolder, qm::HomeFolder());
}

TEST_F(OptionsPageTest, TheDocumentsTaskShowsOnlyTheOutputGroup) {
    MainWindow &w = Open();
    Click("documentsTask");
    Click("next");
    w.Files()->AddFiles({"/x/a.html"});
    Click("next");
    ASSERT_EQ(w.CurrentPage(), MainWindow::kOptionsPage);
    EXPECT_TRUE(Find<QGroupBox>("outputGroup")->isVisible());
    EXPECT_FALSE(Find<QGroupBox>("optionGroup")->isVisible());
    Click("prev");
    Click("prev");
    Click("pdfTask");
    Click("next");
    w.Files()->AddFiles({"/x/a.pdf"});
    Click("next");
    EXPECT_TRUE(Find<QGroupBox>("optionGroup")->isVisible());
}

TEST_F(OptionsPageTest, CoverAndKindleGoTogether) {
    options_.createCover = 1;
    options_.compatibleKindle = 1;
    qm::SettingsFile::Save(options_, SettingsPath());
    ToOptions();
    // Loading does not undo the Kindle flag the settings file gave.
    EXPECT_TRUE(Find<QCheckBox>("compatibleKindle")->isChecked());
    EXPECT_FALSE(Find<QCheckBox>("compatibleKindle")->isVisible());
    Click("createCover");
    EXPECT_FALSE(Find<QCheckBox>("compatibleKindle")->isChecked());
    Find<QCheckBox>("compatibleKindle")->setChecked(true);
    EXPECT_TRUE(Find<QCheckBox>("createCover")->isChecked());
    Find<QCheckBox>("compatibleKindle")->setChecked(false);
    Click("createCover");
    Click("prev");
    EXPECT_EQ(options_.createCover, 0);
    EXPECT_EQ(options_.compatibleKindle, 0);
}

TEST_F(OptionsPageTest, ASavedStrictModeIsShownAndKept) {
    options_.parseMode = static_cast<int32_t>(qm::ParseMode::Strict);
    qm::SettingsFile::Save(options_, SettingsPath());
    ToOptions();
    auto *strict = Find<QRadioButton>("strictMode");
    EXPECT_TRUE(strict->isVisible());
    EXPECT_TRUE(strict->isEnabled());
    EXPECT_TRUE(strict->isChecked());
    Click("prev");
    EXPECT_EQ(options_.parseMode, static_cast<int32_t>(qm::ParseMode::Strict));
}

TEST_F(OptionsPageTest, SetTitleAndMoreStoreOnlyOnOk) {
    MainWindow &w = ToOptions();
    bool accept = false;
    w.Options()->SetDialogRunner([&](QDialog &dialog) {
        if (auto *info = qobject_cast<qm::BookInfoDialog *>(&dialog)) {
            if (auto *same = info->findChild<QCheckBox *>()) same->setChecked(false);
            for (QLineEdit *e : info->findChildren<QLineEdit *>())
                if (e->isEnabled()) e->setText("edited");
        }
        if (auto *more = qobject_cast<qm::OptionsDialog *>(&dialog))
            more->findChild<QCheckBox *>("ignoreImages")->setChecked(true);
        if (accept) dialog.accept();
        return accept;
    });
    Click("setTitle");
    Click("more");
    EXPECT_EQ(options_.bookTitle, "");
    EXPECT_EQ(options_.ignoreImages, 0);
    accept = true;
    Click("setTitle");
    Click("more");
    EXPECT_EQ(options_.bookTitle, "edited");
    EXPECT_EQ(options_.useSourceMetadata, 0);
    EXPECT_EQ(options_.ignoreImages, 1);
}

TEST(OptionsDialogTest, OutlinePositionFollowsTheOutlineBoxAndOnlyOkTransfers) {
    qm::ConversionOptions options;
    options.outlinePosition = 2;
    options.columnMode = static_cast<int32_t>(qm::ColumnMode::Multi);
    qm::OptionsDialog dialog(options);
    EXPECT_EQ(dialog.windowTitle(), "Options");
    auto *outline = dialog.findChild<QCheckBox *>("outputOutline");
    auto *position = dialog.findChild<QComboBox *>("outlinePosition");
    EXPECT_FALSE(position->isEnabled());
    EXPECT_EQ(position->currentText(), "Insert outline to last page");
    outline->setChecked(true);
    EXPECT_TRUE(position->isEnabled());
    outline->setChecked(false);
    EXPECT_FALSE(position->isEnabled());
    outline->setChecked(true);
    position->setCurrentIndex(1);
    dialog.findChild<QRadioButton *>("singleColumn")->setChecked(true);
    dialog.findChild<QCheckBox *>("paragraphCheck")->setChecked(false);
    EXPECT_FALSE(dialog.findChild<QRadioButton *>("autoColumns")->isVisibleTo(&dialog));
    EXPECT_FALSE(dialog.findChild<QComboBox *>("mobiCompression")->isVisibleTo(&dialog));

    // Cancel: nothing reaches the options.
    QTimer::singleShot(0, &dialog, [&] { dialog.reject(); });
    ASSERT_EQ(dialog.exec(), int(QDialog::Rejected));
    EXPECT_EQ(options.outputOutline, 0);

    qm::ConversionOptions stored = options;
    dialog.StoreInto(stored);
    EXPECT_EQ(stored.outputOutline, 1);
    EXPECT_EQ(stored.outlinePosition, 1);
    EXPECT_EQ(stored.columnMode, static_cast<int32_t>(qm::ColumnMode::Single));
    EXPECT_EQ(stored.paragraphCheck, 0);
    EXPECT_EQ(stored.mobiCompression, options.mobiCompression);
}

TEST(OptionsDialogTest, ADamagedListValueShowsTheFirstEntryAndPageOptionsHideTheBookParts) {
    qm::ConversionOptions options;
    options.outlinePosition = 7;
    options.columnMode = static_cast<int32_t>(qm::ColumnMode::AutoDetect);
    qm::OptionsDialog dialog(options, true);
    EXPECT_EQ(dialog.findChild<QComboBox *>("outlinePosition")->currentIndex(), 0);
    EXPECT_FALSE(dialog.findChild<QCheckBox *>("outputOutline")->isVisibleTo(&dialog));
    EXPECT_FALSE(dialog.findChild<QCheckBox *>("ignoreLinks")->isVisibleTo(&dialog));
    EXPECT_TRUE(dialog.findChild<QCheckBox *>("importBookmarksToToc")->isVisibleTo(&dialog));
    qm::ConversionOptions stored;
    dialog.StoreInto(stored);
    EXPECT_EQ(stored.columnMode, static_cast<int32_t>(qm::ColumnMode::AutoDetect));  // the hidden choice stays
}

} // namespace
