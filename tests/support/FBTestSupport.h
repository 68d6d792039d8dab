#pragma once

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "facebook/FBRequest.h"
#include "facebook/Facebook.h"
#include "platform/core/RunLoop.h"
#include "platform/desktop/UrlOpener.h"
#include "support/LogCapture.h"
#include "support/Scratch.h"

namespace quorbit::testing {

// A request delegate that writes down what it was told.
struct RequestRecorder {
    std::vector<std::string> calls;  // "loading", "response", "raw", "load", "fail"
    std::string raw;
    std::optional<facebook::FBResult> result;
    std::optional<platform::Error> error;
    std::shared_ptr<facebook::FBRequestDelegate> delegate =
        std::make_shared<facebook::FBRequestDelegate>(facebook::FBRequestDelegate{
            .didLoadRawResponse = [this](auto&, auto& b) { calls.push_back("raw"), raw = b; },
            .didLoad = [this](auto&, auto& r) { calls.push_back("load"), result = r; },
            .didFailWithError = [this](auto&, auto& e) { calls.push_back("fail"), error = e; },
            .didReceiveResponse = [this](auto&, auto&) { calls.push_back("response"); },
            .requestLoading = [this](auto&) { calls.push_back("loading"); }});

    bool wait(std::chrono::milliseconds limit = std::chrono::milliseconds(5000)) {
        return platform::RunLoop::main().runUntil([this] { return result || error; }, limit);
    }
    // Whether the request ends in time, failing with code.
    bool failsWith(platform::UrlError code,
                   std::chrono::milliseconds limit = std::chrono::milliseconds(5000)) {
        return wait(limit) && error && platform::isUrlError(*error, code);
    }
};

// A session delegate that writes down what it heard: "login", "cancelled", "failed", "logout".
struct SessionRecorder {
    std::vector<std::string> events;
    std::shared_ptr<facebook::FBSessionDelegate> delegate =
        std::make_shared<facebook::FBSessionDelegate>(facebook::FBSessionDelegate{
            .fbDidLogin = [this] { events.push_back("login"); },
            .fbDidNotLogin = [this](bool c) { events.push_back(c ? "cancelled" : "failed"); },
            .fbDidLogout = [this] { events.push_back("logout"); }});
};

// A browser for the tests, saved as a file and run as `python3 FILE PROGRAM URL`: turns down the
// Facebook application's scheme, otherwise returns at once (as a browser that xdg-open starts does)
// and in the background signs in on the page it was given as the mock service's user, then
// hands the URL the service sends it back to over to `PROGRAM URL`, as the desktop would.
inline constexpr const char* kBrowserStandIn =
    R"(import http.client, os, subprocess, sys, urllib.parse
program, url = sys.argv[1], sys.argv[2]
if url.startswith("fbauth:"): sys.exit(1)
if os.fork() != 0: sys.exit(0)
parts = urllib.parse.urlsplit(url)
query = dict(urllib.parse.parse_qsl(parts.query))
form = urllib.parse.urlencode({"redirect_uri": query["redirect_uri"], "user": "ann",
                               "password": "secret", "action": "login"})
post = http.client.HTTPConnection(parts.hostname, parts.port)
post.request("POST", parts.path, form, {"Content-Type": "application/x-www-form-urlencoded"})
subprocess.run([program, post.getresponse().getheader("Location")], check=True)
)";

// The URL opener replaced, while alive, by a script that writes down every URL it is given
// and exits with status; nothing is registered for fbauth: (the handler query prints nothing).
class OpenerStandIn {
  public:
    explicit OpenerStandIn(int status) {
        dir.write("open", "#!/bin/sh\nprintf '%s\\n' \"$1\" >> \"" + (dir / "log").string() +
                              "\"\nexit " + std::to_string(status) + "\n");
        dir.write("query", "#!/bin/sh\nexit 0\n");
        for (const char* name : {"open", "query"})
            std::filesystem::permissions(dir / name, std::filesystem::perms::owner_all);
        platform::UrlOpener::shared().setCommands(
            {.open = {(dir / "open").string()}, .handlerQuery = {(dir / "query").string()}});
    }
    ~OpenerStandIn() { platform::UrlOpener::shared().setCommands(saved); }
    std::vector<std::string> opened() const {
        std::vector<std::string> urls;
        std::ifstream in(dir / "log");
        for (std::string line; std::getline(in, line);)
            urls.push_back(line);
        return urls;
    }

    ScratchDir dir{"fb-opener"};
    platform::UrlOpener::Commands saved = platform::UrlOpener::shared().commands();
};

}  // namespace quorbit::testing
