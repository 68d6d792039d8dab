#include "app/quorbitAppDelegate.h"

#include "screens/rating/RatingPrompt.h"

namespace quorbit::app {

quorbitAppDelegate::RatingCalls quorbitAppDelegate::RatingCalls::shared() {
    return {[](bool canPrompt) { rating::RatingPrompt::appLaunched(canPrompt); },
            [] { rating::RatingPrompt::sharedInstance().waitUntilIdle(); }};
}

quorbitAppDelegate::quorbitAppDelegate(RatingCalls rating) : _rating(std::move(rating)) {
    _callbacks.didFinishLaunching = [this](platform::Application& a) {
        return didFinishLaunching(a);
    };
    _callbacks.willResignActive = [this](platform::Application& a) { willResignActive(a); };
    _callbacks.didBecomeActive = [this](platform::Application& a) { didBecomeActive(a); };
    _callbacks.didEnterBackground = [this](platform::Application& a) { didEnterBackground(a); };
    _callbacks.willEnterForeground = [this](platform::Application& a) { willEnterForeground(a); };
    _callbacks.willTerminate = [this](platform::Application& a) { willTerminate(a); };
    _callbacks.openURL = [this](platform::Application& a, const std::string& url) {
        return openURL(a, url);
    };
}

bool quorbitAppDelegate::didFinishLaunching(platform::Application& application) {
    // The window already shows the camera screen, its root.
    _window = application.mainWindow();
    if (_rating.appLaunched) _rating.appLaunched(true);
    if (_launched) _launched();
    return true;
}

void quorbitAppDelegate::willResignActive(platform::Application&) {
    if (auto screen = viewController()) screen->stopAnimation();
}

void quorbitAppDelegate::didBecomeActive(platform::Application&) {
    if (auto screen = viewController()) screen->startAnimation();
}

void quorbitAppDelegate::didEnterBackground(platform::Application&) {
    // Nothing: the timer stopped when the application resigned active on its way here.
}

void quorbitAppDelegate::willEnterForeground(platform::Application&) {
    // A return from the background counts as a launch.
    if (_rating.appLaunched) _rating.appLaunched(true);
}

void quorbitAppDelegate::willTerminate(platform::Application&) {
    if (auto screen = viewController()) screen->stopAnimation();
    // The counts still being written are kept before the settings go away.
    if (_rating.waitUntilIdle) _rating.waitUntilIdle();
}

}  // namespace quorbit::app

namespace quorbit::app {

bool quorbitAppDelegate::openURL(platform::Application&, const std::string& url) {
    auto screen = viewController();
    if (!screen) return false;
    const auto& share = screen->getPhotoViewController();
    if (!share) return false;
    bool taken = share->facebook() && share->facebook()->handleOpenURL(url);
    platform::UserDefaults& defaults = share->defaults();
    if (defaults.boolForKey(share::kOneClickPublishKey)) {
        // Cleared first, so that a failing post is not made again by the next URL.
        defaults.setBool(share::kOneClickPublishKey, false);
        screen->getPhotoViewController()->publishPhotoCurrentImage();
    }
    return taken;
}

}  // namespace quorbit::app
