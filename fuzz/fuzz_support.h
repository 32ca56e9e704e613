#pragma once
// What the fuzz targets share: a private scratch folder per input (also $TMPDIR while the input
// runs, so that nothing the core writes lands anywhere else), removed when the input is done; a
// prompt that keeps quiet; a silenced log; and the check that turns a broken promise into a crash
// the fuzzer records.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/prompt.h"

namespace qmfuzz {

// Silences the log and starts the XML parser. Called at the start of every input; the work is
// done once.
void Setup();

// A new folder "qmfz_XXXXXX" in the temporary folder for one input, $TMPDIR while it lives;
// removed with everything in it (and $TMPDIR restored) when it goes out of scope.
class InputFolder {
public:
    InputFolder();
    ~InputFolder();
    InputFolder(const InputFolder &) = delete;
    InputFolder &operator=(const InputFolder &) = delete;
    // The folder, ending in "/".
    const std::string &Path() const { return path_; }
    // Writes `size` bytes into a file of this folder and returns its path (aborts when it cannot).
    std::string Write(const std::string &name, const uint8_t *data, size_t size) const;

private:
    std::string path_;
    std::string savedTmpdir_;
    bool hadTmpdir_ = false;
};

class SilentPrompt : public qm::UserPrompt {
public:
    void Message(const std::string &, const std::string &) override {}
    bool AskYesNo(const std::string &, const std::string &) override { return false; }
};

// Whether `text` parses as XML (libxml2, no network, no external DTD); `root` must then be the
// root element's local name when it is not empty.
bool IsWellFormedXml(const std::string &text, const std::string &root = std::string());

// The href of every "a" element of an XML document, in document order (none when it does not
// parse).
std::vector<std::string> AnchorHrefs(const std::string &xml);

// Prints the broken promise and aborts, so that libFuzzer (and the regression runner) report it.
[[noreturn]] void Fail(const char *what, const std::string &detail = std::string());

} // namespace qmfuzz

#define QMFUZZ_CHECK(cond, detail)                          \
    do {                                                    \
        if (!(cond)) ::qmfuzz::Fail(#cond, (detail));       \
    } while (0)
