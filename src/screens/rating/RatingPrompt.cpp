#include "screens/rating/RatingPrompt.h"

#include <chrono>
#include <cstdlib>
#include <system_error>

#include "platform/core/Bundle.h"
#include "platform/core/Log.h"
#include "platform/core/RunLoop.h"
#include "platform/core/Text.h"
#include "platform/core/Translate.h"
#include "platform/core/UserDefaults.h"
#include "platform/desktop/Reachability.h"
#include "platform/desktop/UrlOpener.h"
#include "platform/net/UrlConnection.h"

namespace quorbit::rating {

using platform::Log;
using platform::RunLoop;

namespace {

// NetworkManager's connectivity-check page: small, meant for exactly this, and not cached.
constexpr const char* kDefaultProbeUrl = "http://nmcheck.gnome.org/check_network_status.txt";
constexpr std::chrono::seconds kProbeTimeout{20};

std::string environment(const char* name, const std::string& fallback) {
    const char* value = std::getenv(name);
    return value && *value ? std::string(value) : fallback;
}

std::string fillTemplate(std::string link, const std::string& storeId) {
    const std::string placeholder = "APP_ID";
    // Percent-encoded, so that an odd identifier cannot change the link's shape.
    const std::string id = platform::percentEncode(storeId);
    for (size_t at = link.find(placeholder); at != std::string::npos;
         at = link.find(placeholder, at + id.size()))
        link.replace(at, placeholder.size(), id);
    return link;
}

}  // namespace

RatingPrompt::Services RatingPrompt::applicationServices() {
    platform::Bundle& bundle = platform::Bundle::main();
    Services services;
    services.defaults = &platform::UserDefaults::standard();
    services.opener = &platform::UrlOpener::shared();
    services.now = [] {
        return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
            .count();
    };
    services.appName = bundle.name();
    services.version = bundle.version();
    services.storeId = environment("QUORBIT_STORE_ID", bundle.identifier());
    services.probeUrl = environment("QUORBIT_PROBE_URL", kDefaultProbeUrl);
    return services;
}

RatingPrompt& RatingPrompt::sharedInstance() {
    // The services are made first, so the store they name outlives the instance, whose
    // destruction at exit waits for the background runs that still use it.
    static RatingPrompt instance(applicationServices());
    return instance;
}

void RatingPrompt::appLaunched(bool canPromptForRating) {
    RatingPrompt& prompt = sharedInstance();
    prompt.runInBackground(
        [&prompt, canPromptForRating] { prompt.incrementAndRate(canPromptForRating); });
}

void RatingPrompt::appEnteredForeground(bool canPromptForRating) {
    appLaunched(canPromptForRating);
}

void RatingPrompt::userDidSignificantEvent(bool canPromptForRating) {
    RatingPrompt& prompt = sharedInstance();
    prompt.runInBackground([&prompt, canPromptForRating] {
        prompt.incrementSignificantEventAndRate(canPromptForRating);
    });
}

RatingPrompt::RatingPrompt(Services services)
    : _services(std::move(services)), _handle(std::make_shared<RatingPrompt*>(this)) {
    _alertDelegate.clickedButtonAtIndex = [this](platform::AlertView& alert, int index) {
        alertViewClickedButtonAtIndex(alert, index);
    };
}

RatingPrompt::~RatingPrompt() {
    waitUntilIdle();
    *_handle = nullptr;
    if (auto alert = _alert.lock()) alert->setDelegate(nullptr);
}

RatingPrompt::Services RatingPrompt::services() const {
    std::lock_guard lock(_servicesMutex);
    return _services;
}

void RatingPrompt::setServices(Services services) {
    waitUntilIdle();
    std::lock_guard lock(_servicesMutex);
    _services = std::move(services);
}

void RatingPrompt::runInBackground(std::function<void()> work) {
    auto shared = std::make_shared<std::function<void()>>(std::move(work));
    {
        std::lock_guard lock(_workersMutex);
        // Threads that have ended are joined here, so the list stays short.
        std::erase_if(_workers, [](Worker& w) {
            if (!w.done->load()) return false;
            w.thread.join();
            return true;
        });
        auto done = std::make_shared<std::atomic<bool>>(false);
        try {
            _workers.push_back({std::thread([shared, done] {
                                    (*shared)();
                                    done->store(true);
                                }),
                                done});
            return;
        } catch (const std::system_error& e) {
            Log::warn(std::string("rating prompt: no thread for the count (") + e.what() +
                      "), counting on the caller's thread");
        }
    }
    (*shared)();
}

void RatingPrompt::waitUntilIdle() {
    for (;;) {
        std::vector<Worker> taken;
        {
            std::lock_guard lock(_workersMutex);
            taken.swap(_workers);
        }
        if (taken.empty()) return;
        for (Worker& w : taken)
            w.thread.join();
    }
}

void RatingPrompt::incrementAndRate(bool canPromptForRating) {
    std::lock_guard lock(_runMutex);
    incrementUseCount();
    askIfDue(canPromptForRating);
}

void RatingPrompt::incrementSignificantEventAndRate(bool canPromptForRating) {
    std::lock_guard lock(_runMutex);
    incrementSignificantEventCount();
    askIfDue(canPromptForRating);
}

void RatingPrompt::askIfDue(bool canPromptForRating) {
    if (canPromptForRating && ratingConditionsHaveBeenMet() && connectedToNetwork()) {
        RunLoop::main().post([handle = _handle] {
            if (*handle) (*handle)->showRatingAlert();
        });
    }
}

void RatingPrompt::incrementUseCount() {
    increment(false);
}

void RatingPrompt::incrementSignificantEventCount() {
    increment(true);
}

void RatingPrompt::increment(bool significantEvent) {
    Services s = services();
    platform::UserDefaults& d = *s.defaults;
    std::optional<std::string> tracked = d.stringForKey(kCurrentVersion);
    if (!tracked) {
        d.setString(kCurrentVersion, s.version);
        tracked = s.version;
    }
    if (*tracked == s.version) {
        if (d.doubleForKey(kFirstUseDate) == 0) d.setDouble(kFirstUseDate, s.now());
        // Counted in the file as it is now: another instance started at the same time
        // counts too, and neither count is lost.
        d.incrementInteger(significantEvent ? kSignificantEventCount : kUseCount);
    } else {
        // A new version: everything counts from the start again. A significant event leaves
        // the first-use time to the next counted use.
        d.setString(kCurrentVersion, s.version);
        d.setDouble(kFirstUseDate, significantEvent ? 0 : s.now());
        d.setInteger(kUseCount, significantEvent ? 0 : 1);
        d.setInteger(kSignificantEventCount, significantEvent ? 1 : 0);
        d.setBool(kRatedCurrentVersion, false);
        d.setBool(kDeclinedToRate, false);
        d.setDouble(kReminderRequestDate, 0);
    }
    if (!d.synchronize()) Log::warn("rating prompt: the use count could not be written");
}

bool RatingPrompt::ratingConditionsHaveBeenMet() {
    Services s = services();
    const platform::UserDefaults& d = *s.defaults;
    double now = s.now();
    if (now - d.doubleForKey(kFirstUseDate) < kSecondsUntilPrompt) return false;
    if (d.integerForKey(kUseCount) <= kUsesUntilPrompt) return false;
    if (d.integerForKey(kSignificantEventCount) < kSignificantEventsUntilPrompt) return false;
    if (d.boolForKey(kDeclinedToRate)) return false;
    if (d.boolForKey(kRatedCurrentVersion)) return false;
    if (now - d.doubleForKey(kReminderRequestDate) < kSecondsBeforeReminding) return false;
    return true;
}

bool RatingPrompt::connectedToNetwork() {
    std::optional<unsigned> flags = platform::Reachability::internetFlags();
    if (!flags) {
        Log::error("Error. Could not recover network reachability flags");
        return false;
    }
    // A request for a small page goes out as a last check of the way out; nobody waits
    // for its answer. Connections live on the main thread.
    RunLoop::main().post([url = services().probeUrl] {
        platform::UrlRequest request(url);
        request.timeoutInterval = kProbeTimeout;
        platform::UrlConnection::start(std::move(request), {});
    });
    bool reachable = *flags & platform::Reachability::Reachable;
    bool connectionRequired = *flags & platform::Reachability::ConnectionRequired;
    bool transient = *flags & platform::Reachability::TransientConnection;
    return reachable && (!connectionRequired || transient);
}

void RatingPrompt::showRatingAlert() {
    // A use counted while the question is still on screen does not ask it a second time.
    if (auto shown = _alert.lock(); shown && shown->isVisible()) return;
    const std::string name = services().appName;
    auto alert = platform::AlertView::create(
        platform::format(platform::tr("Rate %s").c_str(), name.c_str()),
        platform::format(platform::tr("If you enjoy using %s, would you mind taking a moment to "
                                      "rate it? It won't take more than a minute. Thanks for "
                                      "your support!")
                             .c_str(),
                         name.c_str()),
        &_alertDelegate, platform::tr("No, Thanks"),
        {platform::format(platform::tr("Rate %s").c_str(), name.c_str()),
         platform::tr("Remind me later")});
    _alert = alert;
    alert->show();
}

void RatingPrompt::alertViewClickedButtonAtIndex(platform::AlertView&, int buttonIndex) {
    Services s = services();
    platform::UserDefaults& d = *s.defaults;
    switch (buttonIndex) {
        case 0:
            d.setBool(kDeclinedToRate, true);
            d.synchronize();
            break;
        case 1: {
            std::string url = reviewURL();
            d.setBool(kRatedCurrentVersion, true);
            d.synchronize();
            // Opening waits for the opener to start; the interface keeps going meanwhile.
            runInBackground([this, url] { openStore(url); });
            break;
        }
        case 2:
            d.setDouble(kReminderRequestDate, s.now());
            d.synchronize();
            break;
        default:
            break;
    }
}

std::string RatingPrompt::reviewURL() const {
    Services s = services();
    bool phoneOrientationsOnly =
        s.infoKeys.count(kOrientationsInfoKey) && !s.infoKeys.count(kTabletOrientationsInfoKey);
    return fillTemplate(phoneOrientationsOnly ? templateReviewURLIpad : templateReviewURL,
                        s.storeId);
}

void RatingPrompt::openStore(const std::string& url) {
    Services s = services();
    if (s.opener->openURL(url)) return;
    // Without a software centre for appstream: links the application's web page will do.
    std::string web = fillTemplate(templateReviewURLIpad, s.storeId);
    if (url != web && s.opener->openURL(web)) return;
    Log::warn("rating prompt: could not open the store page " + url);
}

}  // namespace quorbit::rating
