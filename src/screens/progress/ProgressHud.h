#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/core/NotificationCenter.h"
#include "platform/core/RunLoop.h"
#include "platform/gfx/Canvas.h"
#include "platform/ui/Button.h"
#include "platform/ui/Label.h"
#include "platform/ui/View.h"

namespace quorbit::hud {

class ProgressHud;

// Told when an overlay has finished hiding.
class ProgressHudDelegate {
  public:
    virtual ~ProgressHudDelegate() = default;
    virtual void hudWasHidden(ProgressHud& hud) = 0;
};

// Thrown when an overlay is asked to cover a view that is not there.
class ProgressHudViewIsNilException : public std::invalid_argument {
  public:
    static constexpr const char* kName = "ProgressHudViewIsNilException";
    static constexpr const char* kReason = "The view used in the ProgressHud initializer is nil.";

    ProgressHudViewIsNilException() : std::invalid_argument(kReason) {}
    const char* name() const { return kName; }
};

// A translucent rounded box laid over a view while work is in progress: a spinning activity
// indicator, a round progress dial or a view of the caller's, with up to two lines of text
// under it. It can wait a grace time before it appears (only while a task is in progress),
// stay up for a minimum time once shown, fade or zoom in and out, run a task on a thread of
// its own and hide itself when the task returns, and turn with the screen when it lies
// directly on a window.
//
// The overlay is a view and lives on the main thread; it must be owned by a std::shared_ptr
// (its timers, animations and task look it up through one). setMode(), setProgress(),
// setLabelText() and setDetailsLabelText() may be called from any thread: they hand their
// view work to the main thread without waiting.
class ProgressHud : public platform::View {
  public:
    enum class Mode : int {
        Indeterminate = 0,  // a spinning activity indicator
        Determinate = 1,    // a round progress dial showing progress()
        CustomView = 2,     // customView()
    };
    enum class AnimationType : int { Fade = 0, Zoom = 1 };

    // Seconds the fade and zoom animations take.
    static constexpr double kAnimationDuration = 0.30;
    // Space around the indicator inside the box, and between the lines.
    static constexpr double kMargin = 20;
    static constexpr double kPadding = 4;
    // Corner radius of the box.
    static constexpr double kCornerRadius = 10;
    // Size of the Cancel button.
    static constexpr double kCancelWidth = 100;
    static constexpr double kCancelHeight = 30;

    // Lays a new overlay over view, shows it and returns it. The view keeps it; callers that
    // do not own the overlay should keep only a weak reference. Throws
    // ProgressHudViewIsNilException when view is null.
    static std::shared_ptr<ProgressHud> showHUDAddedTo(platform::View* view, bool animated);
    // Hides the last overlay among view's direct subviews and removes it once hidden. Answers
    // whether there was one.
    static bool hideHUDForView(platform::View* view, bool animated);

    // An overlay of the given frame with the default settings, invisible until shown.
    explicit ProgressHud(platform::Rect frame);
    // An overlay covering view's bounds that follows the screen's orientation changes (and
    // starts turned to the current one when view is a window). Throws
    // ProgressHudViewIsNilException when view is null.
    explicit ProgressHud(platform::View* view);
    ~ProgressHud() override;

    // Shows the box: after graceTime() when that is set (and only if a task is then still in
    // progress), else at once. A pending minimum-time hide is called off.
    void show(bool animated);
    // Hides the box, not before minShowTime() has passed since it was shown. A pending grace
    // timer is called off, so a hidden box never comes up afterwards.
    void hide(bool animated);
    // Runs method on a thread of its own while the box is shown; when method returns, the
    // box is hidden on the main thread. What method holds (its target and argument) is let
    // go on the main thread after it has run. An exception thrown by method is logged and
    // the box hidden all the same.
    void showWhileExecuting(std::function<void()> method, bool animated);
    // The same for a member function of target, called with object; both are held until the
    // task has ended.
    template <class Target, class Object, class Method>
    void showWhileExecuting(Method method, std::shared_ptr<Target> target,
                            std::shared_ptr<Object> object, bool animated) {
        showWhileExecuting([method, target = std::move(target),
                            object = std::move(object)] { ((*target).*method)(object); },
                           animated);
    }

    Mode mode() const { return _mode.load(); }
    // Replaces the indicator by the one of the mode (a new one even when mode 0 is set again
    // in mode 0; nothing happens when another mode is set again).
    void setMode(Mode mode);
    AnimationType animationType() const { return _animationType; }
    void setAnimationType(AnimationType type) { _animationType = type; }

    // The text lines; an empty text is not shown (and a details line only under a label).
    std::string labelText() const;
    void setLabelText(std::string text);
    std::string detailsLabelText() const;
    void setDetailsLabelText(std::string text);
    const platform::Font& labelFont() const { return _labelFont; }
    void setLabelFont(platform::Font font) { _labelFont = std::move(font); }
    const platform::Font& detailsLabelFont() const { return _detailsLabelFont; }
    void setDetailsLabelFont(platform::Font font) { _detailsLabelFont = std::move(font); }

    // What the dial shows in the determinate mode, 0 to 1.
    double progress() const { return _progress.load(); }
    void setProgress(double progress);

