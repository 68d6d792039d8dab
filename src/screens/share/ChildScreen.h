#pragma once

#include <memory>
#include <string>

#include "platform/ui/Button.h"
#include "platform/ui/Label.h"
#include "platform/ui/ViewController.h"
#include "screens/share/ScreenHost.h"

namespace quorbit::share {

// A screen that the camera screen presents modally: a title bar with a back control that
// dismisses it (without animation), and the presenting screen told through restart() once
// it has gone.
class ChildScreen : public platform::ViewController {
  public:
    static constexpr double kBarHeight = 44;

    ChildScreen(std::string title, std::string backControlName);

    // The screen that presents this one; not owned.
    ScreenHost* baseViewController() const { return _baseViewController; }
    void setBaseViewController(ScreenHost* host) { _baseViewController = host; }

    void loadView() override;
    void viewDidDisappear(bool animated) override;

    // The back control; made with the view.
    const std::shared_ptr<platform::Button>& backButton() const { return _backButton; }
    // Closes the screen.
    void goBack();
    // Escape closes the screen as the back control does.
    bool handleKey(const platform::KeyEvent& event) override;

  protected:
    // Fills the area below the title bar; the default leaves it empty.
    virtual void loadContent(platform::View& root, platform::Rect area) {
        (void)root;
        (void)area;
    }

  private:
    std::string _backControlName;
    ScreenHost* _baseViewController = nullptr;
    std::shared_ptr<platform::Button> _backButton;
};

}  // namespace quorbit::share
