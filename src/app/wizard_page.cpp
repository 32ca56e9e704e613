#include "app/wizard_page.h"

#include <QImage>
#include <QPainter>

namespace qm {

void WizardPage::paintEvent(QPaintEvent *event) {
    QWidget::paintEvent(event);
    static const QImage corner(":/ui/page_corner.png");
    if (corner.isNull()) return;
    QPainter painter(this);
    painter.drawImage(QPoint(width() - corner.width(), height() - corner.height()), corner);
}

} // namespace qm
