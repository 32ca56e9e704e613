#include "support/temp_dir.h"

#include <cstdio>
#include <cstdlib>
#include <sys/wait.h>
#include <vector>

#include "platform/paths.h"

namespace qmtest {

TempDir::TempDir() {
    std::string pattern = qm::TempFolder() + "qmtest_XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    const char *made = mkdtemp(buf.data());
    path_ = made ? std::string(made) + "/" : std::string();
}

TempDir::~TempDir() { qm::DeleteFolderTree(path_); }

std::string ShellQuote(const std::string &text) {
    std::string out = "'";
    for (char c : text) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    return out + "'";
}

int RunCommand(const std::string &command, std::string *output) {
    std::string full = command + " 2>&1";
    FILE *p = popen(full.c_str(), "r");
    if (!p) return -1;
    std::string text;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) text.append(buf, n);
    int status = pclose(p);
    if (output) *output = text;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool EpubCheck(const std::string &epubPath, std::string *report) {
    std::string out;
    int rc = RunCommand("java -jar /usr/share/java/epubcheck.jar " + ShellQuote(epubPath), &out);
    if (report) *report = out;
    return rc == 0 && out.find("No errors or warnings detected.") != std::string::npos;
}

} // namespace qmtest
