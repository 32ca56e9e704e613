#pragma once
// Wizard page 1: the input files, as two lists kept entry by entry in step: the names shown and
// the full paths behind them. Both keep the order files were added in and accept duplicates.
// Files come from "Add Files", from the command line and from drag and drop.
#include <QStringList>
#include <string>
#include <vector>

#include "app/wizard_page.h"
#include "options/wizard_rules.h"

class QListWidget;
class QMimeData;
class QPushButton;

namespace qm {

class FileListPage : public WizardPage {
    Q_OBJECT
public:
    FileListPage(ConversionOptions &options, WizardRules &rules, QWidget *parent = nullptr);
    void Enter() override;
    void Leave() override;

    // Appends files (full paths) in the given order: the path to the hidden list, the name after
    // the last "/" to the shown one.
    void AddFiles(const QStringList &paths);
    void Clear();
    int Count() const;
    std::vector<std::string> Paths() const;
    std::vector<std::string> Names() const;
    // Whether a dropped file suits the task (PDF files, or documents and pictures).
    static bool AcceptsDrop(const QString &path, int taskKind);

    // The filter of "Add Files" for a task, in the file dialog's form.
    static QString AddFilesFilter(int taskKind);

protected:
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    void OnAddFiles();
    void OnDelete();
    QStringList DroppedFiles(const QMimeData *data) const;

    ConversionOptions &options_;
    WizardRules &rules_;
    QListWidget *names_ = nullptr, *paths_ = nullptr;
    QPushButton *add_ = nullptr, *delete_ = nullptr, *clear_ = nullptr;
};

} // namespace qm
