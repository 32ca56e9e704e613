// The wait dialog: the moving ellipsis (one counter for the whole process), the end once the
// build is done, and a Cancel that neither loses the book nor outlives the flag it watches.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <memory>
#include <thread>

#include "ui/wait_dialog.h"

namespace {

const QString kBase = "Building epub file, please wait";

TEST(WaitDialogTest, DotsCycleAndASecondDialogGoesOnWhereTheFirstStopped) {
    const int start = qm::WaitDialog::DotCounter();
    auto expected = [&](int tick) {  // the label after tick `tick` (from 1) since `start`
        const int n = (start + tick - 1) % 3 + 1;
        return kBase + QString(n, '.');
    };
    auto done = std::make_shared<std::atomic<bool>>(false);
    {
        qm::WaitDialog dialog(done);
        EXPECT_EQ(dialog.windowTitle(), "Wait...");
        EXPECT_EQ(dialog.LabelText(), kBase + "....");
        dialog.show();
        for (int tick = 1; tick <= 4; ++tick) {
            QTRY_COMPARE_WITH_TIMEOUT(dialog.LabelText(), expected(tick), 3000);
            if (tick < 4) QTRY_VERIFY_WITH_TIMEOUT(dialog.LabelText() != expected(tick), 3000);
        }
        dialog.hide();
    }
    qm::WaitDialog second(done);
    second.show();
    QTRY_COMPARE_WITH_TIMEOUT(second.LabelText(), expected(5), 3000);
    second.hide();
}

TEST(WaitDialogTest, EndsWithTheCancelResultOnceTheWorkIsDone) {
    auto done = std::make_shared<std::atomic<bool>>(false);
    qm::WaitDialog dialog(done);
    std::thread worker([done] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        done->store(true);
    });
    EXPECT_EQ(dialog.exec(), int(QDialog::Rejected));
    EXPECT_TRUE(done->load());
    worker.join();
}

TEST(WaitDialogTest, CancelWaitsForTheWorkAndTheFlagOutlivesTheDialog) {
    auto done = std::make_shared<std::atomic<bool>>(false);
    std::weak_ptr<std::atomic<bool>> watch = done;
    auto release = std::make_shared<std::atomic<bool>>(false);
    // The worker holds its own share of the flag, as the book builder page's worker does.
    std::thread worker([flag = done, release] {
        while (!release->load()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        flag->store(true);
    });
    bool stillOpenAfterCancel = false;
    bool cancelDisabled = false;
    {
        qm::WaitDialog dialog(done);
        QTimer::singleShot(0, &dialog, [&] {
            QTest::mouseClick(dialog.findChild<QPushButton *>("waitCancel"), Qt::LeftButton);
            QTest::keyClick(&dialog, Qt::Key_Escape);
            dialog.close();
            QTimer::singleShot(700, &dialog, [&] {  // more than one tick later
                stillOpenAfterCancel = dialog.isVisible();
                cancelDisabled = !dialog.findChild<QPushButton *>("waitCancel")->isEnabled();
                release->store(true);
            });
        });
        EXPECT_EQ(dialog.exec(), int(QDialog::Rejected));
        EXPECT_TRUE(dialog.CancelAsked());
        EXPECT_TRUE(done->load());  // the work had finished when the dialog ended
    }
    EXPECT_TRUE(stillOpenAfterCancel);
    EXPECT_TRUE(cancelDisabled);
    done.reset();
    worker.join();
    EXPECT_TRUE(watch.expired());
}

} // namespace
