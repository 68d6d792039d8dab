#pragma once

#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "capture/CaptureDevice.h"
#include "capture/DeviceLayer.h"
#include "capture/PixelBuffer.h"
#include "platform/core/Log.h"
#include "platform/core/RunLoop.h"

namespace quorbit::capture::testing {

using namespace std::chrono_literals;

// A clock that moves only when told; safe to read and move from any thread.
class FakeClock {
  public:
    std::chrono::steady_clock::time_point now() const {
        return std::chrono::steady_clock::time_point(std::chrono::nanoseconds(_ns.load()));
    }
    void advance(std::chrono::nanoseconds step) { _ns += step.count(); }
    auto function() {
        return [this] { return now(); };
    }

  private:
    std::atomic<long long> _ns{1'000'000'000'000};
};

// A device whose frames are filled with one byte, its tag, so a test can tell whose frame
// it got. It can refuse to open, fail after some frames, or never deliver.
class FakeDevice : public CaptureDevice {
  public:
    FakeDevice(std::string id, DevicePosition position, std::uint8_t tag)
        : _info{std::move(id), "fake", position, {"fake"}}, tag(tag) {}

    const DeviceInfo& info() const override { return _info; }
    platform::Result<void> open() override {
        ++opens;
        if (failed || !openError.empty())
            return platform::Error::make("test", 1, failed ? "disconnected" : openError);
        _open = true;
        return {};
    }
    platform::Result<bool> readFrame(std::chrono::milliseconds timeout,
                                     const Destination& destination) override {
        if (!_open) return platform::Error::make("test", 2, "read while closed");
        if (silent) {
            std::this_thread::sleep_for(std::min<std::chrono::milliseconds>(timeout, 5ms));
            if (clock) clock->advance(timeout);
            return false;
        }
        if (failAfter >= 0 && frames >= failAfter) {
            failed = true;
            return platform::Error::make("test", 3, "unplugged");
        }
        std::this_thread::sleep_for(interval);
        if (clock) clock->advance(clockStep);
        ++frames;
        if (std::uint8_t* out = destination())
            std::memset(out, tag, kFrameWidth * kFrameHeight * 4);
        return true;
    }
    void close() override {
        if (_open) ++closes;
        _open = false;
    }

    DeviceInfo _info;
    std::uint8_t tag;
    std::string openError;  // non-empty: open() fails with it
    int failAfter = -1;     // >= 0: reading fails after that many frames, for good
    bool silent = false;    // never delivers
    std::chrono::microseconds interval{2000};  // real time between frames
    FakeClock* clock = nullptr;                // moved on by clockStep per frame when set
    std::chrono::nanoseconds clockStep{10ms};
    std::atomic<int> opens{0}, closes{0}, frames{0};
    std::atomic<bool> failed{false};

  private:
    std::atomic<bool> _open{false};
};

class FakeLayer : public DeviceLayer {
  public:
    explicit FakeLayer(std::vector<std::shared_ptr<CaptureDevice>> devices)
        : _devices(std::move(devices)) {}
    std::vector<std::shared_ptr<CaptureDevice>> devices() override { return _devices; }

  private:
    std::vector<std::shared_ptr<CaptureDevice>> _devices;
};

// Records what it is handed the way a consumer reads a frame: lock, read, unlock.
class RecordingDelegate : public CameraDelegate {
  public:
    void processNewCameraFrame(PixelBuffer& frame) override {
        maxDepth = std::max(maxDepth, ++depth);
        frame.lockBaseAddress(0);
        const std::uint8_t* pixels = frame.baseAddress();
        sizes.push_back({frame.width(), frame.height()});
        tags.push_back(pixels ? pixels[0] : -1);
        if (keep) last.assign(pixels, pixels + frame.bytesPerRow() * std::size_t(frame.height()));
        if (during) during(frame);
        frame.unlockBaseAddress(0);
        --depth;
    }
    void cameraHasConnected() override {}

    std::vector<std::pair<int, int>> sizes;
    std::vector<int> tags;
    std::vector<std::uint8_t> last;
    bool keep = false;
    std::function<void(PixelBuffer&)> during;
    int depth = 0, maxDepth = 0;
};

// Runs the main loop in short turns until predicate holds, for conditions that other threads
// change without waking the loop; false on time-out.
inline bool pumpUntil(const std::function<bool()>& predicate, std::chrono::milliseconds timeout) {
    auto end = std::chrono::steady_clock::now() + timeout;
    while (!predicate()) {
        if (std::chrono::steady_clock::now() >= end) return false;
        platform::RunLoop::main().runOnce(5ms);
    }
    return true;
}

// Collects what is logged while it lives.
class LogCapture {
  public:
    LogCapture() {
        _previous = platform::Log::setSink([this](platform::Log::Level, const std::string& line) {
            std::lock_guard lock(_mutex);
            _lines.push_back(line);
        });
    }
    ~LogCapture() { platform::Log::setSink(_previous); }
    int count(const std::string& part) const {
        std::lock_guard lock(_mutex);
        int n = 0;
        for (const auto& line : _lines)
            n += line.find(part) != std::string::npos;
        return n;
    }

  private:
    mutable std::mutex _mutex;
    std::vector<std::string> _lines;
    platform::Log::Sink _previous;
};

}  // namespace quorbit::capture::testing
