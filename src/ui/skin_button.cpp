#include "ui/skin_button.h"

#include <QEnterEvent>
#include <QFocusEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyleOptionFocusRect>

namespace qm {

SkinButton::SkinButton(const QString &text, QWidget *parent) : QPushButton(text, parent) {
    setMouseTracking(true);
}

QImage SkinButton::Masked(const QImage &image, QRgb transparent) {
    if (image.isNull()) return image;
    QImage out = image.convertToFormat(QImage::Format_ARGB32);
    const QRgb key = transparent & 0xFFFFFFu;
    for (int y = 0; y < out.height(); ++y) {
        QRgb *line = reinterpret_cast<QRgb *>(out.scanLine(y));
        for (int x = 0; x < out.width(); ++x)
            if ((line[x] & 0xFFFFFFu) == key) line[x] = 0;
    }
    return out;
}

QImage SkinButton::MakeGrey(const QImage &image, QRgb transparent) {
    if (image.isNull()) return image;
    QImage out = image.convertToFormat(QImage::Format_ARGB32);
    const QRgb key = transparent & 0xFFFFFFu;
    for (int y = 0; y < out.height(); ++y) {
        QRgb *line = reinterpret_cast<QRgb *>(out.scanLine(y));
        for (int x = 0; x < out.width(); ++x) {
            const QRgb p = line[x];
            if ((p & 0xFFFFFFu) == key) continue;
            // Integer weights give the truncated value of 0.299 r + 0.587 g + 0.114 b exactly
            // (floating point would make white 254).
            const int g = (299 * qRed(p) + 587 * qGreen(p) + 114 * qBlue(p)) / 1000;
            line[x] = qRgba(g, g, g, qAlpha(p));
        }
    }
    return out;
}

void SkinButton::SetBitmaps(const QString &overImage, QRgb overTransparent, const QString &normalImage,
                            QRgb normalTransparent, bool makeGrey) {
    over_ = QImage(overImage);
    normal_ = QImage(normalImage);
    grey_ = makeGrey ? MakeGrey(normal_, normalTransparent) : QImage();
    overShown_ = Masked(over_, overTransparent);
    normalShown_ = Masked(normal_, normalTransparent);
    greyShown_ = Masked(grey_, normalTransparent);
    updateGeometry();
    update();
}

void SkinButton::SizeToImage() {
    const QImage &image = normal_.isNull() ? over_ : normal_;
    if (!image.isNull()) resize(image.size());
}

void SkinButton::SetFlat(bool flat) {
    flat_ = flat;
    if (!flat_) EndHover();
}

QImage SkinButton::CurrentImage() const {
    if (!isEnabled() && !greyShown_.isNull()) return greyShown_;
    bool showOver = isCheckable() ? isChecked() : (isDown() || hovered_);
    if ((showOver || normalShown_.isNull()) && !overShown_.isNull()) return overShown_;
    return normalShown_;
}

QSize SkinButton::sizeHint() const {
    const QImage &image = normal_.isNull() ? over_ : normal_;
    return image.isNull() ? QPushButton::sizeHint() : image.size();
}

void SkinButton::paintEvent(QPaintEvent *event) {
    const QImage image = CurrentImage();
    if (image.isNull()) {  // no pictures: an ordinary button
        QPushButton::paintEvent(event);
        return;
    }
    QPainter p(this);
    // Background, then the picture (its transparent pixels let the background through), then the
    // caption and, for a button that tracks no pointer, the focus rectangle.
    p.fillRect(rect(), palette().color(backgroundRole()));
    const QPoint at((width() - image.width()) / 2, (height() - image.height()) / 2);
    p.drawImage(at, image);
    if (!text().isEmpty()) {
        p.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::ButtonText));
        p.drawText(rect(), Qt::AlignCenter | Qt::TextShowMnemonic, text());
    }
    if (hasFocus() && !flat_) {
        QStyleOptionFocusRect option;
        option.initFrom(this);
        option.rect = rect().adjusted(3, 3, -3, -3);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &p, this);
    }
}

void SkinButton::enterEvent(QEnterEvent *event) {
    QPushButton::enterEvent(event);
    if (flat_ && isEnabled() && !hovered_ && !(event->buttons() & Qt::LeftButton)) {
        hovered_ = true;
        update();
    }
}

void SkinButton::mouseMoveEvent(QMouseEvent *event) {
    QPushButton::mouseMoveEvent(event);
    // With the left button held the hover is only kept, never started.
    if (flat_ && isEnabled() && !hovered_ && rect().contains(event->position().toPoint()) &&
        !(event->buttons() & Qt::LeftButton)) {
        hovered_ = true;
        update();
    }
}

void SkinButton::leaveEvent(QEvent *event) {
    QPushButton::leaveEvent(event);
    EndHover();
}

void SkinButton::focusOutEvent(QFocusEvent *event) {
    QPushButton::focusOutEvent(event);
    EndHover();
}

void SkinButton::changeEvent(QEvent *event) {
    QPushButton::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && !isActiveWindow()) {
        EndHover();
    } else if (event->type() == QEvent::EnabledChange && !isEnabled()) {
        // A disabled button cannot keep the focus: it goes to the next control of the tab order,
        // or to the parent when there is none.
        if (hasFocus() && !focusNextChild() && parentWidget()) parentWidget()->setFocus();
        EndHover();
    }
}

void SkinButton::EndHover() {
    if (!hovered_) return;
    hovered_ = false;
    update();
}

} // namespace qm
