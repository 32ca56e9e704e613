#pragma once
// "Wait...": a modal box with a moving ellipsis while a book is built on another thread. The
// builder sets the shared done flag when it has finished; the flag is shared so that it outlives
// the dialog. The dialog ends (with the cancel result) once the flag is set. "Cancel" does not
// leave the build behind: it only asks the dialog to end as soon as the build has finished, so
// the book is never lost and the builder never outlives what it writes into.
#include <QDialog>
#include <atomic>
#include <memory>

class QLabel;
class QPushButton;
class QTimer;

namespace qm {

class WaitDialog : public QDialog {
    Q_OBJECT
public:
    explicit WaitDialog(std::shared_ptr<std::atomic<bool>> done, QWidget *parent = nullptr);

    static constexpr int kTickMs = 500;
    QString LabelText() const;
    bool CancelAsked() const { return cancelAsked_; }

    // The process-wide dot counter (0, 1 or 2 between ticks), shared by every wait dialog.
    static int DotCounter();

public slots:
    void reject() override;

protected:
    void showEvent(QShowEvent *event) override;

private:
    void Tick();

    std::shared_ptr<std::atomic<bool>> done_;
    QLabel *label_ = nullptr;
    QPushButton *cancel_ = nullptr;
    QTimer *timer_ = nullptr;
    bool cancelAsked_ = false;
    bool finishing_ = false;
};

} // namespace qm
