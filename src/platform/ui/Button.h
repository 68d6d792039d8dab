#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/gfx/Canvas.h"
#include "platform/gfx/Image.h"
#include "platform/ui/View.h"

namespace quorbit::platform {

// A tappable control with an image, a background image and a title per state. Actions run
// on touch-up inside the button (a finger that slides out and back in still counts); a
// finger that slides out and lifts, or a touch taken over by a scroll view, runs nothing.
class Button : public View {
  public:
    enum class Type { Custom, RoundedRect };
    enum State : unsigned { Normal = 0, Highlighted = 1, Disabled = 2, Selected = 4 };
    enum class Event { TouchDown, TouchUpInside, TouchUpOutside, TouchCancel };
    using Action = std::function<void(Button&)>;

    explicit Button(Rect frame = {}, Type type = Type::Custom);
    ~Button() override;
    static std::shared_ptr<Button> create(Type type, Rect frame = {});

    Type buttonType() const { return _type; }

    // Per-state content. A state with nothing set uses the Normal state's value.
    void setTitle(std::optional<std::string> title, unsigned state = Normal);
    std::optional<std::string> titleForState(unsigned state) const;
    void setTitleColor(std::optional<Color> color, unsigned state = Normal);
    Color titleColorForState(unsigned state) const;
    void setImage(std::shared_ptr<const Image> image, unsigned state = Normal);
    std::shared_ptr<const Image> imageForState(unsigned state) const;
    void setBackgroundImage(std::shared_ptr<const Image> image, unsigned state = Normal);
    std::shared_ptr<const Image> backgroundImageForState(unsigned state) const;
    const Font& font() const { return _font; }
    void setFont(Font font);

    // What is showing now.
    unsigned state() const;
    std::optional<std::string> currentTitle() const { return titleForState(state()); }
    std::shared_ptr<const Image> currentImage() const { return imageForState(state()); }

    bool isEnabled() const { return _enabled; }
    void setEnabled(bool enabled);
    bool isSelected() const { return _selected; }
    void setSelected(bool selected);
    bool isHighlighted() const { return _highlighted; }
    void setHighlighted(bool highlighted);
    // A soft white glow in the middle of the button while it is highlighted.
    bool showsTouchWhenHighlighted() const { return _showsTouchWhenHighlighted; }
    void setShowsTouchWhenHighlighted(bool on);
    // Darkens the image while highlighted (when there is no highlighted image of its own).
    bool adjustsImageWhenHighlighted() const { return _adjustsImageWhenHighlighted; }
    void setAdjustsImageWhenHighlighted(bool on);

    // Target-action: every action added for an event runs, in the order added.
    void addAction(Action action, Event event = Event::TouchUpInside);
    void removeAllActions();
    // Runs the actions of an event (what a touch does; also for scripts).
    void sendActions(Event event);

    View* hitTest(Point p) override;
    void touchesBegan(const std::vector<Touch>& touches) override;
    void touchesMoved(const std::vector<Touch>& touches) override;
    void touchesEnded(const std::vector<Touch>& touches) override;
    void touchesCancelled(const std::vector<Touch>& touches) override;

    bool draws() const override { return true; }
    void draw(Canvas& canvas) override;

  private:
    template <typename T>
    static std::optional<T> lookup(const std::map<unsigned, T>& table, unsigned state);
    bool touchInside(const Touch& touch) const;

    Type _type;
    std::map<unsigned, std::string> _titles;
    std::map<unsigned, Color> _titleColors;
    std::map<unsigned, std::shared_ptr<const Image>> _images;
    std::map<unsigned, std::shared_ptr<const Image>> _backgroundImages;
    Font _font = Font::boldSystem(15);
    bool _enabled = true;
    bool _selected = false;
    bool _highlighted = false;
    bool _showsTouchWhenHighlighted = false;
    bool _adjustsImageWhenHighlighted = true;
    std::vector<std::pair<Event, Action>> _actions;
    std::optional<int> _trackingTouch;
};

}  // namespace quorbit::platform
