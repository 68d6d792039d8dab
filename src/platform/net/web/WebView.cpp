#include "platform/net/WebView.h"

#include <cairo.h>
#include <wayland-server.h>
#include <wpe/fdo.h>
#include <wpe/unstable/fdo-shm.h>
#include <wpe/webkit.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <map>
#include <tuple>

#include "platform/core/Log.h"
#include "platform/core/RunLoop.h"
#include "platform/gfx/Canvas.h"
#include "platform/gl/DisplayLink.h"
#include "platform/net/web/WebEngine.h"
#include "platform/net/web/WebLoadError.h"
#include "platform/ui/Window.h"

namespace quorbit::platform {
namespace {

using namespace std::chrono_literals;

// How long a script may take before stringByEvaluatingJavaScript gives up on it.
constexpr RunLoop::Duration kScriptTimeout = 5s;

std::uint32_t eventTime() {
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now().time_since_epoch());
    return static_cast<std::uint32_t>(ms.count());
}

WebNavigationType navigationType(WebKitNavigationAction* action) {
    // A server redirect is nobody's click, whatever began the load.
    if (webkit_navigation_action_is_redirect(action)) return WebNavigationType::Other;
    switch (webkit_navigation_action_get_navigation_type(action)) {
        case WEBKIT_NAVIGATION_TYPE_LINK_CLICKED:
            return WebNavigationType::LinkClicked;
        case WEBKIT_NAVIGATION_TYPE_FORM_SUBMITTED:
            return WebNavigationType::FormSubmitted;
        case WEBKIT_NAVIGATION_TYPE_BACK_FORWARD:
            return WebNavigationType::BackForward;
        case WEBKIT_NAVIGATION_TYPE_RELOAD:
            return WebNavigationType::Reload;
        case WEBKIT_NAVIGATION_TYPE_FORM_RESUBMITTED:
            return WebNavigationType::FormResubmitted;
        default:
            return WebNavigationType::Other;
    }
}

// The key symbol a key event stands for, 0 for none. Keys that type text come through
// textInput, so a character key counts only with a modifier that makes it a command.
std::uint32_t keySymbol(const KeyEvent& event) {
    using Key = KeyEvent::Key;
    switch (event.key) {
        case Key::Character:
            if (!event.control && !event.alt && !event.meta) return 0;
            return wpe_unicode_to_key_code(static_cast<std::uint32_t>(event.character));
        case Key::Return:
            return WPE_KEY_Return;
        case Key::Tab:
            return WPE_KEY_Tab;
        case Key::Backspace:
            return WPE_KEY_BackSpace;
        case Key::Delete:
            return WPE_KEY_Delete;
        case Key::Escape:
            return WPE_KEY_Escape;
        case Key::Left:
            return WPE_KEY_Left;
        case Key::Right:
            return WPE_KEY_Right;
        case Key::Up:
            return WPE_KEY_Up;
        case Key::Down:
            return WPE_KEY_Down;
        case Key::Home:
            return WPE_KEY_Home;
        case Key::End:
            return WPE_KEY_End;
        case Key::PageUp:
            return WPE_KEY_Page_Up;
        case Key::PageDown:
            return WPE_KEY_Page_Down;
        case Key::Other:
            return 0;
    }
    return 0;
}

std::uint32_t keyModifiers(const KeyEvent& event) {
    std::uint32_t m = 0;
    if (event.control) m |= wpe_input_keyboard_modifier_control;
    if (event.shift) m |= wpe_input_keyboard_modifier_shift;
    if (event.alt) m |= wpe_input_keyboard_modifier_alt;
    if (event.meta) m |= wpe_input_keyboard_modifier_meta;
    return m;
}

// The code points of UTF-8 text; malformed bytes are skipped.
std::vector<char32_t> codePoints(const std::string& text) {
    std::vector<char32_t> out;
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const auto* end = p + text.size();
    while (p < end) {
        unsigned char c = *p;
        int length = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        if (length == 0 || end - p < length) {
            ++p;
            continue;
        }
        char32_t cp = length == 1 ? c : c & (0x7f >> length);
        bool ok = true;
        for (int i = 1; i < length; ++i) {
            if ((p[i] & 0xc0) != 0x80) ok = false;
            cp = (cp << 6) | (p[i] & 0x3f);
        }
        if (ok) out.push_back(cp);
        p += ok ? length : 1;
    }
    return out;
}

}  // namespace

