#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/ui/View.h"

namespace quorbit::platform {

class AlertView;
class Button;
class Label;
class Window;

// What an alert tells its delegate; an empty member is not called.
struct AlertViewDelegate {
    std::function<void(AlertView&, int buttonIndex)> clickedButtonAtIndex;
    std::function<void(AlertView&)> willPresent;
    std::function<void(AlertView&)> didPresent;
    std::function<void(AlertView&, int buttonIndex)> willDismissWithButtonIndex;
    std::function<void(AlertView&, int buttonIndex)> didDismissWithButtonIndex;
};

// A modal box with a title, a message and buttons, shown over everything in a window of its
// own that swallows every touch outside the box. Button indexes: the cancel button (when
// there is one) is 0, the other buttons follow in the order given. While shown, the alert
// keeps itself alive; it lets go once dismissed. Alerts shown while another is up stack on
// top of it.
class AlertView : public View {
  public:
    AlertView(std::string title, std::string message, AlertViewDelegate* delegate,
              std::optional<std::string> cancelButtonTitle,
              std::vector<std::string> otherButtonTitles = {});
    ~AlertView() override;

    static std::shared_ptr<AlertView> create(std::string title, std::string message,
                                             AlertViewDelegate* delegate,
                                             std::optional<std::string> cancelButtonTitle,
                                             std::vector<std::string> otherButtonTitles = {});
    // Shows an alert that only tells: title, message and an "OK" button, no delegate.
    static void inform(std::string title, std::string message);

    // The alert on top of the screen, if any.
    static AlertView* visibleAlert();

    const std::string& title() const { return _title; }
    const std::string& message() const { return _message; }
    AlertViewDelegate* delegate() const { return _delegate; }
    void setDelegate(AlertViewDelegate* delegate) { _delegate = delegate; }

    int numberOfButtons() const { return static_cast<int>(_buttonTitles.size()); }
    std::string buttonTitleAtIndex(int index) const;
    int addButtonWithTitle(std::string title);
    // -1 when there is no cancel button.
    int cancelButtonIndex() const { return _cancelButtonIndex; }
    // The button view for an index (for scripts and tests), or null.
    Button* buttonAtIndex(int index) const;

    void show();
    bool isVisible() const { return _visible; }
    // Tells the delegate clickedButtonAtIndex, then will/didDismiss, and takes the alert
    // away (fading when animated). An index out of range is ignored.
    void dismissWithClickedButtonIndex(int index, bool animated);

    // The alert holds its window's keyboard focus while shown: Escape is its cancel button
    // (where it has one), and no key reaches the screens beneath.
    bool canBecomeFocused() const override { return true; }
    void keyDown(const KeyEvent& event) override;
    void keyUp(const KeyEvent&) override {}

    void layoutSubviews() override;
    bool draws() const override { return true; }
    void draw(Canvas& canvas) override;

  private:
    void finishDismiss(int index);
    void rebuildButtons();
    double layoutHeight(bool apply);

    std::string _title;
    std::string _message;
    AlertViewDelegate* _delegate;
    std::vector<std::string> _buttonTitles;
    int _cancelButtonIndex = -1;
    std::vector<std::shared_ptr<Button>> _buttons;
    std::shared_ptr<Label> _titleLabel;
    std::shared_ptr<Label> _messageLabel;
    std::shared_ptr<Window> _window;
    Window* _previousKeyWindow = nullptr;
    bool _visible = false;
    bool _dismissing = false;
};

}  // namespace quorbit::platform
