#include "app/run_front_end.h"

#include <QMetaObject>
#include <QThread>

namespace qm {

void GuiObserver::RunInteractiveConverter(StrictSession &session) {
    if (!interactive_ || closing_) return;
    if (QThread::currentThread() == thread()) {
        interactive_(session);
        return;
    }
    // The worker waits here until the window has closed. Were the observer destroyed first, Qt
    // drops the call and lets the worker go on.
    QMetaObject::invokeMethod(
        this,
        [this, &session] {
            if (!closing_) interactive_(session);
        },
        Qt::BlockingQueuedConnection);
}

} // namespace qm
