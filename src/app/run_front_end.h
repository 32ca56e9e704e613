#pragma once
// The wizard's side of a conversion run. GuiObserver turns the run's calls (made on its worker
// threads) into Qt signals, which reach the windows queued on the GUI thread. LoggingPrompt
// passes messages and questions on to the person and keeps a line of each for the run's log;
// once the window is closing it shows nothing more and answers every question with No.
#include <QObject>
#include <QString>
#include <atomic>
#include <functional>
#include <string>

#include "platform/prompt.h"
#include "worker/conversion_worker.h"

namespace qm {

class GuiObserver : public QObject, public ConversionObserver {
    Q_OBJECT
public:
    explicit GuiObserver(QObject *parent = nullptr) : QObject(parent) {}

    // Runs on the GUI thread inside StartConversion: lets the person adjust the layout options.
    using OptionsOffer = std::function<void(ConversionOptions &)>;
    void SetOptionsOffer(OptionsOffer offer) { offer_ = std::move(offer); }

    void OfferOptions(ConversionOptions &options) override {
        if (offer_) offer_(options);
    }
    void DocumentStarted(int index, int count, const std::string &name) override {
        emit documentStarted(index, count, QString::fromStdString(name));
    }
    void DocumentFinished(int index, bool bookMade) override { emit documentFinished(index, bookMade); }

    // Runs the interactive converter window over `session` on the GUI thread and returns once it
    // has closed (the worker thread waits meanwhile). Nothing is shown once the window is closing.
    using InteractiveRunner = std::function<void(StrictSession &)>;
    void SetInteractiveRunner(InteractiveRunner runner) { interactive_ = std::move(runner); }
    void RunInteractiveConverter(StrictSession &session) override;
    // The main window is closing: no interactive converter opens from now on.
    void SetClosing() { closing_ = true; }
    void ConversionDone(bool batch) override {
        finished_ = true;
        emit conversionDone(batch);
    }

    // Set by the worker as its last act; cleared when a run starts.
    bool Finished() const { return finished_; }
    void RunStarts() { finished_ = false; }

signals:
    void documentStarted(int index, int count, const QString &name);
    void documentFinished(int index, bool bookMade);
    void conversionDone(bool batch);

private:
    OptionsOffer offer_;
    InteractiveRunner interactive_;
    std::atomic<bool> finished_{false};
    std::atomic<bool> closing_{false};
};

class LoggingPrompt : public QObject, public UserPrompt {
    Q_OBJECT
public:
    LoggingPrompt(UserPrompt &shown, QObject *parent = nullptr) : QObject(parent), shown_(shown) {}

    void Message(const std::string &text, const std::string &caption = std::string()) override {
        emit logged(QString::fromStdString(text));
        if (!closing_) shown_.Message(text, caption);
    }
    bool AskYesNo(const std::string &text, const std::string &caption = std::string()) override {
        if (closing_) {
            emit logged(QString::fromStdString(text) + " No");
            return false;
        }
        const bool yes = shown_.AskYesNo(text, caption);
        emit logged(QString::fromStdString(text) + (yes ? " Yes" : " No"));
        return yes;
    }
    void SetClosing() { closing_ = true; }

signals:
    // A line for the log (emitted on the caller's thread; queued to GUI-thread receivers).
    void logged(const QString &line);

private:
    UserPrompt &shown_;
    std::atomic<bool> closing_{false};
};

} // namespace qm
