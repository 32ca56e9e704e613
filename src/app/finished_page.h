#pragma once
// Wizard page 5: how the run went (files listed, books made) and a link to where the books are.
// 200 ms after it is shown it offers the books to the external editor ("Edit Before Output") and
// then shows the counts again.
#include <functional>
#include <string>
#include <vector>

#include "app/wizard_page.h"
#include "options/conversion_options.h"
#include "worker/conversion_worker.h"

class QLabel;
class QTimer;

namespace qm {

class HyperlinkStatic;

class FinishedPage : public WizardPage {
    Q_OBJECT
public:
    // `listedPaths` gives the file list page's full paths when the page is filled.
    FinishedPage(const ConversionOptions &options, std::function<std::vector<std::string>()> listedPaths,
                 QWidget *parent = nullptr);
    // The run whose outcome the page shows (set before Enter).
    void SetRun(const RunState *run) { run_ = run; }
    void Enter() override;
    void Leave() override;

    // How "Edit Before Output" is run with the produced books (tests replace it).
    using EditorOffer = std::function<void(QWidget *parent, const std::vector<std::string> &books)>;
    void SetEditorOffer(EditorOffer offer) { offer_ = std::move(offer); }

    static constexpr int kEditorDelayMs = 200;

private:
    void Fill();
    void OnTimer();

    const ConversionOptions &options_;
    std::function<std::vector<std::string>()> listedPaths_;
    const RunState *run_ = nullptr;
    EditorOffer offer_;
    QLabel *total_ = nullptr, *succeeded_ = nullptr, *label1071_ = nullptr;
    HyperlinkStatic *folder_ = nullptr;
    QTimer *timer_ = nullptr;
};

} // namespace qm
