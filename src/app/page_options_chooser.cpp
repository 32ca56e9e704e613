#include "app/page_options_chooser.h"

#include "app/options_dialog.h"

namespace qm {

bool ChoosePageOptions(QWidget *parent, const ConversionOptions &defaults, PageParseOptions &chosen) {
    OptionsDialog dialog(defaults, true, parent);
    if (dialog.exec() != QDialog::Accepted) return false;
    // The dialog writes into a copy: the process-wide defaults stay as they are.
    ConversionOptions answer = defaults;
    dialog.StoreInto(answer);
    chosen.columnMode = answer.columnMode;
    chosen.ignoreImages = answer.ignoreImages;
    chosen.ignoreVectorGraphics = answer.ignoreVectorGraphics;
    chosen.paragraphCheck = answer.paragraphCheck;
    chosen.alignCheck = answer.alignCheck;
    return true;
}

} // namespace qm
