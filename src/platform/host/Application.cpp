#include "platform/host/Application.h"

#include "platform/core/Log.h"
#include "platform/core/NotificationCenter.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/Window.h"

namespace quorbit::platform {

Application& Application::shared() {
    static Application application;
    return application;
}

void Application::finishLaunching() {
    if (_state != State::NotRunning) return;
    _state = State::Inactive;
    if (_delegate && _delegate->didFinishLaunching) _delegate->didFinishLaunching(*this);
}

void Application::becomeActive() {
    if (_state == State::Background) enterForeground();
    if (_state != State::Inactive) return;
    _state = State::Active;
    if (_delegate && _delegate->didBecomeActive) _delegate->didBecomeActive(*this);
}

void Application::resignActive() {
    if (_state != State::Active) return;
    _state = State::Inactive;
    if (_delegate && _delegate->willResignActive) _delegate->willResignActive(*this);
}

void Application::enterBackground() {
    if (_state == State::Active) resignActive();
    if (_state != State::Inactive) return;
    _state = State::Background;
    if (_delegate && _delegate->didEnterBackground) _delegate->didEnterBackground(*this);
}

void Application::enterForeground() {
    if (_state != State::Background) return;
    _state = State::Inactive;
    if (_delegate && _delegate->willEnterForeground) _delegate->willEnterForeground(*this);
}

void Application::terminate() {
    if (_state == State::NotRunning || _state == State::Terminated) return;
    if (_state == State::Active) resignActive();
    _state = State::Terminated;
    if (_delegate && _delegate->willTerminate) _delegate->willTerminate(*this);
}

void Application::receiveMemoryWarning() {
    if (_delegate && _delegate->didReceiveMemoryWarning) _delegate->didReceiveMemoryWarning(*this);
    ViewController::postMemoryWarning();
}

bool Application::openURL(const std::string& url) {
    if (!_delegate || !_delegate->openURL) {
        // Only the scheme: the rest may carry a sign-in token.
        Log::info("no one takes the incoming " + url.substr(0, url.find(':')) + ": URL");
        return false;
    }
    return _delegate->openURL(*this, url);
}

void Application::setStatusBarOrientation(Orientation orientation) {
    if (orientation == Orientation::Unknown || orientation == _orientation) return;
    _orientation = orientation;
    NotificationCenter::defaultCenter().post(kDeviceOrientationDidChangeNotification, nullptr,
                                             {{"orientation", std::to_string(int(orientation))}});
}

void Application::setKeyboardVisible(bool visible) {
    if (visible == _keyboardVisible) return;
    _keyboardVisible = visible;
    NotificationCenter::defaultCenter().post(visible ? kKeyboardWillShowNotification
                                                     : kKeyboardWillHideNotification);
}

Rect Application::applicationFrame() const {
    return Window::screenBounds();
}

void Application::reset() {
    _delegate = nullptr;
    _mainWindow.reset();
    _state = State::NotRunning;
    _orientation = Orientation::Portrait;
    _keyboardVisible = false;
    _bringToFront = nullptr;
}

}  // namespace quorbit::platform
