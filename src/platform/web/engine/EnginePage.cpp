#include "platform/web/engine/EnginePage.h"

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

#include "platform/web/engine/WebEngine.h"
#include "platform/web/engine/WebLoadError.h"

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

// The engine's side of one web view. The view holds it; tasks posted to the run loop hold
// it weakly and find `client` null once the view has gone.
class EnginePage : public WebPage {
  public:
    // Where the backend delivers frames. It lives as long as the engine's view backend,
    // which may outlast the page (the engine holds its web views while calls run).
    struct FrameSink {
        EnginePage* page = nullptr;
        wpe_view_backend_exportable_fdo* exportable = nullptr;
    };

    WebPageClient* client = nullptr;
    WebKitWebView* webView = nullptr;
    wpe_view_backend* backend = nullptr;
    FrameSink* sink = nullptr;

    // The scale the page renders at (input positions are turned into its pixels).
    double pageScale = 1;
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

    std::weak_ptr<EnginePage> self;

    ~EnginePage() override;
    void open(WebEngine& engine, std::uint32_t width, std::uint32_t height);

    // WebPage.
    void detach() override { client = nullptr; }
    void setSize(std::uint32_t width, std::uint32_t height) override;
    void setScale(double scale) override;
    void load(const std::string& url) override;
    void stop() override;
    bool isLoading() const override;
    std::string currentUrl() const override;
    std::string evaluateScript(const std::string& script) override;
    void touch(int id, TouchPhase phase, Point at) override;
    void key(const KeyEvent& event, bool pressed) override;
    void text(const std::string& text) override;
    void setFocused(bool focused) override;

    void takeFrame(wl_shm_buffer* buffer);
    void frameDone();
    // A point of the view in the page's pixels.
    std::pair<int, int> pixel(Point at) const;
    void pointer(wpe_input_pointer_event_type type, Point at, std::uint32_t state,
                 std::uint32_t modifiers);
    void sendKey(std::uint32_t symbol, bool pressed, std::uint32_t modifiers);
    // Runs body on the main loop's next turn, if the view is still there then.
    void later(std::function<void(WebPageClient&, EnginePage&)> body);
    void fail(Error error);

    static void onShmBuffer(void* data, wpe_fdo_shm_exported_buffer* buffer);
    static gboolean onDecidePolicy(WebKitWebView*, WebKitPolicyDecision* decision,
                                   WebKitPolicyDecisionType type, gpointer data);
    static void onLoadChanged(WebKitWebView*, WebKitLoadEvent event, gpointer data);
    static gboolean onLoadFailed(WebKitWebView*, WebKitLoadEvent, gchar* uri, GError* error,
                                 gpointer data);
    static void onProcessTerminated(WebKitWebView*, WebKitWebProcessTerminationReason reason,
                                    gpointer data);
};

EnginePage::~EnginePage() {
    if (frameHook) engineHost().removeHook(frameHook);
    if (sink) sink->page = nullptr;
    if (webView) {
        g_signal_handlers_disconnect_by_data(webView, this);
        g_object_unref(webView);
    }
}

void EnginePage::later(std::function<void(WebPageClient&, EnginePage&)> body) {
    engineHost().post([weak = self, body = std::move(body)] {
        auto page = weak.lock();
        if (page && page->client) body(*page->client, *page);
    });
}

void EnginePage::fail(Error error) {
    later([error = std::move(error)](WebPageClient& client, EnginePage&) {
        client.pageDidFailLoad(error);
    });
}

void EnginePage::setSize(std::uint32_t width, std::uint32_t height) {
    if (backend) wpe_view_backend_dispatch_set_size(backend, width, height);
}

void EnginePage::setScale(double scale) {
    pageScale = scale;
    if (backend)
        wpe_view_backend_dispatch_set_device_scale_factor(backend, static_cast<float>(scale));
}

void EnginePage::takeFrame(wl_shm_buffer* buffer) {
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
            engineHost().logWarning("web view: page frame in an unusable form (format " +
                                    std::to_string(pixelFormat) + ")");
        warnedFormat = true;
        return;
    }
    // Both formats are B, G, R, A bytes (premultiplied) in memory.
    if (client)
        client->pageFrame(pixels, width, height, stride, pixelFormat == WL_SHM_FORMAT_XRGB8888);
    wl_shm_buffer_end_access(buffer);
}

// The engine draws its next frame once told the last one is on screen; telling it once per
// display refresh keeps an animated page from rendering faster than anything can show. The
// page runs in real time, so this goes by the steady clock (a loop hook), not by the loop's
// timer clock, which tests may stop.
void EnginePage::frameDone() {
    if (frameHook) return;
    auto period = std::chrono::duration_cast<RunLoop::Duration>(
        std::chrono::duration<double>(1.0 / engineHost().refreshRate()));
    frameDue = lastFrameComplete + period;
    frameHook = engineHost().addHook([weak = self]() -> std::optional<RunLoop::Duration> {
        auto page = weak.lock();
        if (!page) return std::nullopt;
        auto now = RunLoop::Clock::now();
        if (now < page->frameDue) return page->frameDue - now;
        engineHost().removeHook(page->frameHook);
        page->frameHook = 0;
        page->lastFrameComplete = now;
        if (page->sink)
            wpe_view_backend_exportable_fdo_dispatch_frame_complete(page->sink->exportable);
        return std::nullopt;
    });
}

