#pragma once
// How the core talks to the person using the program: a message with an OK button, and a yes/no
// question. The GUI shows message boxes; the CLI prints to stderr and answers from its flags.
// Texts are UTF-8 and are shown exactly as given.
#include <string>

namespace qm {

class UserPrompt {
public:
    virtual ~UserPrompt() = default;
    virtual void Message(const std::string &text, const std::string &caption = std::string()) = 0;
    // true for Yes.
    virtual bool AskYesNo(const std::string &text, const std::string &caption = std::string()) = 0;
};

// Writes messages to stderr, one line each; questions are printed and answered with a fixed
// reply (no console input is read, so the program never blocks on a terminal).
class ConsolePrompt : public UserPrompt {
public:
    explicit ConsolePrompt(bool answerYes = false, bool quiet = false) : answerYes_(answerYes), quiet_(quiet) {}
    void Message(const std::string &text, const std::string &caption = std::string()) override;
    bool AskYesNo(const std::string &text, const std::string &caption = std::string()) override;

private:
    bool answerYes_;
    bool quiet_;
};

// The prompt used by core code that was handed none: a ConsolePrompt answering No.
UserPrompt &DefaultPrompt();

} // namespace qm
