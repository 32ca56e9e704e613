#pragma once
// "Options": the layout switches every page starts from (column mode, paragraph and alignment
// checks, ignoring pictures, drawings and links), the bookmarks and the outline page. The values
// go back into the options only on OK: call StoreInto after the dialog was accepted.
#include <QDialog>

#include "options/conversion_options.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QRadioButton;

namespace qm {

class OptionsDialog : public QDialog {
    Q_OBJECT
public:
    // `pageOptionsOnly`: only the layout switches are offered (the interactive converter's use).
    explicit OptionsDialog(const ConversionOptions &options, bool pageOptionsOnly = false, QWidget *parent = nullptr);

    // Writes the dialog's ten values into `options`.
    void StoreInto(ConversionOptions &options) const;

    static QStringList OutlinePositions();

private:
    void FollowOutlineCheck();

    QButtonGroup *columns_ = nullptr;
    QRadioButton *autoColumns_ = nullptr, *singleColumn_ = nullptr, *multiColumns_ = nullptr;
    QCheckBox *paragraphCheck_ = nullptr, *alignCheck_ = nullptr, *ignoreImages_ = nullptr,
              *ignoreVector_ = nullptr, *ignoreLinks_ = nullptr, *bookmarksToToc_ = nullptr, *outputOutline_ = nullptr;
    QComboBox *outlinePosition_ = nullptr, *mobi_ = nullptr;
    QLabel *mobiLabel_ = nullptr;
};

} // namespace qm
