#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/core/Geometry.h"

namespace quorbit::platform {

class GLLayer;
class View;

enum class TouchPhase { Began, Moved, Ended, Cancelled };

// One finger (or the mouse) on the screen. Locations are in window points.
struct Touch {
    int id = 0;
    Point windowLocation;
    Point previousWindowLocation;
    int tapCount = 1;
    TouchPhase phase = TouchPhase::Began;
    // Where the finger went down, and when this event happened.
    Point initialWindowLocation;
    std::chrono::steady_clock::time_point timestamp{};
    Point locationIn(const View* view) const;
};

// A key pressed or let go. Text that keys type arrives on its own (View::textInput), so a
// key event matters for the keys that type nothing (Return, Backspace, the arrows) and for
// keys held with Control, Alt or Meta.
struct KeyEvent {
    enum class Key {
        Other,
        Character,  // a key that types `character` (lower case for letters)
        Return,
        Tab,
        Backspace,
        Delete,
        Escape,
        Left,
        Right,
        Up,
        Down,
        Home,
        End,
        PageUp,
        PageDown,
    };
    Key key = Key::Other;
    char32_t character = 0;
    bool shift = false, control = false, alt = false, meta = false;
    bool repeat = false;
};

// A rectangle of the screen with its own drawing, children and touch handling.
// Views are owned by their parent (and by whoever else keeps a shared_ptr); the parent
// pointer is not owning.
class View : public std::enable_shared_from_this<View> {
  public:
    enum Autoresizing : unsigned {
        None = 0,
        FlexibleLeftMargin = 1 << 0,
        FlexibleWidth = 1 << 1,
        FlexibleRightMargin = 1 << 2,
        FlexibleTopMargin = 1 << 3,
        FlexibleHeight = 1 << 4,
        FlexibleBottomMargin = 1 << 5,
    };

    explicit View(Rect frame = {});
    virtual ~View();
    View(const View&) = delete;
    View& operator=(const View&) = delete;

    // Geometry, in points: frame in the parent's coordinates, bounds in the view's own.
    Rect frame() const { return _frame; }
    virtual void setFrame(Rect frame);
    Rect bounds() const { return _bounds; }
    void setBounds(Rect bounds);
    Point center() const { return {_frame.midX(), _frame.midY()}; }
    void setCenter(Point center);
    const AffineTransform& transform() const { return _transform; }
    void setTransform(const AffineTransform& transform);
    // Pixels per point of this view's own drawing; 1 unless changed.
    double contentScaleFactor() const { return _contentScaleFactor; }
    void setContentScaleFactor(double scale);

    // The tree.
    View* superview() const { return _superview; }
    const std::vector<std::shared_ptr<View>>& subviews() const { return _subviews; }
    void addSubview(std::shared_ptr<View> view);
    void insertSubview(std::shared_ptr<View> view, size_t index);
    void removeFromSuperview();
    void bringSubviewToFront(View* view);
    bool isDescendantOf(const View* ancestor) const;
    View* rootView();
    // Converts a point between this view's bounds and the window (the root's coordinates).
    Point convertToWindow(Point p) const;
    Point convertFromWindow(Point p) const;

    // Appearance.
    bool isHidden() const { return _hidden; }
    void setHidden(bool hidden);
    double alpha() const { return _alpha; }
    void setAlpha(double alpha);
    std::optional<Color> backgroundColor() const { return _backgroundColor; }
    void setBackgroundColor(std::optional<Color> color);
    bool isOpaque() const { return _opaque; }
    void setOpaque(bool opaque) { _opaque = opaque; }
    bool clipsToBounds() const { return _clipsToBounds; }
    void setClipsToBounds(bool clips);
    unsigned autoresizingMask() const { return _autoresizingMask; }
    void setAutoresizingMask(unsigned mask) { _autoresizingMask = mask; }
    bool autoresizesSubviews() const { return _autoresizesSubviews; }
    void setAutoresizesSubviews(bool on) { _autoresizesSubviews = on; }

