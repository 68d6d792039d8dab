#include "screens/progress/ProgressHud.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <exception>
#include <system_error>

#include "platform/core/Log.h"
#include "platform/core/Translate.h"
#include "platform/host/Application.h"
#include "platform/ui/ActivityIndicator.h"
#include "platform/ui/Animation.h"
#include "platform/ui/Window.h"
#include "screens/progress/RoundProgressView.h"

namespace quorbit::hud {

using platform::AffineTransform;
using platform::Animation;
using platform::Application;
using platform::Color;
using platform::Rect;
using platform::RunLoop;
using platform::Size;
using platform::View;

namespace {

// A delay in seconds as a run-loop duration; an endless one (or one of centuries) becomes a
// billion seconds, which the duration can hold.
RunLoop::Duration seconds(double s) {
    return std::chrono::duration_cast<RunLoop::Duration>(
        std::chrono::duration<double>(std::clamp(s, 0.0, 1e9)));
}

Rect boundsOf(const View* view) {
    if (!view) throw ProgressHudViewIsNilException();
    return view->bounds();
}

void configure(platform::Label& label, const platform::Font& font, const std::string& text) {
    label.setFont(font);
    label.setNumberOfLines(1);
    label.setTextAlignment(platform::TextAlignment::Center);
    label.setOpaque(false);
    label.setBackgroundColor(Color::clear());
    label.setTextColor(Color::white());
    label.setText(text);
}

void addIfAbsent(View& parent, const std::shared_ptr<View>& child) {
    if (child->superview() != &parent) parent.addSubview(child);
}

}  // namespace

std::shared_ptr<ProgressHud> ProgressHud::showHUDAddedTo(View* view, bool animated) {
    auto hud = std::make_shared<ProgressHud>(view);
    view->addSubview(hud);
    hud->show(animated);
    return hud;
}

bool ProgressHud::hideHUDForView(View* view, bool animated) {
    if (!view) return false;
    std::shared_ptr<ProgressHud> last;
    for (const auto& child : view->subviews()) {
        if (auto hud = std::dynamic_pointer_cast<ProgressHud>(child)) last = std::move(hud);
    }
    if (!last) return false;
    last->setRemoveFromSuperViewOnHide(true);
    last->hide(animated);
    return true;
}

ProgressHud::ProgressHud(Rect frame) : View(frame) {
    setAutoresizingMask(FlexibleLeftMargin | FlexibleRightMargin | FlexibleTopMargin |
                        FlexibleBottomMargin);
    setOpaque(false);
    setBackgroundColor(Color::clear());
    setAlpha(0);
    _label = std::make_shared<platform::Label>(bounds());
    _detailsLabel = std::make_shared<platform::Label>(bounds());
    // Building the indicator directly: this is what setMode() does for the mode we start in.
    updateIndicators();
}

ProgressHud::ProgressHud(View* view) : ProgressHud(boundsOf(view)) {
    if (dynamic_cast<platform::Window*>(view)) setTransformForCurrentOrientation(false);
    platform::NotificationCenter::defaultCenter().addObserver(
        platform::kDeviceOrientationDidChangeNotification, nullptr,
        [this](const platform::Notification&) { deviceOrientationDidChange(); }, this);
    // A resized window is covered whole again.
    platform::NotificationCenter::defaultCenter().addObserver(
        platform::kScreenDidResizeNotification, nullptr,
        [this](const platform::Notification&) {
            if (View* parent = superview()) setFrame(parent->bounds());
        },
        this);
    _observing = true;
}

ProgressHud::~ProgressHud() {
    if (_observing) platform::NotificationCenter::defaultCenter().removeObserver(this);
}

void ProgressHud::onMainThread(std::function<void(ProgressHud&)> work) {
    if (RunLoop::isMainThread()) {
        work(*this);
        return;
    }
    auto self = std::static_pointer_cast<ProgressHud>(weak_from_this().lock());
    if (!self) return;  // not owned yet (or any more): there is nothing on screen to update
    RunLoop::main().post([self = std::move(self), work = std::move(work)] { work(*self); });
}

// Showing and hiding.

void ProgressHud::show(bool animated) {
    _useAnimation = animated;
    _minShowTimer.reset();
    if (_graceTime > 0) {
        _graceTimer = RunLoop::main().timer(seconds(_graceTime), [this] { handleGraceTimer(); });
        return;
    }
    setNeedsDisplay();
    showUsingAnimation(_useAnimation);
}

void ProgressHud::handleGraceTimer() {
    // Grace time is for tasks: a task that has ended by now never shows the box.
    if (!_taskInProgress) return;
    setNeedsDisplay();
    showUsingAnimation(_useAnimation);
}

void ProgressHud::hide(bool animated) {
    _useAnimation = animated;
    _graceTimer.reset();
    if (_minShowTime > 0 && _showStarted) {
        double shown = std::chrono::duration<double>(RunLoop::main().now() - *_showStarted).count();
        if (shown < _minShowTime) {
            _minShowTimer = RunLoop::main().timer(seconds(_minShowTime - shown),
                                                  [this] { handleMinShowTimer(); });
            return;
        }
    }
    hideUsingAnimation(_useAnimation);
}

void ProgressHud::handleMinShowTimer() {
    hideUsingAnimation(_useAnimation);
}

void ProgressHud::showUsingAnimation(bool animated) {
    // A hide still fading out must not end this showing; values set directly below must not
    // be overwritten by animations still running.
    ++_hideNumber;
    Animation::finishAll(this);
    setAlpha(0);
    if (animated && _animationType == AnimationType::Zoom) {
        setTransform(_rotationTransform.concat(AffineTransform::scale(1.5, 1.5)));
    }
    _showStarted = RunLoop::main().now();
    if (!animated) {
        setAlpha(1);
        return;
    }
    Animation::animate(kAnimationDuration, [this] {
        setAlpha(1);
        if (_animationType == AnimationType::Zoom) setTransform(_rotationTransform);
    });
}

void ProgressHud::hideUsingAnimation(bool animated) {
    unsigned long number = ++_hideNumber;
    if (!animated) {
        Animation::finishAll(this);
        setAlpha(0);
        done();
        return;
    }
    std::weak_ptr<View> weak = weak_from_this();
    Animation::animate(
        kAnimationDuration,
        [this] {
            setAlpha(0.02);
            if (_animationType == AnimationType::Zoom) {
                setTransform(_rotationTransform.concat(AffineTransform::scale(0.5, 0.5)));
            }
        },
        [weak, number](bool) {
            if (auto self = weak.lock()) static_cast<ProgressHud&>(*self).animationFinished(number);
        });
}

void ProgressHud::animationFinished(unsigned long hideNumber) {
    if (hideNumber == _hideNumber) done();
}

void ProgressHud::done() {
    auto keep = weak_from_this().lock();  // the parent may hold the last reference
    setAlpha(0);
    if (isFocused()) resignFocused();
    if (_delegate) _delegate->hudWasHidden(*this);
    if (_removeFromSuperViewOnHide) removeFromSuperview();
}

// The background task.

void ProgressHud::showWhileExecuting(std::function<void()> method, bool animated) {
    // Throws before anything changes when the overlay is not held by a shared_ptr.
    auto self = std::static_pointer_cast<ProgressHud>(shared_from_this());
    auto task = std::make_unique<BackgroundTask>();
    task->method = std::move(method);
    _taskInProgress = true;
    if (!_selfWhileTasks) _selfWhileTasks = std::move(self);
    BackgroundTask* running = task.get();
    _tasks.push_back(std::move(task));
    try {
        running->thread = std::thread([this, running] { launchExecution(*running); });
    } catch (const std::system_error& e) {
        // No thread to run it on: the task fails, and the box goes away as after any task.
        platform::Log::error(std::string("Progress overlay task not started: ") + e.what());
        RunLoop::main().post([this, running] { cleanUp(running); });
    }
    show(animated);
}

void ProgressHud::launchExecution(BackgroundTask& task) {
    try {
        if (task.method) task.method();
    } catch (const std::exception& e) {
        platform::Log::error(std::string("Progress overlay task failed: ") + e.what());
    } catch (...) {
        platform::Log::error("Progress overlay task failed");
    }
    RunLoop::main().post([this, task = &task] { cleanUp(task); });
}

void ProgressHud::cleanUp(BackgroundTask* task) {
    // The thread has nothing left to do but return.
    if (task->thread.joinable()) task->thread.join();
    // Let go of what the method held here, on the main thread.
    std::function<void()> finished = std::move(task->method);
    std::erase_if(_tasks, [task](const auto& t) { return t.get() == task; });
    _taskInProgress = false;
    std::shared_ptr<ProgressHud> keep;
    if (_tasks.empty()) keep = std::move(_selfWhileTasks);
    hide(_useAnimation);
}

// Indicator, progress and texts.

void ProgressHud::setMode(Mode mode) {
    Mode current = _mode.load();
    if (current != Mode::Indeterminate && current == mode) return;
    _mode = mode;
    onMainThread([](ProgressHud& hud) {
        hud.updateIndicators();
        hud.setNeedsLayout();
        hud.setNeedsDisplay();
    });
}

void ProgressHud::updateIndicators() {
    if (_indicator) _indicator->removeFromSuperview();
    Mode mode = _mode.load();
    if (mode == Mode::Determinate) {
        auto dial = std::make_shared<RoundProgressView>();
        dial->setProgress(_progress.load());  // the dial starts at the progress already set
        _indicator = std::move(dial);
    } else if (mode == Mode::CustomView && _customView) {
        _indicator = _customView;
    } else {
        auto spinner = std::make_shared<platform::ActivityIndicator>(
            platform::ActivityIndicator::Style::WhiteLarge);
        spinner->startAnimating();
        _indicator = std::move(spinner);
    }
    addSubview(_indicator);
}

void ProgressHud::setProgress(double progress) {
    _progress = progress;
    if (_mode.load() != Mode::Determinate) return;
    onMainThread([](ProgressHud& hud) {
        hud.updateProgress();
        hud.setNeedsDisplay();
    });
}

void ProgressHud::updateProgress() {
    if (auto dial = std::dynamic_pointer_cast<platform::ProgressView>(_indicator)) {
        dial->setProgress(_progress.load());
    }
}

std::string ProgressHud::labelText() const {
    std::lock_guard lock(_textMutex);
    return _labelText;
}

std::string ProgressHud::detailsLabelText() const {
    std::lock_guard lock(_textMutex);
    return _detailsLabelText;
}

void ProgressHud::setLabelText(std::string text) {
    onMainThread([text = std::move(text)](ProgressHud& hud) { hud.updateLabelText(text); });
}

void ProgressHud::setDetailsLabelText(std::string text) {
    onMainThread([text = std::move(text)](ProgressHud& hud) { hud.updateDetailsLabelText(text); });
}

void ProgressHud::updateLabelText(std::string text) {
    {
        std::lock_guard lock(_textMutex);
        _labelText = std::move(text);
    }
    setNeedsLayout();
    setNeedsDisplay();
}

void ProgressHud::updateDetailsLabelText(std::string text) {
    {
        std::lock_guard lock(_textMutex);
        _detailsLabelText = std::move(text);
    }
    setNeedsLayout();
    setNeedsDisplay();
}

// Layout and drawing.

void ProgressHud::layoutSubviews() {
    const double oldWidth = _width, oldHeight = _height;
    const Size b = bounds().size;
    const Size ind = _indicator ? _indicator->bounds().size : Size{};
    _width = ind.width + 2 * kMargin;
    _height = ind.height + 2 * kMargin;

    Rect indicatorFrame(std::floor((b.width - ind.width) / 2) + _xOffset,
                        std::floor((b.height - ind.height) / 2) + _yOffset, ind.width, ind.height);
    if (_indicator) _indicator->setFrame(indicatorFrame);

    // A text no wider than the overlay less two margins keeps its width; a wider one gets
    // the overlay less four margins (never less than nothing).
    auto lineWidth = [&b](double measured) {
        return measured <= b.width - 2 * kMargin ? measured : std::max(0.0, b.width - 4 * kMargin);
    };
    auto finish = [&] {
        if (_cancelButton) {
            // Under the lines: the box grows by the button, and what is in it moves up by
            // half that to stay in the middle.
            const Size button{kCancelWidth, kCancelHeight};
            const double extra = button.height + kPadding;
            const double contentBottom = std::floor((b.height + _height) / 2) + _yOffset - kMargin;
            for (platform::View* v : {_indicator.get(), static_cast<platform::View*>(_label.get()),
                                      static_cast<platform::View*>(_detailsLabel.get())}) {
                if (!v || v->superview() != this) continue;
                Rect f = v->frame();
                f.origin.y -= std::floor(extra / 2);
                v->setFrame(f);
            }
            _cancelButton->setFrame(Rect(std::floor((b.width - button.width) / 2) + _xOffset,
                                         contentBottom - std::floor(extra / 2) + kPadding,
                                         button.width, button.height));
            _height += extra;
            _width = std::max(_width, button.width + 2 * kMargin);
        }
        if (_width != oldWidth || _height != oldHeight) setNeedsDisplay();
    };

    const std::string text = labelText();
    const std::string details = detailsLabelText();
    if (text.empty()) {
        // Lines whose text was taken away must not stay on screen with the old one.
        _label->removeFromSuperview();
        _detailsLabel->removeFromSuperview();
        return finish();
    }
    configure(*_label, _labelFont, text);
    const Size labelSize = _label->sizeThatFits();
    const double labelWidth = lineWidth(labelSize.width);
    if (_width < labelWidth + 2 * kMargin) _width = labelWidth + 2 * kMargin;
    _height += labelSize.height + kPadding;
    indicatorFrame.origin.y -= std::floor(labelSize.height / 2 + kPadding / 2);
    if (_indicator) _indicator->setFrame(indicatorFrame);
    Rect labelFrame(std::floor((b.width - labelWidth) / 2) + _xOffset,
                    std::floor(indicatorFrame.y() + ind.height + kPadding), labelWidth,
                    labelSize.height);
    _label->setFrame(labelFrame);
    addIfAbsent(*this, _label);

    if (details.empty()) {
        _detailsLabel->removeFromSuperview();
        return finish();
    }
    configure(*_detailsLabel, _detailsLabelFont, details);
    const Size detailsSize = _detailsLabel->sizeThatFits();
    const double detailsWidth = lineWidth(detailsSize.width);
    // Compared with the box width itself (not less its margins): a details line up to that
    // wide leaves the box as the label made it.
    if (detailsWidth > _width) _width = detailsWidth + 2 * kMargin;
    _height += detailsSize.height + kPadding;
    const double up = std::floor(detailsSize.height / 2 + kPadding / 2);
    indicatorFrame.origin.y -= up;
    labelFrame.origin.y -= up;
    if (_indicator) _indicator->setFrame(indicatorFrame);
    _label->setFrame(labelFrame);
    _detailsLabel->setFrame(Rect(std::floor((b.width - detailsWidth) / 2) + _xOffset,
                                 labelFrame.y() + labelSize.height + kPadding, detailsWidth,
                                 detailsSize.height));
    addIfAbsent(*this, _detailsLabel);
    finish();
}

// Cancelling.

void ProgressHud::setCancelAction(std::function<void()> action) {
    _cancelAction = std::move(action);
    if (!_cancelAction) {
        if (_cancelButton) _cancelButton->removeFromSuperview();
        _cancelButton.reset();
        setNeedsLayout();
        return;
    }
    if (!_cancelButton) {
        _cancelButton = platform::Button::create(platform::Button::Type::RoundedRect);
        _cancelButton->setTitle(platform::tr("Cancel"));
        _cancelButton->setFont(_detailsLabelFont);
        _cancelButton->addAction([this](platform::Button&) { cancel(); });
        addSubview(_cancelButton);
    }
    setNeedsLayout();
    becomeFocused();
}

bool ProgressHud::cancel() {
    if (!_cancelAction) return false;
    auto keep = weak_from_this().lock();
    auto action = std::move(_cancelAction);
    // The button goes first: the action may change the text or hide the overlay.
    setCancelAction(nullptr);
    action();
    return true;
}

void ProgressHud::keyDown(const platform::KeyEvent& event) {
    if (event.key == platform::KeyEvent::Key::Escape && !event.repeat) cancel();
}

void ProgressHud::keyUp(const platform::KeyEvent&) {}

void ProgressHud::draw(platform::Canvas& canvas) {
    const Size b = bounds().size;
    fillRoundedRect(Rect((b.width - _width) / 2 + _xOffset, (b.height - _height) / 2 + _yOffset,
                         _width, _height),
                    canvas);
}

void ProgressHud::fillRoundedRect(Rect r, platform::Canvas& canvas) const {
    const double radius = kCornerRadius;
    canvas.beginPath();
    canvas.moveTo({r.minX() + radius, r.minY()});
    canvas.arc({r.maxX() - radius, r.minY() + radius}, radius, 3 * M_PI / 2, 0);
    canvas.arc({r.maxX() - radius, r.maxY() - radius}, radius, 0, M_PI / 2);
    canvas.arc({r.minX() + radius, r.maxY() - radius}, radius, M_PI / 2, M_PI);
    canvas.arc({r.minX() + radius, r.minY() + radius}, radius, M_PI, 3 * M_PI / 2);
    canvas.closePath();
    canvas.fill(Color::black().withAlpha(_opacity));
}

// Orientation.

void ProgressHud::deviceOrientationDidChange() {
    View* parent = superview();
    if (!parent) return;  // nothing to cover yet: the frame is set when there is
    if (dynamic_cast<platform::Window*>(parent)) setTransformForCurrentOrientation(true);
    setFrame(parent->bounds());
    setNeedsDisplay();
}

void ProgressHud::setTransformForCurrentOrientation(bool animated) {
    double degrees = 0;
    switch (Application::shared().statusBarOrientation()) {
        case Application::Orientation::LandscapeRight:
            degrees = 90;
            break;
        case Application::Orientation::LandscapeLeft:
            degrees = -90;
            break;
        case Application::Orientation::PortraitUpsideDown:
            degrees = 180;
            break;
        default:
            break;
    }
    _rotationTransform = AffineTransform::rotation(degrees * M_PI / 180);
    if (animated) {
        Animation::animate(Application::statusBarOrientationAnimationDuration(),
                           [this] { setTransform(_rotationTransform); });
    } else {
        setTransform(_rotationTransform);
    }
}

}  // namespace quorbit::hud