    // Displacement of the box from the centre, in points.
    double xOffset() const { return _xOffset; }
    void setXOffset(double offset) { _xOffset = offset; }
    double yOffset() const { return _yOffset; }
    void setYOffset(double offset) { _yOffset = offset; }
    // Size of the box, worked out by the layout.
    double width() const { return _width; }
    double height() const { return _height; }
    // Alpha of the black box.
    double opacity() const { return _opacity; }
    void setOpacity(double opacity) { _opacity = opacity; }

    bool taskInProgress() const { return _taskInProgress; }
    void setTaskInProgress(bool on) { _taskInProgress = on; }
    // Seconds to wait before showing (0: show at once), and to stay up at least once shown.
    double graceTime() const { return _graceTime; }
    void setGraceTime(double seconds) { _graceTime = seconds; }
    double minShowTime() const { return _minShowTime; }
    void setMinShowTime(double seconds) { _minShowTime = seconds; }
    // Whether the one-shot timers are pending on the main run loop.
    bool graceTimer() const { return _graceTimer.active(); }
    bool minShowTimer() const { return _minShowTimer.active(); }
    // When the box was last shown, on the run loop's clock.
    std::optional<platform::RunLoop::Clock::time_point> showStarted() const { return _showStarted; }

    const std::shared_ptr<platform::View>& indicator() const { return _indicator; }
    const std::shared_ptr<platform::View>& customView() const { return _customView; }
    // The indicator of the custom mode; takes effect at the next setMode().
    void setCustomView(std::shared_ptr<platform::View> view) { _customView = std::move(view); }
    // The two text lines (shown only while they are subviews).
    const platform::Label& label() const { return *_label; }
    const platform::Label& detailsLabel() const { return *_detailsLabel; }

    ProgressHudDelegate* delegate() const { return _delegate; }
    void setDelegate(ProgressHudDelegate* delegate) { _delegate = delegate; }
    bool removeFromSuperViewOnHide() const { return _removeFromSuperViewOnHide; }
    void setRemoveFromSuperViewOnHide(bool on) { _removeFromSuperViewOnHide = on; }

    // A Cancel button under the text, which runs action once and goes away. While it is
    // there the overlay takes the keyboard (the window under it is covered): Escape presses
    // the button, and other keys go nowhere. Null takes the button away.
    void setCancelAction(std::function<void()> action);
    const std::shared_ptr<platform::Button>& cancelButton() const { return _cancelButton; }
    // Presses the Cancel button; false when there is none.
    bool cancel();

    bool canBecomeFocused() const override { return _cancelButton != nullptr; }
    void keyDown(const platform::KeyEvent& event) override;
    void keyUp(const platform::KeyEvent& event) override;

    // The rotation matching the screen's orientation; the view's resting transform.
    const platform::AffineTransform& rotationTransform() const { return _rotationTransform; }

    void layoutSubviews() override;
    bool draws() const override { return true; }
    void draw(platform::Canvas& canvas) override;

  private:
    struct BackgroundTask {
        std::function<void()> method;
        std::thread thread;
    };

    // Runs work now when on the main thread, else posts it there holding the overlay.
    void onMainThread(std::function<void(ProgressHud&)> work);
    void updateIndicators();
    void updateProgress();
    void updateLabelText(std::string text);
    void updateDetailsLabelText(std::string text);
    void handleGraceTimer();
    void handleMinShowTimer();
    void showUsingAnimation(bool animated);
    void hideUsingAnimation(bool animated);
    void animationFinished(unsigned long hideNumber);
    void done();
    void launchExecution(BackgroundTask& task);
    void cleanUp(BackgroundTask* task);
    void deviceOrientationDidChange();
    void setTransformForCurrentOrientation(bool animated);
    void fillRoundedRect(platform::Rect rect, platform::Canvas& canvas) const;

    std::atomic<Mode> _mode{Mode::Indeterminate};
    AnimationType _animationType = AnimationType::Fade;
    std::vector<std::unique_ptr<BackgroundTask>> _tasks;
    // Keeps the overlay alive while a task of its own runs.
    std::shared_ptr<ProgressHud> _selfWhileTasks;
    bool _useAnimation = false;
    double _yOffset = 0, _xOffset = 0;
    double _width = 0, _height = 0;
    bool _taskInProgress = false;
    double _graceTime = 0;
    double _minShowTime = 0;
    platform::RunLoopHandle _graceTimer, _minShowTimer;
    std::optional<platform::RunLoop::Clock::time_point> _showStarted;
    std::shared_ptr<platform::View> _indicator;
    std::shared_ptr<platform::Label> _label, _detailsLabel;
    std::atomic<double> _progress{0};
    ProgressHudDelegate* _delegate = nullptr;
    mutable std::mutex _textMutex;  // the texts may be read from any thread
    std::string _labelText, _detailsLabelText;
    double _opacity = 0.8;
    platform::Font _labelFont = platform::Font::boldSystem(16);
    platform::Font _detailsLabelFont = platform::Font::boldSystem(12);
    bool _removeFromSuperViewOnHide = false;
    std::shared_ptr<platform::View> _customView;
    std::shared_ptr<platform::Button> _cancelButton;
    std::function<void()> _cancelAction;
    platform::AffineTransform _rotationTransform;
    // Counts hides begun; a hide animation ends in done() only if no show or hide came after.
    unsigned long _hideNumber = 0;
    bool _observing = false;
};

}  // namespace quorbit::hud
