#pragma once
// Wizard page 3: a conversion run in progress. Entering it starts the run; the page shows the
// document being converted, its place in the list, the progress of the current document every
// 100 ms, and offers Cancel. It also holds the log list that "Save log" writes.
#include <QStringList>
#include <functional>

#include "app/wizard_page.h"
#include "worker/conversion_worker.h"

class QLabel;
class QListWidget;
class QProgressBar;
class QPushButton;
class QTimer;

namespace qm {

class FileListPage;

class ConvertingPage : public WizardPage {
    Q_OBJECT
public:
    // `start` starts the run over the file list; `run` is the run it shows.
    ConvertingPage(ConversionRun &run, std::function<StartResult()> start, QWidget *parent = nullptr);
    void Enter() override;
    void Leave() override;

    void ShowDocument(int index, int count, const QString &name);
    void DocumentDone();
    void AppendLog(const QString &line);
    void ClearLog();
    QStringList LogLines() const;
    // Whether the last Enter started a run.
    bool Started() const { return started_; }

    static constexpr int kProgressPeriodMs = 100;

private:
    void ShowProgress();

    ConversionRun &run_;
    std::function<StartResult()> start_;
    bool started_ = false;
    QLabel *fileLabel_ = nullptr, *countLabel_ = nullptr, *percentLabel_ = nullptr, *statusLabel_ = nullptr;
    QProgressBar *progress_ = nullptr, *secondProgress_ = nullptr;
    QPushButton *cancel_ = nullptr;
    QListWidget *log_ = nullptr;
    QTimer *timer_ = nullptr;
};

} // namespace qm
