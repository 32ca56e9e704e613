#pragma once
// The main window "Quillmark": a wizard of six pages made once (task, file list, options,
// converting, book builder, finished), of which one is shown, and the navigation buttons that
// move between them. The settings file is read while the window is made and written when it is
// destroyed, however it is closed; the window's place and size are kept in a small file beside it.
// Closing the window during a run cancels the run, waits for it and removes its temporary files.
#include <QDialog>
#include <QImage>
#include <QPointer>
#include <QStringList>
#include <QUrl>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>

#include "app/run_front_end.h"
#include "options/conversion_options.h"
#include "options/settings_file.h"
#include "options/wizard_rules.h"
#include "platform/log.h"
#include "platform/prompt.h"
#include "worker/conversion_worker.h"

class QPushButton;

namespace qm {

class BookBuilderPage;
class ConvertingPage;
class FileListPage;
class FinishedPage;
class GuiPrompt;
class HyperlinkStatic;
class OptionsPage;
class TaskPage;

class MainWindow : public QWidget {
    Q_OBJECT
public:
    enum Page { kTaskPage, kFileListPage, kOptionsPage, kConvertingPage, kBookBuilderPage, kFinishedPage, kPageCount };

    // `options` holds the defaults; the settings file at `settingsPath` is loaded over them now.
    // `prompt` talks to the person (message boxes when null).
    explicit MainWindow(ConversionOptions &options, UserPrompt *prompt = nullptr,
                        const std::string &settingsPath = SettingsFile::DefaultPath(), QWidget *parent = nullptr);
    ~MainWindow() override;

    int CurrentPage() const { return current_; }
    QWidget *PageWidget(int page) const;
    TaskPage *Tasks() const { return taskPage_; }
    FileListPage *Files() const { return fileListPage_; }
    OptionsPage *Options() const { return optionsPage_; }
    ConvertingPage *Converting() const { return convertingPage_; }
    BookBuilderPage *Builder() const { return builderPage_; }
    FinishedPage *Finished() const { return finishedPage_; }

    // The navigation buttons.
    void Next();
    void Prev();
    void Repeat();

    // Files given on the command line: existing files are listed for the PDF task.
    void AddStartupFiles(const QStringList &arguments);
    // Writes the log list with its frame (CR LF line ends, UTF-8); false when the file cannot be
    // written (nothing is reported then).
    bool SaveLog(const QString &path) const;
    QStringList LogLines() const;

    // The interactive converter window of a Strict run while it is open (null otherwise).
    QDialog *InteractiveDialog() const { return interactive_; }

    // Whether a conversion run is working now.
    bool RunActive() const { return runActive_; }
    ConversionRun &Run() { return *run_; }
    // The state of the run or build the finished page shows.
    const RunState *ShownRun() const { return shownRun_; }

    // Where the window's place and size are kept, for a settings file at `settingsPath`.
    static std::string GeometryPath(const std::string &settingsPath);
    // The About box.
    static QDialog *MakeAboutDialog(QWidget *parent);

    // How web pages are opened (tests replace it).
    using UrlOpener = std::function<void(const QUrl &)>;
    void SetUrlOpener(UrlOpener opener) { openUrl_ = std::move(opener); }
    // How the layout options are offered before an Automatic run (tests replace it).
    void SetOptionsOffer(GuiObserver::OptionsOffer offer);

    static constexpr const char *kNoFilesMessage = "Please add the input files!";

protected:
    void closeEvent(QCloseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void MoveTo(int page);
    void EnterPage(int page);
    void LeavePage(int page);
    void UpdateButtons();
    StartResult StartRun();
    void OnConversionDone(bool batch);
    void OnDocumentFinished(int index, bool bookMade);
    void OnSaveLog();
    void StopRun();
    // Strict runs: the interactive converter window for the document the worker holds.
    void RunInteractive(StrictSession &session);
    // Closes the interactive converter window (once its thumbnails have loaded, if it refuses
    // before), so that a run being stopped can end.
    void CloseInteractive();
    void AppendLog(const QString &line);

    ConversionOptions &options_;
    std::string settingsPath_;
    std::unique_ptr<GuiPrompt> ownPrompt_;
    LoggingPrompt *prompt_ = nullptr;
    GuiObserver *observer_ = nullptr;
    WizardRules rules_;
    std::unique_ptr<ConversionRun> run_;
    RunState documentsState_;          // the documents task's build
    const RunState *shownRun_ = nullptr;
    LogSink previousSink_;
    int logLines_ = 0;
    bool runActive_ = false;
    bool closePending_ = false;
    bool destroying_ = false;
    UrlOpener openUrl_;
    QImage background_;
    QPointer<QDialog> interactive_;

    int current_ = 0;
    TaskPage *taskPage_ = nullptr;
    FileListPage *fileListPage_ = nullptr;
    OptionsPage *optionsPage_ = nullptr;
    ConvertingPage *convertingPage_ = nullptr;
    BookBuilderPage *builderPage_ = nullptr;
    FinishedPage *finishedPage_ = nullptr;
    QPushButton *saveLog_ = nullptr, *prev_ = nullptr, *next_ = nullptr, *repeat_ = nullptr, *help_ = nullptr,
                *about_ = nullptr;
};

} // namespace qm
