#pragma once
// Answers every message box that opens while it lives, keeping its caption, text and name, so a
// test can go on past a modal box and check what it said.
#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QStringList>
#include <QTimer>

struct BoxAnswerer {
    // `button` answers questions; a box that lacks it (a message with only OK) gets OK.
    explicit BoxAnswerer(QMessageBox::StandardButton button = QMessageBox::Ok) {
        QObject::connect(&timer, &QTimer::timeout, [this, button] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box) return;
            captions.push_back(box->windowTitle());
            texts.push_back(box->text());
            names.push_back(box->objectName());
            QAbstractButton *b = box->button(button);
            (b ? b : box->button(QMessageBox::Ok))->click();
        });
        timer.start(10);
    }
    // The text of the last box answered ("" when none opened).
    QString LastText() const { return texts.isEmpty() ? QString() : texts.back(); }
    QTimer timer;
    QStringList captions, texts, names;
};
