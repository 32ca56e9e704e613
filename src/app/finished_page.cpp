#include "app/finished_page.h"

#include <QGridLayout>
#include <QLabel>
#include <QTimer>

#include "app/edit_before_output_dialog.h"
#include "platform/paths.h"
#include "ui/hyperlink_static.h"

namespace qm {

FinishedPage::FinishedPage(const ConversionOptions &options, std::function<std::vector<std::string>()> listedPaths,
                           QWidget *parent)
    : WizardPage(parent), options_(options), listedPaths_(std::move(listedPaths)) {
    setObjectName("finishedPage");
    total_ = new QLabel(this);
    total_->setObjectName("totalFiles");
    succeeded_ = new QLabel(this);
    succeeded_->setObjectName("succeededFiles");
    folder_ = new HyperlinkStatic(QString(), this);
    folder_->setObjectName("outputFolderLink");
    label1071_ = new QLabel(this);
    label1071_->setObjectName("finishedNote");
    label1071_->hide();

    auto *layout = new QGridLayout(this);
    layout->addWidget(new QLabel("Total files :", this), 0, 0);
    layout->addWidget(total_, 0, 1);
    layout->addWidget(new QLabel("Successed files :", this), 1, 0);
    layout->addWidget(succeeded_, 1, 1);
    layout->addWidget(new QLabel("Output folder :", this), 2, 0);
    layout->addWidget(folder_, 2, 1);
    layout->addWidget(label1071_, 3, 0, 1, 2);
    layout->setRowStretch(4, 1);
    layout->setColumnStretch(1, 1);

    timer_ = new QTimer(this);
    timer_->setSingleShot(true);
    timer_->setInterval(kEditorDelayMs);
    connect(timer_, &QTimer::timeout, this, &FinishedPage::OnTimer);
}

void FinishedPage::Fill() {
    const std::vector<std::string> listed = listedPaths_ ? listedPaths_() : std::vector<std::string>();
    const int success = run_ ? run_->successCount : 0;
    total_->setText(QString::asprintf("%d", static_cast<int>(listed.size())));
    succeeded_->setText(QString::asprintf("%d", success));
    if (success < 2) {
        // One book (or none): its folder, opened with the book selected.
        const std::string book = run_ ? run_->lastOutputPath : std::string();
        folder_->setText(QString::fromStdString(FolderPart(book)));
        folder_->SetUrl(QString::fromStdString(book));
        folder_->SetFolderMode(true);
    } else {
        std::string folder = options_.outputFolder;
        if (options_.sameAsSource && !listed.empty()) folder = FolderPart(listed.front());
        folder_->setText(QString::fromStdString(folder));
        folder_->SetUrl(QString::fromStdString(folder));
        folder_->SetFolderMode(false);
    }
}

void FinishedPage::Enter() {
    Fill();
    label1071_->hide();
    timer_->start();
    show();
}

void FinishedPage::OnTimer() {
    timer_->stop();
    const std::vector<std::string> books = run_ ? run_->producedBooks : std::vector<std::string>();
    if (offer_) {
        offer_(this, books);
    } else {
        EditBeforeOutputDialog dialog(books, this);
        dialog.exec();
    }
    Fill();
}

void FinishedPage::Leave() {
    timer_->stop();
    hide();
}

} // namespace qm
