#include "app/edit_before_output_dialog.h"

#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QVBoxLayout>

#include "platform/paths.h"

namespace qm {

EditBeforeOutputDialog::EditBeforeOutputDialog(const std::vector<std::string> &books, QWidget *parent)
    : QDialog(parent) {
    setObjectName("editBeforeOutputDialog");
    setWindowTitle("Edit Before Output");
    list_ = new QListWidget(this);
    list_->setObjectName("bookList");
    for (const std::string &book : books) list_->addItem(QString::fromStdString(book));
    list_->setMinimumWidth(420);
    auto *edit = new QPushButton("Edit", this);
    edit->setObjectName("editButton");
    connect(edit, &QPushButton::clicked, this, &EditBeforeOutputDialog::OnEdit);
    label_ = new QLabel(this);
    label_->setObjectName("editLabel");
    auto *ok = new QPushButton("OK", this);
    ok->setObjectName("okButton");
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(edit);
    buttons->addWidget(label_, 1);
    buttons->addWidget(ok);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(list_);
    layout->addLayout(buttons);
}

QString EditBeforeOutputDialog::FindEditor(const QString &programFolder) {
    QString folder = programFolder;
    if (!folder.isEmpty() && !folder.endsWith('/')) folder += '/';
    const QFileInfo bundled(folder + "editor/sigil");
    if (!folder.isEmpty() && bundled.isFile() && bundled.isExecutable()) return bundled.absoluteFilePath();
    return QStandardPaths::findExecutable("sigil");
}

void EditBeforeOutputDialog::OnEdit() {
    QListWidgetItem *item = list_->currentItem();
    if (!item || !item->isSelected()) {
        QMessageBox box(QMessageBox::NoIcon, windowTitle(), kSelectFirst, QMessageBox::Ok, this);
        box.setObjectName("selectFirstMessage");
        box.exec();
        return;
    }
    // Without an editor nothing happens: the books are fine as they are.
    const QString editor = FindEditor(QString::fromStdString(ProgramFolder()));
    if (editor.isEmpty()) return;
    if (launcher_)
        launcher_(editor, item->text());
    else
        QProcess::startDetached(editor, {item->text()});
}

} // namespace qm