void EnginePage::onShmBuffer(void* data, wpe_fdo_shm_exported_buffer* exported) {
    auto* sink = static_cast<FrameSink*>(data);
    wl_shm_buffer* buffer = wpe_fdo_shm_exported_buffer_get_shm_buffer(exported);
    if (sink->page && buffer) sink->page->takeFrame(buffer);
    wpe_view_backend_exportable_fdo_dispatch_release_shm_exported_buffer(sink->exportable,
                                                                         exported);
    if (sink->page)
        sink->page->frameDone();
    else
        wpe_view_backend_exportable_fdo_dispatch_frame_complete(sink->exportable);
}

gboolean EnginePage::onDecidePolicy(WebKitWebView*, WebKitPolicyDecision* decision,
                                    WebKitPolicyDecisionType type, gpointer data) {
    auto* page = static_cast<EnginePage*>(data);
    if (type == WEBKIT_POLICY_DECISION_TYPE_RESPONSE) return FALSE;  // the engine's own rules
    auto* navigation = WEBKIT_NAVIGATION_POLICY_DECISION(decision);
    WebKitNavigationAction* action =
        webkit_navigation_policy_decision_get_navigation_action(navigation);
    WebKitURIRequest* request = webkit_navigation_action_get_request(action);
    std::string url = webkit_uri_request_get_uri(request);
    bool newWindow = type == WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION;
    if (!newWindow && !page->allowedUrl.empty() && url == page->allowedUrl) {
        page->allowedUrl.clear();
        webkit_policy_decision_use(decision);
        return TRUE;
    }
    WebNavigationType kind = navigationType(action);
    bool redirect = webkit_navigation_action_is_redirect(action);
    // The filter runs from the run loop, not from inside the engine, so that it may do
    // anything a callback may; the engine waits for the decision meanwhile.
    g_object_ref(decision);
    engineHost().post([weak = page->self, decision, url, kind, redirect, newWindow] {
        auto page = weak.lock();
        if (!page || !page->client) {
            webkit_policy_decision_ignore(decision);
            g_object_unref(decision);
            return;
        }
        bool allow = page->client->pageShouldStartLoad(url, kind);
        if (!page->client) allow = false;  // the filter closed the view
        if (allow && newWindow) {
            // There is only one page: what asked for a new window loads in this one.
            webkit_policy_decision_ignore(decision);
            page->allowedUrl = url;
            webkit_web_view_load_uri(page->webView, url.c_str());
        } else if (allow) {
            webkit_policy_decision_use(decision);
        } else {
            webkit_policy_decision_ignore(decision);
            // A refused redirect fails the load it belongs to, which the engine reports; a
            // refused new navigation had no load to fail, so the refusal is reported here.
            if (!redirect && page->client) page->fail(webLoadInterrupted(url));
        }
        g_object_unref(decision);
    });
    return TRUE;
}

void EnginePage::onLoadChanged(WebKitWebView*, WebKitLoadEvent event, gpointer data) {
    auto* page = static_cast<EnginePage*>(data);
    if (event == WEBKIT_LOAD_STARTED) {
        page->loadFailed = false;
        page->later([](WebPageClient& client, EnginePage&) { client.pageDidStartLoad(); });
    } else if (event == WEBKIT_LOAD_FINISHED) {
        bool failed = page->loadFailed;
        page->loadFailed = false;
        if (failed) return;
        page->later([](WebPageClient& client, EnginePage&) { client.pageDidFinishLoad(); });
    }
}

gboolean EnginePage::onLoadFailed(WebKitWebView*, WebKitLoadEvent, gchar* uri, GError* error,
                                  gpointer data) {
    auto* page = static_cast<EnginePage*>(data);
    page->loadFailed = true;
    page->fail(webLoadError(g_quark_to_string(error->domain), error->code,
                            error->message ? error->message : "", uri ? uri : ""));
    return TRUE;  // no error page: the delegate decides what to show
}

void EnginePage::onProcessTerminated(WebKitWebView* webView,
                                     WebKitWebProcessTerminationReason reason, gpointer data) {
    auto* page = static_cast<EnginePage*>(data);
    const char* why = reason == WEBKIT_WEB_PROCESS_EXCEEDED_MEMORY_LIMIT ? "ran out of memory"
                      : reason == WEBKIT_WEB_PROCESS_CRASHED             ? "crashed"
                                                                         : "was ended";
    engineHost().logWarning(std::string("web view: the page's process ") + why);
    if (!webkit_web_view_is_loading(webView)) return;
    page->loadFailed = true;
    const char* uri = webkit_web_view_get_uri(webView);
    Error error = makeUrlError(UrlError::Unknown, std::string("The page's process ") + why);
    if (uri) error.userInfo[kFailingUrlKey] = uri;
    page->fail(std::move(error));
}

