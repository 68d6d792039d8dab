#pragma once

#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "facebook/FBRequest.h"
#include "platform/core/Log.h"
#include "platform/core/RunLoop.h"
#include "platform/desktop/UrlOpener.h"

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

// The URL opener replaced, while alive, by a script that writes down every URL it is given
// and exits with status; nothing is registered for fbauth: (the handler query prints nothing).
class OpenerStandIn {
  public:
    explicit OpenerStandIn(int status) {
        namespace fs = std::filesystem;
        std::string pattern = (fs::temp_directory_path() / "fb-opener-XXXXXX").string();
        dir = mkdtemp(pattern.data());
        std::ofstream(dir / "open") << "#!/bin/sh\nprintf '%s\\n' \"$1\" >> \""
                                    << (dir / "log").string() << "\"\nexit " << status << "\n";
        std::ofstream(dir / "query") << "#!/bin/sh\nexit 0\n";
        fs::permissions(dir / "open", fs::perms::owner_all);
        fs::permissions(dir / "query", fs::perms::owner_all);
        saved = platform::UrlOpener::shared().commands();
        platform::UrlOpener::Commands commands;
        commands.open = {(dir / "open").string()};
        commands.handlerQuery = {(dir / "query").string()};
        platform::UrlOpener::shared().setCommands(commands);
    }
    ~OpenerStandIn() {
        platform::UrlOpener::shared().setCommands(saved);
        std::filesystem::remove_all(dir);
    }
    std::vector<std::string> opened() const {
        std::vector<std::string> urls;
        std::ifstream in(dir / "log");
        for (std::string line; std::getline(in, line);)
            urls.push_back(line);
        return urls;
    }

    std::filesystem::path dir;
    platform::UrlOpener::Commands saved;
};

}  // namespace quorbit::testing
