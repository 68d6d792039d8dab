#include "platform/web/WebView.h"

#include <cairo.h>
#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#include "platform/core/Log.h"
#include "platform/core/RunLoop.h"
#include "platform/gfx/Canvas.h"
#include "platform/net/UrlError.h"
#include "platform/ui/DisplayLink.h"
#include "platform/ui/Window.h"
#include "platform/web/WebEngineModule.h"

namespace quorbit::platform {
namespace {

namespace fs = std::filesystem;

// The key of the URL that failed to load.
constexpr const char* kFailingUrlKey = "NSErrorFailingURLStringKey";

// The program's side of the engine's needs: the main run loop, the log and the display.
class MainLoopHost : public WebEngineHost {
  public:
    bool isMainThread() override { return RunLoop::isMainThread(); }
    void post(RunLoop::Task task) override { RunLoop::main().post(std::move(task)); }
    RunLoop::Id addHook(std::function<std::optional<RunLoop::Duration>()> hook) override {
        return RunLoop::main().addHook(std::move(hook));
    }
    void removeHook(RunLoop::Id id) override { RunLoop::main().removeHook(id); }
    RunLoop::Id watchFd(int fd, short events, std::function<void(short)> handler) override {
        return RunLoop::main().watchFd(fd, events, std::move(handler));
    }
    void unwatchFd(RunLoop::Id id) override { RunLoop::main().unwatchFd(id); }
    bool runUntil(const std::function<bool()>& done, RunLoop::Duration timeout) override {
        return RunLoop::main().runUntil(done, timeout);
    }
    double refreshRate() override { return DisplayLink::refreshRate(); }
    void logDebug(const std::string& message) override { Log::debug(message); }
    void logWarning(const std::string& message) override { Log::warn(message); }
};

struct EngineState {
    bool tried = false;
    std::optional<Error> error;
    WebEngineModule* module = nullptr;
};

EngineState& state() {
    static EngineState s;
    return s;
}

// Where the module may be: QUORBIT_WEB_ENGINE alone when it is set; else beside the program,
// in lib/quorbit of the program's prefix, and where the build put it.
std::vector<fs::path> moduleCandidates() {
    const char* given = std::getenv("QUORBIT_WEB_ENGINE");
    if (given && *given) return {fs::path(given)};
    std::vector<fs::path> paths;
    std::error_code ec;
    fs::path program = fs::read_symlink("/proc/self/exe", ec);
    if (!ec && program.has_parent_path()) {
        paths.push_back(program.parent_path() / kWebEngineModuleFile);
        paths.push_back(program.parent_path().parent_path() / "lib" / "quorbit" /
                        kWebEngineModuleFile);
    }
#ifdef QUORBIT_BUILD_WEB_ENGINE
    paths.push_back(QUORBIT_BUILD_WEB_ENGINE);
#endif
    return paths;
}

// Loads the module and makes its engine; the module stays loaded for the process.
Result<WebEngineModule*> loadModule() {
    std::vector<fs::path> candidates = moduleCandidates();
    std::string looked;
    for (const fs::path& path : candidates) {
        std::error_code ec;
        if (!fs::exists(path, ec)) {
            looked += (looked.empty() ? "" : ", ") + path.string();
            continue;
        }
        void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!handle) {
            const char* why = dlerror();
            return Error::make(WebError::NoModule, "cannot load the web engine's module: " +
                                                       std::string(why ? why : path.string()));
        }
        auto factory =
            reinterpret_cast<WebEngineModuleFactory>(dlsym(handle, kWebEngineModuleFactory));
        WebEngineModule* module = factory ? factory(new MainLoopHost()) : nullptr;
        if (!module)
            return Error::make(WebError::NoModule,
                               "the web engine's module " + path.string() + " offers no engine");
        Log::debug("web engine: module " + path.string());
        return module;
    }
    return Error::make(WebError::NoModule, std::string("the web engine's module ") +
                                               kWebEngineModuleFile +
                                               " is not installed (looked in " + looked + ")");
}

// The started engine, or null when it cannot run here (state().error says why).
WebEngineModule* engine() {
    EngineState& s = state();
    if (!s.tried) {
        s.tried = true;
        auto module = loadModule();
        if (!module) {
            s.error = module.error();
            Log::warn("web engine: " + s.error->localizedDescription());
        } else if (auto error = (*module)->start()) {
            s.error = error;  // the module has said why
        } else {
            s.module = *module;
        }
    }
    return s.module;
}

}  // namespace

