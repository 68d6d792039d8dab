#include "capture/FrameMailbox.h"

#include <algorithm>

namespace quorbit::capture {
namespace {

constexpr auto kTolerance = FrameMailbox::kMinFrameInterval / 4;

}  // namespace

std::shared_ptr<FrameMailbox> FrameMailbox::create(platform::RunLoop& loop, Clock clock, int width,
                                                   int height) {
    return std::make_shared<FrameMailbox>(loop, std::move(clock), width, height);
}

FrameMailbox::FrameMailbox(platform::RunLoop& loop, Clock clock, int width, int height)
    : _loop(loop),
      _clock(std::move(clock)),
      _width(width),
      _height(height),
      _buffer(std::size_t(width) * std::size_t(height) * 4) {}

std::uint64_t FrameMailbox::advanceEpoch() {
    std::lock_guard lock(_mutex);
    ++_epoch;
    if (_slot == Slot::Pending) {
        _slot = Slot::Free;
        ++_dropped;
    }
    return _epoch;
}

std::uint8_t* FrameMailbox::reserve(std::uint64_t epoch) {
    auto now = _clock();
    std::lock_guard lock(_mutex);
    bool early = _started && (now + kTolerance < _nextDue || now < _earliest);
    if (_slot != Slot::Free || epoch != _epoch || early) {
        ++_dropped;
        return nullptr;
    }
    // Keep the cadence while frames come in time; a frame that comes most of an interval
    // late means frames were missed, and the cadence starts again from it.
    if (!_started || now - _nextDue >= kMinFrameInterval - kTolerance)
        _nextDue = now + kMinFrameInterval;
    else
        _nextDue += kMinFrameInterval;
    _earliest = now + kMinFrameInterval / 2;
    _started = true;
    _slot = Slot::Filling;
    _fillEpoch = epoch;
    return _buffer.data();
}

void FrameMailbox::cancel() {
    std::lock_guard lock(_mutex);
    if (_slot == Slot::Filling) _slot = Slot::Free;
}

void FrameMailbox::publish(int rotation) {
    {
        std::lock_guard lock(_mutex);
        if (_slot != Slot::Filling) return;
        _rotation = rotation;
        _captured = _clock();
        if (_fillEpoch != _epoch) {
            _slot = Slot::Free;
            ++_dropped;
            return;
        }
        _slot = Slot::Pending;
    }
    _loop.post([weak = weak_from_this()] {
        if (auto self = weak.lock()) self->deliver();
    });
}

void FrameMailbox::deliver() {
    int rotation;
    TimePoint captured;
    {
        std::lock_guard lock(_mutex);
        if (_slot != Slot::Pending) return;  // dropped by a new epoch meanwhile
        _slot = Slot::Delivering;
        rotation = _rotation;
        captured = _captured;
    }
    // The capture thread leaves the buffer alone until the slot is free again.
    if (_delegate) {
        PixelBuffer frame(_buffer.data(), _width, _height, rotation, captured);
        _delegate->processNewCameraFrame(frame);
    }
    std::lock_guard lock(_mutex);
    _slot = Slot::Free;
    ++_delivered;
}

std::uint64_t FrameMailbox::delivered() const {
    std::lock_guard lock(_mutex);
    return _delivered;
}

std::uint64_t FrameMailbox::dropped() const {
    std::lock_guard lock(_mutex);
    return _dropped;
}

}  // namespace quorbit::capture
