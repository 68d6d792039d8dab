#pragma once

#include <gtest/gtest.h>

#include <array>
#include <thread>

#include "platform/desktop/UrlOpener.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/ControlNames.h"
#include "platform/ui/Window.h"
#include "screens/camera/quorbitViewController.h"
#include "screens/picker/FilterPickerController.h"
#include "support/GlTestContext.h"
#include "support/ManualClock.h"
#include "support/Pixels.h"
#include "support/Scratch.h"

namespace quorbit::camera_screen::testing {

using namespace std::chrono_literals;
using quorbit::testing::ManualClock;
using Key = platform::KeyEvent::Key;

// A 640 x 480 BGRA frame of four quadrants, each pixel's channels different.
struct QuadrantFrame {
    static constexpr std::array<quorbit::testing::Rgb, 4> kColours = {
        {{200, 40, 10}, {20, 180, 90}, {60, 30, 220}, {240, 230, 120}}};
    int width, height;
    std::vector<std::uint8_t> bgra;
    explicit QuadrantFrame(int width = 640, int height = 480)
        : width(width), height(height), bgra(std::size_t(width) * height * 4, 255) {
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                auto rgb = kColours[size_t((y >= height / 2) * 2 + (x >= width / 2))];
                std::uint8_t* p = &bgra[(size_t(y) * width + size_t(x)) * 4];
                p[0] = std::uint8_t(rgb.b), p[1] = std::uint8_t(rgb.g), p[2] = std::uint8_t(rgb.r);
            }
    }
    // As a phone's sideways sensor delivers it unless rotation says otherwise.
    capture::PixelBuffer buffer(int rotation = 90) {
        return capture::PixelBuffer(bgra.data(), width, height, rotation);
    }
};

// Which camera a screen without a real one believes is running.
struct SwitchableCamera : capture::CameraTypeSource {
    int type = capture::kCameraBack;
    int curCameraType() const override { return type; }
};

// A camera that opens but delivers nothing: the tests hand the screen its frames themselves,
// while the screen drives the real Camera (stop, restart, swap). With largeStills it offers
// stills at 1280 x 960 too, the quadrant frame at that size; stillProblem, when set, is why
// every still fails.
struct QuietDevice : capture::CaptureDevice {
    explicit QuietDevice(capture::DevicePosition position)
        : description{position == capture::DevicePosition::Front ? "quiet:front" : "quiet:back",
                      "quiet",
                      position,
                      {}} {}
    const capture::DeviceInfo& info() const override { return description; }
    platform::Result<void> open() override { return {}; }
    platform::Result<bool> readFrame(std::chrono::milliseconds timeout,
                                     const Destination&) override {
        std::this_thread::sleep_for(std::min(timeout, std::chrono::milliseconds(5)));
        return false;
    }
    void close() override {}
    std::vector<capture::FrameSize> stillSizes() const override {
        if (!largeStills) return CaptureDevice::stillSizes();
        return {{640, 480}, {1280, 960}};
    }
    platform::Result<capture::StillFrame> takeStill(capture::FrameSize size, int,
                                                    std::chrono::milliseconds) override {
        if (!stillProblem.empty())
            return platform::Error::make(capture::CaptureError::NoStill, stillProblem);
        return capture::StillFrame{size.width, size.height, 90,
                                   QuadrantFrame(size.width, size.height).bgra};
    }
    capture::DeviceInfo description;
    std::atomic<bool> largeStills{false};
    std::string stillProblem;
};

struct QuietLayer : capture::DeviceLayer {
    std::vector<std::shared_ptr<capture::CaptureDevice>> list;
    std::vector<std::shared_ptr<capture::CaptureDevice>> devices() override { return list; }
};

inline platform::KeyEvent key(Key k, char32_t c = 0, bool control = false) {
    return {.key = k, .character = c, .control = control};
}
inline platform::KeyEvent chr(char32_t c) {
    return key(Key::Character, c);
}
// Presses a key, holds it for `repeats` auto-repeats, and lets it go.
inline void press(platform::KeyEvent e, int repeats = 0) {
    platform::Window::dispatchKey(e, true);
    e.repeat = true;
    for (int i = 0; i < repeats; ++i)
        platform::Window::dispatchKey(e, true);
    platform::Window::dispatchKey(e, false);
}