// The engine's side of one web view. The WebView owns it; tasks posted to the run loop
// hold it weakly and find `owner` null once the view has gone.
struct WebView::Impl {
    // Where the backend delivers frames. It lives as long as the engine's view backend,
    // which may outlast the WebView (the engine holds its web views while calls run).
    struct FrameSink {
        Impl* impl = nullptr;
        wpe_view_backend_exportable_fdo* exportable = nullptr;
    };

    WebView* owner = nullptr;
    WebViewDelegate* delegate = nullptr;
    WebKitWebView* webView = nullptr;
    wpe_view_backend* backend = nullptr;
    FrameSink* sink = nullptr;

    // The page size sent to the engine, in points, and the scale it renders at.
    std::uint32_t pageWidth = 0, pageHeight = 0;
    double pageScale = 0;
    // The latest page frame, premultiplied ARGB32, and the scale it was rendered at.
    std::unique_ptr<cairo_surface_t, decltype(&cairo_surface_destroy)> frame{
        nullptr, &cairo_surface_destroy};
    double frameScale = 1;
    std::uint64_t frameCount = 0;
    bool warnedFormat = false;
    // While the engine waits to hear that its last frame is shown: the loop hook that tells
    // it, and when.
    RunLoop::Id frameHook = 0;
    RunLoop::Clock::time_point frameDue{}, lastFrameComplete{};

    // Whether the load in progress has reported a failure (the engine ends a failed load
    // with a finish as well, which is not a successful one).
    bool loadFailed = false;
    // A page that asked for a new window loads here; its navigation has been allowed.
    std::string allowedUrl;
    // Whether the mouse button is down on the page, and the fingers on it.
    bool mouseDown = false;
    std::map<int, wpe_input_touch_event_raw> fingers;

    ~Impl();
    void sync();
    void takeFrame(wl_shm_buffer* buffer);
    void frameDone();
    // A point of the view in the page's pixels.
    std::pair<int, int> pixel(Point at) const;
    void pointer(wpe_input_pointer_event_type type, Point at, std::uint32_t state,
                 std::uint32_t modifiers);
    void touch(int id, TouchPhase phase, Point at);
    void key(std::uint32_t symbol, bool pressed, std::uint32_t modifiers);
    // Runs body on the main loop's next turn, if the view is still there then.
    void later(std::function<void(WebView&, Impl&)> body);
    void fail(Error error);

    static void onShmBuffer(void* data, wpe_fdo_shm_exported_buffer* buffer);
    static gboolean onDecidePolicy(WebKitWebView*, WebKitPolicyDecision* decision,
                                   WebKitPolicyDecisionType type, gpointer data);
    static void onLoadChanged(WebKitWebView*, WebKitLoadEvent event, gpointer data);
    static gboolean onLoadFailed(WebKitWebView*, WebKitLoadEvent, gchar* uri, GError* error,
                                 gpointer data);
    static void onProcessTerminated(WebKitWebView*, WebKitWebProcessTerminationReason reason,
                                    gpointer data);

    std::weak_ptr<Impl> self;
};

WebView::Impl::~Impl() {
    if (frameHook) RunLoop::main().removeHook(frameHook);
    if (sink) sink->impl = nullptr;
    if (webView) {
        g_signal_handlers_disconnect_by_data(webView, this);
        g_object_unref(webView);
    }
}

void WebView::Impl::later(std::function<void(WebView&, Impl&)> body) {
    RunLoop::main().post([weak = self, body = std::move(body)] {
        auto impl = weak.lock();
        if (impl && impl->owner) body(*impl->owner, *impl);
    });
}

