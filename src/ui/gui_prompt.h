#pragma once
// The core's prompt for the desktop program: message boxes on the GUI thread. Called from
// another thread, it blocks that thread on a queued call until the person has answered.
#include <QPointer>
#include <QString>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>

#include "platform/prompt.h"

namespace qm {

class GuiPrompt : public UserPrompt {
public:
    // The boxes open over `parent`; the prompt must be made on the GUI thread.
    explicit GuiPrompt(QWidget *parent = nullptr);
    ~GuiPrompt() override;

    void Message(const std::string &text, const std::string &caption = std::string()) override;
    bool AskYesNo(const std::string &text, const std::string &caption = std::string()) override;

    // Called on the GUI thread with every text before it is shown (the main window's log).
    void SetShownHook(std::function<void(const std::string &text)> hook) { shown_ = std::move(hook); }
    void SetParent(QWidget *parent) { parent_ = parent; }

    // The caption of a box whose caller gave none.
    static constexpr const char *kDefaultCaption = "Quillmark";

private:
    template <typename F> auto OnGuiThread(F &&f) -> decltype(f());

    QPointer<QWidget> parent_;
    std::unique_ptr<QObject> bridge_;   // lives on the GUI thread: the target of queued calls
    std::function<void(const std::string &)> shown_;
};

} // namespace qm
