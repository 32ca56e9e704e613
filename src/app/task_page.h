#pragma once
// Wizard page 0: what the run makes, PDF files to books or the user's own documents to one book.
#include "app/wizard_page.h"
#include "options/wizard_rules.h"

class QButtonGroup;
class QRadioButton;

namespace qm {

class HyperlinkStatic;

class TaskPage : public WizardPage {
    Q_OBJECT
public:
    TaskPage(ConversionOptions &options, WizardRules &rules, QWidget *parent = nullptr);
    void Enter() override;
    void Leave() override;

    // The task the radio buttons show.
    int ShownTask() const;
    void ShowTask(int task);

    static constexpr const char *kPdfTask = "Converts PDF files to ePub files.";
    static constexpr const char *kDocumentsTask = "Converts HTML, XML, TEXT files into ePub file.";

private:
    ConversionOptions &options_;
    WizardRules &rules_;
    QButtonGroup *tasks_ = nullptr;
    QRadioButton *pdfTask_ = nullptr, *documentsTask_ = nullptr, *thirdTask_ = nullptr;
    HyperlinkStatic *homepage_ = nullptr;
};

} // namespace qm
