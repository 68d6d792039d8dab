#include "platform/web/engine/WebEngine.h"

#include <sys/stat.h>
#include <wpe/fdo.h>
#include <wpe/unstable/fdo-shm.h>
#include <wpe/webkit.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <vector>

#include "platform/web/engine/EnginePage.h"
#include "platform/web/engine/GLibMainContextPump.h"

namespace quorbit::platform {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// The backend that renders pages offscreen and hands each frame over in shared memory.
constexpr const char* kBackendLibrary = "libWPEBackend-fdo-1.0.so.1";
// How long cookie deletion waits for the engine's network process.
constexpr RunLoop::Duration kCookieTimeout = 10s;

const char* env(const char* name) {
    const char* v = std::getenv(name);
    return v && *v ? v : nullptr;
}

// A private folder (mode 0700: it holds cookies, which are credentials).
bool makePrivateFolder(const fs::path& path) {
    std::error_code ec;
    fs::create_directories(path, ec);
    if (ec || !fs::is_directory(path)) return false;
    return chmod(path.c_str(), 0700) == 0;
}

std::string normalisedHost(std::string host) {
    std::transform(host.begin(), host.end(), host.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    while (!host.empty() && host.front() == '.')
        host.erase(host.begin());
    while (!host.empty() && host.back() == '.')
        host.pop_back();
    return host;
}

bool endsWithLabel(const std::string& name, const std::string& suffix) {
    return name.size() > suffix.size() &&
           name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0 &&
           name[name.size() - suffix.size() - 1] == '.';
}

}  // namespace

WebEngineHost* gHost = nullptr;

WebEngineHost& engineHost() {
    return *gHost;
}

std::optional<Error> WebEngine::start() {
    if (!_tried) {
        _tried = true;
        _startError = startEngine();
        if (_startError)
            engineHost().logWarning("web engine: " + _startError->localizedDescription());
        else
            _started = true;
    }
    return _startError;
}

std::shared_ptr<WebPage> WebEngine::createPage(WebPageClient& client, std::uint32_t width,
                                               std::uint32_t height) {
    if (!_started) return nullptr;
    return makeEnginePage(*this, client, width, height);
}

std::optional<Error> WebEngine::startEngine() {
    if (!engineHost().isMainThread())
        return Error::make(WebError::NotOnMainThread,
                           "the web engine must start on the main thread");
    if (!wpe_loader_init(kBackendLibrary))
        return Error::make(WebError::NoBackend,
                           std::string("cannot load the web engine's backend ") + kBackendLibrary);
    if (!wpe_fdo_initialize_shm())
        return Error::make(WebError::NoSharedMemory,
                           "the web engine's backend cannot render into shared memory");
    _pump = std::make_unique<GLibMainContextPump>(engineHost(), g_main_context_default());
    if (!_pump->context())
        return Error::make(WebError::MainContextTaken,
                           "GLib's main context belongs to another thread; the web engine "
                           "cannot run on the main loop");

    fs::path data, cache;
    if (const char* config = env("QUORBIT_CONFIG_DIR")) {
        data = fs::path(config) / "web";
        cache = data / "cache";
    } else {
        fs::path home = env("HOME") ? env("HOME") : "";
        fs::path dataHome =
            env("XDG_DATA_HOME") ? fs::path(env("XDG_DATA_HOME")) : home / ".local" / "share";
        fs::path cacheHome =
            env("XDG_CACHE_HOME") ? fs::path(env("XDG_CACHE_HOME")) : home / ".cache";
        data = dataHome / "quorbit" / "web";
        cache = cacheHome / "quorbit" / "web";
    }
    if (data.is_absolute() && cache.is_absolute() && makePrivateFolder(data) &&
        makePrivateFolder(cache)) {
        _dataDirectory = data;
        _dataManager = webkit_website_data_manager_new(
            "base-data-directory", data.c_str(), "base-cache-directory", cache.c_str(), nullptr);
        // Cookies outlive the process only when the engine is told where to keep them.
        webkit_cookie_manager_set_persistent_storage(
            webkit_website_data_manager_get_cookie_manager(_dataManager),
            (data / "cookies.sqlite").c_str(), WEBKIT_COOKIE_PERSISTENT_STORAGE_SQLITE);
    } else {
        engineHost().logWarning("web engine: cannot make a folder for website data in " +
                                data.string() + "; cookies are kept until the application ends");
        _dataManager = webkit_website_data_manager_new_ephemeral();
    }
    _context = webkit_web_context_new_with_website_data_manager(_dataManager);
    // The engine's sandbox needs bubblewrap and a D-Bus proxy, which a phone may well lack;
    // the engine's processes run as the application does.
    webkit_web_context_set_sandbox_enabled(_context, FALSE);
    // Pages are shown one at a time and briefly (sign-in dialogs): no page cache.
    webkit_web_context_set_cache_model(_context, WEBKIT_CACHE_MODEL_DOCUMENT_VIEWER);
    engineHost().logDebug("web engine started; website data in " + (_dataDirectory.empty()
                                                                        ? std::string("memory")
                                                                        : _dataDirectory.string()));
    return std::nullopt;
}

bool WebEngine::waitFor(const std::function<bool()>& done, RunLoop::Duration timeout) {
    return engineHost().runUntil(done, timeout);
}

bool WebEngine::cookieSiteMatches(const std::string& siteName, const std::string& hostName) {
    std::string site = normalisedHost(siteName), host = normalisedHost(hostName);
    if (site.empty() || host.empty()) return false;
    if (site == host || endsWithLabel(host, site)) return true;
    // A site named by a full host name lies inside host; a bare top-level name ("com") is
    // never taken for every site under it.
    return host.find('.') != std::string::npos && endsWithLabel(site, host);
}

int WebEngine::deleteCookiesForHost(const std::string& host) {
    if (start()) return 0;
    // The answers of the asynchronous calls land here; the calls keep it alive, since a
    // timed-out wait leaves them running.
    struct Pending {
        bool done = false;
        GList* sites = nullptr;
        Pending() = default;
        Pending(const Pending&) = delete;
        Pending& operator=(const Pending&) = delete;
        ~Pending() {
            g_list_free_full(sites, reinterpret_cast<GDestroyNotify>(webkit_website_data_unref));
        }
    };
    auto fetch = std::make_shared<Pending>();
    webkit_website_data_manager_fetch(
        _dataManager, WEBKIT_WEBSITE_DATA_COOKIES, nullptr,
        [](GObject* source, GAsyncResult* result, gpointer data) {
            auto* pending = static_cast<std::shared_ptr<Pending>*>(data);
            (*pending)->sites = webkit_website_data_manager_fetch_finish(
                WEBKIT_WEBSITE_DATA_MANAGER(source), result, nullptr);
            (*pending)->done = true;
            delete pending;
        },
        new std::shared_ptr<Pending>(fetch));
    if (!waitFor([&] { return fetch->done; }, kCookieTimeout)) {
        engineHost().logWarning(
            "web engine: the website data did not arrive; no cookies deleted for " + host);
        return 0;
    }
    GList* matching = nullptr;
    int count = 0;
    for (GList* item = fetch->sites; item; item = item->next) {
        auto* site = static_cast<WebKitWebsiteData*>(item->data);
        if (!cookieSiteMatches(webkit_website_data_get_name(site), host)) continue;
        matching = g_list_prepend(matching, webkit_website_data_ref(site));
        ++count;
    }
    if (!matching) return 0;

    auto removal = std::make_shared<Pending>();
    webkit_website_data_manager_remove(
        _dataManager, WEBKIT_WEBSITE_DATA_COOKIES, matching, nullptr,
        [](GObject* source, GAsyncResult* result, gpointer data) {
            auto* pending = static_cast<std::shared_ptr<Pending>*>(data);
            webkit_website_data_manager_remove_finish(WEBKIT_WEBSITE_DATA_MANAGER(source), result,
                                                      nullptr);
            (*pending)->done = true;
            delete pending;
        },
        new std::shared_ptr<Pending>(removal));
    g_list_free_full(matching, reinterpret_cast<GDestroyNotify>(webkit_website_data_unref));
    if (!waitFor([&] { return removal->done; }, kCookieTimeout))
        engineHost().logWarning("web engine: deleting the cookies of " + host +
                                " did not finish in time");
    return count;
}

}  // namespace quorbit::platform

// The module's one entry point. The engine is made once and kept for the process.
extern "C" __attribute__((visibility("default"))) quorbit::platform::WebEngineModule*
quorbit_web_engine_module(quorbit::platform::WebEngineHost* host) {
    static quorbit::platform::WebEngine* engine = nullptr;
    if (!engine) {
        quorbit::platform::gHost = host;
        engine = new quorbit::platform::WebEngine();
    }
    return engine;
}