    // Touch input.
    bool isUserInteractionEnabled() const { return _userInteractionEnabled; }
    void setUserInteractionEnabled(bool enabled) { _userInteractionEnabled = enabled; }
    // The deepest visible, interactive view under p (in this view's bounds), or null.
    virtual View* hitTest(Point p);
    virtual bool pointInside(Point p) const;
    // Default handling passes the touches on to the parent.
    virtual void touchesBegan(const std::vector<Touch>& touches);
    virtual void touchesMoved(const std::vector<Touch>& touches);
    virtual void touchesEnded(const std::vector<Touch>& touches);
    virtual void touchesCancelled(const std::vector<Touch>& touches);
    // Asked of the ancestors of the view a touch is bound to, nearest first, each time that
    // touch moves: answering true takes the touch over (the view gets touchesCancelled and
    // this view gets touchesBegan and the later events). Scroll views use it for drags.
    virtual bool shouldInterceptTouch(const Touch&) { return false; }
    // A click of the mouse's other button (the right one) at a point in window points: the
    // view under it is asked first, then its ancestors, until one answers true. The default
    // takes nothing.
    virtual bool secondaryClick(Point windowLocation) {
        (void)windowLocation;
        return false;
    }

    // Keyboard input goes to the focused view of the key window. A view that takes it
    // answers canBecomeFocused(); a touch that begins in such a view (or in a view inside
    // it) focuses it. Default handling passes the input on to the parent.
    virtual bool canBecomeFocused() const { return false; }
    // Whether this view is the focused view of the window it is in.
    bool isFocused() const;
    // Makes this view its window's focused view; false when it cannot be focused or is not
    // in a window.
    bool becomeFocused();
    void resignFocused();
    virtual void keyDown(const KeyEvent& event);
    virtual void keyUp(const KeyEvent& event);
    virtual void textInput(const std::string& text);

    // Drawing and layout. A view that draws overrides draws() to return true and draw() to
    // paint its bounds; the picture is cached until setNeedsDisplay().
    virtual bool draws() const { return false; }
    virtual void draw(class Canvas& canvas);
    void setNeedsDisplay();
    bool needsDisplay() const { return _needsDisplay; }
    void clearNeedsDisplay() { _needsDisplay = false; }
    void setNeedsLayout();
    bool needsLayout() const { return _needsLayout; }
    void layoutIfNeeded();
    virtual void layoutSubviews() {}

    // A GL-backed view returns its layer, whose texture the compositor shows.
    virtual GLLayer* glLayer() { return nullptr; }

    // A stable name for scripts and assistive technology ("shutter", "preview-3", ...).
    const std::string& controlName() const { return _controlName; }
    void setControlName(std::string name) { _controlName = std::move(name); }
    View* findControl(const std::string& name);

    // Marks the window content as changed so the compositor draws the next frame.
    static void markWindowDirty();
    static bool takeWindowDirty();

  protected:
    virtual void didMoveToSuperview() {}
    virtual void didChangeHidden() {}
    virtual void willRemoveSubview(View*) {}
    // Called when the view becomes or stops being its window's focused view.
    virtual void didChangeFocus(bool /*focused*/) {}
    void resizeSubviews(Size oldSize);

  private:
    friend class Window;

    Rect _frame;
    Rect _bounds;
    AffineTransform _transform;
    double _contentScaleFactor = 1;
    View* _superview = nullptr;
    std::vector<std::shared_ptr<View>> _subviews;
    bool _hidden = false;
    double _alpha = 1;
    std::optional<Color> _backgroundColor;
    bool _opaque = true;
    bool _clipsToBounds = false;
    unsigned _autoresizingMask = None;
    bool _autoresizesSubviews = true;
    bool _userInteractionEnabled = true;
    bool _needsDisplay = true;
    bool _needsLayout = true;
    std::string _controlName;
};

}  // namespace quorbit::platform
