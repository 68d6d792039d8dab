#pragma once

#include <functional>

#include "platform/ui/View.h"

namespace quorbit::platform {

// A view that leaves the placing of its children to its owner: each time it needs layout
// (made, resized, its density changed) it calls the handler with itself, so that a screen
// lays out its controls for whatever size the window has without subclassing its root view.
class LayoutView : public View {
  public:
    using Handler = std::function<void(LayoutView&)>;
    explicit LayoutView(Rect frame = {}, Handler handler = {})
        : View(frame), _handler(std::move(handler)) {}
    void setLayoutHandler(Handler handler) {
        _handler = std::move(handler);
        setNeedsLayout();
    }
    void layoutSubviews() override {
        if (_handler) _handler(*this);
    }

  private:
    Handler _handler;
};

}  // namespace quorbit::platform
