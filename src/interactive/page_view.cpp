#include "interactive/page_view.h"

#include <QAction>
#include <QHBoxLayout>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWidgetAction>
#include <algorithm>

#include "interactive/region_painter.h"

namespace qm {

namespace {

struct MenuEntry {
    int command;  // 0: the entries after it start a new column
    const char *text;
};

// A column of flat buttons; each triggers its entry's action.
QWidget *MenuColumn(QWidget *parent, QMenu *menu, const std::vector<QAction *> &actions) {
    auto *column = new QWidget(parent);
    auto *layout = new QVBoxLayout(column);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    for (QAction *action : actions) {
        auto *button = new QToolButton(column);
        button->setDefaultAction(action);
        button->setAutoRaise(true);
        button->setToolButtonStyle(Qt::ToolButtonTextOnly);
        button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        button->setObjectName(action->objectName());
        QObject::connect(action, &QAction::triggered, menu, &QMenu::close);
        layout->addWidget(button);
    }
    layout->addStretch(1);
    return column;
}

} // namespace

PageView::PageView(QWidget *parent) : QWidget(parent) {
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumSize(100, 100);
}

void PageView::SetModel(RegionEditor *editor, PageCapture *capture, int pageCount) {
    editor_ = editor;
    capture_ = capture;
    pageCount_ = pageCount;
    buttonDown_ = bandActive_ = handleDrag_ = false;
    Redraw();
}

void PageView::Redraw() {
    if (backBuffer_.size() != size()) backBuffer_ = QImage(size(), QImage::Format_ARGB32_Premultiplied);
    if (backBuffer_.isNull()) return;
    ++drawCount_;
    QPainter painter(&backBuffer_);
    painter.fillRect(backBuffer_.rect(), QColor::fromRgba(kBackground));
    pageRect_ = QRect();
    const fz_pixmap *raster = editor_ && capture_ ? capture_->ViewRaster() : nullptr;
    if (raster && raster->w > 0 && raster->h > 0) {
        const int x = (width() - raster->w) / 2;
        const int y = (height() - raster->h) / 2;
        DrawViewRaster(painter, raster, x, y);
        DrawRegions(painter, *editor_, x, y);
        pageRect_ = QRect(x, y, raster->w, raster->h);
    }
    painter.end();
    update();
}

void PageView::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    if (backBuffer_.isNull()) {
        painter.fillRect(rect(), QColor::fromRgba(kBackground));
        return;
    }
    painter.drawImage(QPoint(0, 0), backBuffer_);
    if (bandActive_ && !lastBand_.isEmpty()) {
        // An inverting 1-pixel frame: visible over any page colour and gone with the next draw.
        painter.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
        painter.setPen(QPen(Qt::white, 1));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(lastBand_.adjusted(0, 0, -1, -1));
    }
}

void PageView::resizeEvent(QResizeEvent *event) {
    QWidget::resizeEvent(event);
    Redraw();
}

void PageView::mousePressEvent(QMouseEvent *event) {
    if (editor_ && event->button() == Qt::LeftButton) {
        const QPoint p = event->position().toPoint();
        buttonDown_ = true;
        pointer_ = p;
        if (editor_->HandleHit(p.x(), p.y()) == 1) {
            handleDrag_ = true;
            editor_->StartDrag(p.x(), p.y());
        }
    }
    QWidget::mousePressEvent(event);
}

void PageView::mouseMoveEvent(QMouseEvent *event) {
    if (editor_) {
        const QPoint p = event->position().toPoint();
        if (handleDrag_) {
            pointer_ = p;
            editor_->DragHandle(p.x(), p.y());
            Redraw();
        } else if (buttonDown_) {
            if (!bandActive_) {
                bandAnchor_ = pointer_;
                bandActive_ = true;
            }
            pointer_ = p;
            // From anchor to pointer whichever way it was dragged (QRect::normalized would move
            // the corners of an upward band by a pixel).
            lastBand_ = QRect(QPoint(std::min(bandAnchor_.x(), p.x()), std::min(bandAnchor_.y(), p.y())),
                              QPoint(std::max(bandAnchor_.x(), p.x()), std::max(bandAnchor_.y(), p.y())));
            editor_->HoverInRect(IntBox{lastBand_.left(), lastBand_.top(), lastBand_.right(), lastBand_.bottom()});
            Redraw();
        } else {
            pointer_ = p;
            editor_->HitTest(p.x(), p.y());
            Redraw();
        }
    }
    QWidget::mouseMoveEvent(event);
}

