#pragma once

#include <functional>
#include <memory>
#include <variant>

#include "platform/core/Geometry.h"

namespace quorbit::platform {

class View;

enum class AnimationCurve { EaseInOut, EaseIn, EaseOut, Linear };

struct AnimationOptions {
    double delay = 0;  // seconds before the change starts
    AnimationCurve curve = AnimationCurve::EaseInOut;
};

// Animated changes of view alpha, transform and frame (or centre), driven by a timer on the
// main run loop. Inside the changes function given to animate(), those setters record the
// new value instead of applying it; the property then moves from its current value to the
// new one over the duration, reading the in-between value while it runs, and ends exactly
// on the new value. Starting a new animation of a property that is already animating takes
// over from where it is, and the earlier animation completes with finished = false.
// Completions run once every property of their animation has ended; chaining is done by
// starting the next animation from a completion.
class Animation {
  public:
    using Curve = AnimationCurve;
    enum class Property { Alpha, Transform, Frame };
    using Value = std::variant<double, AffineTransform, Rect>;
    using Completion = std::function<void(bool finished)>;

    using Options = AnimationOptions;

    // A duration of 0 or less applies the changes at once and completes synchronously.
    static void animate(double duration, const std::function<void()>& changes,
                        Completion completion = {}, Options options = {});

    // Called by View's setters: while animate() records changes, takes the new value and
    // answers true (the setter then leaves the property as it is).
    static bool intercept(View* view, Property property, const Value& from, const Value& to);

    // Whether any animation of view (or of that property) is running.
    static bool isAnimating(const View* view);
    static bool isAnimating(const View* view, Property property);
    // Ends every animation of view at once: properties jump to their end values and the
    // completions run with finished = false.
    static void finishAll(const View* view);
    // Number of running property animations.
    static int runningCount();

    // Ease of the curve at t in 0..1.
    static double ease(Curve curve, double t);
    static Value interpolate(const Value& from, const Value& to, double t);
};

}  // namespace quorbit::platform
