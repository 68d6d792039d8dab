#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "facebook/FBRequest.h"
#include "platform/core/Log.h"
#include "platform/core/RunLoop.h"

namespace quorbit::testing {

// A request delegate that writes down what it was told.
struct RequestRecorder {
    std::vector<std::string> calls;  // "loading", "response", "raw", "load", "fail"
    std::string raw;
    std::optional<facebook::FBResult> result;
    std::optional<platform::Error> error;
    std::shared_ptr<facebook::FBRequestDelegate> delegate =
        std::make_shared<facebook::FBRequestDelegate>();

    RequestRecorder() {
        delegate->requestLoading = [this](facebook::FBRequest&) { calls.push_back("loading"); };
        delegate->didReceiveResponse = [this](facebook::FBRequest&, const platform::UrlResponse&) {
            calls.push_back("response");
        };
        delegate->didLoadRawResponse = [this](facebook::FBRequest&, const std::string& bytes) {
            calls.push_back("raw");
            raw = bytes;
        };
        delegate->didLoad = [this](facebook::FBRequest&, const facebook::FBResult& r) {
            calls.push_back("load");
            result = r;
        };
        delegate->didFailWithError = [this](facebook::FBRequest&, const platform::Error& e) {
            calls.push_back("fail");
            error = e;
        };
    }

    bool ended() const { return result || error; }
    bool wait(std::chrono::milliseconds limit = std::chrono::milliseconds(5000)) {
        return platform::RunLoop::main().runUntil([this] { return ended(); }, limit);
    }
};

// Collects log lines while alive.
struct LogCapture {
    std::vector<std::string> lines;
    platform::Log::Sink previous;
    LogCapture() {
        previous = platform::Log::setSink(
            [this](platform::Log::Level, const std::string& line) { lines.push_back(line); });
    }
    ~LogCapture() { platform::Log::setSink(previous); }
    bool contains(const std::string& text) const {
        for (const std::string& line : lines) {
            if (line.find(text) != std::string::npos) return true;
        }
        return false;
    }
};

}  // namespace quorbit::testing
