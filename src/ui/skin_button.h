#pragma once
// A push button drawn from pictures: the "over" picture while it is pressed or the pointer is over
// it, the normal picture otherwise, and a grey copy of the normal picture while it is disabled.
// Pixels of a picture's transparent colour are not drawn. Only a flat button (the default)
// follows the pointer.
#include <QImage>
#include <QPushButton>
#include <QRgb>
#include <QString>

namespace qm {

class SkinButton : public QPushButton {
    Q_OBJECT
public:
    explicit SkinButton(const QString &text = {}, QWidget *parent = nullptr);

    // Loads both pictures (resource paths such as ":/ui/next_over.png"); with makeGrey the grey
    // picture is made from the normal one.
    void SetBitmaps(const QString &overImage, QRgb overTransparent, const QString &normalImage,
                    QRgb normalTransparent, bool makeGrey);
    // Resizes the button to its normal picture without moving it.
    void SizeToImage();
    void SetFlat(bool flat);

    bool IsSkinFlat() const { return flat_; }
    bool IsHovered() const { return hovered_; }
    // The picture the button shows in its present state (transparent pixels have alpha 0).
    QImage CurrentImage() const;
    const QImage &GreyImage() const { return grey_; }

    // Every pixel that is not `transparent` becomes grey trunc(0.299 r + 0.587 g + 0.114 b);
    // pixels of the transparent colour stay as they are.
    static QImage MakeGrey(const QImage &image, QRgb transparent);

protected:
    void paintEvent(QPaintEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void changeEvent(QEvent *event) override;
    QSize sizeHint() const override;

private:
    void EndHover();
    static QImage Masked(const QImage &image, QRgb transparent);

    QImage over_, normal_, grey_;          // as loaded (grey_ keeps the transparent colour)
    QImage overShown_, normalShown_, greyShown_;  // transparent colour turned into alpha 0
    bool flat_ = true;
    bool hovered_ = false;
};

} // namespace qm
