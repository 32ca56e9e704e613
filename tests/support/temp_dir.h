#pragma once
// A fresh folder under the temporary folder for one test, removed with everything in it when the
// object goes out of scope.
#include <string>
#include <vector>

namespace qmtest {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    // The folder, ending in "/".
    const std::string &Path() const { return path_; }
    // Path() + name.
    std::string File(const std::string &name) const { return path_ + name; }

private:
    std::string path_;
};

// Sets (or, with a null value, removes) an environment variable for the life of the object.
class ScopedEnv {
public:
    ScopedEnv(const char *name, const char *value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv &) = delete;
    ScopedEnv &operator=(const ScopedEnv &) = delete;

private:
    std::string name_, old_;
    bool had_ = false;
};

// Names in a folder ("." and ".." left out), sorted; empty when it cannot be read.
std::vector<std::string> ListFolder(const std::string &path);

// Runs a shell command and returns its exit status; its combined output goes to `output`.
int RunCommand(const std::string &command, std::string *output = nullptr);

// Runs epubcheck on a book. Returns true when it reports neither errors nor warnings; the full
// report is put in `report` either way.
bool EpubCheck(const std::string &epubPath, std::string *report = nullptr);

// Quotes a text for the shell.
std::string ShellQuote(const std::string &text);

} // namespace qmtest
