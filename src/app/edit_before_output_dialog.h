#pragma once
// "Edit Before Output": the books the last run produced; "Edit" opens the selected one in the
// external EPUB editor (editor/sigil under the program folder, else sigil on the PATH).
#include <QDialog>
#include <QString>
#include <functional>
#include <string>
#include <vector>

class QListWidget;
class QLabel;

namespace qm {

class EditBeforeOutputDialog : public QDialog {
    Q_OBJECT
public:
    explicit EditBeforeOutputDialog(const std::vector<std::string> &books, QWidget *parent = nullptr);

    // Starts the editor with the book as its only argument; false when no editor could be started
    // (nothing is shown then). Tests replace it.
    using Launcher = std::function<bool(const QString &editor, const QString &book)>;
    void SetLauncher(Launcher launcher) { launcher_ = std::move(launcher); }

    // The editor to start: `programFolder`/editor/sigil when it is an executable file, else sigil
    // found on the PATH; "" when there is none.
    static QString FindEditor(const QString &programFolder);

    static constexpr const char *kSelectFirst = "Please select a file first!";

private:
    void OnEdit();

    QListWidget *list_ = nullptr;
    QLabel *label_ = nullptr;
    Launcher launcher_;
};

} // namespace qm
