#pragma once

#include "platform/core/RunLoop.h"
#include "platform/ui/View.h"

namespace quorbit::platform {

// A spinning ring of spokes that shows work in progress. The large white style is 37 x 37
// points, the small ones 20 x 20. It turns on a run-loop timer only while animating and
// hides itself when stopped (unless told not to).
class ActivityIndicator : public View {
  public:
    enum class Style { WhiteLarge, White, Gray };
    static constexpr int kSpokes = 12;

    explicit ActivityIndicator(Style style = Style::White);
    ~ActivityIndicator() override;

    Style style() const { return _style; }
    void setStyle(Style style);
    void startAnimating();
    void stopAnimating();
    bool isAnimating() const { return _timer.active() || _pausedOffScreen; }
    bool hidesWhenStopped() const { return _hidesWhenStopped; }
    void setHidesWhenStopped(bool on);
    // Which spoke is brightest; moves one step each tick while animating.
    int phase() const { return _phase; }

    void sizeToFit();
    bool draws() const override { return true; }
    void draw(Canvas& canvas) override;

  protected:
    void didMoveToSuperview() override;

  private:
    void step();

    Style _style;
    bool _hidesWhenStopped = true;
    int _phase = 0;
    RunLoopHandle _timer;
    bool _pausedOffScreen = false;
};

}  // namespace quorbit::platform
