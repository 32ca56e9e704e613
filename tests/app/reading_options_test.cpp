// The reading switches in the "Options" dialog (each box states its feature as on, whichever way
// round the option is kept) and their own settings file, read when the window is made and written
// when it closes.
#include "wizard_fixture.h"

#include <QLineEdit>
#include <QTimer>

#include "app/options_dialog.h"
#include "options/reading_settings.h"
#include "platform/paths.h"

namespace {

QCheckBox *Box(qm::OptionsDialog &dialog, const char *name) {
    auto *box = dialog.findChild<QCheckBox *>(name);
    EXPECT_NE(box, nullptr) << name;
    return box;
}

TEST(ReadingOptionsDialogTest, BoxesShowAndStoreTheSwitches) {
    qm::ConversionOptions options;  // the defaults: every feature on but contents from headings and EPUB 3
    qm::OptionsDialog dialog(options);
    struct Expect {
        const char *name, *text;
        bool checked;
    };
    for (const Expect &e : {Expect{"dropRunningHeads", "Leave out running heads and page numbers", true},
                            Expect{"makeHeadings", "Make headings", true},
                            Expect{"tocFromHeadings", "Contents from headings", false},
                            Expect{"keepCode", "Keep code as code", true},
                            Expect{"linkContentsPages", "Link printed contents pages", true},
                            Expect{"epub3", "EPUB 3", false}}) {
        QCheckBox *box = Box(dialog, e.name);
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(box->text(), e.text);
        EXPECT_EQ(box->isChecked(), e.checked) << e.name;
        box->setChecked(!e.checked);  // turn each one round
    }
    auto *language = dialog.findChild<QLineEdit *>("bookLanguage");
    ASSERT_NE(language, nullptr);
    EXPECT_EQ(language->text(), "");
    language->setText(" fr-CA ");

    qm::ConversionOptions stored;
    dialog.StoreInto(stored);
    const qm::ReadingOptions &r = stored.reading;
    EXPECT_TRUE(r.keepRunningHeads);
    EXPECT_FALSE(r.headings);
    EXPECT_TRUE(r.tocFromHeadings);
    EXPECT_FALSE(r.codeBlocks);
    EXPECT_TRUE(r.keepContentsPages);
    EXPECT_TRUE(r.epub3);
    EXPECT_EQ(r.language, "fr-CA");

    // The dialog opened on those values shows them again; a language that is no tag is not taken.
    qm::OptionsDialog again(stored);
    EXPECT_FALSE(Box(again, "dropRunningHeads")->isChecked());
    EXPECT_FALSE(Box(again, "keepCode")->isChecked());
    EXPECT_FALSE(Box(again, "linkContentsPages")->isChecked());
    EXPECT_EQ(again.findChild<QLineEdit *>("bookLanguage")->text(), "fr-CA");
    again.findChild<QLineEdit *>("bookLanguage")->setText("French please");
    again.StoreInto(stored);
    EXPECT_EQ(stored.reading.language, "fr-CA");

    // The interactive converter's page options do not offer them.
    qm::OptionsDialog pageOnly(options, true);
    EXPECT_FALSE(Box(pageOnly, "keepCode")->isVisibleTo(&pageOnly));
}

class ReadingSettingsWindowTest : public qmtest::WizardFixture {};

TEST_F(ReadingSettingsWindowTest, LoadedAtStartSavedAtCloseBesideTheOlderFile) {
    qm::ReadingOptions saved;
    saved.codeBlocks = false;
    saved.language = "nl";
    const std::string path = qm::ReadingSettings::PathBeside(SettingsPath());
    ASSERT_EQ(qm::ReadingSettings::Save(saved, path), qm::SettingsSave::Saved);
    Open();
    EXPECT_FALSE(options_.reading.codeBlocks);
    EXPECT_EQ(options_.reading.language, "nl");
    options_.reading.epub3 = true;
    Close();
    qm::ReadingOptions loaded;
    ASSERT_EQ(qm::ReadingSettings::Load(loaded, path), qm::SettingsLoad::Complete);
    EXPECT_TRUE(loaded.epub3);
    EXPECT_FALSE(loaded.codeBlocks);
    EXPECT_EQ(loaded.language, "nl");
    EXPECT_TRUE(qm::FileExists(SettingsPath()));

    // A damaged file: the window still opens, with the defaults.
    ASSERT_TRUE(qm::WriteFile(path, "{ damaged"));
    options_ = qm::ConversionOptions{};
    Open();
    EXPECT_TRUE(options_.reading.codeBlocks);
    EXPECT_EQ(options_.reading.language, "");
    Close();
}

} // namespace
