#include "json/JsonLog.h"

#include <cstdio>
#include <mutex>

namespace quorbit::json {

namespace {

std::mutex& sinkMutex() {
    static std::mutex mutex;
    return mutex;
}

JsonLog::Sink& currentSink() {
    static JsonLog::Sink sink;
    return sink;
}

}  // namespace

JsonLog::Sink JsonLog::setSink(Sink sink) {
    std::lock_guard lock(sinkMutex());
    Sink previous = std::move(currentSink());
    currentSink() = std::move(sink);
    return previous;
}

void JsonLog::write(const std::string& line) {
    Sink sink;
    {
        std::lock_guard lock(sinkMutex());
        sink = currentSink();
    }
    if (sink) {
        sink(line);
    } else {
        std::fprintf(stderr, "%s\n", line.c_str());
    }
}

}  // namespace quorbit::json
