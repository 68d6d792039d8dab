#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/core/Geometry.h"

namespace quorbit::platform {

class Application;
class Window;

// What the application tells its delegate; an empty member is not implemented.
struct ApplicationDelegate {
    std::function<bool(Application&)> didFinishLaunching;
    std::function<void(Application&)> willResignActive;
    std::function<void(Application&)> didBecomeActive;
    std::function<void(Application&)> didEnterBackground;
    std::function<void(Application&)> willEnterForeground;
    std::function<void(Application&)> willTerminate;
    std::function<void(Application&)> didReceiveMemoryWarning;
    // An incoming URL; answers whether it was recognised.
    std::function<bool(Application&, const std::string& url)> openURL;
};

// The running application: its lifecycle state, its delegate, the main window and the
// screen's orientation and keyboard. The host turns window-system events into the calls
// below; each call that would not change the state is ignored, and a jump over a state
// passes through it (going to the background from active resigns first; coming back to
// active from the background enters the foreground first), so the delegate always hears a
// well-formed sequence. Main thread only.
class Application {
  public:
    enum class State { NotRunning, Inactive, Active, Background, Terminated };
    // The interface orientation, numbered as the screens expect.
    enum class Orientation {
        Unknown = 0,
        Portrait = 1,
        PortraitUpsideDown = 2,
        LandscapeRight = 3,
        LandscapeLeft = 4
    };

    static Application& shared();

    ApplicationDelegate* delegate() const { return _delegate; }
    void setDelegate(ApplicationDelegate* delegate) { _delegate = delegate; }

    // The window made at launch; kept alive by the application.
    const std::shared_ptr<Window>& mainWindow() const { return _mainWindow; }
    void setMainWindow(std::shared_ptr<Window> window) { _mainWindow = std::move(window); }

    State state() const { return _state; }
    void finishLaunching();
    void becomeActive();
    void resignActive();
    void enterBackground();
    void enterForeground();
    void terminate();
    void receiveMemoryWarning();
    // Hands an incoming URL to the delegate; false when nobody recognised it.
    bool openURL(const std::string& url);
    // Brings the application's window to the front (a second launch handed over to this
    // one); false when there is no window to bring (a headless run, or not started).
    bool bringToFront() { return _bringToFront && _bringToFront(); }
    void setBringToFront(std::function<bool()> bring) { _bringToFront = std::move(bring); }

    Orientation statusBarOrientation() const { return _orientation; }
    // Posts the device-orientation notification when the orientation changes.
    void setStatusBarOrientation(Orientation orientation);
    static bool isLandscape(Orientation o) {
        return o == Orientation::LandscapeLeft || o == Orientation::LandscapeRight;
    }
    // How long the interface takes to turn with the screen, in seconds.
    static double statusBarOrientationAnimationDuration() { return 0.3; }

    bool isKeyboardVisible() const { return _keyboardVisible; }
    // Posts the keyboard will-show / will-hide notifications when visibility changes.
    void setKeyboardVisible(bool visible);

    // The part of the screen the application may use, in points.
    Rect applicationFrame() const;

    // Back to a fresh, not running application (tests).
    void reset();

  private:
    Application() = default;

    ApplicationDelegate* _delegate = nullptr;
    std::shared_ptr<Window> _mainWindow;
    State _state = State::NotRunning;
    Orientation _orientation = Orientation::Portrait;
    bool _keyboardVisible = false;
    std::function<bool()> _bringToFront;
};

}  // namespace quorbit::platform
