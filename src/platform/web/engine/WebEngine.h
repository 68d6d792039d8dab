#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "platform/core/Error.h"
#include "platform/core/RunLoop.h"
#include "platform/web/WebEngineModule.h"

typedef struct _WebKitWebContext WebKitWebContext;
typedef struct _WebKitWebsiteDataManager WebKitWebsiteDataManager;

namespace quorbit::platform {

class GLibMainContextPump;

// What the program does for the engine (see WebEngineModule.h); set when the module is made.
WebEngineHost& engineHost();

// The process's web engine: the backend that renders pages into shared memory, the engine's
// context with its website data (cookies, storage) and GLib's main context driven by the
// main run loop. The module makes one; it starts on first use, on the main thread, and lives
// as long as the process.
//
// Website data is kept in $QUORBIT_CONFIG_DIR/web when that is set (tests and headless runs
// keep it apart), else in $XDG_DATA_HOME/quorbit/web (cache in $XDG_CACHE_HOME/quorbit/web),
// folders of mode 0700; when they cannot be made it is kept in memory only. Nothing else is
// needed from the environment: no display, no GPU (pages render in software into shared
// memory), no runtime folder, no D-Bus session.
class WebEngine : public WebEngineModule {
  public:
    WebEngine() = default;

    // WebEngineModule.
    std::optional<Error> start() override;
    std::shared_ptr<WebPage> createPage(WebPageClient& client, std::uint32_t width,
                                        std::uint32_t height) override;
    // Deletes the cookies of every site whose name matches host (see cookieSiteMatches),
    // waiting (bounded) until the engine has done it. Returns how many sites lost cookies.
    int deleteCookiesForHost(const std::string& host) override;

    WebKitWebContext* context() const { return _context; }
    WebKitWebsiteDataManager* dataManager() const { return _dataManager; }
    // Where website data is kept; empty when it is kept in memory only.
    const std::filesystem::path& dataDirectory() const { return _dataDirectory; }

    // Runs the main loop (and so the engine) until done holds or timeout passes.
    static bool waitFor(const std::function<bool()>& done, RunLoop::Duration timeout);

    // Whether a site of the engine's website data (a host name, often the registrable
    // domain, such as "example.com") holds the cookies of host: the same name, host inside
    // the site, or the site inside host. Case and a leading or trailing dot do not matter.
    static bool cookieSiteMatches(const std::string& site, const std::string& host);

  private:
    std::optional<Error> startEngine();

    bool _tried = false;
    bool _started = false;
    std::optional<Error> _startError;

    std::unique_ptr<GLibMainContextPump> _pump;
    WebKitWebContext* _context = nullptr;
    WebKitWebsiteDataManager* _dataManager = nullptr;
    std::filesystem::path _dataDirectory;
};

}  // namespace quorbit::platform
