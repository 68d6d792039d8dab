#pragma once

#include <memory>
#include <utility>
#include <vector>

#include "platform/ui/View.h"

namespace quorbit::platform {

class ViewController;

// A top-level view: the root of one tree that the compositor draws. Windows are stacked by
// level (alerts above the application) and, within a level, by the order they were shown.
// A window starts hidden; makeKeyAndVisible() shows it and makes it the key window.
class Window : public View {
  public:
    static constexpr double kLevelNormal = 0;
    static constexpr double kLevelStatusBar = 1000;
    static constexpr double kLevelAlert = 2000;

    explicit Window(Rect frame = screenBounds());
    ~Window() override;

    void makeKeyAndVisible();
    void makeKeyWindow();
    bool isKeyWindow() const { return keyWindow() == this; }
    static Window* keyWindow();
    // Every live window, back to front (hidden ones included; the compositor skips them).
    static std::vector<Window*> windows();

    double windowLevel() const { return _windowLevel; }
    void setWindowLevel(double level);

    // The controller whose view fills the window. Setting it puts the view in and, when the
    // window is visible, sends the appearance callbacks.
    std::shared_ptr<ViewController> rootViewController() const { return _rootViewController; }
    void setRootViewController(std::shared_ptr<ViewController> controller);

    // The screen in points; the host sets it before the first window is made.
    static Rect screenBounds();
    static void setScreenBounds(Rect bounds);
    // Pixels per point of the screen; the host sets it (--scale, the output's density).
    static double screenScale();
    static void setScreenScale(double scale);
    // The host's window took a new size (bounds, in points) or pixel density: every window
    // that covered the whole screen covers the new one, the views inside follow their
    // autoresizing masks and lay themselves out again, and when the density changed every
    // picture is drawn again at the new one.
    static void resizeScreen(Rect bounds, double scale);

    // Touch input from the host, in window points. The topmost visible window under the
    // point receives a new touch; a touch stays with the view it began on until it ends.
    // A scroll view above that view may take a moving touch over as a drag, in which case
    // the view underneath gets touchesCancelled.
    static void dispatchTouch(TouchPhase phase, int touchId, Point point);
    // A right click from the host, in window points: to the view under it in the topmost
    // visible window there, or to its nearest ancestor that takes it (View::secondaryClick).
    static bool dispatchSecondaryClick(Point point);
    // The topmost shown window under a point of the screen and its view there (null where
    // that window takes no touch there); both null where no window is under the point.
    static std::pair<Window*, View*> targetAt(Point point);
    // Cancels every touch in progress (focus lost, a modal alert coming up).
    static void cancelAllTouches();
    // Whether any touch is down.
    static bool hasActiveTouches();

    // The view in this window that keyboard input goes to, or null. A view that has left
    // the window is no longer focused.
    View* focusedView() const;
    // Focuses view (null: none), telling the views that lose and gain the focus.
    void setFocusedView(View* view);
    // Keyboard input from the host, to the focused view of the key window. A key the
    // focused view does not keep passes up its superviews (View::keyDown) to the window,
    // which hands a pressed key to its top-most screen (ViewController::handleKey); with
    // nothing focused the key goes there directly. Returns whether a focused view received
    // the key or a screen acted on it.
    static bool dispatchKey(const KeyEvent& event, bool pressed);
    static bool dispatchText(const std::string& text);
    // Wheel notches from the host, to the key window's top-most screen (handleWheel).
    static bool dispatchWheel(int right, int down);
    // The root screen, or the innermost screen presented over it; null without a root.
    ViewController* topViewController() const;

    void keyDown(const KeyEvent& event) override;
    void keyUp(const KeyEvent& event) override;

  protected:
    void didChangeHidden() override;

  private:
    static void cancelTouchesIn(const Window* window);

    double _windowLevel = kLevelNormal;
    std::shared_ptr<ViewController> _rootViewController;
    bool _rootAppeared = false;
    unsigned long _order = 0;
    std::weak_ptr<View> _focused;
};

}  // namespace quorbit::platform
