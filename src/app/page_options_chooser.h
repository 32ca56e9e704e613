#pragma once
// The interactive converter's "Set Parse Options": the options dialog with only its layout
// switches, started from the options' page defaults. The answer for the chosen pages.
#include <QWidget>

#include "options/conversion_options.h"

namespace qm {

// False when the user cancelled. Fills columnMode, ignoreImages, ignoreVectorGraphics,
// paragraphCheck and alignCheck of `chosen` (the dialog offers nothing else).
bool ChoosePageOptions(QWidget *parent, const ConversionOptions &defaults, PageParseOptions &chosen);

} // namespace qm
