#include "platform/core/Log.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace quorbit::platform {
namespace {

Log::Level thresholdFromEnvironment() {
    const char* value = std::getenv("QUORBIT_LOG");
    if (!value) return Log::Level::Info;
    if (!std::strcmp(value, "debug")) return Log::Level::Debug;
    if (!std::strcmp(value, "warn")) return Log::Level::Warn;
    if (!std::strcmp(value, "error")) return Log::Level::Error;
    return Log::Level::Info;
}

std::atomic<int>& threshold() {
    static std::atomic<int> level{static_cast<int>(thresholdFromEnvironment())};
    return level;
}

std::mutex& sinkMutex() {
    static std::mutex mutex;
    return mutex;
}

Log::Sink& sink() {
    static Log::Sink current;
    return current;
}

const char* levelName(Log::Level level) {
    switch (level) {
        case Log::Level::Debug:
            return "debug";
        case Log::Level::Info:
            return "info";
        case Log::Level::Warn:
            return "warning";
        case Log::Level::Error:
            return "error";
    }
    return "";
}

}  // namespace

bool Log::enabled(Level level) {
    return static_cast<int>(level) >= threshold().load();
}

void Log::setThreshold(Level level) {
    threshold().store(static_cast<int>(level));
}

void Log::write(Level level, const std::string& message) {
    std::lock_guard lock(sinkMutex());
    if (sink()) {
        sink()(level, message);
        return;
    }
    if (!enabled(level)) return;
    std::fprintf(stderr, "quorbit: %s: %s\n", levelName(level), message.c_str());
}

Log::Sink Log::setSink(Sink newSink) {
    std::lock_guard lock(sinkMutex());
    Sink old = std::move(sink());
    sink() = std::move(newSink);
    return old;
}

std::string format(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    va_list copy;
    va_copy(copy, args);
    int length = std::vsnprintf(nullptr, 0, fmt, copy);
    va_end(copy);
    std::string out;
    if (length > 0) {
        out.resize(static_cast<size_t>(length));
        std::vsnprintf(out.data(), out.size() + 1, fmt, args);
    }
    va_end(args);
    return out;
}

}  // namespace quorbit::platform
