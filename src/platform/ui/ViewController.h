#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/ui/View.h"

namespace quorbit::platform {

// A screen: owns a view tree that it loads on first use, hears when that view appears and
// disappears, and presents other screens modally over itself.
//
// Modal presentation sends, in this order: the presented screen loads its view (loadView,
// viewDidLoad) if needed; this->viewWillDisappear; presented->viewWillAppear; the presented
// view goes into this view's place (sliding up from the bottom when animated); this view
// leaves the tree; this->viewDidDisappear; presented->viewDidAppear. Dismissal runs the
// mirror image: presented->viewWillDisappear, this->viewWillAppear, this view back in place
// (the presented view sliding down when animated), presented->viewDidDisappear,
// this->viewDidAppear.
class ViewController : public std::enable_shared_from_this<ViewController> {
  public:
    ViewController();
    virtual ~ViewController();
    ViewController(const ViewController&) = delete;
    ViewController& operator=(const ViewController&) = delete;

    // The view, loaded on first use (loadView, then viewDidLoad).
    std::shared_ptr<View> view();
    bool isViewLoaded() const { return _view != nullptr; }
    void setView(std::shared_ptr<View> view);

    const std::string& title() const { return _title; }
    void setTitle(std::string title) { _title = std::move(title); }

    // Makes the view; the default is a plain view the size of the screen.
    virtual void loadView();
    virtual void viewDidLoad() {}
    virtual void viewWillAppear(bool animated) { (void)animated; }
    virtual void viewDidAppear(bool animated) { (void)animated; }
    virtual void viewWillDisappear(bool animated) { (void)animated; }
    virtual void viewDidDisappear(bool animated) { (void)animated; }
    virtual void viewDidUnload() {}
    // The default lets go of the view when it is loaded but not on screen, then calls
    // viewDidUnload; the next use of view() loads it again.
    virtual void didReceiveMemoryWarning();
    // Sends didReceiveMemoryWarning to every live controller.
    static void postMemoryWarning();

    // Modal screens. Presenting while a modal screen is already up, or while a transition is
    // running, is ignored (and logged). dismissModalViewControllerAnimated may be called on
    // either the presenting or the presented controller.
    void presentModalViewController(std::shared_ptr<ViewController> controller, bool animated);
    void dismissModalViewControllerAnimated(bool animated);
    std::shared_ptr<ViewController> modalViewController() const { return _modalViewController; }
    // The controller that presented this one, or null.
    ViewController* parentViewController() const { return _parentViewController; }
    // Whether a presentation or dismissal is running.
    bool isTransitioning() const { return _transitioning; }

    // Keyboard and wheel input that no focused view took: the key window hands it to its
    // top-most screen (the root's innermost presented screen). Answer whether the screen
    // acted on it; the defaults take nothing. A key held down repeats with event.repeat set.
    virtual bool handleKey(const KeyEvent& event) {
        (void)event;
        return false;
    }
    // Whole wheel notches: right > 0 toward the right, down > 0 toward the user.
    virtual bool handleWheel(int right, int down) {
        (void)right;
        (void)down;
        return false;
    }

    // Used by Window for its root controller.
    void beginAppearance(bool appearing, bool animated);
    void endAppearance(bool appearing, bool animated);

  private:
    void finishPresentation(bool animated);
    void finishDismissal(bool animated);
    void ensureLoaded();

    std::shared_ptr<View> _view;
    std::string _title;
    std::shared_ptr<ViewController> _modalViewController;
    ViewController* _parentViewController = nullptr;
    // Where this view stood while a modal screen covered it.
    std::weak_ptr<View> _coveredSuperview;
    Rect _coveredFrame;
    bool _coveredWhole = false;
    bool _transitioning = false;
};

}  // namespace quorbit::platform