void PageView::mouseReleaseEvent(QMouseEvent *event) {
    if (editor_) {
        const QPoint p = event->position().toPoint();
        const bool ctrl = event->modifiers() & Qt::ControlModifier;
        if (event->button() == Qt::LeftButton) {
            buttonDown_ = false;
            if (handleDrag_) {
                editor_->EndDrag();
                emit RegionsEdited();
            } else if (bandActive_) {
                bandActive_ = false;  // the band leaves the window with the next paint
                const int r = editor_->CommitSelection(ctrl);
                if (r == 0) editor_->ClearItemState();
                Redraw();
                if (r != 0) ShowMenu(r, p);
            } else {
                const int r = editor_->CommitSelection(ctrl);
                if (r == 0) editor_->ClearItemState();
                Redraw();
                // A click on an item only selects it; a click on a group offers its commands.
                if (r == 2) ShowMenu(r, p);
            }
            bandActive_ = false;
            handleDrag_ = false;
        } else if (event->button() == Qt::RightButton) {
            const int m = editor_->ContextTest(p.x(), p.y());
            Redraw();
            if (m != 0) {
                ShowMenu(m, p);
            } else {
                const int n = editor_->CommitSelection(false);
                Redraw();
                if (n != 0) ShowMenu(n, p);
            }
        }
    }
    QWidget::mouseReleaseEvent(event);
}

QMenu *PageView::BuildMenu(int type, QWidget *parent) {
    static const std::vector<MenuEntry> regionEntries = {
        {ToGraphic, "to Graphic"}, {ToTable, "to Table"}, {MakeGroup, "Group"},
        {0, nullptr},              {Disable, "Disable"},  {Enable, "Enable"},
    };
    static const std::vector<MenuEntry> groupEntries = {{0, nullptr}, {UnGroup, "UnGroup"}};
    static const std::vector<MenuEntry> marginEntries = {
        {ApplyToAfterPages, "Apply to After Pages"},
        {ApplyToAllPages, "Apply to All Pages"},
    };
    std::vector<MenuEntry> entries;
    if (type == ItemMenu || type == GroupMenu) {
        entries = regionEntries;
        if (type == GroupMenu) entries.insert(entries.end(), groupEntries.begin(), groupEntries.end());
    } else if (type == MarginMenu) {
        entries = marginEntries;
    } else {
        return nullptr;
    }

    auto *menu = new QMenu(parent);
    menu->setObjectName(QStringLiteral("regionMenu%1").arg(type));
    auto *panel = new QWidget(menu);
    auto *columns = new QHBoxLayout(panel);
    columns->setContentsMargins(2, 2, 2, 2);
    columns->setSpacing(4);
    std::vector<QAction *> column;
    auto endColumn = [&] {
        if (!column.empty()) columns->addWidget(MenuColumn(panel, menu, column));
        column.clear();
    };
    for (const MenuEntry &entry : entries) {
        if (entry.command == 0) {
            endColumn();
            continue;
        }
        auto *action = new QAction(QString::fromLatin1(entry.text), menu);
        action->setData(entry.command);
        action->setObjectName(QStringLiteral("command%1").arg(entry.command));
        const int command = entry.command;
        connect(action, &QAction::triggered, this, [this, command] { RunCommand(command); });
        column.push_back(action);
    }
    endColumn();
    auto *widgetAction = new QWidgetAction(menu);
    widgetAction->setDefaultWidget(panel);
    menu->addAction(widgetAction);
    return menu;
}

void PageView::ShowMenu(int type, const QPoint &at) {
    if (menu_) menu_->deleteLater();
    QMenu *menu = BuildMenu(type, this);
    if (!menu) return;
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu_ = menu;
    menuType_ = type;
    menu->popup(mapToGlobal(at));
}

void PageView::RunCommand(int command) {
    if (!editor_) return;
    switch (command) {
    case ToGraphic: editor_->SetMark(2); break;
    case ToTable: editor_->SetMark(1); break;
    case MakeGroup: editor_->SetMark(0); break;
    case Disable: editor_->SetEnabled(0); break;
    case Enable: editor_->SetEnabled(1); break;
    case UnGroup: editor_->Ungroup(); break;
    case ApplyToAfterPages:
        editor_->ApplyMarginsToFollowingPages();
        emit RegionsEdited();
        return;
    case ApplyToAllPages:
        if (pageCount_ > 0) editor_->Model().ApplyMarginsToPages(1, pageCount_);
        emit RegionsEdited();
        return;
    default: return;
    }
    Redraw();
    emit RegionsEdited();
}

} // namespace qm