void WebView::Impl::fail(Error error) {
    later([error = std::move(error)](WebView& view, Impl& impl) {
        if (impl.delegate && impl.delegate->didFailLoad) impl.delegate->didFailLoad(view, error);
    });
}

void WebView::Impl::sync() {
    if (!backend || !owner) return;
    Rect bounds = owner->bounds();
    auto width = static_cast<std::uint32_t>(std::max(1.0, std::round(bounds.width())));
    auto height = static_cast<std::uint32_t>(std::max(1.0, std::round(bounds.height())));
    double scale = std::clamp(owner->contentScaleFactor(), 0.05, 5.0);
    if (width != pageWidth || height != pageHeight) {
        pageWidth = width;
        pageHeight = height;
        wpe_view_backend_dispatch_set_size(backend, width, height);
    }
    if (scale != pageScale) {
        pageScale = scale;
        wpe_view_backend_dispatch_set_device_scale_factor(backend, static_cast<float>(scale));
    }
}

void WebView::Impl::takeFrame(wl_shm_buffer* buffer) {
    wl_shm_buffer_begin_access(buffer);
    int width = wl_shm_buffer_get_width(buffer);
    int height = wl_shm_buffer_get_height(buffer);
    int stride = wl_shm_buffer_get_stride(buffer);
    std::uint32_t pixelFormat = wl_shm_buffer_get_format(buffer);
    const auto* pixels = static_cast<const std::uint8_t*>(wl_shm_buffer_get_data(buffer));
    bool known = pixelFormat == WL_SHM_FORMAT_ARGB8888 || pixelFormat == WL_SHM_FORMAT_XRGB8888;
    if (!known || !pixels || width <= 0 || height <= 0 || stride < width * 4) {
        wl_shm_buffer_end_access(buffer);
        if (!warnedFormat)
            Log::warn(format("web view: page frame in an unusable form (format %u)", pixelFormat));
        warnedFormat = true;
        return;
    }
    if (!frame || cairo_image_surface_get_width(frame.get()) != width ||
        cairo_image_surface_get_height(frame.get()) != height)
        frame.reset(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height));
    if (cairo_surface_status(frame.get()) != CAIRO_STATUS_SUCCESS) {
        wl_shm_buffer_end_access(buffer);
        frame.reset();
        Log::warn(format("web view: no memory for a page frame of %d x %d", width, height));
        return;
    }
    cairo_surface_flush(frame.get());
    // Both formats are B, G, R, A bytes (premultiplied) in memory, as Cairo keeps them.
    std::uint8_t* out = cairo_image_surface_get_data(frame.get());
    int outStride = cairo_image_surface_get_stride(frame.get());
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* row = pixels + std::size_t(y) * std::size_t(stride);
        std::uint8_t* dest = out + std::size_t(y) * std::size_t(outStride);
        std::memcpy(dest, row, std::size_t(width) * 4);
        if (pixelFormat == WL_SHM_FORMAT_XRGB8888) {
            for (int x = 0; x < width; ++x)
                dest[x * 4 + 3] = 0xff;
        }
    }
    wl_shm_buffer_end_access(buffer);
    cairo_surface_mark_dirty(frame.get());
    frameScale = pageScale > 0 ? pageScale : 1;
    ++frameCount;
    if (owner) owner->setNeedsDisplay();
}

