#pragma once
// The page view of the interactive converter: the view raster of the current page, centred, with
// its items, groups, crop frame and handles over it. Pointer actions and two context menus become
// the region editor's operations: hover, click, Ctrl+click and rubber-band selection, marking,
// grouping, enabling, dragging a crop handle and copying the margins to other pages.
//
// Everything is drawn into a back buffer of the control's size and copied to the window in one
// step; only the rubber band is drawn on the window itself. The view keeps no page state: hover,
// selection and screen rectangles are the editor's, marks and margins the page model's.
#include <QImage>
#include <QMenu>
#include <QPointer>
#include <QWidget>

#include "extract/page_capture.h"
#include "extract/region_editor.h"


namespace qm {

class PageView : public QWidget {
    Q_OBJECT
public:
    // Context menu commands.
    enum Command {
        ToGraphic = 101,
        ToTable = 102,
        MakeGroup = 103,
        Disable = 104,
        Enable = 105,
        ApplyToAfterPages = 108,
        UnGroup = 109,
        ApplyToAllPages = 110,
    };
    // Context menu types: 1 items, 2 groups (adds "UnGroup"), 3 the margin zone.
    enum MenuType { ItemMenu = 1, GroupMenu = 2, MarginMenu = 3 };

    explicit PageView(QWidget *parent = nullptr);

    // The page to show and edit: the editor's model's current page, its view raster taken from
    // `capture` (null: no raster, nothing drawn). `pageCount` bounds "Apply to All Pages". Without
    // an editor the view draws only its background and ignores the pointer.
    void SetModel(RegionEditor *editor, PageCapture *capture, int pageCount);
    void SetPageCount(int pageCount) { pageCount_ = pageCount; }
    RegionEditor *Editor() const { return editor_; }

    // Draws the page into the back buffer and schedules the window's update (after a page change
    // or an edit made elsewhere).
    void Redraw();
    // Carries out a context menu command; unknown ones are ignored.
    void RunCommand(int command);

    // The context menu open now (null when none), and the type it was opened as.
    QMenu *OpenMenu() const { return menu_.data(); }
    int OpenMenuType() const { return menu_ ? menuType_ : 0; }
    // Builds the context menu of a type (owned by the caller); the entries stand in columns.
    QMenu *BuildMenu(int type, QWidget *parent);

    const QImage &BackBuffer() const { return backBuffer_; }
    // Where the page raster was drawn last (empty before).
    QRect PageScreenRect() const { return pageRect_; }
    // The rubber band being dragged (empty when none), in window pixels.
    QRect Band() const { return bandActive_ ? lastBand_ : QRect(); }
    // Draws of the back buffer so far.
    int DrawCount() const { return drawCount_; }

    static constexpr QRgb kBackground = 0xFF787878;

signals:
    // The page's regions, marks or margins were changed by the user.
    void RegionsEdited();

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    void ShowMenu(int type, const QPoint &at);

    RegionEditor *editor_ = nullptr;
    PageCapture *capture_ = nullptr;
    int pageCount_ = 0;
    QImage backBuffer_;
    bool buttonDown_ = false;
    bool bandActive_ = false;
    bool handleDrag_ = false;
    QPoint pointer_;
    QPoint bandAnchor_;
    QRect lastBand_;
    QRect pageRect_;
    int drawCount_ = 0;
    QPointer<QMenu> menu_;
    int menuType_ = 0;
};

} // namespace qm
