#include "app/task_page.h"

#include <QButtonGroup>
#include <QGridLayout>
#include <QLabel>
#include <QRadioButton>
#include <QStyle>

#include "app/web_pages.h"
#include "ui/hyperlink_static.h"

namespace qm {

TaskPage::TaskPage(ConversionOptions &options, WizardRules &rules, QWidget *parent)
    : WizardPage(parent), options_(options), rules_(rules) {
    setObjectName("taskPage");
    pdfTask_ = new QRadioButton(kPdfTask, this);
    pdfTask_->setObjectName("pdfTask");
    documentsTask_ = new QRadioButton(kDocumentsTask, this);
    documentsTask_->setObjectName("documentsTask");
    // A third kind of task has a place in the settings but nothing to offer: never shown.
    thirdTask_ = new QRadioButton(this);
    thirdTask_->setObjectName("thirdTask");
    thirdTask_->hide();
    tasks_ = new QButtonGroup(this);
    tasks_->addButton(pdfTask_, static_cast<int>(TaskKind::PdfToEpub));
    tasks_->addButton(documentsTask_, static_cast<int>(TaskKind::DocumentsToEpub));
    tasks_->addButton(thirdTask_, 2);
    pdfTask_->setChecked(true);

    auto icon = [this](const char *picture, QStyle::StandardPixmap fallback, const char *name) {
        auto *label = new QLabel(this);
        label->setObjectName(QString::fromUtf8(name));
        QPixmap pixmap(QString::fromUtf8(picture));
        label->setPixmap(pixmap.isNull() ? style()->standardIcon(fallback).pixmap(32, 32) : pixmap);
        return label;
    };
    homepage_ = new HyperlinkStatic("Quillmark on the web", this);
    homepage_->setObjectName("homepageLink");
    homepage_->SetUrl(kHomePage);

    auto *title = new QLabel("Choose what to make:", this);
    title->setObjectName("taskTitle");
    auto *layout = new QGridLayout(this);
    layout->addWidget(title, 0, 0, 1, 2);
    layout->addWidget(icon(":/ui/task_pdf.png", QStyle::SP_FileIcon, "pdfTaskIcon"), 1, 0);
    layout->addWidget(pdfTask_, 1, 1);
    layout->addWidget(icon(":/ui/task_docs.png", QStyle::SP_FileDialogDetailedView, "documentsTaskIcon"), 2, 0);
    layout->addWidget(documentsTask_, 2, 1);
    layout->setRowStretch(3, 1);
    layout->addWidget(homepage_, 4, 1, Qt::AlignRight);
    layout->setColumnStretch(1, 1);
}

int TaskPage::ShownTask() const { return tasks_->checkedId(); }

void TaskPage::ShowTask(int task) {
    if (QAbstractButton *b = tasks_->button(task)) b->setChecked(true);
}

void TaskPage::Enter() {
    // The lists of the file list page count as filled for the task shown when this page is
    // entered: choosing another one empties them on the way forward.
    rules_.EnterTaskPage(ShownTask());
    ShowTask(options_.taskKind);
    show();
}

void TaskPage::Leave() {
    rules_.LeaveTaskPage(ShownTask());
    hide();
}

} // namespace qm
