#pragma once
// "Set eBook Title": the book's title, creator, subject and author, and whether they are taken
// from the source PDF instead ("same as source pdf", which disables the edits but keeps their
// texts). The values are transferred only on OK: read Values() after the dialog was accepted.
#include <QDialog>
#include <QString>

class QCheckBox;
class QLineEdit;

namespace qm {

struct BookInfo {
    QString title, creator, subject, author;
    bool sameAsSource = false;
};

class BookInfoDialog : public QDialog {
    Q_OBJECT
public:
    // With hideSameAsSource the check box is not shown (and counts as unchecked).
    BookInfoDialog(const BookInfo &values, bool hideSameAsSource, QWidget *parent = nullptr);
    // The values as they were given, or as edited once OK was pressed.
    BookInfo Values() const { return values_; }

public slots:
    void accept() override;

private:
    void FollowCheckBox();

    BookInfo values_;
    bool hideSameAsSource_;
    QLineEdit *title_ = nullptr, *creator_ = nullptr, *subject_ = nullptr, *author_ = nullptr;
    QCheckBox *sameAsSource_ = nullptr;
};

} // namespace qm
