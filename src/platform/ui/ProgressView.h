#pragma once

#include "platform/ui/View.h"

namespace quorbit::platform {

// Shows how far a task has come: a value from 0 to 1. The default look is a rounded bar;
// subclasses draw their own by overriding draw() and reading progress().
class ProgressView : public View {
  public:
    static constexpr double kDefaultHeight = 9;

    explicit ProgressView(Rect frame = {});

    double progress() const { return _progress; }
    // Clamped to 0..1 (not-a-number counts as 0); redraws when it changes.
    void setProgress(double progress);

    bool draws() const override { return true; }
    void draw(Canvas& canvas) override;

  private:
    double _progress = 0;
};

}  // namespace quorbit::platform