// The program's side of one web view: what the page tells the view, and its last frame.
struct WebView::Impl : WebPageClient {
    WebView* owner = nullptr;
    WebViewDelegate* delegate = nullptr;
    std::shared_ptr<WebPage> page;
    std::weak_ptr<Impl> self;

    // The page size sent to the engine, in points, and the scale it renders at.
    std::uint32_t pageWidth = 0, pageHeight = 0;
    double pageScale = 0;
    // The latest page frame, premultiplied ARGB32, and the scale it was rendered at.
    std::unique_ptr<cairo_surface_t, decltype(&cairo_surface_destroy)> frame{
        nullptr, &cairo_surface_destroy};
    double frameScale = 1;
    std::uint64_t frameCount = 0;

    ~Impl() override {
        if (page) page->detach();
    }

    void sync() {
        if (!page || !owner) return;
        Rect bounds = owner->bounds();
        auto width = static_cast<std::uint32_t>(std::max(1.0, std::round(bounds.width())));
        auto height = static_cast<std::uint32_t>(std::max(1.0, std::round(bounds.height())));
        double scale = std::clamp(owner->contentScaleFactor(), 0.05, 5.0);
        if (width != pageWidth || height != pageHeight) {
            pageWidth = width;
            pageHeight = height;
            page->setSize(width, height);
        }
        if (scale != pageScale) {
            pageScale = scale;
            page->setScale(scale);
        }
    }

    void touch(int id, TouchPhase phase, Point at) {
        if (!page || !owner) return;
        Rect b = owner->bounds();
        // A cancelled press comes up away from the page, so that nothing is clicked.
        if (id == 0 && phase == TouchPhase::Cancelled)
            at = {b.minX() - b.width() - 100, b.minY() - b.height() - 100};
        page->touch(id, phase, {at.x - b.minX(), at.y - b.minY()});
    }

    // WebPageClient. Each call may end in the view's destruction: nothing of it is used after
    // the delegate's call.
    bool pageShouldStartLoad(const std::string& url, WebNavigationType type) override {
        auto keep = self.lock();
        return !delegate || !delegate->shouldStartLoad ||
               delegate->shouldStartLoad(*owner, url, type);
    }
    void pageDidStartLoad() override {
        auto keep = self.lock();
        if (delegate && delegate->didStartLoad) delegate->didStartLoad(*owner);
    }
    void pageDidFinishLoad() override {
        auto keep = self.lock();
        if (delegate && delegate->didFinishLoad) delegate->didFinishLoad(*owner);
    }
    void pageDidFailLoad(const Error& error) override {
        auto keep = self.lock();
        if (delegate && delegate->didFailLoad) delegate->didFailLoad(*owner, error);
    }
    void pageFrame(const std::uint8_t* pixels, int width, int height, int stride,
                   bool opaque) override;
};

