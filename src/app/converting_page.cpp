#include "app/converting_page.h"

#include <algorithm>

#include <QGridLayout>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include "platform/paths.h"

namespace qm {

ConvertingPage::ConvertingPage(ConversionRun &run, std::function<StartResult()> start, QWidget *parent)
    : WizardPage(parent), run_(run), start_(std::move(start)) {
    setObjectName("convertingPage");
    fileLabel_ = new QLabel(this);
    fileLabel_->setObjectName("fileLabel");
    countLabel_ = new QLabel(this);
    countLabel_->setObjectName("countLabel");
    progress_ = new QProgressBar(this);
    progress_->setObjectName("progress");
    progress_->setRange(0, 100);
    progress_->setValue(0);
    progress_->setTextVisible(false);
    percentLabel_ = new QLabel("0%", this);
    percentLabel_->setObjectName("percentLabel");
    statusLabel_ = new QLabel(this);
    statusLabel_->setObjectName("statusLabel");
    cancel_ = new QPushButton("&Cancel", this);
    cancel_->setObjectName("cancel");
    // The run's log: not shown, written by "Save log".
    log_ = new QListWidget(this);
    log_->setObjectName("log");
    log_->hide();
    secondProgress_ = new QProgressBar(this);
    secondProgress_->setObjectName("secondProgress");
    secondProgress_->setRange(0, 100);
    secondProgress_->hide();

    auto *layout = new QGridLayout(this);
    layout->addWidget(new QLabel("Converting ", this), 0, 0);
    layout->addWidget(fileLabel_, 0, 1, 1, 2);
    layout->addWidget(new QLabel("Total Converting:", this), 1, 0);
    layout->addWidget(countLabel_, 1, 1, 1, 2);
    layout->addWidget(progress_, 2, 0, 1, 2);
    layout->addWidget(percentLabel_, 2, 2);
    layout->addWidget(statusLabel_, 3, 0, 1, 3);
    layout->addWidget(cancel_, 4, 2);
    layout->addWidget(log_, 5, 0, 1, 3);
    layout->addWidget(secondProgress_, 6, 0, 1, 3);
    layout->setRowStretch(5, 1);
    layout->setColumnStretch(1, 1);

    timer_ = new QTimer(this);
    timer_->setInterval(kProgressPeriodMs);
    connect(timer_, &QTimer::timeout, this, &ConvertingPage::ShowProgress);
    connect(cancel_, &QPushButton::clicked, this, [this] { run_.Cancel(); });
}

void ConvertingPage::ShowProgress() {
    const int percent = std::clamp(run_.State().percent.load(), 0, 100);
    progress_->setValue(percent);
    percentLabel_->setText(QString::asprintf("%d%%", percent));
}

void ConvertingPage::Enter() {
    fileLabel_->clear();
    countLabel_->clear();
    statusLabel_->clear();
    started_ = start_() == StartResult::Started;
    ShowProgress();
    timer_->start();
    show();
}

void ConvertingPage::Leave() {
    hide();
    progress_->setValue(0);
    secondProgress_->setValue(0);
    percentLabel_->setText("0%");
    DeleteFolderTree(run_.State().scratchFolder);
    timer_->stop();
}

void ConvertingPage::ShowDocument(int index, int count, const QString &name) {
    fileLabel_->setText(name);
    countLabel_->setText(QString::asprintf("%d/%d", index + 1, count));
}

void ConvertingPage::DocumentDone() { statusLabel_->clear(); }

void ConvertingPage::AppendLog(const QString &line) { log_->addItem(line); }

void ConvertingPage::ClearLog() { log_->clear(); }

QStringList ConvertingPage::LogLines() const {
    QStringList lines;
    for (int i = 0; i < log_->count(); ++i) lines << log_->item(i)->text();
    return lines;
}

} // namespace qm
