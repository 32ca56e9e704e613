#include "platform/prompt.h"

#include <cstdio>
#include <mutex>

namespace qm {
namespace {
std::mutex g_consoleMutex;

void PrintLine(const std::string &caption, const std::string &text) {
    std::lock_guard<std::mutex> g(g_consoleMutex);
    if (caption.empty())
        std::fprintf(stderr, "%s\n", text.c_str());
    else
        std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
}
} // namespace

void ConsolePrompt::Message(const std::string &text, const std::string &caption) {
    if (!quiet_) PrintLine(caption, text);
}

bool ConsolePrompt::AskYesNo(const std::string &text, const std::string &caption) {
    if (!quiet_) PrintLine(caption, text + (answerYes_ ? " [answered yes]" : " [answered no]"));
    return answerYes_;
}

UserPrompt &DefaultPrompt() {
    static ConsolePrompt prompt(false, false);
    return prompt;
}

} // namespace qm
