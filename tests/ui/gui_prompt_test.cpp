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

#include "gui_support/box_answerer.h"
#include "ui/gui_prompt.h"

namespace {

TEST(GuiPromptTest, WorkerThreadWaitsForTheAnswerOnTheGuiThread) {
    qm::GuiPrompt prompt;
    std::vector<std::string> shown;
    prompt.SetShownHook([&](const std::string &text) { shown.push_back(text); });
    BoxAnswerer yes(QMessageBox::Yes);
    std::atomic<int> answer{-1};
    std::atomic<bool> finished{false};
    std::thread worker([&] {
        prompt.Message("from the worker");
        answer = prompt.AskYesNo("The file: /x.epub have exist. writeover it? ", "Caption") ? 1 : 0;
        finished = true;
    });
    QTRY_VERIFY_WITH_TIMEOUT(finished.load(), 5000);
    worker.join();
    EXPECT_EQ(answer.load(), 1);
    EXPECT_EQ(yes.texts, (QStringList{"from the worker", "The file: /x.epub have exist. writeover it? "}));
    EXPECT_EQ(yes.captions, (QStringList{"Quillmark", "Caption"}));
    EXPECT_EQ(yes.names, (QStringList{"promptMessage", "promptQuestion"}));
    EXPECT_EQ(shown.size(), 2u);

    yes.timer.stop();
    BoxAnswerer no(QMessageBox::No);  // on the GUI thread itself the box opens directly
    EXPECT_FALSE(prompt.AskYesNo("Really?"));
}

} // namespace
