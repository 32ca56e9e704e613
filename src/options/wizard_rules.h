#pragma once
// The rules the conversion wizard applies to the options it edits as its pages are entered and
// left: the output folder on the options page, the task-bound fields on the task page, and whether
// the file lists must be emptied because the task changed since they were filled. No widgets are
// involved, so the desktop program and its tests share them.
#include <cstdint>

#include "options/conversion_options.h"

namespace qm {

class WizardRules {
public:
    // `options` must outlive the rules. The file lists count as filled for the task the options
    // hold (what the settings file gave fileListTask), so make the rules after loading them.
    explicit WizardRules(ConversionOptions &options);

    // The options page is left: an empty output folder becomes the home folder, and a folder
    // always ends in "/" so that book names can be appended to it.
    void LeaveOptionsPage();
    // The options page is entered: with useMyDocuments on, the output folder becomes the
    // documents folder ending in "/".
    void EnterOptionsPage();
    // The task page is left with `chosenTask`: a different task clears the task-bound reserved
    // fields 31-38; taskKind and fileListTask take the chosen value.
    void LeaveTaskPage(int32_t chosenTask);
    // The task page is entered while its radio buttons show `shownTask`.
    void EnterTaskPage(int32_t shownTask);
    // The file list page is entered. True when the task changed since the lists were filled, so
    // the caller must clear both file lists; the lists then count as filled for the current task.
    bool EnterFileListPage();

    // The task the file lists were filled for.
    int32_t ListedTask() const { return listedTask_; }

private:
    ConversionOptions &options_;
    int32_t listedTask_;
};

} // namespace qm
