#include "app/file_list_page.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QListWidget>
#include <QMimeData>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

namespace qm {
namespace {

bool HasExtension(const QString &path, std::initializer_list<const char *> extensions) {
    const QString suffix = QFileInfo(path).suffix().toLower();
    for (const char *e : extensions)
        if (suffix == QLatin1String(e)) return true;
    return false;
}

std::vector<std::string> Rows(const QListWidget *list) {
    std::vector<std::string> rows;
    rows.reserve(list->count());
    for (int i = 0; i < list->count(); ++i) rows.push_back(list->item(i)->text().toStdString());
    return rows;
}

} // namespace

QString FileListPage::AddFilesFilter(int taskKind) {
    if (taskKind == static_cast<int>(TaskKind::DocumentsToEpub))
        return "All supported files (*.html *.htm *.xhtml *.xml);;"
               "HTML Files (*.html;*.htm;*.xhtml;*.xml) (*.html *.htm *.xhtml *.xml);;"
               "All Files (*.*) (*)";
    return "All supported files (*.pdf);;PDF Files (*.pdf) (*.pdf);;All Files (*.*) (*)";
}

bool FileListPage::AcceptsDrop(const QString &path, int taskKind) {
    QFileInfo info(path);
    if (!info.isFile()) return false;
    if (taskKind == static_cast<int>(TaskKind::DocumentsToEpub))
        return HasExtension(path, {"html", "htm", "xhtml", "xml", "txt", "jpg", "jpeg", "gif", "png"});
    return HasExtension(path, {"pdf"});
}

FileListPage::FileListPage(ConversionOptions &options, WizardRules &rules, QWidget *parent)
    : WizardPage(parent), options_(options), rules_(rules) {
    setObjectName("fileListPage");
    setAcceptDrops(true);
    names_ = new QListWidget(this);
    names_->setObjectName("fileNames");
    names_->setSelectionMode(QAbstractItemView::SingleSelection);
    // The full paths behind the names: never shown, always in step with the names.
    paths_ = new QListWidget(this);
    paths_->setObjectName("filePaths");
    paths_->hide();
    add_ = new QPushButton("&Add Files", this);
    add_->setObjectName("addFiles");
    delete_ = new QPushButton("&Delete", this);
    delete_->setObjectName("deleteFile");
    clear_ = new QPushButton("&Clear", this);
    clear_->setObjectName("clearFiles");

    auto *buttons = new QVBoxLayout;
    buttons->addWidget(add_);
    buttons->addWidget(delete_);
    buttons->addWidget(clear_);
    buttons->addStretch();
    auto *layout = new QHBoxLayout(this);
    layout->addWidget(names_, 1);
    layout->addWidget(paths_);
    layout->addLayout(buttons);

    connect(add_, &QPushButton::clicked, this, &FileListPage::OnAddFiles);
    connect(delete_, &QPushButton::clicked, this, &FileListPage::OnDelete);
    connect(clear_, &QPushButton::clicked, this, &FileListPage::Clear);
    connect(names_, &QListWidget::currentRowChanged, this, [this](int row) {
        if (row >= 0 && row < paths_->count())
            paths_->setCurrentRow(row);
        else
            paths_->setCurrentRow(-1);
    });
    connect(names_, &QListWidget::itemSelectionChanged, this, [this] {
        if (names_->selectedItems().isEmpty()) paths_->clearSelection();
    });
}

void FileListPage::AddFiles(const QStringList &paths) {
    for (const QString &path : paths) {
        paths_->addItem(path);
        names_->addItem(QFileInfo(path).fileName());
    }
}

void FileListPage::Clear() {
    names_->clear();
    paths_->clear();
}

int FileListPage::Count() const { return paths_->count(); }
std::vector<std::string> FileListPage::Paths() const { return Rows(paths_); }
std::vector<std::string> FileListPage::Names() const { return Rows(names_); }

void FileListPage::OnAddFiles() {
    const QStringList chosen =
        QFileDialog::getOpenFileNames(this, QString(), QString(), AddFilesFilter(options_.taskKind));
    AddFiles(chosen);
}

void FileListPage::OnDelete() {
    const QList<QListWidgetItem *> selected = paths_->selectedItems();
    if (selected.isEmpty()) return;
    const int row = paths_->row(selected.first());
    delete paths_->takeItem(row);
    delete names_->takeItem(row);
}

void FileListPage::Enter() {
    if (rules_.EnterFileListPage()) Clear();
    show();
}

void FileListPage::Leave() { hide(); }

QStringList FileListPage::DroppedFiles(const QMimeData *data) const {
    QStringList files;
    if (!data || !data->hasUrls()) return files;
    for (const QUrl &url : data->urls())
        if (url.isLocalFile() && AcceptsDrop(url.toLocalFile(), options_.taskKind))
            files << QFileInfo(url.toLocalFile()).absoluteFilePath();
    return files;
}

void FileListPage::dragEnterEvent(QDragEnterEvent *event) {
    if (!DroppedFiles(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void FileListPage::dropEvent(QDropEvent *event) {
    const QStringList files = DroppedFiles(event->mimeData());
    if (files.isEmpty()) return;
    AddFiles(files);
    event->acceptProposedAction();
}

} // namespace qm
