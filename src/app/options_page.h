#pragma once
// Wizard page 2: where the books go (a chosen folder, the documents folder, or next to each PDF)
// and how the PDFs are read (parse mode, font scale, picture resolution, cover, password), with
// "Set Title" and "More..." for the book's metadata and the layout options. For the documents
// task only the output folder group is offered.
#include <QString>
#include <functional>

#include "app/wizard_page.h"
#include "options/wizard_rules.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace qm {

class OptionsPage : public WizardPage {
    Q_OBJECT
public:
    OptionsPage(ConversionOptions &options, WizardRules &rules, QWidget *parent = nullptr);
    void Enter() override;
    void Leave() override;

    // How "Browse" asks for a folder (tests replace it); returns "" when nothing was chosen.
    using FolderChooser = std::function<QString(QWidget *parent, const QString &title, const QString &start)>;
    void SetFolderChooser(FolderChooser chooser) { chooseFolder_ = std::move(chooser); }
    // How "Set Title" and "More..." run their dialogs: true when the dialog was accepted (tests
    // replace it to answer without a person).
    using DialogRunner = std::function<bool(class QDialog &dialog)>;
    void SetDialogRunner(DialogRunner runner) { runDialog_ = std::move(runner); }

private:
    void UpdateFolderEnabling();
    void OnMyDocuments(bool checked);
    void OnBrowse();
    void OnSetTitle();
    void OnMore();
    bool Run(QDialog &dialog);

    ConversionOptions &options_;
    WizardRules &rules_;
    FolderChooser chooseFolder_;
    DialogRunner runDialog_;

    QGroupBox *outputGroup_ = nullptr, *optionGroup_ = nullptr;
    QLineEdit *folder_ = nullptr, *password_ = nullptr, *userPassword_ = nullptr;
    QPushButton *browse_ = nullptr, *setTitle_ = nullptr, *more_ = nullptr;
    QCheckBox *sameAsSource_ = nullptr, *myDocuments_ = nullptr, *overwrite_ = nullptr, *cover_ = nullptr,
              *kindle_ = nullptr;
    QButtonGroup *parseModes_ = nullptr;
    QRadioButton *automatic_ = nullptr, *strict_ = nullptr, *imaging_ = nullptr;
    QComboBox *fontScale_ = nullptr, *imageDpi_ = nullptr;
};

} // namespace qm
