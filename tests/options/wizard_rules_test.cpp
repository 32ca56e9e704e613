// The wizard's page-to-page rules over the options it edits.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "options/settings_file.h"
#include "options/wizard_rules.h"
#include "platform/paths.h"
#include "support/temp_dir.h"

namespace {

using qm::ConversionOptions;
using qm::WizardRules;

TEST(WizardRules, OutputFolderRules) {
    ConversionOptions o;
    WizardRules rules(o);
    EXPECT_EQ(o.outputFolder, qm::HomeFolder());
    EXPECT_EQ(o.outputFolder.back(), '/');
    o.outputFolder = "";
    rules.LeaveOptionsPage();
    EXPECT_EQ(o.outputFolder, qm::HomeFolder());
    o.outputFolder = "/srv/books";  // e.g. from an older settings file
    rules.LeaveOptionsPage();
    EXPECT_EQ(o.outputFolder, "/srv/books/");

    qmtest::TempDir dir;
    const char *oldDocs = std::getenv("XDG_DOCUMENTS_DIR");
    std::string saved = oldDocs ? oldDocs : "";
    std::string docs = dir.Path().substr(0, dir.Path().size() - 1);  // without the "/"
    setenv("XDG_DOCUMENTS_DIR", docs.c_str(), 1);
    o.useMyDocuments = 0;
    rules.EnterOptionsPage();
    EXPECT_EQ(o.outputFolder, "/srv/books/");
    o.useMyDocuments = 1;
    rules.EnterOptionsPage();
    EXPECT_EQ(o.outputFolder, dir.Path());
    if (oldDocs)
        setenv("XDG_DOCUMENTS_DIR", saved.c_str(), 1);
    else
        unsetenv("XDG_DOCUMENTS_DIR");
}

TEST(WizardRules, TaskChangeReachesTheFileListOnce) {
    ConversionOptions o;
    WizardRules rules(o);
    for (auto &r : o.reserved30to38) r = 5;
    rules.EnterTaskPage(0);
    rules.LeaveTaskPage(0);  // same task: nothing reset, no clearing
    EXPECT_EQ(o.reserved30to38[3], 5);
    EXPECT_FALSE(rules.EnterFileListPage());

    rules.EnterTaskPage(0);
    rules.LeaveTaskPage(1);
    EXPECT_EQ(o.taskKind, 1);
    EXPECT_EQ(o.fileListTask, 1);
    EXPECT_EQ(o.reserved30to38[0], 5);  // field 30 is not bound to the task
    for (size_t i = 1; i < o.reserved30to38.size(); ++i) EXPECT_EQ(o.reserved30to38[i], 0);
    EXPECT_TRUE(rules.EnterFileListPage());
    EXPECT_EQ(rules.ListedTask(), 1);
    EXPECT_FALSE(rules.EnterFileListPage());

    // Back to the first task: the lists, filled for the second, are cleared again.
    rules.EnterTaskPage(1);
    rules.LeaveTaskPage(0);
    EXPECT_TRUE(rules.EnterFileListPage());
}

// The lists of a wizard that starts on the task its settings file names are not cleared when the
// file list page comes first; a task the file does not name clears them.
TEST(WizardRules, FileListsCountAsFilledForTheLoadedTask) {
    ConversionOptions stored;
    stored.taskKind = stored.fileListTask = 1;
    ConversionOptions loaded;
    ASSERT_EQ(qm::SettingsFile::Decode(qm::SettingsFile::Encode(stored), loaded), qm::SettingsLoad::Complete);
    WizardRules rules(loaded);
    EXPECT_EQ(rules.ListedTask(), 1);
    EXPECT_FALSE(rules.EnterFileListPage());

    rules.EnterTaskPage(0);  // the task page showed the other task before the user chose this one
    EXPECT_TRUE(rules.EnterFileListPage());
}

} // namespace
