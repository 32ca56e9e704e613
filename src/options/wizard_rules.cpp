#include "options/wizard_rules.h"

#include "platform/paths.h"

namespace qm {

WizardRules::WizardRules(ConversionOptions &options) : options_(options), listedTask_(options.fileListTask) {}

void WizardRules::LeaveOptionsPage() {
    if (options_.outputFolder.empty())
        options_.outputFolder = HomeFolder();
    else
        options_.outputFolder = WithTrailingSlash(options_.outputFolder);
}

void WizardRules::EnterOptionsPage() {
    if (options_.useMyDocuments) options_.outputFolder = WithTrailingSlash(DocumentsFolder());
}

void WizardRules::LeaveTaskPage(int32_t chosenTask) {
    if (chosenTask != options_.taskKind) {
        // Fields 31-38 of the settings file belong to the task; field 30 stays.
        for (size_t i = 1; i < options_.reserved30to38.size(); ++i) options_.reserved30to38[i] = 0;
    }
    options_.taskKind = chosenTask;
    options_.fileListTask = chosenTask;
}

void WizardRules::EnterTaskPage(int32_t shownTask) { listedTask_ = shownTask; }

bool WizardRules::EnterFileListPage() {
    if (options_.fileListTask == listedTask_) return false;
    listedTask_ = options_.fileListTask;
    return true;
}

} // namespace qm