// The engine draws its next frame once told the last one is on screen; telling it once per
// display refresh keeps an animated page from rendering faster than anything can show. The
// page runs in real time, so this goes by the steady clock (a loop hook), not by the loop's
// timer clock, which tests may stop.
void WebView::Impl::frameDone() {
    if (frameHook) return;
    auto period = std::chrono::duration_cast<RunLoop::Duration>(
        std::chrono::duration<double>(1.0 / DisplayLink::refreshRate()));
    frameDue = lastFrameComplete + period;
    frameHook = RunLoop::main().addHook([weak = self]() -> std::optional<RunLoop::Duration> {
        auto impl = weak.lock();
        if (!impl) return std::nullopt;
        auto now = RunLoop::Clock::now();
        if (now < impl->frameDue) return impl->frameDue - now;
        RunLoop::main().removeHook(impl->frameHook);
        impl->frameHook = 0;
        impl->lastFrameComplete = now;
        if (impl->sink)
            wpe_view_backend_exportable_fdo_dispatch_frame_complete(impl->sink->exportable);
        return std::nullopt;
    });
}

void WebView::Impl::onShmBuffer(void* data, wpe_fdo_shm_exported_buffer* exported) {
    auto* sink = static_cast<FrameSink*>(data);
    wl_shm_buffer* buffer = wpe_fdo_shm_exported_buffer_get_shm_buffer(exported);
    if (sink->impl && buffer) sink->impl->takeFrame(buffer);
    wpe_view_backend_exportable_fdo_dispatch_release_shm_exported_buffer(sink->exportable,
                                                                         exported);
    if (sink->impl)
        sink->impl->frameDone();
    else
        wpe_view_backend_exportable_fdo_dispatch_frame_complete(sink->exportable);
}

gboolean WebView::Impl::onDecidePolicy(WebKitWebView*, WebKitPolicyDecision* decision,
                                       WebKitPolicyDecisionType type, gpointer data) {
    auto* impl = static_cast<Impl*>(data);
    if (type == WEBKIT_POLICY_DECISION_TYPE_RESPONSE) return FALSE;  // the engine's own rules
    auto* navigation = WEBKIT_NAVIGATION_POLICY_DECISION(decision);
    WebKitNavigationAction* action =
        webkit_navigation_policy_decision_get_navigation_action(navigation);
    WebKitURIRequest* request = webkit_navigation_action_get_request(action);
    std::string url = webkit_uri_request_get_uri(request);
    bool newWindow = type == WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION;
    if (!newWindow && !impl->allowedUrl.empty() && url == impl->allowedUrl) {
        impl->allowedUrl.clear();
        webkit_policy_decision_use(decision);
        return TRUE;
    }
    WebNavigationType kind = navigationType(action);
    bool redirect = webkit_navigation_action_is_redirect(action);
    // The filter runs from the run loop, not from inside the engine, so that it may do
    // anything a callback may; the engine waits for the decision meanwhile.
    g_object_ref(decision);
    RunLoop::main().post([weak = impl->self, decision, url, kind, redirect, newWindow] {
        auto impl = weak.lock();
        if (!impl || !impl->owner) {
            webkit_policy_decision_ignore(decision);
            g_object_unref(decision);
            return;
        }
        WebViewDelegate* delegate = impl->delegate;
        bool allow = !delegate || !delegate->shouldStartLoad ||
                     delegate->shouldStartLoad(*impl->owner, url, kind);
        if (!impl->owner) allow = false;  // the filter closed the view
        if (allow && newWindow) {
            // There is only one page: what asked for a new window loads in this one.
            webkit_policy_decision_ignore(decision);
            impl->allowedUrl = url;
            webkit_web_view_load_uri(impl->webView, url.c_str());
        } else if (allow) {
            webkit_policy_decision_use(decision);
        } else {
            webkit_policy_decision_ignore(decision);
            // A refused redirect fails the load it belongs to, which the engine reports; a
            // refused new navigation had no load to fail, so the refusal is reported here.
            if (!redirect && impl->owner) impl->fail(webLoadInterrupted(url));
        }
        g_object_unref(decision);
    });
    return TRUE;
}

