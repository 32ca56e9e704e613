#pragma once
// A user prompt for tests: keeps every message and question (with their captions) and answers
// questions with `answer`. Safe to use from a worker thread.
#include <mutex>
#include <string>
#include <vector>

#include "platform/prompt.h"

namespace qmtest {

class RecordingPrompt : public qm::UserPrompt {
public:
    void Message(const std::string &text, const std::string &caption) override {
        std::lock_guard<std::mutex> g(m_);
        messages.push_back(text);
        messageCaptions.push_back(caption);
    }
    bool AskYesNo(const std::string &text, const std::string &) override {
        std::lock_guard<std::mutex> g(m_);
        questions.push_back(text);
        return answer;
    }
    std::vector<std::string> messages;
    std::vector<std::string> messageCaptions;
    std::vector<std::string> questions;
    bool answer = false;

private:
    std::mutex m_;
};

} // namespace qmtest
