// The interactive converter's "Set Parse Options": the page-mode options dialog's answer, and the
// process-wide defaults it starts from left as they were.
#include <QApplication>
#include <QCheckBox>
#include <QRadioButton>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>

#include "app/options_dialog.h"
#include "app/page_options_chooser.h"

namespace {

// Runs `act` on the options dialog once it is open.
void WhenOpen(std::function<void(QDialog &)> act) {
    auto *timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, [timer, act] {
        auto *dialog = qobject_cast<qm::OptionsDialog *>(QApplication::activeModalWidget());
        if (!dialog) return;
        timer->stop();
        timer->deleteLater();
        act(*dialog);
    });
    timer->start(10);
}

TEST(PageOptionsChooser, TheAnswerComesFromTheDialogAndTheDefaultsStay) {
    qm::ConversionOptions defaults;
    defaults.columnMode = 1;
    defaults.paragraphCheck = 1;
    defaults.ignoreImages = 0;
    WhenOpen([](QDialog &d) {
        d.findChild<QRadioButton *>("multiColumns")->setChecked(true);
        d.findChild<QCheckBox *>("paragraphCheck")->setChecked(false);
        d.findChild<QCheckBox *>("ignoreImages")->setChecked(true);
        d.accept();
    });
    qm::PageParseOptions chosen;
    chosen.noOutput = 1;
    chosen.imageWholePage = 1;
    ASSERT_TRUE(qm::ChoosePageOptions(nullptr, defaults, chosen));
    EXPECT_EQ(chosen.columnMode, 2);
    EXPECT_EQ(chosen.paragraphCheck, 0);
    EXPECT_EQ(chosen.ignoreImages, 1);
    EXPECT_EQ(chosen.alignCheck, 1);
    // Switches the dialog does not offer are left to the caller.
    EXPECT_EQ(chosen.noOutput, 1);
    EXPECT_EQ(chosen.imageWholePage, 1);
    EXPECT_EQ(defaults.columnMode, 1);
    EXPECT_EQ(defaults.ignoreImages, 0);

    WhenOpen([](QDialog &d) { d.reject(); });
    qm::PageParseOptions untouched;
    EXPECT_FALSE(qm::ChoosePageOptions(nullptr, defaults, untouched));
    EXPECT_EQ(untouched, qm::PageParseOptions{});
}

} // namespace