void WebView::Impl::onLoadChanged(WebKitWebView*, WebKitLoadEvent event, gpointer data) {
    auto* impl = static_cast<Impl*>(data);
    if (event == WEBKIT_LOAD_STARTED) {
        impl->loadFailed = false;
        impl->later([](WebView& view, Impl& impl) {
            if (impl.delegate && impl.delegate->didStartLoad) impl.delegate->didStartLoad(view);
        });
    } else if (event == WEBKIT_LOAD_FINISHED) {
        bool failed = impl->loadFailed;
        impl->loadFailed = false;
        if (failed) return;
        impl->later([](WebView& view, Impl& impl) {
            if (impl.delegate && impl.delegate->didFinishLoad) impl.delegate->didFinishLoad(view);
        });
    }
}

gboolean WebView::Impl::onLoadFailed(WebKitWebView*, WebKitLoadEvent, gchar* uri, GError* error,
                                     gpointer data) {
    auto* impl = static_cast<Impl*>(data);
    impl->loadFailed = true;
    impl->fail(webLoadError(g_quark_to_string(error->domain), error->code,
                            error->message ? error->message : "", uri ? uri : ""));
    return TRUE;  // no error page: the delegate decides what to show
}

void WebView::Impl::onProcessTerminated(WebKitWebView* webView,
                                        WebKitWebProcessTerminationReason reason, gpointer data) {
    auto* impl = static_cast<Impl*>(data);
    const char* why = reason == WEBKIT_WEB_PROCESS_EXCEEDED_MEMORY_LIMIT ? "ran out of memory"
                      : reason == WEBKIT_WEB_PROCESS_CRASHED             ? "crashed"
                                                                         : "was ended";
    Log::warn(std::string("web view: the page's process ") + why);
    if (!webkit_web_view_is_loading(webView)) return;
    impl->loadFailed = true;
    const char* uri = webkit_web_view_get_uri(webView);
    Error error = makeUrlError(UrlErrorCode::Unknown, std::string("The page's process ") + why);
    if (uri) error.userInfo[kFailingUrlKey] = uri;
    impl->fail(std::move(error));
}

std::pair<int, int> WebView::Impl::pixel(Point at) const {
    // The engine takes input positions in pixels.
    Rect bounds = owner->bounds();
    double scale = pageScale > 0 ? pageScale : 1;
    return {static_cast<int>(std::lround((at.x - bounds.minX()) * scale)),
            static_cast<int>(std::lround((at.y - bounds.minY()) * scale))};
}

void WebView::Impl::pointer(wpe_input_pointer_event_type type, Point at, std::uint32_t state,
                            std::uint32_t modifiers) {
    wpe_input_pointer_event event{};
    event.type = type;
    event.time = eventTime();
    std::tie(event.x, event.y) = pixel(at);
    event.button = type == wpe_input_pointer_event_type_button ? 1 : 0;
    event.state = state;
    event.modifiers = modifiers;
    wpe_view_backend_dispatch_pointer_event(backend, &event);
}

void WebView::Impl::touch(int id, TouchPhase phase, Point at) {
    if (!backend || !owner) return;
    if (id == 0) {
        switch (phase) {
            case TouchPhase::Began:
                if (mouseDown) return;
                mouseDown = true;
                pointer(wpe_input_pointer_event_type_motion, at, 0, 0);
                pointer(wpe_input_pointer_event_type_button, at, 1,
                        wpe_input_pointer_modifier_button1);
                break;
            case TouchPhase::Moved:
                if (!mouseDown) return;
                pointer(wpe_input_pointer_event_type_motion, at, 0,
                        wpe_input_pointer_modifier_button1);
                break;
            case TouchPhase::Ended:
            case TouchPhase::Cancelled:
                if (!mouseDown) return;
                mouseDown = false;
                // A cancelled press comes up away from the page, so that nothing is clicked.
                if (phase == TouchPhase::Cancelled) {
                    Rect b = owner->bounds();
                    at = {b.minX() - b.width() - 100, b.minY() - b.height() - 100};
                }
                pointer(wpe_input_pointer_event_type_motion, at, 0,
                        wpe_input_pointer_modifier_button1);
                pointer(wpe_input_pointer_event_type_button, at, 0, 0);
                break;
        }
        return;
    }
    wpe_input_touch_event_type type = phase == TouchPhase::Began ? wpe_input_touch_event_type_down
                                      : phase == TouchPhase::Moved
                                          ? wpe_input_touch_event_type_motion
                                          : wpe_input_touch_event_type_up;
    bool known = fingers.count(id) != 0;
    if (known == (phase == TouchPhase::Began)) return;
    // The engine has no cancelled touch: a cancelled finger lifts where it is.
    wpe_input_touch_event_raw& point = fingers[id];
    point.type = type;
    point.time = eventTime();
    point.id = id;
    std::tie(point.x, point.y) = pixel(at);
    std::vector<wpe_input_touch_event_raw> points;
    for (const auto& [_, p] : fingers)
        points.push_back(p);
    wpe_input_touch_event event{};
    event.touchpoints = points.data();
    event.touchpoints_length = points.size();
    event.type = type;
    event.id = id;
    event.time = point.time;
    wpe_view_backend_dispatch_touch_event(backend, &event);
    if (type == wpe_input_touch_event_type_up) fingers.erase(id);
}

