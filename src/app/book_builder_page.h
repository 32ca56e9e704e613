#pragma once
// The book builder page of the wizard: the ordered list of files that become one book (the user's
// own documents and pictures, or the content files of a single converted PDF), with their
// navigation titles, and the build itself on a worker thread under a wait dialog.
#include <QString>
#include <QWidget>
#include <functional>
#include <string>
#include <vector>

#include "epub/epub_builder.h"
#include "options/conversion_options.h"
#include "platform/prompt.h"
#include "worker/conversion_worker.h"

class QLineEdit;
class QListWidget;
class QPushButton;

namespace qm {

class BookBuilderPage : public QWidget {
    Q_OBJECT
public:
    BookBuilderPage(ConversionOptions &options, UserPrompt &prompt, QWidget *parent = nullptr);

    // listedPaths/listedNames: the file list page's two lists. state: the PDF run's RunState for a
    // single PDF (runStem, producedFiles, sourceTitle...), or a RunState the main window owns for
    // the documents task; the build writes successCount, lastOutputPath, producedBooks into it.
    void Enter(const std::vector<std::string> &listedPaths, const std::vector<std::string> &listedNames,
               RunState &state);
    void Leave();
    // Modal wait dialog while the book is built on its own thread; true when a book was made.
    bool BuildBook();

    // The entries, in list order (what the four lists hold).
    struct Entry {
        std::string path, name, title, guideType;
    };
    std::vector<Entry> Entries() const;
    BookMetadata Metadata() const { return metadata_; }
    // The folder "Open Folder" opens.
    std::string PageFolder() const { return pageFolder_; }
    // Appends files as "Add Files" does after the file dialog.
    void AddFiles(const QStringList &paths);

    // How files and folders are opened ("Preview", "Open Folder"); tests replace it.
    using Opener = std::function<void(const QString &path)>;
    void SetOpener(Opener opener) { opener_ = std::move(opener); }
    // Whether Enter asks for the book's title (tests of the lists turn it off).
    void SetAskTitle(bool ask) { askTitle_ = ask; }

    // The filter of "Add Files", in the file dialog's form.
    static QString AddFilesFilter();
    // The message of Up, Down and Set without a selected entry.
    static constexpr const char *kSelectFirst = "Please select a item first.";

private:
    void Append(const std::string &path, bool titleToFirstDot);
    void SelectRow(int row);
    void OnAddFiles();
    void OnDelete();
    void OnMove(int delta, QPushButton *button);
    void OnSet();
    void OnPreview();
    void OnOpenFolder();
    void Open(const QString &path);

    ConversionOptions &options_;
    UserPrompt &prompt_;
    RunState *state_ = nullptr;
    std::vector<std::string> listedPaths_, listedNames_;
    std::string pageFolder_;
    BookMetadata metadata_;
    bool askTitle_ = true;
    Opener opener_;

    QListWidget *names_ = nullptr, *paths_ = nullptr, *titles_ = nullptr, *guideTypes_ = nullptr;
    QLineEdit *titleEdit_ = nullptr;
    QPushButton *add_ = nullptr, *delete_ = nullptr, *up_ = nullptr, *down_ = nullptr, *set_ = nullptr,
                *preview_ = nullptr, *openFolder_ = nullptr;
};

} // namespace qm
