#include "platform/log.h"

#include <cstdio>
#include <mutex>

namespace qm {
namespace {

std::mutex &SinkMutex() {
    static std::mutex m;
    return m;
}

LogSink &Sink() {
    static LogSink sink = [](LogLevel level, const std::string &text) {
        std::fprintf(stderr, "%s%s\n", level == LogLevel::Error ? "error: " : "warning: ", text.c_str());
    };
    return sink;
}

} // namespace

LogSink SetLogSink(LogSink sink) {
    std::lock_guard<std::mutex> g(SinkMutex());
    LogSink old = std::move(Sink());
    Sink() = std::move(sink);
    return old;
}

void Log(LogLevel level, const std::string &text) {
    std::lock_guard<std::mutex> g(SinkMutex());
    if (Sink()) Sink()(level, text);
}

struct LogCapture::Impl {
    mutable std::mutex m;
    std::string text;
};

LogCapture::LogCapture() : impl_(new Impl) {
    Impl *impl = impl_;
    previous_ = SetLogSink([impl](LogLevel, const std::string &line) {
        std::lock_guard<std::mutex> g(impl->m);
        impl->text += line;
        impl->text += '\n';
    });
}

LogCapture::~LogCapture() {
    SetLogSink(std::move(previous_));
    delete impl_;
}

std::string LogCapture::Text() const {
    std::lock_guard<std::mutex> g(impl_->m);
    return impl_->text;
}

bool LogCapture::Contains(const std::string &needle) const { return Text().find(needle) != std::string::npos; }

} // namespace qm
