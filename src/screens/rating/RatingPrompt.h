#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/ui/AlertView.h"

namespace quorbit::platform {
class UrlOpener;
class UserDefaults;
}  // namespace quorbit::platform

namespace quorbit::rating {

// Counts how often the application is used and, once it has been in use long enough, asks
// the user once per application version to rate it in the software centre.
//
// All state lives in the user-defaults store under the keys below. Every entry call starts
// a short-lived background thread that counts, checks the conditions and the network, and
// asks the main thread to show the three-button alert. The background runs are serialised
// by one lock: two calls close together each count their use.
class RatingPrompt {
  public:
    static constexpr const char* kCurrentVersion = "kRatingPromptCurrentVersion";
    static constexpr const char* kFirstUseDate = "kRatingPromptFirstUseDate";
    static constexpr const char* kUseCount = "kRatingPromptUseCount";
    static constexpr const char* kSignificantEventCount = "kRatingPromptSignificantEventCount";
    static constexpr const char* kRatedCurrentVersion = "kRatingPromptRatedCurrentVersion";
    static constexpr const char* kDeclinedToRate = "kRatingPromptDeclinedToRate";
    static constexpr const char* kReminderRequestDate = "kRatingPromptReminderRequestDate";

    static constexpr double kSecondsUntilPrompt = 604800;  // 7 days after the first use
    static constexpr long kUsesUntilPrompt = 5;            // asking from the 6th use
    static constexpr long kSignificantEventsUntilPrompt = 0;
    static constexpr double kSecondsBeforeReminding = 86400;  // 1 day after "Remind me later"

    // The store links, "APP_ID" standing for the store identifier: the application's page in
    // the software centre (where its reviews are), and its page on the web.
    static constexpr const char* templateReviewURL = "appstream://APP_ID";
    static constexpr const char* templateReviewURLIpad = "https://flathub.org/apps/APP_ID";

    // Bundle information keys that choose the link: a bundle that declares its interface
    // orientations for phones only is sent to the web page.
    static constexpr const char* kOrientationsInfoKey = "UISupportedInterfaceOrientations";
    static constexpr const char* kTabletOrientationsInfoKey =
        "UISupportedInterfaceOrientations~ipad";

    // What the prompt works with; tests replace any of it.
    struct Services {
        platform::UserDefaults* defaults = nullptr;
        platform::UrlOpener* opener = nullptr;
        // Now, in seconds since 1970-01-01 00:00 UTC.
        std::function<double()> now;
        std::string appName;
        std::string version;
        std::string storeId;
        // The page that the network check starts loading; its answer is never awaited.
        std::string probeUrl;
        // The keys of the bundle's information; the desktop bundle declares none of the
        // orientation keys.
        std::set<std::string> infoKeys;
    };
    // The application's: the standard store and URL opener, the system clock, the bundle's
    // name and version, $QUORBIT_STORE_ID (else the bundle identifier) and
    // $QUORBIT_PROBE_URL (else a public connectivity-check page).
    static Services applicationServices();

    // The one instance, made with applicationServices() on first use.
    static RatingPrompt& sharedInstance();

    // Entry points, callable from any thread. Each counts one use (or one significant event)
    // on a new background thread and, when canPromptForRating is true and the time has come,
    // shows the alert.
    static void appLaunched(bool canPromptForRating = true);
    static void appEnteredForeground(bool canPromptForRating);
    static void userDidSignificantEvent(bool canPromptForRating);

    explicit RatingPrompt(Services services);
    // Waits for the background runs still going.
    ~RatingPrompt();
    RatingPrompt(const RatingPrompt&) = delete;
    RatingPrompt& operator=(const RatingPrompt&) = delete;

    Services services() const;
    // Waits for the background runs, then swaps what the prompt works with.
    void setServices(Services services);
    // Returns once every background run started so far has ended (at termination, so that
    // no count is lost; in tests).
    void waitUntilIdle();

    // The background runs: count, then ask when allowed and due and the network is there.
    void incrementAndRate(bool canPromptForRating);
    void incrementSignificantEventAndRate(bool canPromptForRating);

    // The steps of a background run.
    void incrementUseCount();
    void incrementSignificantEventCount();
    bool ratingConditionsHaveBeenMet();
    bool connectedToNetwork();
    // Main thread. Shows the alert unless the prompt's alert is already on screen.
    void showRatingAlert();
    // Main thread. The alert's answer: 0 "No, Thanks", 1 rate, 2 "Remind me later".
    void alertViewClickedButtonAtIndex(platform::AlertView& alert, int buttonIndex);

    // The link that the rate button opens first.
    std::string reviewURL() const;

  private:
    struct Worker {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };

    void runInBackground(std::function<void()> work);
    void increment(bool significantEvent);
    // Shows the alert from the main thread when allowed, due and with a network.
    void askIfDue(bool canPromptForRating);
    void openStore(const std::string& url);

    mutable std::mutex _servicesMutex;
    Services _services;
    std::mutex _runMutex;  // one background run at a time
    std::mutex _workersMutex;
    std::vector<Worker> _workers;
    // Tasks posted to the main thread reach the instance through this; cleared when it
    // goes.
    std::shared_ptr<RatingPrompt*> _handle;
    platform::AlertViewDelegate _alertDelegate;
    std::weak_ptr<platform::AlertView> _alert;
};

}  // namespace quorbit::rating
