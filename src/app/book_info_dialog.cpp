#include "app/book_info_dialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace qm {

BookInfoDialog::BookInfoDialog(const BookInfo &values, bool hideSameAsSource, QWidget *parent)
    : QDialog(parent), values_(values), hideSameAsSource_(hideSameAsSource) {
    setObjectName("bookInfoDialog");
    setWindowTitle("Set eBook Title");
    auto edit = [this](const QString &name, const QString &text) {
        auto *e = new QLineEdit(text, this);
        e->setObjectName(name);
        e->setMinimumWidth(260);
        return e;
    };
    title_ = edit("titleEdit", values.title);
    creator_ = edit("creatorEdit", values.creator);
    subject_ = edit("subjectEdit", values.subject);
    author_ = edit("authorEdit", values.author);  // kept, never shown
    author_->hide();
    sameAsSource_ = new QCheckBox("same as source pdf", this);
    sameAsSource_->setObjectName("sameAsSourceCheck");
    // A hidden check box cannot be unchecked by the person, so it must not lock the edits.
    sameAsSource_->setChecked(values.sameAsSource && !hideSameAsSource);
    sameAsSource_->setVisible(!hideSameAsSource);

    auto *form = new QFormLayout;
    form->addRow("Title:", title_);
    form->addRow("Creator:", creator_);
    form->addRow("Subject:", subject_);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setObjectName("okButton");
    buttons->button(QDialogButtonBox::Cancel)->setObjectName("cancelButton");
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(sameAsSource_);
    layout->addWidget(author_);
    layout->addWidget(buttons);

    connect(sameAsSource_, &QCheckBox::toggled, this, &BookInfoDialog::FollowCheckBox);
    FollowCheckBox();
}

void BookInfoDialog::FollowCheckBox() {
    // The texts stay as they are while the edits are disabled.
    const bool editable = !sameAsSource_->isChecked();
    for (QLineEdit *e : {title_, creator_, subject_, author_}) e->setEnabled(editable);
}

void BookInfoDialog::accept() {
    values_.title = title_->text();
    values_.creator = creator_->text();
    values_.subject = subject_->text();
    values_.author = author_->text();
    if (!hideSameAsSource_) values_.sameAsSource = sameAsSource_->isChecked();
    QDialog::accept();
}

} // namespace qm
