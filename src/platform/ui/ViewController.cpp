#include "platform/ui/ViewController.h"

#include <algorithm>
#include <vector>

#include "platform/core/Log.h"
#include "platform/ui/Animation.h"
#include "platform/ui/Window.h"

namespace quorbit::platform {

namespace {

constexpr double kModalDuration = 0.3;

std::vector<ViewController*>& liveControllers() {
    static std::vector<ViewController*> list;
    return list;
}

}  // namespace

ViewController::ViewController() {
    liveControllers().push_back(this);
}

ViewController::~ViewController() {
    auto& list = liveControllers();
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
    if (_modalViewController && _modalViewController->_parentViewController == this) {
        _modalViewController->_parentViewController = nullptr;
    }
}

void ViewController::ensureLoaded() {
    if (_view) return;
    loadView();
    if (!_view) _view = std::make_shared<View>(Window::screenBounds());
    viewDidLoad();
}

std::shared_ptr<View> ViewController::view() {
    ensureLoaded();
    return _view;
}

void ViewController::setView(std::shared_ptr<View> view) {
    _view = std::move(view);
}

void ViewController::loadView() {
    _view = std::make_shared<View>(Window::screenBounds());
}

void ViewController::didReceiveMemoryWarning() {
    if (!_view || _view->superview()) return;
    _view.reset();
    viewDidUnload();
}

void ViewController::postMemoryWarning() {
    std::vector<ViewController*> list = liveControllers();
    for (ViewController* controller : list) {
        // A controller may have been destroyed by an earlier one's handling.
        auto& live = liveControllers();
        if (std::find(live.begin(), live.end(), controller) == live.end()) continue;
        controller->didReceiveMemoryWarning();
    }
}

void ViewController::beginAppearance(bool appearing, bool animated) {
    if (appearing) {
        viewWillAppear(animated);
    } else {
        viewWillDisappear(animated);
    }
}

void ViewController::endAppearance(bool appearing, bool animated) {
    if (appearing) {
        viewDidAppear(animated);
    } else {
        viewDidDisappear(animated);
    }
}

void ViewController::presentModalViewController(std::shared_ptr<ViewController> controller,
                                                bool animated) {
    if (!controller || controller.get() == this) return;
    if (_modalViewController || _transitioning || controller->_parentViewController ||
        controller->_transitioning) {
        Log::warn("presentModalViewController: a modal screen is already up or moving; ignored");
        return;
    }
    auto self = shared_from_this();
    auto presentedView = controller->view();
    ensureLoaded();
    _modalViewController = controller;
    controller->_parentViewController = this;
    _transitioning = controller->_transitioning = true;

    viewWillDisappear(animated);
    controller->viewWillAppear(animated);

    std::shared_ptr<View> host;
    if (_view && _view->superview()) host = _view->superview()->shared_from_this();
    _coveredSuperview = host;
    _coveredFrame = _view ? _view->frame() : Rect{};
    Rect target = host ? host->bounds() : Window::screenBounds();
    // A screen presented over the whole host keeps covering it when the window is resized.
    _coveredWhole = host && _coveredFrame == host->bounds();
    if (host) {
        presentedView->setFrame(target);
        presentedView->setAutoresizingMask(View::FlexibleWidth | View::FlexibleHeight);
        host->addSubview(presentedView);
    }
    if (animated && host) {
        presentedView->setFrame(target.offsetBy(0, target.height()));
        Animation::animate(
            kModalDuration, [&] { presentedView->setFrame(target); },
            [self, animated](bool) { self->finishPresentation(animated); });
    } else {
        finishPresentation(animated);
    }
}

void ViewController::finishPresentation(bool animated) {
    auto controller = _modalViewController;
    if (_view && _view->superview() && controller) {
        auto covered = _coveredSuperview.lock();
        if (covered && _view->superview() == covered.get()) _view->removeFromSuperview();
    }
    _transitioning = false;
    if (controller) controller->_transitioning = false;
    viewDidDisappear(animated);
    if (controller) controller->viewDidAppear(animated);
}

void ViewController::dismissModalViewControllerAnimated(bool animated) {
    // Called on the presented screen, it asks its presenter.
    if (!_modalViewController) {
        if (_parentViewController)
            _parentViewController->dismissModalViewControllerAnimated(animated);
        return;
    }
    if (_transitioning) {
        Log::warn("dismissModalViewControllerAnimated: a transition is running; ignored");
        return;
    }
    auto self = shared_from_this();
    auto controller = _modalViewController;
    // A screen the modal one presented goes first, at once.
    if (controller->_modalViewController) controller->dismissModalViewControllerAnimated(false);

    _transitioning = controller->_transitioning = true;
    controller->viewWillDisappear(animated);
    viewWillAppear(animated);

    auto presentedView = controller->isViewLoaded() ? controller->view() : nullptr;
    auto host = _coveredSuperview.lock();
    if (!host && presentedView && presentedView->superview()) {
        host = presentedView->superview()->shared_from_this();
    }
    if (host) {
        auto myView = view();  // loads again if a memory warning let it go
        // The window may have been resized while this view was covered.
        if (_coveredWhole)
            myView->setFrame(host->bounds());
        else if (_coveredFrame.isEmpty() == false)
            myView->setFrame(_coveredFrame);
        size_t index = host->subviews().size();
        if (presentedView) {
            auto& subviews = host->subviews();
            auto it = std::find(subviews.begin(), subviews.end(), presentedView);
            if (it != subviews.end()) index = static_cast<size_t>(it - subviews.begin());
        }
        host->insertSubview(myView, index);
    }
    if (animated && presentedView && presentedView->superview()) {
        Rect from = presentedView->frame();
        Animation::animate(
            kModalDuration, [&] { presentedView->setFrame(from.offsetBy(0, from.height())); },
            [self, animated, presentedView, from](bool) {
                presentedView->setFrame(from);
                self->finishDismissal(animated);
            });
    } else {
        finishDismissal(animated);
    }
}

void ViewController::finishDismissal(bool animated) {
    auto controller = std::move(_modalViewController);
    _modalViewController.reset();
    _coveredSuperview.reset();
    if (controller) {
        if (controller->isViewLoaded()) controller->view()->removeFromSuperview();
        controller->_parentViewController = nullptr;
        controller->_transitioning = false;
    }
    _transitioning = false;
    if (controller) controller->viewDidDisappear(animated);
    viewDidAppear(animated);
}

}  // namespace quorbit::platform