void WebView::Impl::key(std::uint32_t symbol, bool pressed, std::uint32_t modifiers) {
    if (!backend || !symbol) return;
    wpe_input_keyboard_event event{};
    event.time = eventTime();
    event.key_code = symbol;
    event.pressed = pressed;
    event.modifiers = modifiers;
    wpe_view_backend_dispatch_keyboard_event(backend, &event);
}

WebView::WebView(Rect frame) : View(frame), _impl(std::make_shared<Impl>()) {
    _impl->self = _impl;
    _impl->owner = this;
    setContentScaleFactor(Window::screenScale());
    WebEngine* engine = WebEngine::shared();
    if (!engine) return;

    auto* sink = new Impl::FrameSink{_impl.get(), nullptr};
    static const wpe_view_backend_exportable_fdo_client client = {
        nullptr, nullptr, &Impl::onShmBuffer, nullptr, nullptr};
    Rect b = bounds();
    sink->exportable = wpe_view_backend_exportable_fdo_create(
        &client, sink, static_cast<std::uint32_t>(std::max(1.0, std::round(b.width()))),
        static_cast<std::uint32_t>(std::max(1.0, std::round(b.height()))));
    _impl->sink = sink;
    _impl->backend = wpe_view_backend_exportable_fdo_get_view_backend(sink->exportable);
    // The engine lets go of the backend when its view dies, which may be after this one.
    WebKitWebViewBackend* viewBackend = webkit_web_view_backend_new(
        _impl->backend,
        [](gpointer data) {
            auto* sink = static_cast<Impl::FrameSink*>(data);
            if (sink->impl) sink->impl->sink = nullptr;
            wpe_view_backend_exportable_fdo_destroy(sink->exportable);
            delete sink;
        },
        sink);
    _impl->webView = WEBKIT_WEB_VIEW(g_object_new(WEBKIT_TYPE_WEB_VIEW, "backend", viewBackend,
                                                  "web-context", engine->context(), nullptr));
    wpe_view_backend_add_activity_state(
        _impl->backend, wpe_view_activity_state_visible | wpe_view_activity_state_in_window);
    g_signal_connect(_impl->webView, "decide-policy", G_CALLBACK(&Impl::onDecidePolicy),
                     _impl.get());
    g_signal_connect(_impl->webView, "load-changed", G_CALLBACK(&Impl::onLoadChanged), _impl.get());
    g_signal_connect(_impl->webView, "load-failed", G_CALLBACK(&Impl::onLoadFailed), _impl.get());
    g_signal_connect(_impl->webView, "web-process-terminated",
                     G_CALLBACK(&Impl::onProcessTerminated), _impl.get());
    _impl->sync();
}

WebView::~WebView() {
    _impl->owner = nullptr;
    _impl->delegate = nullptr;
    _impl.reset();
}

void WebView::setDelegate(WebViewDelegate* delegate) {
    _impl->delegate = delegate;
}

