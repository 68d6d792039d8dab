#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "screens/camera/quorbitViewController.h"
#include "capture/Camera.h"
#include "capture/CaptureDevice.h"
#include "capture/DeviceLayer.h"
#include "screens/picker/PickerHost.h"
#include "platform/core/RunLoop.h"
#include "platform/core/UserDefaults.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/Button.h"
#include "platform/ui/ControlNames.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/Window.h"
#include "support/GlTestContext.h"

namespace quorbit::camera_screen::testing {

using namespace std::chrono_literals;

// A camera that opens but delivers nothing: the tests hand the screen its frames themselves,
// while the screen drives the real Camera (stop, restart, swap).
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
    capture::DeviceInfo description;
};

struct QuietLayer : capture::DeviceLayer {
    std::vector<std::shared_ptr<capture::CaptureDevice>> list;
    std::vector<std::shared_ptr<capture::CaptureDevice>> devices() override { return list; }
};

inline std::shared_ptr<capture::Camera> quietCamera(bool front, bool back) {
    auto layer = std::make_shared<QuietLayer>();
    if (front) layer->list.push_back(std::make_shared<QuietDevice>(capture::DevicePosition::Front));
    if (back) layer->list.push_back(std::make_shared<QuietDevice>(capture::DevicePosition::Back));
    return std::make_shared<capture::Camera>(layer);
}

// A 640 x 480 BGRA frame of four quadrants, each pixel's channels different.
struct QuadrantFrame {
    // RGB of the quadrants: top left, top right, bottom left, bottom right.
    static constexpr std::array<std::array<int, 3>, 4> kColours = {
        {{200, 40, 10}, {20, 180, 90}, {60, 30, 220}, {240, 230, 120}}};
    std::vector<std::uint8_t> bgra = std::vector<std::uint8_t>(640 * 480 * 4);
    QuadrantFrame() {
        for (int y = 0; y < 480; ++y) {
            for (int x = 0; x < 640; ++x) {
                const auto& rgb = kColours[size_t((y >= 240) * 2 + (x >= 320))];
                std::uint8_t* p = &bgra[(size_t(y) * 640 + size_t(x)) * 4];
                p[0] = std::uint8_t(rgb[2]);
                p[1] = std::uint8_t(rgb[1]);
                p[2] = std::uint8_t(rgb[0]);
                p[3] = 255;
            }
        }
    }
    // As a phone's sideways sensor delivers it unless rotation says otherwise.
    capture::PixelBuffer buffer(int rotation = 90) {
        return capture::PixelBuffer(bgra.data(), 640, 480, rotation);
    }
};

// A stand-in for the filter picker: one button per slot that chooses it and closes, and a
// close button; counts the frames it is given. Like the real picker it tells its host when
// it has gone.
class TestPicker : public platform::ViewController, public capture::FrameConsumer {
  public:
    explicit TestPicker(picker::PickerHost& host) : _host(host) {}
    void loadView() override {
        auto root = std::make_shared<platform::View>(platform::Window::screenBounds());
        root->setBackgroundColor(platform::Color::black());
        for (int slot = 0; slot < controls::kPreviewCount; ++slot) {
            auto b = std::make_shared<platform::Button>(
                platform::Rect(10 + (slot % 4) * 76, 60 + (slot / 4) * 90, 70, 80));
            b->setControlName(controls::preview(slot));
            b->addAction([this, slot](platform::Button&) {
                _host.setFilter(_host.programArray()[size_t(slot)].get());
                dismissModalViewControllerAnimated(false);
            });
            root->addSubview(b);
        }
        auto close = std::make_shared<platform::Button>(platform::Rect(240, 420, 70, 50));
        close->setControlName(controls::kPickerClose);
        close->addAction([this](platform::Button&) { dismissModalViewControllerAnimated(false); });
        root->addSubview(close);
        setView(root);
    }
    void viewDidDisappear(bool animated) override {
        platform::ViewController::viewDidDisappear(animated);
        _host.restart();
    }
    void cameraUpdated(capture::PixelBuffer&) override { ++frames; }
    int frames = 0;

  private:
    picker::PickerHost& _host;
};

// The camera screen as the application builds it: in a visible window, on a real camera of
// quiet devices, keeping its slot in a settings file and its photos in an album folder of
// its own; with a test picker.
struct ScreenFixture {
    explicit ScreenFixture(const std::string& name, std::optional<std::int64_t> keptSlot,
                           bool twoCameras = true,
                           std::optional<std::filesystem::path> album = std::nullopt) {
        folder = std::filesystem::temp_directory_path() /
                 ("quorbit-screen-" + name + "-" + std::to_string(getpid()));
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder);
        defaults = std::make_unique<platform::UserDefaults>(folder / "defaults.json");
        if (keptSlot) defaults->setInteger(quorbitViewController::kLastFilterUsedKey, *keptSlot);
        // The front camera's screen flash delays the still by a moment; the tests of the shutter
        // itself start with it off (the flash's own tests turn it on).
        defaults->setBool(quorbitViewController::kScreenFlashKey, false);
        albumFolder = album ? *album : folder / "album";
        camera = quietCamera(true, twoCameras);
        screen = std::make_shared<quorbitViewController>(quorbit::testing::sharedGlContext(),
                                                         camera, defaults.get(), albumFolder);
        picker = std::make_shared<TestPicker>(*screen);
        screen->setFilterPicker(picker, picker.get());
        window = std::make_shared<platform::Window>(platform::Window::screenBounds());
        window->makeKeyAndVisible();
    }
    // Puts the screen in the window, which makes it appear.
    void show() { window->setRootViewController(screen); }
    ~ScreenFixture() {
        if (auto* alert = platform::AlertView::visibleAlert())
            alert->dismissWithClickedButtonIndex(0, false);
        platform::Window::cancelAllTouches();
        window->setRootViewController(nullptr);
        window.reset();
        picker.reset();
        screen.reset();
        camera.reset();
        defaults.reset();
        std::filesystem::remove_all(folder);
    }
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
    // A tap at the centre of the named control, as a finger would.
    void tap(const std::string& name) {
        platform::View* v = control(name);
        ASSERT_NE(v, nullptr) << name;
        platform::Rect b = v->bounds();
        platform::Point p = v->convertToWindow({b.midX(), b.midY()});
        platform::Window::dispatchTouch(platform::TouchPhase::Began, 1, p);
        platform::Window::dispatchTouch(platform::TouchPhase::Ended, 1, p);
    }

    std::filesystem::path folder, albumFolder;
    std::unique_ptr<platform::UserDefaults> defaults;
    std::shared_ptr<capture::Camera> camera;
    std::shared_ptr<quorbitViewController> screen;
    std::shared_ptr<TestPicker> picker;
    std::shared_ptr<platform::Window> window;
};

}  // namespace quorbit::camera_screen::testing
