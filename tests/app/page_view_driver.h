#pragma once
// Driving the interactive converter's page view as a person would: rectangles of the page in
// points found on the view, rubber bands dragged over them with the mouse, and the command the
// menu that opens then offers.
#include <QMenu>
#include <QRect>
#include <QTest>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>

#include "app/main_window.h"
#include "extract/region_editor.h"
#include "interactive/interactive_convert_dialog.h"
#include "interactive/page_view.h"
#include "ui/page_thumbnail_list.h"

namespace qmtest {

// A rectangle of the page shown, in points from its top-left corner, on the page view.
inline QRect OnScreen(qm::RegionEditor &editor, double x0, double y0, double x1, double y1) {
    const fz_rect r = fz_transform_rect(fz_make_rect(x0, y0, x1, y1), editor.Model().viewTransform);
    const qm::IntBox s = editor.ScreenRect(qm::IntBox{static_cast<int>(r.x0), static_cast<int>(r.y0),
                                                      static_cast<int>(r.x1) + 1, static_cast<int>(r.y1) + 1});
    return QRect(QPoint(s.x0, s.y0), QPoint(s.x1, s.y1));
}

// A rubber band over `r` with the left button: what lies inside is selected and the item menu
// opens; it is closed again and `command` (unless 0) carried out, as choosing it would.
inline void BandCommand(qm::PageView *view, const QRect &r, int command) {
    QTest::mousePress(view, Qt::LeftButton, {}, r.topLeft());
    QTest::mouseMove(view, r.center());
    QTest::mouseMove(view, r.bottomRight());
    QTest::mouseRelease(view, Qt::LeftButton, {}, r.bottomRight());
    ASSERT_NE(view->OpenMenu(), nullptr);
    EXPECT_EQ(view->OpenMenuType(), qm::PageView::ItemMenu);
    view->OpenMenu()->close();
    if (command) view->RunCommand(command);
}

// Calls `work` once, inside the interactive converter of a Strict run of `window`, as soon as it
// shows and its thumbnails have loaded (the worker waits for it to close meanwhile).
inline void WhenConverterOpens(qm::MainWindow &window, std::function<void(qm::InteractiveConvertDialog &)> work) {
    auto *poll = new QTimer(&window);
    poll->setInterval(20);
    QObject::connect(poll, &QTimer::timeout, poll, [&window, poll, work] {
        auto *dialog = qobject_cast<qm::InteractiveConvertDialog *>(window.InteractiveDialog());
        if (!dialog || !dialog->isVisible()) return;
        poll->stop();
        poll->deleteLater();
        // OK is refused while the thumbnails load (they start a moment after the window shows): as a
        // person would, wait until the list is filled and OK can be clicked again.
        EXPECT_TRUE(QTest::qWaitFor(
            [dialog] { return dialog->OkButton()->isEnabled() && dialog->PageList()->count() > 0; }, 60000));
        work(*dialog);
        // A failed assertion inside `work` returns early; the run must still end, not wait forever.
        if (dialog->isVisible()) {
            ADD_FAILURE() << "the interactive converter was left open";
            dialog->reject();
        }
    });
    poll->start();
}

} // namespace qmtest
