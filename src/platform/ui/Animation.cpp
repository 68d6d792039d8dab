#include "platform/ui/Animation.h"

#include <algorithm>
#include <chrono>
#include <vector>

#include "platform/core/RunLoop.h"
#include "platform/ui/View.h"

namespace quorbit::platform {

namespace {

using Clock = RunLoop::Clock;

// One animation() call: its completion runs when the last of its tracks has ended.
struct Group {
    Animation::Completion completion;
    int openTracks = 0;
    bool finished = true;
};

// One property of one view moving from one value to another.
struct Track {
    std::weak_ptr<View> view;
    const View* viewKey = nullptr;
    Animation::Property property;
    Animation::Value from, to;
    Clock::time_point start;
    double duration = 0;
    Animation::Curve curve = Animation::Curve::EaseInOut;
    std::shared_ptr<Group> group;
};

// The changes recorded inside one animate() call.
struct Recording {
    struct Change {
        std::weak_ptr<View> view;
        const View* viewKey;
        Animation::Property property;
        Animation::Value from, to;
    };
    std::vector<Change> changes;
};

struct State {
    std::vector<Recording*> recordings;  // innermost last
    std::vector<Track> tracks;
    RunLoopHandle timer;
    bool applying = false;  // setters called by the animator itself pass through
};

State& state() {
    static State s;
    return s;
}

constexpr auto kFrameInterval = std::chrono::microseconds(16667);

void apply(View& view, Animation::Property property, const Animation::Value& value) {
    State& s = state();
    bool was = s.applying;
    s.applying = true;
    switch (property) {
        case Animation::Property::Alpha:
            view.setAlpha(std::get<double>(value));
            break;
        case Animation::Property::Transform:
            view.setTransform(std::get<AffineTransform>(value));
            break;
        case Animation::Property::Frame:
            view.setFrame(std::get<Rect>(value));
            break;
    }
    s.applying = was;
}

void closeTrack(const Track& track, bool finished) {
    if (!finished) track.group->finished = false;
    if (--track.group->openTracks == 0 && track.group->completion) {
        auto completion = std::move(track.group->completion);
        track.group->completion = nullptr;
        completion(track.group->finished);
    }
}

void tick();

void ensureTimer() {
    State& s = state();
    if (s.timer || s.tracks.empty()) return;
    s.timer = RunLoop::main().timer(kFrameInterval, tick, kFrameInterval);
}

void stopTimerIfIdle() {
    State& s = state();
    if (s.tracks.empty()) s.timer.reset();
}

void tick() {
    State& s = state();
    auto now = RunLoop::main().now();
    std::vector<Track> done;
    // Apply in-between values; collect the tracks that reached their end.
    for (size_t i = 0; i < s.tracks.size();) {
        Track& track = s.tracks[i];
        auto view = track.view.lock();
        double elapsed = std::chrono::duration<double>(now - track.start).count();
        if (!view) {
            done.push_back(std::move(track));
            s.tracks.erase(s.tracks.begin() + static_cast<long>(i));
            continue;
        }
        if (elapsed < 0) {
            ++i;
            continue;
        }
        double t = track.duration > 0 ? std::min(elapsed / track.duration, 1.0) : 1.0;
        if (t >= 1) {
            apply(*view, track.property, track.to);
            done.push_back(std::move(track));
            s.tracks.erase(s.tracks.begin() + static_cast<long>(i));
            continue;
        }
        apply(*view, track.property,
              Animation::interpolate(track.from, track.to, Animation::ease(track.curve, t)));
        ++i;
    }
    stopTimerIfIdle();
    // Completions last: they may start new animations.
    for (auto& track : done)
        closeTrack(track, true);
}

}  // namespace

double Animation::ease(Curve curve, double t) {
    t = std::clamp(t, 0.0, 1.0);
    switch (curve) {
        case Curve::Linear:
            return t;
        case Curve::EaseIn:
            return t * t;
        case Curve::EaseOut:
            return 1 - (1 - t) * (1 - t);
        case Curve::EaseInOut:
            return t * t * (3 - 2 * t);
    }
    return t;
}

Animation::Value Animation::interpolate(const Value& from, const Value& to, double t) {
    auto mix = [t](double a, double b) { return a + (b - a) * t; };
    if (std::holds_alternative<double>(from) && std::holds_alternative<double>(to)) {
        return mix(std::get<double>(from), std::get<double>(to));
    }
    if (std::holds_alternative<AffineTransform>(from) &&
        std::holds_alternative<AffineTransform>(to)) {
        const auto& a = std::get<AffineTransform>(from);
        const auto& b = std::get<AffineTransform>(to);
        return AffineTransform{mix(a.a, b.a), mix(a.b, b.b),   mix(a.c, b.c),
                               mix(a.d, b.d), mix(a.tx, b.tx), mix(a.ty, b.ty)};
    }
    if (std::holds_alternative<Rect>(from) && std::holds_alternative<Rect>(to)) {
        const auto& a = std::get<Rect>(from);
        const auto& b = std::get<Rect>(to);
        return Rect(mix(a.x(), b.x()), mix(a.y(), b.y()), mix(a.width(), b.width()),
                    mix(a.height(), b.height()));
    }
    return to;
}

bool Animation::intercept(View* view, Property property, const Value& from, const Value& to) {
    State& s = state();
    if (s.applying || s.recordings.empty() || !view) return false;
    auto weak = view->weak_from_this();
    if (weak.expired()) return false;  // not owned by a shared_ptr: nothing can track it
    auto& changes = s.recordings.back()->changes;
    for (auto& change : changes) {
        if (change.viewKey == view && change.property == property) {
            change.to = to;
            return true;
        }
    }
    changes.push_back({weak, view, property, from, to});
    return true;
}

void Animation::animate(double duration, const std::function<void()>& changes,
                        Completion completion, Options options) {
    State& s = state();
    Recording recording;
    s.recordings.push_back(&recording);
    if (changes) changes();
    s.recordings.pop_back();

    auto group = std::make_shared<Group>();
    group->completion = std::move(completion);

    if (duration <= 0 && options.delay <= 0) {
        for (auto& change : recording.changes) {
            // Finish whatever was moving this property, then jump.
            for (size_t i = 0; i < s.tracks.size();) {
                if (s.tracks[i].viewKey == change.viewKey && !s.tracks[i].view.expired() &&
                    s.tracks[i].property == change.property) {
                    Track old = std::move(s.tracks[i]);
                    s.tracks.erase(s.tracks.begin() + static_cast<long>(i));
                    closeTrack(old, false);
                } else {
                    ++i;
                }
            }
            if (auto view = change.view.lock()) apply(*view, change.property, change.to);
        }
        stopTimerIfIdle();
        if (group->completion) group->completion(true);
        return;
    }

    auto start =
        RunLoop::main().now() + std::chrono::duration_cast<Clock::duration>(
                                    std::chrono::duration<double>(std::max(options.delay, 0.0)));
    std::vector<Track> superseded;
    for (auto& change : recording.changes) {
        Value from = change.from;
        for (size_t i = 0; i < s.tracks.size();) {
            if (s.tracks[i].viewKey == change.viewKey && !s.tracks[i].view.expired() &&
                s.tracks[i].property == change.property) {
                superseded.push_back(std::move(s.tracks[i]));
                s.tracks.erase(s.tracks.begin() + static_cast<long>(i));
            } else {
                ++i;
            }
        }
        ++group->openTracks;
        s.tracks.push_back({change.view, change.viewKey, change.property, from, change.to, start,
                            std::max(duration, 0.0), options.curve, group});
    }
    ensureTimer();
    for (auto& track : superseded)
        closeTrack(track, false);
    if (group->openTracks == 0 && group->completion) {
        // Nothing animatable changed: complete on the next turn, as if after the duration.
        auto done = std::move(group->completion);
        RunLoop::main().addTimer(
            std::chrono::duration_cast<Clock::duration>(
                std::chrono::duration<double>(std::max(duration, 0.0) + options.delay)),
            [done] { done(true); });
    }
}

bool Animation::isAnimating(const View* view) {
    for (auto& track : state().tracks) {
        if (track.viewKey == view && !track.view.expired()) return true;
    }
    return false;
}

bool Animation::isAnimating(const View* view, Property property) {
    for (auto& track : state().tracks) {
        if (track.viewKey == view && !track.view.expired() && track.property == property)
            return true;
    }
    return false;
}

void Animation::finishAll(const View* view) {
    State& s = state();
    std::vector<Track> ended;
    for (size_t i = 0; i < s.tracks.size();) {
        if (s.tracks[i].viewKey == view && !s.tracks[i].view.expired()) {
            ended.push_back(std::move(s.tracks[i]));
            s.tracks.erase(s.tracks.begin() + static_cast<long>(i));
        } else {
            ++i;
        }
    }
    stopTimerIfIdle();
    for (auto& track : ended) {
        if (auto v = track.view.lock()) apply(*v, track.property, track.to);
    }
    for (auto& track : ended)
        closeTrack(track, false);
}

int Animation::runningCount() {
    return static_cast<int>(state().tracks.size());
}

}  // namespace quorbit::platform
