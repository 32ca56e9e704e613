#include "app/book_builder_page.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSignalBlocker>
#include <QThread>
#include <QUrl>
#include <QVBoxLayout>
#include <atomic>
#include <memory>
#include <thread>

#include "app/book_info_dialog.h"
#include "ui/wait_dialog.h"
#include "worker/book_builder.h"

namespace qm {
namespace {

std::string FileName(const std::string &path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string FolderOf(const std::string &path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// Documents go into the reading order and can be moved and titled; other files cannot.
bool IsDocumentName(const QString &name) {
    const int dot = name.lastIndexOf('.');
    const QString ext = dot < 0 ? QString() : name.mid(dot + 1).toUpper();
    return ext == "HTML" || ext == "HTM" || ext == "XML" || ext == "XHTML" || ext == "TXT";
}

QString Q(const std::string &s) { return QString::fromStdString(s); }

} // namespace

BookBuilderPage::BookBuilderPage(ConversionOptions &options, UserPrompt &prompt, QWidget *parent)
    : QWidget(parent), options_(options), prompt_(prompt) {
    setObjectName("bookBuilderPage");
    auto list = [this](const QString &name) {
        auto *l = new QListWidget(this);
        l->setObjectName(name);
        l->setSelectionMode(QAbstractItemView::SingleSelection);
        return l;
    };
    names_ = list("namesList");
    // The three lists kept in step with the names are never shown.
    paths_ = list("pathsList");
    titles_ = list("titlesList");
    guideTypes_ = list("guideTypesList");
    for (QListWidget *hidden : {paths_, titles_, guideTypes_}) hidden->hide();

    auto button = [this](const QString &text, const QString &name) {
        auto *b = new QPushButton(text, this);
        b->setObjectName(name);
        return b;
    };
    add_ = button("&Add Files", "addFilesButton");
    delete_ = button("&Delete", "deleteButton");
    up_ = button("U&p", "upButton");
    down_ = button("D&own", "downButton");
    preview_ = button("Pre&view", "previewButton");
    openFolder_ = button("&Open Folder", "openFolderButton");
    set_ = button("Set", "setButton");
    titleEdit_ = new QLineEdit(this);
    titleEdit_->setObjectName("titleEdit");
    titleEdit_->setMaxLength(256);
    delete_->setEnabled(false);
    preview_->setEnabled(false);

    auto *side = new QVBoxLayout;
    for (QPushButton *b : {add_, delete_, up_, down_, preview_, openFolder_}) side->addWidget(b);
    side->addStretch();
    auto *top = new QHBoxLayout;
    top->addWidget(names_, 1);
    top->addLayout(side);
    auto *titleRow = new QHBoxLayout;
    titleRow->addWidget(new QLabel("Title:", this));
    titleRow->addWidget(titleEdit_, 1);
    titleRow->addWidget(set_);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top, 1);
    layout->addLayout(titleRow);

    connect(names_, &QListWidget::currentRowChanged, this, &BookBuilderPage::SelectRow);
    connect(names_, &QListWidget::itemSelectionChanged, this, [this] { SelectRow(names_->currentRow()); });
    connect(add_, &QPushButton::clicked, this, &BookBuilderPage::OnAddFiles);
    connect(delete_, &QPushButton::clicked, this, &BookBuilderPage::OnDelete);
    connect(up_, &QPushButton::clicked, this, [this] { OnMove(-1, up_); });
    connect(down_, &QPushButton::clicked, this, [this] { OnMove(1, down_); });
    connect(set_, &QPushButton::clicked, this, &BookBuilderPage::OnSet);
    connect(preview_, &QPushButton::clicked, this, &BookBuilderPage::OnPreview);
    connect(openFolder_, &QPushButton::clicked, this, &BookBuilderPage::OnOpenFolder);
}

QString BookBuilderPage::AddFilesFilter() {
    // Qt's form of "Name|patterns|": the patterns in parentheses, separated by blanks.
    return "All supported files (*.html *.htm *.xhtml *.xml *.jpg *.jpeg *.gif *.png *.txt);;"
           "HTML Files (*.html *.htm *.xhtml *.xml);;"
           "Image Files (*.jpg *.jpeg *.gif *.png);;"
           "All Files (*)";
}

std::vector<BookBuilderPage::Entry> BookBuilderPage::Entries() const {
    std::vector<Entry> entries;
    for (int i = 0; i < names_->count(); ++i)
        entries.push_back(Entry{paths_->item(i)->text().toStdString(), names_->item(i)->text().toStdString(),
                                titles_->item(i)->text().toStdString(), guideTypes_->item(i)->text().toStdString()});
    return entries;
}

void BookBuilderPage::Append(const std::string &path, bool titleToFirstDot) {
    const std::string name = FileName(path);
    const size_t dot = titleToFirstDot ? name.find('.') : name.rfind('.');
    paths_->addItem(Q(path));
    names_->addItem(Q(name));
    titles_->addItem(Q(dot == std::string::npos ? name : name.substr(0, dot)));
    guideTypes_->addItem("0");
}

void BookBuilderPage::Enter(const std::vector<std::string> &listedPaths, const std::vector<std::string> &listedNames,
                            RunState &state) {
    show();
    state_ = &state;
    listedPaths_ = listedPaths;
    listedNames_ = listedNames;
    for (QListWidget *l : {names_, paths_, titles_, guideTypes_}) l->clear();
    titleEdit_->clear();
    delete_->setEnabled(false);
    preview_->setEnabled(false);

    const bool fromPdf = options_.taskKind == static_cast<int32_t>(TaskKind::PdfToEpub);
    if (fromPdf) {
        // The content files of the single PDF, in book order, in the run's work folder.
        pageFolder_ = state.workRoot.empty() ? std::string() : state.workRoot + "/";
        for (const std::string &file : state.producedFiles) Append(file, false);
    } else {
        // The folder of the first listed document: the documents have no work folder.
        pageFolder_ = listedPaths.empty() ? std::string() : FolderOf(listedPaths.front());
        for (const std::string &path : listedPaths) Append(path, true);
    }

    if (fromPdf && options_.useSourceMetadata)
        metadata_ = BookMetadata{state.sourceTitle, state.sourceAuthor, state.sourceSubject};
    else
        metadata_ = BookMetadata{options_.bookTitle, options_.bookCreator, options_.bookSubject};
    if (askTitle_) {
        BookInfo info{Q(metadata_.title), Q(metadata_.creator), Q(metadata_.subject), QString(), false};
        BookInfoDialog dialog(info, true, this);
        if (dialog.exec() == QDialog::Accepted) {
            const BookInfo edited = dialog.Values();
            metadata_ = BookMetadata{edited.title.toStdString(), edited.creator.toStdString(),
                                     edited.subject.toStdString()};
        }
    }
}

void BookBuilderPage::Leave() { hide(); }

void BookBuilderPage::AddFiles(const QStringList &paths) {
    for (const QString &p : paths) Append(p.toStdString(), true);
}

void BookBuilderPage::OnAddFiles() {
    const QStringList files = QFileDialog::getOpenFileNames(this, QString(), QString(), AddFilesFilter());
    AddFiles(files);
}

void BookBuilderPage::SelectRow(int row) {
    QListWidgetItem *item = row >= 0 && row < titles_->count() ? names_->item(row) : nullptr;
    if (!item || !item->isSelected()) {
        // Nothing selected (the list was emptied or the selection cleared).
        if (names_->selectedItems().isEmpty()) {
            delete_->setEnabled(false);
            preview_->setEnabled(false);
        }
        return;
    }
    const bool document = IsDocumentName(item->text());
    for (QWidget *w : std::initializer_list<QWidget *>{up_, down_, set_, titleEdit_}) w->setEnabled(document);
    titleEdit_->setText(titles_->item(row)->text());
    for (QListWidget *l : {paths_, titles_, guideTypes_}) l->setCurrentRow(row);
    for (QPushButton *b : {delete_, preview_, openFolder_}) b->setEnabled(true);
}

void BookBuilderPage::OnSet() {
    const int row = names_->currentRow();
    if (row < 0 || names_->selectedItems().isEmpty()) {
        prompt_.Message(kSelectFirst);
        set_->setEnabled(false);
        return;
    }
    titles_->item(row)->setText(titleEdit_->text());
    guideTypes_->item(row)->setText(QString::number(guideTypes_->item(row)->text().toInt()));
}

void BookBuilderPage::OnMove(int delta, QPushButton *button) {
    const int row = names_->currentRow();
    if (row < 0 || names_->selectedItems().isEmpty()) {
        prompt_.Message(kSelectFirst);
        button->setEnabled(false);
        return;
    }
    const int to = row + delta;
    if (to < 0 || to >= names_->count()) return;
    {
        // The selection follows once all four lists are in step again.
        const QSignalBlocker quiet(names_);
        for (QListWidget *l : {names_, paths_, guideTypes_, titles_}) {
            QListWidgetItem *moved = l->takeItem(row);
            l->insertItem(to, moved);
        }
        names_->setCurrentRow(to);
    }
    SelectRow(to);
}

void BookBuilderPage::OnDelete() {
    const int row = names_->currentRow();
    if (row < 0 || names_->selectedItems().isEmpty()) return;
    {
        const QSignalBlocker quiet(names_);
        for (QListWidget *l : {paths_, titles_, guideTypes_, names_}) delete l->takeItem(row);
        // Nothing is selected afterwards.
        names_->clearSelection();
        names_->setCurrentRow(-1);
    }
    SelectRow(-1);
}

void BookBuilderPage::Open(const QString &path) {
    if (path.isEmpty()) return;
    if (opener_)
        opener_(path);
    else
        QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

void BookBuilderPage::OnPreview() {
    const int row = names_->currentRow();
    if (row < 0 || names_->selectedItems().isEmpty()) return;
    Open(paths_->item(row)->text());
}

void BookBuilderPage::OnOpenFolder() {
    std::string folder = pageFolder_;
    // Files added on this page alone: the folder of the first of them.
    if (folder.empty() && paths_->count() > 0) folder = FolderOf(paths_->item(0)->text().toStdString());
    Open(Q(folder));
}

bool BookBuilderPage::BuildBook() {
    if (!state_) return false;
    BookBuildRequest request;
    for (const Entry &e : Entries()) request.files.push_back(BookFile{e.path, e.title});
    // The book is named after the first file as it was listed on the file list page, whatever
    // order the entries have now; files added here alone name it after the first of them.
    if (!listedPaths_.empty() && !listedNames_.empty()) {
        request.firstListedPath = listedPaths_.front();
        request.firstListedName = listedNames_.front();
    } else if (!request.files.empty()) {
        request.firstListedPath = request.files.front().path;
        request.firstListedName = FileName(request.firstListedPath);
    }
    request.metadata = metadata_;
    request.fromPdfRun = options_.taskKind == static_cast<int32_t>(TaskKind::PdfToEpub);

    // The flag is shared: the dialog, the worker and this function each hold it, so whichever ends
    // last frees it.
    auto done = std::make_shared<std::atomic<bool>>(false);
    const ConversionOptions options = options_;
    RunState &state = *state_;
    UserPrompt &prompt = prompt_;
    auto result = std::make_shared<std::atomic<int>>(static_cast<int>(BookBuildResult::NotMade));
    std::thread worker([options, request, &state, &prompt, done, result] {
        result->store(static_cast<int>(BookBuilderWorker(options, request, state, prompt, done.get())));
    });
    WaitDialog dialog(done, this);
    dialog.exec();
    // The dialog ends only once the build has finished; should it end earlier anyway, the GUI
    // thread keeps serving the worker's questions until it has.
    while (!done->load()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    worker.join();
    return static_cast<BookBuildResult>(result->load()) == BookBuildResult::Made;
}

} // namespace qm
