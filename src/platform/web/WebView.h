#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/core/Error.h"
#include "platform/gfx/Image.h"
#include "platform/ui/View.h"

namespace quorbit::platform {

// Why the web engine cannot show pages; the codes of the "quorbit.web" domain.
enum class WebError : long {
    NotOnMainThread = 1,     // the engine was started off the main thread
    NoBackend = 2,           // the engine's backend library could not be loaded
    NoSharedMemory = 3,      // the backend cannot render into shared memory
    MainContextTaken = 4,    // GLib's main context belongs to another thread
    NoModule = 5,            // the web engine's module is missing or cannot be loaded
    EngineUnavailable = 10,  // a page was loaded while the engine cannot run
};
constexpr const char* errorDomain(WebError) {
    return "quorbit.web";
}

// How a navigation came about, as the navigation filter sees it.
enum class WebNavigationType {
    LinkClicked,
    FormSubmitted,
    BackForward,
    Reload,
    FormResubmitted,
    Other
};

class WebView;

// Optional callbacks: an empty member is "not implemented". All run on the main thread, from
// the run loop (never from inside the web engine), so they may load, evaluate scripts or
// destroy the view.
struct WebViewDelegate {
    // Every navigation and every redirect, main frame, before it loads: answer false to refuse
    // it (the load then fails with domain "quorbit.page-load", code 102, "frame load
    // interrupted", reported through didFailLoad). A server redirect comes as Other, whatever
    // started the load. The engine does not say which frame a navigation is for, so the
    // navigations of frames inside the page (iframes) are asked about too, mostly as Other.
    std::function<bool(WebView&, const std::string& url, WebNavigationType)> shouldStartLoad;
    std::function<void(WebView&)> didStartLoad;
    std::function<void(WebView&)> didFinishLoad;
    // Load failures: a load that was cancelled (stopLoading, or a new load replacing it) is
    // domain "quorbit.url" code -999; a refused navigation is "quorbit.page-load" 102;
    // network failures are "quorbit.url" with a negative code and a readable description.
    // The failing URL is the "NSErrorFailingURLStringKey" entry; the engine's own error is
    // the underlying error.
    std::function<void(WebView&, const Error&)> didFailLoad;
};

// A web page shown as a view. The web engine starts with the first WebView made in the
// process (nothing is paid before). Pointer events on the view and key events while it is
// the focused view go to the page: the mouse (touch 0) presses, drags and clicks as in a
// desktop browser; fingers are touches, so a dragging finger scrolls the page and a tap
// clicks.
//
// The page is rendered offscreen by the engine's own processes at the view's size in points
// and its contentScaleFactor (the screen's scale to begin with); each finished page frame
// is copied into the view's picture. Before the first frame the view is white.
//
// Main thread only.
class WebView : public View {
  public:
    explicit WebView(Rect frame = {});
    ~WebView() override;
    void setDelegate(WebViewDelegate* delegate);  // not owned; nullptr clears
    WebViewDelegate* delegate() const;
    void loadRequest(const std::string& url);  // GET, with the engine's cookies
    void stopLoading();
    bool isLoading() const;
    std::string currentUrl() const;
    // Runs a script in the page and returns its result as text ("" when it fails or returns
    // nothing). Waits for the answer (bounded) while the web engine keeps running.
    std::string stringByEvaluatingJavaScript(const std::string& script);
    // Deletes the web engine's cookies whose domain matches host (for logout): the cookies
    // of the site host belongs to, kept on disk or not.
    static void deleteCookiesForHost(const std::string& host);

    // Why the web engine cannot run in this process, or nothing when it can (or has not
    // been tried yet: this starts it).
    static std::optional<Error> engineUnavailable();
    // Whether the web engine has been started in this process.
    static bool engineStarted();

    // The latest page frame (straight RGBA, in pixels), empty before the first.
    Image pageSnapshot() const;
    // How many page frames have arrived.
    std::uint64_t pageFrameCount() const;
    // The size in pixels the page is being rendered at.
    int pagePixelWidth() const;
    int pagePixelHeight() const;

    // View.
    void setFrame(Rect frame) override;
    void layoutSubviews() override;
    bool draws() const override { return true; }
    void draw(Canvas& canvas) override;
    bool canBecomeFocused() const override { return true; }
    void touchesBegan(const std::vector<Touch>& touches) override;
    void touchesMoved(const std::vector<Touch>& touches) override;
    void touchesEnded(const std::vector<Touch>& touches) override;
    void touchesCancelled(const std::vector<Touch>& touches) override;
    void keyDown(const KeyEvent& event) override;
    void keyUp(const KeyEvent& event) override;
    void textInput(const std::string& text) override;

    struct Impl;

  protected:
    void didChangeFocus(bool focused) override;

  private:
    std::shared_ptr<Impl> _impl;
};

}  // namespace quorbit::platform
