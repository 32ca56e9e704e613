#pragma once
// "Options": the layout switches every page starts from (column mode, paragraph and alignment
// checks, ignoring pictures, drawings and links), the bookmarks and the outline page, and the
// reading switches (running heads, headings, code, contents pages, language, EPUB 3). The values
// go back into the options only on OK: call StoreInto after the dialog was accepted.
#include <QDialog>

#include "options/conversion_options.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QRadioButton;

namespace qm {

class OptionsDialog : public QDialog {
    Q_OBJECT
public:
    // `pageOptionsOnly`: only the layout switches are offered (the interactive converter's use).
    explicit OptionsDialog(const ConversionOptions &options, bool pageOptionsOnly = false, QWidget *parent = nullptr);

    // Writes the dialog's ten values and the reading switches into `options`. A book language
    // that is no language tag leaves the previous one.
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
    // Each box states its feature as on, whichever way round the option is kept.
    QCheckBox *dropRunningHeads_ = nullptr, *headings_ = nullptr, *tocFromHeadings_ = nullptr,
              *codeBlocks_ = nullptr, *linkContents_ = nullptr, *epub3_ = nullptr;
    QLineEdit *language_ = nullptr;
};

} // namespace qm
