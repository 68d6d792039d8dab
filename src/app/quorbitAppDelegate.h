#pragma once

#include <functional>
#include <memory>

#include "platform/host/Application.h"
#include "platform/ui/Window.h"
#include "screens/camera/quorbitViewController.h"

namespace quorbit::app {

// The application delegate: hears the application's lifecycle from the host, runs the camera
// screen's frame timer while the application is active, and counts launches and returns to
// the foreground for the rating prompt. The camera itself runs on regardless; only the timer
// stops.
//
// An incoming URL (the return of a Facebook sign-in) goes to the share screen's Facebook
// client; a post the user asked for while signed out is then made.
class quorbitAppDelegate {
  public:
    // The rating prompt's entry points the delegate calls.
    struct RatingCalls {
        std::function<void(bool canPromptForRating)> appLaunched;
        std::function<void()> waitUntilIdle;
        // The application's rating prompt.
        static RatingCalls shared();
    };

    explicit quorbitAppDelegate(RatingCalls rating = RatingCalls::shared());
    quorbitAppDelegate(const quorbitAppDelegate&) = delete;
    quorbitAppDelegate& operator=(const quorbitAppDelegate&) = delete;

    // What the application calls; hand it to Application::setDelegate or runApplication.
    platform::ApplicationDelegate& callbacks() { return _callbacks; }

    // The main window (the application's, taken at launch) and the camera screen in it.
    // Neither is owned: the application keeps the window and the window its screen.
    std::shared_ptr<platform::Window> window() const { return _window.lock(); }
    std::shared_ptr<camera_screen::quorbitViewController> viewController() const {
        return _viewController.lock();
    }
    void setViewController(std::weak_ptr<camera_screen::quorbitViewController> controller) {
        _viewController = std::move(controller);
    }
    // Runs after the launch has been counted (the application starts taking incoming URLs
    // there).
    void setLaunchedHandler(std::function<void()> handler) { _launched = std::move(handler); }

    bool didFinishLaunching(platform::Application& application);
    void willResignActive(platform::Application& application);
    void didBecomeActive(platform::Application& application);
    void didEnterBackground(platform::Application& application);
    void willEnterForeground(platform::Application& application);
    void willTerminate(platform::Application& application);
    // Hands url to the Facebook client and answers whether it took it; then, when a post
    // waits for the sign-in ("oneClickPublish"), clears the wait and posts the share
    // screen's photo, whether or not the client took the URL.
    bool openURL(platform::Application& application, const std::string& url);

  private:
    RatingCalls _rating;
    platform::ApplicationDelegate _callbacks;
    std::weak_ptr<platform::Window> _window;
    std::weak_ptr<camera_screen::quorbitViewController> _viewController;
    std::function<void()> _launched;
};

}  // namespace quorbit::app
