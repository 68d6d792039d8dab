#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/core/Error.h"
#include "platform/core/RunLoop.h"
#include "platform/ui/View.h"
#include "platform/web/WebView.h"

// The boundary between the program and its web engine. The engine (and the libraries it
// brings: the page renderer, the HTTP stack, the offscreen backend) lives in a module of its
// own, loaded the first time a web view or a cookie deletion needs it, so that a program that
// never shows a web page never maps any of it.
//
// The module calls nothing of the program's directly: everything it needs (the main loop, the
// log, the display's refresh rate) comes through WebEngineHost, and it talks to each web view
// through WebPageClient. The types that cross (Error, std::function, std::string,
// std::shared_ptr) are header-only or come from the C++ runtime both sides share.

namespace quorbit::platform {

// What the program does for the engine. Main thread only, except post.
class WebEngineHost {
  public:
    virtual ~WebEngineHost() = default;
    virtual bool isMainThread() = 0;
    virtual void post(RunLoop::Task task) = 0;
    virtual RunLoop::Id addHook(std::function<std::optional<RunLoop::Duration>()> hook) = 0;
    virtual void removeHook(RunLoop::Id id) = 0;
    virtual RunLoop::Id watchFd(int fd, short events, std::function<void(short)> handler) = 0;
    virtual void unwatchFd(RunLoop::Id id) = 0;
    // Runs the main loop until done holds or timeout passes; whether done held.
    virtual bool runUntil(const std::function<bool()>& done, RunLoop::Duration timeout) = 0;
    virtual double refreshRate() = 0;
    virtual void logDebug(const std::string& message) = 0;
    virtual void logWarning(const std::string& message) = 0;
};

// What a page tells its view. Called from the main loop, never from inside the engine, so a
// call may destroy the view (after which the page calls nothing more).
class WebPageClient {
  public:
    virtual ~WebPageClient() = default;
    virtual bool pageShouldStartLoad(const std::string& url, WebNavigationType type) = 0;
    virtual void pageDidStartLoad() = 0;
    virtual void pageDidFinishLoad() = 0;
    virtual void pageDidFailLoad(const Error& error) = 0;
    // A finished page frame: premultiplied B, G, R, A bytes (A unused when opaque), valid
    // only during the call. Called from inside the engine: the view copies it and returns.
    virtual void pageFrame(const std::uint8_t* pixels, int width, int height, int stride,
                           bool opaque) = 0;
};

// One page rendered offscreen, the engine's side of a web view. Positions are in points from
// the view's top left corner; the page turns them into its pixels.
class WebPage {
  public:
    virtual ~WebPage() = default;
    // The view has gone: the page calls its client no more.
    virtual void detach() = 0;
    virtual void setSize(std::uint32_t width, std::uint32_t height) = 0;
    virtual void setScale(double scale) = 0;
    virtual void load(const std::string& url) = 0;
    virtual void stop() = 0;
    virtual bool isLoading() const = 0;
    virtual std::string currentUrl() const = 0;
    virtual std::string evaluateScript(const std::string& script) = 0;
    // The mouse is touch 0; other ids are fingers.
    virtual void touch(int id, TouchPhase phase, Point at) = 0;
    virtual void key(const KeyEvent& event, bool pressed) = 0;
    virtual void text(const std::string& text) = 0;
    virtual void setFocused(bool focused) = 0;
};

// The engine as the module offers it; one a process, never unloaded.
class WebEngineModule {
  public:
    virtual ~WebEngineModule() = default;
    // Starts the engine (on the first call); why it cannot run here, or nothing.
    virtual std::optional<Error> start() = 0;
    // A page for client at a size in points; null when the engine has not started.
    virtual std::shared_ptr<WebPage> createPage(WebPageClient& client, std::uint32_t width,
                                                std::uint32_t height) = 0;
    // See WebView::deleteCookiesForHost. Returns how many sites lost cookies.
    virtual int deleteCookiesForHost(const std::string& host) = 0;
};

// The one symbol the module exports: makes the engine (not yet started) for host, which
// outlives it.
using WebEngineModuleFactory = WebEngineModule* (*)(WebEngineHost* host);
inline constexpr const char* kWebEngineModuleFactory = "quorbit_web_engine_module";
// The module's file name, beside the program (or in lib/quorbit of its prefix).
inline constexpr const char* kWebEngineModuleFile = "quorbit-webengine.so";

}  // namespace quorbit::platform