void WebView::Impl::pageFrame(const std::uint8_t* pixels, int width, int height, int stride,
                              bool opaque) {
    if (!frame || cairo_image_surface_get_width(frame.get()) != width ||
        cairo_image_surface_get_height(frame.get()) != height)
        frame.reset(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height));
    if (cairo_surface_status(frame.get()) != CAIRO_STATUS_SUCCESS) {
        frame.reset();
        Log::warn(format("web view: no memory for a page frame of %d x %d", width, height));
        return;
    }
    cairo_surface_flush(frame.get());
    // The engine's bytes are B, G, R, A (premultiplied), as Cairo keeps them.
    std::uint8_t* out = cairo_image_surface_get_data(frame.get());
    int outStride = cairo_image_surface_get_stride(frame.get());
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* row = pixels + std::size_t(y) * std::size_t(stride);
        std::uint8_t* dest = out + std::size_t(y) * std::size_t(outStride);
        std::memcpy(dest, row, std::size_t(width) * 4);
        if (opaque) {
            for (int x = 0; x < width; ++x)
                dest[x * 4 + 3] = 0xff;
        }
    }
    cairo_surface_mark_dirty(frame.get());
    frameScale = pageScale > 0 ? pageScale : 1;
    ++frameCount;
    if (owner) owner->setNeedsDisplay();
}

WebView::WebView(Rect frame) : View(frame), _impl(std::make_shared<Impl>()) {
    _impl->self = _impl;
    _impl->owner = this;
    setContentScaleFactor(Window::screenScale());
    WebEngineModule* module = engine();
    if (!module) return;
    Rect b = bounds();
    _impl->page =
        module->createPage(*_impl, static_cast<std::uint32_t>(std::max(1.0, std::round(b.width()))),
                           static_cast<std::uint32_t>(std::max(1.0, std::round(b.height()))));
    _impl->sync();
}

WebView::~WebView() {
    _impl->owner = nullptr;
    _impl->delegate = nullptr;
    if (_impl->page) _impl->page->detach();
    _impl.reset();
}

void WebView::setDelegate(WebViewDelegate* delegate) {
    _impl->delegate = delegate;
}

WebViewDelegate* WebView::delegate() const {
    return _impl->delegate;
}

void WebView::loadRequest(const std::string& url) {
    if (!_impl->page) {
        auto why = state().error;
        Error error = Error::make(WebError::EngineUnavailable,
                                  "The web engine is not available" +
                                      (why ? ": " + why->localizedDescription() : std::string()));
        error.userInfo[kFailingUrlKey] = url;
        if (why) error.underlying = std::make_shared<const Error>(*why);
        // Reported from the run loop, as every load's outcome is.
        RunLoop::main().post([weak = _impl->self, error = std::move(error)] {
            if (auto impl = weak.lock(); impl && impl->owner) impl->pageDidFailLoad(error);
        });
        return;
    }
    _impl->page->load(url);
}

void WebView::stopLoading() {
    if (_impl->page) _impl->page->stop();
}

bool WebView::isLoading() const {
    return _impl->page && _impl->page->isLoading();
}

std::string WebView::currentUrl() const {
    return _impl->page ? _impl->page->currentUrl() : std::string();
}

std::string WebView::stringByEvaluatingJavaScript(const std::string& script) {
    if (!_impl->page) return "";
    // The page may be closed while the script runs: it is held until the answer is in.
    std::shared_ptr<WebPage> page = _impl->page;
    return page->evaluateScript(script);
}

void WebView::deleteCookiesForHost(const std::string& host) {
    if (WebEngineModule* module = engine()) module->deleteCookiesForHost(host);
}

std::optional<Error> WebView::engineUnavailable() {
    engine();
    return state().error;
}

bool WebView::engineStarted() {
    return state().module != nullptr;
}

Image WebView::pageSnapshot() const {
    cairo_surface_t* frame = _impl->frame.get();
    if (!frame) return {};
    cairo_surface_flush(frame);
    int width = cairo_image_surface_get_width(frame);
    int height = cairo_image_surface_get_height(frame);
    int stride = cairo_image_surface_get_stride(frame);
    const std::uint8_t* data = cairo_image_surface_get_data(frame);
    Image image(width, height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const std::uint8_t* p =
                data + std::size_t(y) * std::size_t(stride) + std::size_t(x) * 4;
            std::uint8_t* q = image.pixel(x, y);
            unsigned a = p[3];
            auto straight = [a](unsigned v) {
                return static_cast<std::uint8_t>(a ? std::min(255u, (v * 255 + a / 2) / a) : 0);
            };
            q[0] = straight(p[2]);
            q[1] = straight(p[1]);
            q[2] = straight(p[0]);
            q[3] = static_cast<std::uint8_t>(a);
        }
    }
    return image;
}