WebViewDelegate* WebView::delegate() const {
    return _impl->delegate;
}

void WebView::loadRequest(const std::string& url) {
    if (!_impl->webView) {
        auto why = WebEngine::startError();
        Error error = Error::make(WebError::EngineUnavailable,
                                  "The web engine is not available" +
                                      (why ? ": " + why->localizedDescription() : std::string()));
        error.userInfo[kFailingUrlKey] = url;
        _impl->fail(std::move(error));
        return;
    }
    webkit_web_view_load_uri(_impl->webView, url.c_str());
}

void WebView::stopLoading() {
    if (_impl->webView) webkit_web_view_stop_loading(_impl->webView);
}

bool WebView::isLoading() const {
    return _impl->webView && webkit_web_view_is_loading(_impl->webView);
}

std::string WebView::currentUrl() const {
    const char* uri = _impl->webView ? webkit_web_view_get_uri(_impl->webView) : nullptr;
    return uri ? uri : "";
}

std::string WebView::stringByEvaluatingJavaScript(const std::string& script) {
    if (!_impl->webView) return "";
    // The answer lands here; the call keeps it alive, since a wait that times out leaves
    // the call running.
    struct Answer {
        bool done = false;
        std::string text;
    };
    auto answer = std::make_shared<Answer>();
    GCancellable* cancellable = g_cancellable_new();
    webkit_web_view_run_javascript(
        _impl->webView, script.c_str(), cancellable,
        [](GObject* source, GAsyncResult* result, gpointer data) {
            std::unique_ptr<std::shared_ptr<Answer>> answer(
                static_cast<std::shared_ptr<Answer>*>(data));
            GError* error = nullptr;
            WebKitJavascriptResult* value =
                webkit_web_view_run_javascript_finish(WEBKIT_WEB_VIEW(source), result, &error);
            if (value) {
                JSCValue* js = webkit_javascript_result_get_js_value(value);
                if (!jsc_value_is_undefined(js) && !jsc_value_is_null(js)) {
                    char* text = jsc_value_to_string(js);
                    if (text) (*answer)->text = text;
                    g_free(text);
                }
                webkit_javascript_result_unref(value);
            } else {
                if (error && !g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED))
                    Log::debug(std::string("web view: script failed: ") + error->message);
                g_clear_error(&error);
            }
            (*answer)->done = true;
        },
        new std::shared_ptr<Answer>(answer));
    if (!WebEngine::waitFor([&] { return answer->done; }, kScriptTimeout)) {
        Log::warn("web view: a script gave no answer in time");
        g_cancellable_cancel(cancellable);
    }
    g_object_unref(cancellable);
    return answer->done ? answer->text : std::string();
}

void WebView::deleteCookiesForHost(const std::string& host) {
    if (WebEngine* engine = WebEngine::shared()) engine->deleteCookiesForHost(host);
}

std::optional<Error> WebView::engineUnavailable() {
    return WebEngine::startError();
}

bool WebView::engineStarted() {
    return WebEngine::started();
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
    _impl->key(keySymbol(event), true, keyModifiers(event));
}

void WebView::keyUp(const KeyEvent& event) {
    if (event.key == KeyEvent::Key::Escape) return View::keyUp(event);
    _impl->key(keySymbol(event), false, keyModifiers(event));
}

void WebView::textInput(const std::string& text) {
    for (char32_t cp : codePoints(text)) {
        std::uint32_t symbol = wpe_unicode_to_key_code(static_cast<std::uint32_t>(cp));
        _impl->key(symbol, true, 0);
        _impl->key(symbol, false, 0);
    }
}

void WebView::didChangeFocus(bool focused) {
    if (!_impl->backend) return;
    if (focused)
        wpe_view_backend_add_activity_state(_impl->backend, wpe_view_activity_state_focused);
    else
        wpe_view_backend_remove_activity_state(_impl->backend, wpe_view_activity_state_focused);
}

}  // namespace quorbit::platform
