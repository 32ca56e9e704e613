#pragma once
// The page list of the interactive converter: an icon view with one 120 x 150 picture per page,
// the page drawn into a frame with a grey shadow.
#include <QImage>
#include <QListWidget>
#include <QString>

namespace qm {

class PageThumbnailList : public QListWidget {
    Q_OBJECT
public:
    static constexpr int kWidth = 120;
    static constexpr int kHeight = 150;

    explicit PageThumbnailList(QWidget *parent = nullptr);

    // Sets up the icon view (done by the constructor; calling it again changes nothing).
    void Setup();
    // Appends a page with its label; returns the item's index.
    int AddPage(const QImage &page, const QString &label);

    // The 120 x 150 picture of a page: white, a 2 pixel grey (0x808080) shadow on the right and
    // at the bottom, a black frame from (0, 0) to (118, 148) and the page stretched to 116 x 146
    // at (1, 1), its aspect ratio not kept.
    static QImage Compose(const QImage &page);
};

} // namespace qm