std::uint64_t WebView::pageFrameCount() const {
    return _impl->frameCount;
}

int WebView::pagePixelWidth() const {
    return static_cast<int>(std::lround(_impl->pageWidth * _impl->pageScale));
}

int WebView::pagePixelHeight() const {
    return static_cast<int>(std::lround(_impl->pageHeight * _impl->pageScale));
}

void WebView::setFrame(Rect frame) {
    View::setFrame(frame);
    _impl->sync();
}

void WebView::layoutSubviews() {
    View::layoutSubviews();
    _impl->sync();
}

void WebView::draw(Canvas& canvas) {
    _impl->sync();
    Rect b = bounds();
    canvas.fillRect(b, Color::white());
    cairo_surface_t* frame = _impl->frame.get();
    if (!frame) return;
    cairo_t* cr = canvas.cairo();
    cairo_save(cr);
    cairo_rectangle(cr, b.minX(), b.minY(), b.width(), b.height());
    cairo_clip(cr);
    cairo_translate(cr, b.minX(), b.minY());
    double scale = _impl->frameScale;
    cairo_scale(cr, 1 / scale, 1 / scale);
    cairo_set_source_surface(cr, frame, 0, 0);
    // Pixel for pixel when the canvas has the page's scale; filtered otherwise.
    cairo_pattern_set_filter(cairo_get_source(cr),
                             canvas.scale() == scale ? CAIRO_FILTER_NEAREST : CAIRO_FILTER_GOOD);
    cairo_set_operator(cr, CAIRO_OPERATOR_OVER);
    cairo_paint(cr);
    cairo_restore(cr);
}

// The mouse (touch 0) is a pointer: it presses, drags (selecting text) and clicks as in a
// desktop browser. Fingers are touches: the page scrolls under a dragging finger and a tap
// clicks, as in a phone's browser.
void WebView::touchesBegan(const std::vector<Touch>& touches) {
    for (const Touch& touch : touches)
        _impl->touch(touch.id, TouchPhase::Began, touch.locationIn(this));
}

void WebView::touchesMoved(const std::vector<Touch>& touches) {
    for (const Touch& touch : touches)
        _impl->touch(touch.id, TouchPhase::Moved, touch.locationIn(this));
}

void WebView::touchesEnded(const std::vector<Touch>& touches) {
    for (const Touch& touch : touches)
        _impl->touch(touch.id, TouchPhase::Ended, touch.locationIn(this));
}

void WebView::touchesCancelled(const std::vector<Touch>& touches) {
    for (const Touch& touch : touches)
        _impl->touch(touch.id, TouchPhase::Cancelled, touch.locationIn(this));
}

// Escape is the frame's key, not the page's: it goes on to the views around the page (a
// dialog closes on it). Every other key stays with the page.
void WebView::keyDown(const KeyEvent& event) {
    if (event.key == KeyEvent::Key::Escape) return View::keyDown(event);
    if (_impl->page) _impl->page->key(event, true);
}

void WebView::keyUp(const KeyEvent& event) {
    if (event.key == KeyEvent::Key::Escape) return View::keyUp(event);
    if (_impl->page) _impl->page->key(event, false);
}

void WebView::textInput(const std::string& text) {
    if (_impl->page) _impl->page->text(text);
}

void WebView::didChangeFocus(bool focused) {
    if (_impl->page) _impl->page->setFocused(focused);
}

}  // namespace quorbit::platform
