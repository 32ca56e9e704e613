#include "support/temp_dir.h"

#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <dirent.h>
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

ScopedEnv::ScopedEnv(const char *name, const char *value) : name_(name) {
    const char *old = std::getenv(name);
    had_ = old != nullptr;
    if (had_) old_ = old;
    if (value)
        setenv(name, value, 1);
    else
        unsetenv(name);
}

ScopedEnv::~ScopedEnv() {
    if (had_)
        setenv(name_.c_str(), old_.c_str(), 1);
    else
        unsetenv(name_.c_str());
}

std::vector<std::string> ListFolder(const std::string &path) {
    std::vector<std::string> names;
    DIR *d = opendir(path.c_str());
    if (!d) return names;
    while (dirent *e = readdir(d))
        if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") names.push_back(e->d_name);
    closedir(d);
    std::sort(names.begin(), names.end());
    return names;
}

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
