#pragma once
// Diagnostic log of the program: the PDF engine's error and warning trace and the program's own
// notes. The log is never the way a user is told about a failure (that is UserPrompt); it is for
// diagnosis. Each front end installs its own sink; the default writes to stderr.
#include <functional>
#include <string>

namespace qm {

enum class LogLevel { Warning, Error };

using LogSink = std::function<void(LogLevel, const std::string &)>;

// Replaces the sink and returns the previous one. An empty sink discards everything.
// Thread-safe; the sink itself may be called from any thread, one call at a time.
LogSink SetLogSink(LogSink sink);
void Log(LogLevel level, const std::string &text);
inline void LogError(const std::string &text) { Log(LogLevel::Error, text); }
inline void LogWarning(const std::string &text) { Log(LogLevel::Warning, text); }

// Keeps every line logged while it is alive (restores the previous sink afterwards). For tests
// and for the GUI's per-document log list.
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;
    std::string Text() const;          // every captured line, each ending in "\n"
    bool Contains(const std::string &needle) const;

private:
    struct Impl;
    Impl *impl_;
    LogSink previous_;
};

} // namespace qm
