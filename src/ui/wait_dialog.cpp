#include "ui/wait_dialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace qm {
namespace {

// One counter for the whole process: a second wait dialog goes on where the first one stopped.
int g_dots = 0;

const char *kLabel = "Building epub file, please wait";

} // namespace

WaitDialog::WaitDialog(std::shared_ptr<std::atomic<bool>> done, QWidget *parent)
    : QDialog(parent), done_(std::move(done)) {
    setObjectName("waitDialog");
    setWindowTitle("Wait...");
    setModal(true);
    label_ = new QLabel(QString(kLabel) + "....", this);
    label_->setObjectName("waitLabel");
    label_->setMinimumWidth(label_->fontMetrics().horizontalAdvance(QString(kLabel) + "......") + 10);
    cancel_ = new QPushButton("Cancel", this);
    cancel_->setObjectName("waitCancel");
    connect(cancel_, &QPushButton::clicked, this, &WaitDialog::reject);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cancel_);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(label_);
    layout->addLayout(buttons);
    timer_ = new QTimer(this);
    timer_->setInterval(kTickMs);
    connect(timer_, &QTimer::timeout, this, &WaitDialog::Tick);
}

QString WaitDialog::LabelText() const { return label_->text(); }

int WaitDialog::DotCounter() { return g_dots; }

void WaitDialog::showEvent(QShowEvent *event) {
    QDialog::showEvent(event);
    if (!timer_->isActive() && !finishing_) timer_->start();
}

void WaitDialog::Tick() {
    if (!done_ || done_->load()) {
        timer_->stop();
        finishing_ = true;
        QDialog::done(QDialog::Rejected);
    }
    ++g_dots;
    label_->setText(QString(kLabel) + (g_dots == 1 ? "." : g_dots == 2 ? ".." : "..."));
    g_dots %= 3;
}

void WaitDialog::reject() {
    if (finishing_ || !done_ || done_->load()) {
        finishing_ = true;
        timer_->stop();
        QDialog::reject();
        return;
    }
    // The build goes on: the dialog ends at the first tick after it has finished.
    cancelAsked_ = true;
    cancel_->setEnabled(false);
}

} // namespace qm
