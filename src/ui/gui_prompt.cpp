#include "ui/gui_prompt.h"

#include <QMessageBox>
#include <QMetaObject>
#include <QThread>

namespace qm {

GuiPrompt::GuiPrompt(QWidget *parent) : parent_(parent), bridge_(std::make_unique<QObject>()) {}

GuiPrompt::~GuiPrompt() = default;

template <typename F> auto GuiPrompt::OnGuiThread(F &&f) -> decltype(f()) {
    if (QThread::currentThread() == bridge_->thread()) return f();
    // Another thread waits here until the GUI thread has run `f` (and the person answered).
    decltype(f()) result{};
    QMetaObject::invokeMethod(bridge_.get(), [&] { result = f(); }, Qt::BlockingQueuedConnection);
    return result;
}

void GuiPrompt::Message(const std::string &text, const std::string &caption) {
    OnGuiThread([&] {
        if (shown_) shown_(text);
        QMessageBox box(QMessageBox::Information,
                        QString::fromStdString(caption.empty() ? std::string(kDefaultCaption) : caption),
                        QString::fromStdString(text), QMessageBox::Ok, parent_.data());
        box.setObjectName("promptMessage");
        box.exec();
        return true;
    });
}

bool GuiPrompt::AskYesNo(const std::string &text, const std::string &caption) {
    return OnGuiThread([&] {
        if (shown_) shown_(text);
        QMessageBox box(QMessageBox::Question,
                        QString::fromStdString(caption.empty() ? std::string(kDefaultCaption) : caption),
                        QString::fromStdString(text), QMessageBox::Yes | QMessageBox::No, parent_.data());
        box.setObjectName("promptQuestion");
        box.setDefaultButton(QMessageBox::Yes);
        box.setEscapeButton(QMessageBox::No);
        return box.exec() == QMessageBox::Yes;
    });
}

} // namespace qm
