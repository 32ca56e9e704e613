// The prompt of the windows: message boxes on the GUI thread, also when the core asks from its
// worker thread (which then waits for the answer).
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <thread>

#include "ui/gui_prompt.h"

namespace {

// Answers every box that opens with `button` and keeps its caption, text and name.
struct BoxAnswerer {
    explicit BoxAnswerer(QMessageBox::StandardButton button) {
        QObject::connect(&timer, &QTimer::timeout, [this, button] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box) return;
            captions.push_back(box->windowTitle());
            texts.push_back(box->text());
            names.push_back(box->objectName());
            box->button(button)->click();
        });
        timer.start(10);
    }
    QTimer timer;
    QStringList captions, texts, names;
};

TEST(GuiPromptTest, QuestionsFromAWorkerThreadWaitForTheAnswer) {
    qm::GuiPrompt prompt;
    std::vector<std::string> shown;
    prompt.SetShownHook([&](const std::string &text) { shown.push_back(text); });
    BoxAnswerer yes(QMessageBox::Yes);
    std::atomic<int> answers{-1};
    std::atomic<bool> finished{false};
    std::thread worker([&] {
        answers = prompt.AskYesNo("The file: /x.epub have exist. writeover it? ", "Quillmark") ? 1 : 0;
        finished = true;
    });
    QTRY_VERIFY_WITH_TIMEOUT(finished.load(), 5000);
    worker.join();
    EXPECT_EQ(answers.load(), 1);
    ASSERT_EQ(yes.texts.size(), 1);
    EXPECT_EQ(yes.texts[0], "The file: /x.epub have exist. writeover it? ");
    EXPECT_EQ(yes.names[0], "promptQuestion");
    EXPECT_EQ(shown, std::vector<std::string>{"The file: /x.epub have exist. writeover it? "});
}

TEST(GuiPromptTest, MessagesOnEitherThreadAndTheDefaultCaption) {
    qm::GuiPrompt prompt;
    BoxAnswerer ok(QMessageBox::Ok);
    prompt.Message("on the GUI thread");
    std::atomic<bool> finished{false};
    std::thread worker([&] {
        prompt.Message("from the worker", "Caption");
        finished = true;
    });
    QTRY_VERIFY_WITH_TIMEOUT(finished.load(), 5000);
    worker.join();
    EXPECT_EQ(ok.texts, (QStringList{"on the GUI thread", "from the worker"}));
    EXPECT_EQ(ok.captions, (QStringList{"Quillmark", "Caption"}));

    BoxAnswerer no(QMessageBox::No);
    ok.timer.stop();
    EXPECT_FALSE(prompt.AskYesNo("Really?"));
}

} // namespace