std::pair<int, int> EnginePage::pixel(Point at) const {
    // The engine takes input positions in pixels.
    return {static_cast<int>(std::lround(at.x * pageScale)),
            static_cast<int>(std::lround(at.y * pageScale))};
}

void EnginePage::pointer(wpe_input_pointer_event_type type, Point at, std::uint32_t state,
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

// A cancelled press of the mouse comes with a point away from the page, so that nothing is
// clicked.
void EnginePage::touch(int id, TouchPhase phase, Point at) {
    if (!backend) return;
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

void EnginePage::sendKey(std::uint32_t symbol, bool pressed, std::uint32_t modifiers) {
    if (!backend || !symbol) return;
    wpe_input_keyboard_event event{};
    event.time = eventTime();
    event.key_code = symbol;
    event.pressed = pressed;
    event.modifiers = modifiers;
    wpe_view_backend_dispatch_keyboard_event(backend, &event);
}

void EnginePage::key(const KeyEvent& event, bool pressed) {
    sendKey(keySymbol(event), pressed, keyModifiers(event));
}

void EnginePage::text(const std::string& text) {
    for (char32_t cp : codePoints(text)) {
        std::uint32_t symbol = wpe_unicode_to_key_code(static_cast<std::uint32_t>(cp));
        sendKey(symbol, true, 0);
        sendKey(symbol, false, 0);
    }
}

void EnginePage::setFocused(bool focused) {
    if (!backend) return;
    if (focused)
        wpe_view_backend_add_activity_state(backend, wpe_view_activity_state_focused);
    else
        wpe_view_backend_remove_activity_state(backend, wpe_view_activity_state_focused);
}

void EnginePage::open(WebEngine& engine, std::uint32_t width, std::uint32_t height) {
    auto* frameSink = new FrameSink{this, nullptr};
    static const wpe_view_backend_exportable_fdo_client kClient = {
        nullptr, nullptr, &EnginePage::onShmBuffer, nullptr, nullptr};
    frameSink->exportable =
        wpe_view_backend_exportable_fdo_create(&kClient, frameSink, width, height);
    sink = frameSink;
    backend = wpe_view_backend_exportable_fdo_get_view_backend(frameSink->exportable);
    // The engine lets go of the backend when its view dies, which may be after the page.
    WebKitWebViewBackend* viewBackend = webkit_web_view_backend_new(
        backend,
        [](gpointer data) {
            auto* sink = static_cast<FrameSink*>(data);
            if (sink->page) sink->page->sink = nullptr;
            wpe_view_backend_exportable_fdo_destroy(sink->exportable);
            delete sink;
        },
        frameSink);
    webView = WEBKIT_WEB_VIEW(g_object_new(WEBKIT_TYPE_WEB_VIEW, "backend", viewBackend,
                                           "web-context", engine.context(), nullptr));
    wpe_view_backend_add_activity_state(
        backend, wpe_view_activity_state_visible | wpe_view_activity_state_in_window);
    g_signal_connect(webView, "decide-policy", G_CALLBACK(&EnginePage::onDecidePolicy), this);
    g_signal_connect(webView, "load-changed", G_CALLBACK(&EnginePage::onLoadChanged), this);
    g_signal_connect(webView, "load-failed", G_CALLBACK(&EnginePage::onLoadFailed), this);
    g_signal_connect(webView, "web-process-terminated",
                     G_CALLBACK(&EnginePage::onProcessTerminated), this);
}

void EnginePage::load(const std::string& url) {
    webkit_web_view_load_uri(webView, url.c_str());
}

void EnginePage::stop() {
    webkit_web_view_stop_loading(webView);
}

bool EnginePage::isLoading() const {
    return webkit_web_view_is_loading(webView);
}

std::string EnginePage::currentUrl() const {
    const char* uri = webkit_web_view_get_uri(webView);
    return uri ? uri : "";
}

std::string EnginePage::evaluateScript(const std::string& script) {
    // The answer lands here; the call keeps it alive, since a wait that times out leaves
    // the call running.
    struct Answer {
        bool done = false;
        std::string text;
    };
    auto answer = std::make_shared<Answer>();
    GCancellable* cancellable = g_cancellable_new();
    webkit_web_view_run_javascript(
        webView, script.c_str(), cancellable,
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
                    engineHost().logDebug(std::string("web view: script failed: ") +
                                          error->message);
                g_clear_error(&error);
            }
            (*answer)->done = true;
        },
        new std::shared_ptr<Answer>(answer));
    if (!WebEngine::waitFor([&] { return answer->done; }, kScriptTimeout)) {
        engineHost().logWarning("web view: a script gave no answer in time");
        g_cancellable_cancel(cancellable);
    }
    g_object_unref(cancellable);
    return answer->done ? answer->text : std::string();
}

std::shared_ptr<WebPage> makeEnginePage(WebEngine& engine, WebPageClient& client,
                                        std::uint32_t width, std::uint32_t height) {
    auto page = std::make_shared<EnginePage>();
    page->self = page;
    page->client = &client;
    page->open(engine, width, height);
    return page;
}

}  // namespace quorbit::platform
