#include "ui/page_thumbnail_list.h"

#include <QIcon>
#include <QPainter>
#include <QPixmap>

namespace qm {

PageThumbnailList::PageThumbnailList(QWidget *parent) : QListWidget(parent) { Setup(); }

void PageThumbnailList::Setup() {
    setViewMode(QListView::IconMode);
    setIconSize(QSize(kWidth, kHeight));
    setGridSize(QSize(kWidth + 5, kHeight + 30));  // the "Pages" column is 125 pixels wide
    setMovement(QListView::Static);
    setResizeMode(QListView::Adjust);
    setUniformItemSizes(true);
    setWrapping(true);
}

QImage PageThumbnailList::Compose(const QImage &page) {
    QImage image(kWidth, kHeight, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter p(&image);
    const QColor shadow(0x80, 0x80, 0x80);
    p.fillRect(QRect(118, 2, 2, 148), shadow);   // right: x 118 to 120, y 2 to 150
    p.fillRect(QRect(2, 148, 118, 2), shadow);   // bottom: x 2 to 120, y 148 to 150
    // The frame covers (0, 0) to (118, 148), its outline on the outermost pixels.
    p.setPen(Qt::black);
    p.setBrush(Qt::white);
    p.drawRect(QRect(0, 0, 117, 147));
    if (!page.isNull())
        p.drawImage(QPoint(1, 1), page.scaled(116, 146, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
    return image;
}

int PageThumbnailList::AddPage(const QImage &page, const QString &label) {
    auto *item = new QListWidgetItem(QIcon(QPixmap::fromImage(Compose(page))), label);
    addItem(item);
    return row(item);
}

} // namespace qm