// The camera screen as the application builds it: in a visible window, on a real camera of
// quiet devices (the front one first), keeping its slot in a settings file and its photos in
// an album folder of its own; with the filter picker. The screen flash starts off (it delays
// the still); settings, when given, changes the stored settings before the screen reads them.
struct ScreenFixture {
    explicit ScreenFixture(const std::string& name, std::optional<std::int64_t> keptSlot,
                           bool twoCameras = true,
                           std::optional<std::filesystem::path> album = std::nullopt,
                           const std::function<void(platform::UserDefaults&)>& settings = {})
        : scratch("quorbit-screen-" + name), folder(scratch.path()) {
        defaults = std::make_unique<platform::UserDefaults>(folder / "defaults.json");
        if (keptSlot) defaults->setInteger(quorbitViewController::kLastFilterUsedKey, *keptSlot);
        defaults->setBool(quorbitViewController::kScreenFlashKey, false);
        if (settings) settings(*defaults);
        albumFolder = album ? *album : folder / "album";
        auto layer = std::make_shared<QuietLayer>();
        layer->list.push_back(std::make_shared<QuietDevice>(capture::DevicePosition::Front));
        if (twoCameras)
            layer->list.push_back(std::make_shared<QuietDevice>(capture::DevicePosition::Back));
        camera = std::make_shared<capture::Camera>(layer);
        screen = std::make_shared<quorbitViewController>(quorbit::testing::sharedGlContext(),
                                                         camera, defaults.get(), albumFolder);
        picker = std::make_shared<picker::FilterPickerController>(*screen);
        screen->setFilterPicker(picker, picker.get());
        window = std::make_shared<platform::Window>(platform::Window::screenBounds());
        window->makeKeyAndVisible();
    }
    ~ScreenFixture() {
        if (auto* alert = platform::AlertView::visibleAlert())
            alert->dismissWithClickedButtonIndex(0, false);
        platform::Window::cancelAllTouches();
        window->setRootViewController(nullptr);
    }
    void show() { window->setRootViewController(screen); }
    void deliver(int rotation = 90) {
        auto buffer = frame.buffer(rotation);
        screen->processNewCameraFrame(buffer);
    }
    platform::Image shown() { return gpu::readFramebufferImage(*screen->glview()); }
    std::vector<std::filesystem::path> photos() const {
        std::vector<std::filesystem::path> found;
        std::error_code ec;
        for (auto& entry : std::filesystem::directory_iterator(albumFolder, ec))
            if (entry.path().extension() == ".jpg") found.push_back(entry.path());
        return found;
    }
    bool waitForSave() {
        return platform::RunLoop::main().runUntil([&] { return !screen->isTakingPhoto; }, 5s);
    }
    platform::View* control(const std::string& name) { return window->findControl(name); }
    QuietDevice& device(bool front) {
        return static_cast<QuietDevice&>(
            *(front ? camera->frontCameraDevice() : camera->backCameraDevice()));
    }
    platform::Point centreOf(const std::string& name) {
        platform::View* v = control(name);
        EXPECT_NE(v, nullptr) << name;
        return v ? v->convertToWindow({v->bounds().midX(), v->bounds().midY()})
                 : platform::Point{-1, -1};
    }
    void tap(const std::string& name) {
        platform::Point p = centreOf(name);
        platform::Window::dispatchTouch(platform::TouchPhase::Began, 1, p);
        platform::Window::dispatchTouch(platform::TouchPhase::Ended, 1, p);
    }
    // What the desktop's URL opener is asked to open when the control is tapped.
    std::string openedBy(const std::string& name) {
        auto saved = platform::UrlOpener::shared().commands();
        scratch.write("open.sh", "echo -n \"$1\" > " + (folder / "opened").string() + "\n");
        platform::UrlOpener::shared().setCommands({{"sh", (folder / "open.sh").string()}, {}});
        tap(name);
        platform::UrlOpener::shared().setCommands(saved);
        return scratch.read("opened");
    }

    quorbit::testing::ScratchDir scratch;
    std::filesystem::path folder, albumFolder;
    std::unique_ptr<platform::UserDefaults> defaults;
    std::shared_ptr<capture::Camera> camera;
    std::shared_ptr<quorbitViewController> screen;
    std::shared_ptr<picker::FilterPickerController> picker;
    std::shared_ptr<platform::Window> window;
    QuadrantFrame frame;
};

// A screen showing the quadrant frame (of the rotation given) in slot 0 (the plain picture),
// on the camera given, with the timer and the flash as given.
struct TimedScreen : ScreenFixture {
    TimedScreen(const std::string& name, int timerSeconds, bool flash, bool front = true,
                int rotation = 90)
        : ScreenFixture(name, 3, true, std::nullopt,
                        [=](platform::UserDefaults& d) {
                            d.setInteger(quorbitViewController::kSelfTimerKey, timerSeconds);
                            d.setBool(quorbitViewController::kScreenFlashKey, flash);
                        }),
          rotation(rotation) {
        show();
        screen->setFilter(screen->programArray()[0].get());
        if ((camera->curCameraType() == capture::kCameraFront) != front) tap(controls::kSwapCamera);
        drawFrame();
    }
    void drawFrame() { deliver(rotation); }
    platform::Label& countdown() { return *screen->countdownLabel(); }
    int rotation;
};

}  // namespace quorbit::camera_screen::testing
