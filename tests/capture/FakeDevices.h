#pragma once

#include <atomic>
#include <cstdio>
#include <cstring>
#include <random>
#include <thread>

#include "capture/CaptureDevice.h"
#include "capture/DeviceLayer.h"
#include "capture/PixelBuffer.h"
#include "platform/core/RunLoop.h"
#include "support/LogCapture.h"

namespace quorbit::capture::testing {

using namespace std::chrono_literals;
using quorbit::testing::LogCapture;

// Bytes from a seeded generator: the same each run.
inline std::vector<std::uint8_t> randomBytes(std::size_t size, unsigned seed = 7) {
    std::mt19937 random(seed);
    std::vector<std::uint8_t> bytes(size);
    for (auto& byte : bytes)
        byte = std::uint8_t(random());
    return bytes;
}

// What write printed to the stream it is given.
inline std::string printedTo(const std::function<void(std::FILE*)>& write) {
    char* text = nullptr;
    std::size_t size = 0;
    std::FILE* out = open_memstream(&text, &size);
    write(out);
    std::fclose(out);
    std::string printed(text, size);
    std::free(text);
    return printed;
}

// A clock that moves only when told, from any thread.
struct FakeClock {
    std::atomic<long long> ns{1'000'000'000'000};
    std::chrono::steady_clock::time_point now() const {
        return std::chrono::steady_clock::time_point(std::chrono::nanoseconds(ns.load()));
    }
    void advance(std::chrono::nanoseconds step) { ns += step.count(); }
    auto function() {
        return [this] { return now(); };
    }
};

// Fills its frames with its tag byte. It can refuse to open, be unplugged (for good after
// some frames), never deliver (slowly, moving the clock on as time passes) or hang.
struct FakeDevice : CaptureDevice {
    FakeDevice(DevicePosition position, std::uint8_t tag)
        : description{"/dev/fake" + std::to_string(tag), "fake", position, {}}, tag(tag) {}
    const DeviceInfo& info() const override { return description; }
    platform::Result<void> open() override {
        ++opens;
        hangWhile(hangInOpen);
        if (unplugged) return platform::Error::make("test", 1, "gone");
        if (!openError.empty()) return platform::Error::make("test", 1, openError);
        return {};
    }
    platform::Result<bool> readFrame(std::chrono::milliseconds,
                                     const Destination& destination) override {
        hangWhile(hangInRead);
        if (silent) {  // and slow: it overstays the timeout
            std::this_thread::sleep_for(100ms);
            if (clock) clock->advance(100ms);
            return false;
        }
        if (failAfter >= 0 && frames >= failAfter) unplugged = true;
        if (unplugged)
            return unplugErrno
                       ? platform::Error::make(CaptureError::DeviceFailed, "unplugged", unplugErrno)
                       : platform::Error::make("test", 3, "unplugged");
        std::this_thread::sleep_for(2ms);
        ++frames;
        if (std::uint8_t* out = destination())
            std::memset(out, tag, kFrameWidth * kFrameHeight * 4);
        return true;
    }
    void close() override { ++closes; }
    DeviceInfo description;
    std::uint8_t tag;
    std::string openError;  // open() fails with it
    int failAfter = -1;     // unplugged after that many frames
    int unplugErrno = 0;    // the system's error under the unplugged read's, if any
    bool silent = false;
    FakeClock* clock = nullptr;
    std::atomic<int> opens{0}, closes{0}, frames{0};
    std::atomic<bool> unplugged{false};  // reading and opening fail while set
    // open() or readFrame() does not return while set, as a device that does not answer.
    std::atomic<bool> hangInOpen{false}, hangInRead{false}, hanging{false};

  private:
    void hangWhile(const std::atomic<bool>& flag) {
        while (flag) {
            hanging = true;
            std::this_thread::sleep_for(1ms);
        }
        hanging = false;
    }
};

struct FakeLayer : DeviceLayer {
    std::vector<std::shared_ptr<CaptureDevice>> list;
    std::string reason;  // why there is no camera
    std::vector<std::shared_ptr<CaptureDevice>> devices() override { return list; }
    std::string unavailableReason() const override { return reason; }
};

// Reads each frame as a consumer does (lock, read, unlock) and keeps its first byte.
struct RecordingDelegate : CameraDelegate {
    void processNewCameraFrame(PixelBuffer& frame) override {
        maxDepth = std::max(maxDepth, ++depth);
        frame.lockBaseAddress(0);
        const std::uint8_t* pixels = frame.baseAddress();
        EXPECT_EQ(frame.width() * 1000 + frame.height(), 640480);
        tags.push_back(pixels[0]);
        lastRotation = frame.rotation();
        last.assign(pixels, pixels + frame.bytesPerRow() * std::size_t(frame.height()));
        if (during) during();
        frame.unlockBaseAddress(0);
        --depth;
    }
    void cameraHasConnected() override {}
    std::vector<int> tags;
    std::vector<std::uint8_t> last;
    std::function<void()> during;
    int depth = 0, maxDepth = 0;
    int lastRotation = -1;  // of the last frame
};

// Runs the main loop in short turns until predicate holds (for state other threads change
// without waking the loop); false on time-out.
inline bool pumpUntil(const std::function<bool()>& predicate,
                      std::chrono::milliseconds timeout = 3000ms) {
    auto end = std::chrono::steady_clock::now() + timeout;
    while (!predicate()) {
        if (std::chrono::steady_clock::now() >= end) return false;
        platform::RunLoop::main().runOnce(5ms);
    }
    return true;
}

}  // namespace quorbit::capture::testing
