#include "app/main_window.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QIcon>
#include <QPainter>
#include <QLabel>
#include <QPushButton>
#include <QSaveFile>
#include <QSettings>
#include <QTimer>
#include <QVBoxLayout>
#include <chrono>
#include <thread>

#include "app/book_builder_page.h"
#include "app/converting_page.h"
#include "app/file_list_page.h"
#include "app/finished_page.h"
#include "app/options_dialog.h"
#include "app/options_page.h"
#include "app/page_options_chooser.h"
#include "app/task_page.h"
#include "app/web_pages.h"
#include "interactive/interactive_convert_dialog.h"
#include "options/reading_settings.h"
#include "platform/paths.h"
#include "ui/gui_prompt.h"
#include "ui/hyperlink_static.h"
#include "ui/skin_button.h"

#ifndef QM_VERSION
#define QM_VERSION "0"
#endif

namespace qm {
namespace {

// The log keeps this many lines of a run; a damaged PDF can make the engine warn without end.
constexpr int kLogLineLimit = 5000;

ConversionOptions &Loaded(ConversionOptions &options, const std::string &path) {
    SettingsFile::Load(options, path);
    // The reading switches live in a file of their own beside it.
    ReadingSettings::Load(options.reading, ReadingSettings::PathBeside(path));
    return options;
}

QPushButton *Button(const QString &text, const char *name, const char *picture, QWidget *parent) {
    auto *button = new SkinButton(text, parent);
    button->setObjectName(QString::fromUtf8(name));
    const QString normal = QString(":/ui/%1_normal.png").arg(picture);
    const QString over = QString(":/ui/%1_over.png").arg(picture);
    if (QFile::exists(normal) && QFile::exists(over)) {
        // Magenta marks where the window shows through the picture.
        button->SetBitmaps(over, qRgb(255, 0, 255), normal, qRgb(255, 0, 255), true);
        button->SizeToImage();
    }
    return button;
}

HyperlinkStatic *Link(const char *text, const char *name, const char *url, QWidget *parent) {
    auto *link = new HyperlinkStatic(QString::fromUtf8(text), parent);
    link->setObjectName(QString::fromUtf8(name));
    link->SetUrl(QString::fromUtf8(url));
    return link;
}

} // namespace

std::string MainWindow::GeometryPath(const std::string &settingsPath) {
    return FolderPart(settingsPath) + "MainWindow.ini";
}

QDialog *MainWindow::MakeAboutDialog(QWidget *parent) {
    auto *dialog = new QDialog(parent);
    dialog->setObjectName("aboutDialog");
    dialog->setWindowTitle("About Quillmark");
    auto *text = new QLabel(QString("Quillmark version %1\n\nPDF files and your own documents into EPUB books.")
                                .arg(QString::fromUtf8(QM_VERSION)),
                            dialog);
    text->setObjectName("aboutText");
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok, dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    auto *layout = new QVBoxLayout(dialog);
    layout->addWidget(text);
    layout->addWidget(buttons);
    return dialog;
}

MainWindow::MainWindow(ConversionOptions &options, UserPrompt *prompt, const std::string &settingsPath,
                       QWidget *parent)
    : QWidget(parent), options_(options), settingsPath_(settingsPath), rules_(Loaded(options, settingsPath)) {
    setObjectName("mainWindow");
    setWindowTitle("Quillmark");
    setWindowIcon(QIcon(":/ui/quillmark.png"));
    background_ = QImage(":/ui/background.png");
    if (!prompt) {
        auto gui = std::make_unique<GuiPrompt>(this);
        ownPrompt_ = std::move(gui);
        prompt = ownPrompt_.get();
    }
    prompt_ = new LoggingPrompt(*prompt, this);
    observer_ = new GuiObserver(this);
    run_ = std::make_unique<ConversionRun>(options_, *prompt_, *observer_);
    observer_->SetInteractiveRunner([this](StrictSession &session) { RunInteractive(session); });
    SetOptionsOffer(nullptr);

    // ---- the pages, one place for all of them ----
    auto *pageArea = new QFrame(this);
    pageArea->setObjectName("pageArea");
    pageArea->setFrameShape(QFrame::StyledPanel);
    auto *pageLayout = new QGridLayout(pageArea);
    taskPage_ = new TaskPage(options_, rules_, pageArea);
    fileListPage_ = new FileListPage(options_, rules_, pageArea);
    optionsPage_ = new OptionsPage(options_, rules_, pageArea);
    convertingPage_ = new ConvertingPage(*run_, [this] { return StartRun(); }, pageArea);
    builderPage_ = new BookBuilderPage(options_, *prompt_, pageArea);
    builderPage_->setObjectName("bookBuilderPage");
    finishedPage_ = new FinishedPage(options_, [this] { return fileListPage_->Paths(); }, pageArea);
    for (int i = 0; i < kPageCount; ++i) {
        PageWidget(i)->hide();
        pageLayout->addWidget(PageWidget(i), 0, 0);
    }

    // ---- buttons and links ----
    saveLog_ = Button("Save log", "saveLog", "savelog", this);
    prev_ = Button("      Prev(&P)", "prev", "prev", this);
    next_ = Button("Next(&N)     ", "next", "next", this);
    repeat_ = Button("Repeat(&R)", "repeat", "repeat", this);
    help_ = Button("&Help", "help", "help", this);
    about_ = Button("A&bout", "about", "about", this);
    auto *links = new QHBoxLayout;
    links->addWidget(Link("Online Help", "onlineHelpLink", kOnlineHelpPage, this));
    links->addWidget(Link("Tell a friend", "tellFriendLink", kTellAFriendPage, this));
    links->addWidget(Link("Report Bugs", "reportBugsLink", kReportBugsPage, this));
    links->addWidget(Link("Features I want", "featuresLink", kFeaturesPage, this));
    links->addStretch();
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(help_);
    buttons->addWidget(about_);
    buttons->addStretch();
    buttons->addWidget(saveLog_);
    buttons->addWidget(prev_);
    buttons->addWidget(next_);
    buttons->addWidget(repeat_);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(pageArea, 1);
    layout->addLayout(links);
    layout->addLayout(buttons);

    connect(next_, &QPushButton::clicked, this, &MainWindow::Next);
    connect(prev_, &QPushButton::clicked, this, &MainWindow::Prev);
    connect(repeat_, &QPushButton::clicked, this, &MainWindow::Repeat);
    connect(saveLog_, &QPushButton::clicked, this, &MainWindow::OnSaveLog);
    connect(help_, &QPushButton::clicked, this, [this] {
        const QUrl url(QString::fromUtf8(kOnlineHelpPage));
        if (openUrl_)
            openUrl_(url);
        else
            QDesktopServices::openUrl(url);
    });
    connect(about_, &QPushButton::clicked, this, [this] {
        std::unique_ptr<QDialog> about(MakeAboutDialog(this));
        about->exec();
    });

    // Signals of the run arrive queued from its threads.
    connect(observer_, &GuiObserver::documentStarted, convertingPage_, &ConvertingPage::ShowDocument);
    connect(observer_, &GuiObserver::documentFinished, this, &MainWindow::OnDocumentFinished);
    connect(observer_, &GuiObserver::conversionDone, this, &MainWindow::OnConversionDone);
    connect(prompt_, &LoggingPrompt::logged, this, &MainWindow::AppendLog);

    // The engine's warnings and the program's notes go into the log as well.
    ConvertingPage *page = convertingPage_;
    auto forward = std::make_shared<LogSink>();
    previousSink_ = SetLogSink([forward, page](LogLevel level, const std::string &text) {
        if (*forward) (*forward)(level, text);
        const QString line = QString(level == LogLevel::Error ? "error: " : "warning: ") + QString::fromStdString(text);
        QMetaObject::invokeMethod(page, [page, line] { page->AppendLog(line); }, Qt::QueuedConnection);
    });
    *forward = previousSink_;

    resize(680, 520);
    QSettings geometry(QString::fromStdString(GeometryPath(settingsPath_)), QSettings::IniFormat);
    restoreGeometry(geometry.value("geometry").toByteArray());

    EnterPage(kTaskPage);
    current_ = kTaskPage;
    UpdateButtons();
}

MainWindow::~MainWindow() {
    destroying_ = true;
    StopRun();
    run_->Finish();
    SetLogSink(previousSink_);
    SettingsFile::Save(options_, settingsPath_);
    ReadingSettings::Save(options_.reading, ReadingSettings::PathBeside(settingsPath_));
    {
        QSettings geometry(QString::fromStdString(GeometryPath(settingsPath_)), QSettings::IniFormat);
        geometry.setValue("geometry", saveGeometry());
    }
    // Pages go in the reverse order of their making, before the run they show.
    for (int i = kPageCount - 1; i >= 0; --i) delete PageWidget(i);
    run_.reset();
}

QWidget *MainWindow::PageWidget(int page) const {
    switch (page) {
    case kTaskPage: return taskPage_;
    case kFileListPage: return fileListPage_;
    case kOptionsPage: return optionsPage_;
    case kConvertingPage: return convertingPage_;
    case kBookBuilderPage: return builderPage_;
    case kFinishedPage: return finishedPage_;
    default: return nullptr;
    }
}

void MainWindow::SetOptionsOffer(GuiObserver::OptionsOffer offer) {
    if (!offer) {
        offer = [this](ConversionOptions &options) {
            OptionsDialog dialog(options, false, this);
            if (dialog.exec() == QDialog::Accepted) dialog.StoreInto(options);
        };
    }
    observer_->SetOptionsOffer(std::move(offer));
}

void MainWindow::UpdateButtons() {
    static constexpr bool kStates[kPageCount][4] = {
        // Save log, Prev, Next, Repeat
        {true, true, true, true},     // task
        {false, true, true, false},   // file list
        {false, true, true, false},   // options
        {false, false, false, false}, // converting
        {true, true, true, false},    // book builder
        {true, true, false, true},    // finished
    };
    const bool *on = kStates[current_];
    saveLog_->setEnabled(on[0]);
    prev_->setEnabled(on[1]);
    next_->setEnabled(on[2]);
    repeat_->setEnabled(on[3]);
}

void MainWindow::EnterPage(int page) {
    switch (page) {
    case kBookBuilderPage: {
        RunState *state = &run_->State();
        if (options_.taskKind == static_cast<int32_t>(TaskKind::DocumentsToEpub)) {
            state = &documentsState_;
            state->successCount = 0;
            state->lastOutputPath.clear();
            state->producedBooks.clear();
            convertingPage_->ClearLog();
            logLines_ = 0;
        }
        shownRun_ = state;
        builderPage_->Enter(fileListPage_->Paths(), fileListPage_->Names(), *state);
        break;
    }
    case kFinishedPage:
        finishedPage_->SetRun(shownRun_);
        finishedPage_->Enter();
        break;
    default:
        static_cast<WizardPage *>(PageWidget(page))->Enter();
        break;
    }
}

void MainWindow::LeavePage(int page) {
    if (page == kBookBuilderPage)
        builderPage_->Leave();
    else
        static_cast<WizardPage *>(PageWidget(page))->Leave();
}

void MainWindow::MoveTo(int page) {
    LeavePage(current_);
    EnterPage(page);
    current_ = page;
    UpdateButtons();
}

void MainWindow::Next() {
    switch (current_) {
    case kTaskPage:
        MoveTo(kFileListPage);
        break;
    case kFileListPage:
        if (fileListPage_->Count() == 0) {
            prompt_->Message(kNoFilesMessage);
            break;
        }
        MoveTo(kOptionsPage);
        break;
    case kOptionsPage:
        if (options_.taskKind == static_cast<int32_t>(TaskKind::PdfToEpub))
            MoveTo(kConvertingPage);
        else if (options_.taskKind == static_cast<int32_t>(TaskKind::DocumentsToEpub))
            MoveTo(kBookBuilderPage);
        else
            UpdateButtons();
        break;
    case kBookBuilderPage: {
        const bool made = builderPage_->BuildBook();
        AppendLog(made && shownRun_ ? "Book made: " + QString::fromStdString(shownRun_->lastOutputPath)
                                    : QString("No book was made."));
        MoveTo(kFinishedPage);
        break;
    }
    default:
        break;
    }
}

void MainWindow::Prev() {
    switch (current_) {
    case kFileListPage: MoveTo(kTaskPage); break;
    case kOptionsPage: MoveTo(kFileListPage); break;
    case kBookBuilderPage: MoveTo(kOptionsPage); break;
    case kFinishedPage: MoveTo(kOptionsPage); break;
    default: break;
    }
}

void MainWindow::Repeat() {
    if (current_ != kFinishedPage) return;
    MoveTo(kTaskPage);
}

StartResult MainWindow::StartRun() {
    convertingPage_->ClearLog();
    logLines_ = 0;
    observer_->RunStarts();
    const std::vector<std::string> paths = fileListPage_->Paths();
    const std::vector<std::string> names = fileListPage_->Names();
    AppendLog(QString("Run started: %1 document(s)").arg(paths.size()));
    const StartResult started = run_->StartConversion(paths, names, paths.size() < 2);
    runActive_ = started == StartResult::Started;
    shownRun_ = &run_->State();
    return started;
}

void MainWindow::OnDocumentFinished(int index, bool bookMade) {
    const std::vector<std::string> names = fileListPage_->Names();
    const QString name = index >= 0 && index < static_cast<int>(names.size()) ? QString::fromStdString(names[index])
                                                                               : QString::number(index + 1);
    const bool single = run_->State().singleDocumentMode;
    AppendLog(QString("%1: %2").arg(name, bookMade ? (single ? "converted" : "book made") : "no book"));
    convertingPage_->DocumentDone();
}

void MainWindow::OnConversionDone(bool batch) {
    if (destroying_ || !runActive_) return;
    runActive_ = false;
    run_->Wait();
    const RunState &state = run_->State();
    if (state.cancelled) AppendLog("Cancelled.");
    if (batch)
        AppendLog(QString("Run ended: %1 of %2 book(s) made").arg(state.successCount).arg(state.sourcePaths.size()));
    if (closePending_) {
        run_->Finish();
        close();
        return;
    }
    if (current_ != kConvertingPage) {
        UpdateButtons();
        return;
    }
    if (batch) {
        run_->Finish();
        MoveTo(kFinishedPage);
    } else {
        MoveTo(kBookBuilderPage);
    }
}

void MainWindow::RunInteractive(StrictSession &session) {
    InteractiveConvertDialog dialog(session, options_, this);
    dialog.SetPageOptionsChooser(ChoosePageOptions);
    interactive_ = &dialog;
    dialog.exec();
    interactive_ = nullptr;
}

void MainWindow::CloseInteractive() {
    if (!interactive_) return;
    interactive_->reject();
    if (interactive_ && interactive_->isVisible())
        QTimer::singleShot(50, this, [this] { CloseInteractive(); });
}

void MainWindow::StopRun() {
    if (!runActive_) return;
    prompt_->SetClosing();
    observer_->SetClosing();
    run_->Cancel();
    CloseInteractive();
    // The run may be waiting for an answer from this thread: keep serving events until it ends.
    while (!observer_->Finished()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    run_->Wait();
    runActive_ = false;
}

void MainWindow::paintEvent(QPaintEvent *event) {
    if (background_.isNull()) {
        QWidget::paintEvent(event);
        return;
    }
    QPainter painter(this);
    painter.drawImage(rect(), background_);
}

void MainWindow::closeEvent(QCloseEvent *event) {
    if (runActive_) {
        // The run ends first: its current document is dropped, and the window closes once the
        // worker has stopped (it may still need this thread to answer it).
        event->ignore();
        if (!closePending_) {
            closePending_ = true;
            prompt_->SetClosing();
            observer_->SetClosing();
            AppendLog("The window is closing: the run is cancelled.");
            setEnabled(false);
            run_->Cancel();
            // The worker waits for the interactive converter: it closes first.
            CloseInteractive();
        }
        return;
    }
    event->accept();
}

void MainWindow::AddStartupFiles(const QStringList &arguments) {
    QStringList files;
    for (const QString &argument : arguments) {
        QFileInfo info(argument);
        if (info.isFile())
            files << info.absoluteFilePath();
        else
            AppendLog("Not a file: " + argument);
    }
    if (files.isEmpty()) return;
    // The files are PDFs to convert: the PDF task, with the list counting as filled for it.
    options_.taskKind = static_cast<int32_t>(TaskKind::PdfToEpub);
    options_.fileListTask = options_.taskKind;
    taskPage_->ShowTask(options_.taskKind);
    rules_.EnterTaskPage(options_.taskKind);
    fileListPage_->AddFiles(files);
}

void MainWindow::AppendLog(const QString &line) {
    if (logLines_ > kLogLineLimit) return;
    ++logLines_;
    convertingPage_->AppendLog(logLines_ > kLogLineLimit ? QString("(further lines left out)") : line);
}

QStringList MainWindow::LogLines() const { return convertingPage_->LogLines(); }

bool MainWindow::SaveLog(const QString &path) const {
    QByteArray text = "Converting log start---------\r\n\r\n";
    for (const QString &line : convertingPage_->LogLines()) text += line.toUtf8() + "\r\n";
    text += "---------Converting log end\r\n\r\n";
    text += "Burning log start---------\r\n\r\n";
    text += "---------Burning log end\r\n";
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return false;
    file.write(text);
    return file.commit();
}

void MainWindow::OnSaveLog() {
    QFileDialog dialog(this);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix("txt");
    dialog.selectFile("va_daded_log.txt");
    dialog.setNameFilters({"Text file(*.txt) (*.txt)", "All Files (*.*) (*)"});
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
    SaveLog(dialog.selectedFiles().first());
}

} // namespace qm
