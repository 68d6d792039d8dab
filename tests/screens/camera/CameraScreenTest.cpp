#include "screens/camera/CameraScreenSupport.h"

namespace quorbit::camera_screen {
namespace {

using namespace testing;

TEST(CameraScreen, TheKeptSlotIsRestoredAndNoneChosenOpensThePicker) {
    // What is kept before the launch -> the slot in use (and kept) once the screen appeared;
    // the picker is up where it is 0.
    const std::optional<std::int64_t> none;
    const std::pair<std::optional<std::int64_t>, int> cases[] = {
        {none, 0}, {0, 0}, {-1, 0}, {16, 0}, {-2, 0}, {99, 0}, {5, 5}, {15, 15}, {1, 1}};
    for (auto [kept, slot] : cases) {
        SCOPED_TRACE(kept.value_or(-9));
        ScreenFixture f("restore", kept);
        // Until the screen appears, Sketch (slot 2) draws.
        EXPECT_EQ(f.screen->filter(), f.screen->programArray()[2].get());
        f.show();
        EXPECT_EQ(f.screen->filter(), f.screen->programArray()[size_t(slot)].get());
        EXPECT_EQ(f.defaults->integerForKey(quorbitViewController::kLastFilterUsedKey), slot);
        EXPECT_EQ(f.screen->modalViewController() == f.picker, slot == 0);
        EXPECT_EQ(f.screen->filterPickerOpen, slot == 0);
    }
}

TEST(CameraScreen, ChildScreensOpenFromTheirControlsCloseThroughRestartAndWaitForASave) {
    ScreenFixture f("children", 3);
    f.show();
    // The share screen opens only once there is a photo.
    f.tap(controls::kLastPhoto);
    EXPECT_EQ(f.screen->modalViewController(), nullptr);
    f.deliver();
    f.tap(controls::kShutter);
    ASSERT_TRUE(f.screen->isTakingPhoto);
    // Touches are back while the photo is written, but nothing they ask for happens.
    EXPECT_TRUE(f.screen->view()->isUserInteractionEnabled());
    auto thumbnail = f.screen->photoViewButton()->image();
    for (const char* name :
         {controls::kShutter, controls::kFilters, controls::kSettings, controls::kLastPhoto}) {
        f.tap(name);
        EXPECT_EQ(f.screen->modalViewController(), nullptr) << name;
    }
    EXPECT_TRUE(f.screen->view()->isUserInteractionEnabled());
    EXPECT_EQ(f.screen->photoViewButton()->image(), thumbnail);
    // restart leaves the save alone.
    f.screen->restart();
    EXPECT_TRUE(f.screen->isTakingPhoto);
    ASSERT_TRUE(f.waitForSave());
    platform::RunLoop::main().runFor(100ms);
    EXPECT_EQ(f.photos().size(), 1u);
    EXPECT_TRUE(f.camera->isRunning());
    const std::tuple<const char*, const char*, bool*> cases[] = {
        {controls::kFilters, controls::kPickerClose, &f.screen->filterPickerOpen},
        {controls::kSettings, controls::kSettingsBack, &f.screen->settingsViewOpen},
        {controls::kLastPhoto, controls::kShareBack, &f.screen->sharingWindowOpen}};
    for (auto [open, back, flag] : cases) {
        SCOPED_TRACE(open);
        f.tap(open);
        ASSERT_NE(f.screen->modalViewController(), nullptr);
        EXPECT_TRUE(*flag);
        EXPECT_FALSE(f.screen->view()->isUserInteractionEnabled());
        // Asking again while it is up presents nothing more.
        f.screen->openSettings();
        f.screen->showSharingWindow();
        f.tap(back);
        EXPECT_EQ(f.screen->modalViewController(), nullptr);
        EXPECT_FALSE(f.screen->filterPickerOpen || f.screen->settingsViewOpen ||
                     f.screen->sharingWindowOpen);
        EXPECT_TRUE(f.screen->view()->isUserInteractionEnabled());
        EXPECT_EQ(f.screen->view()->superview(), f.window.get());
    }
    ScreenFixture one("one-camera", 3, /*twoCameras=*/false);
    one.show();
    EXPECT_EQ(one.control(controls::kSwapCamera), nullptr) << "no switch with one camera";
    EXPECT_NE(one.control(controls::kShutter), nullptr);
}

TEST(CameraScreen, AFailedSaveSaysWhyAndLeavesTheCameraRunning) {
    quorbit::testing::ScratchDir blocker("quorbit-screen-blocker");
    ScreenFixture f("failed", 3, true, blocker.write("file", "not a folder") / "album");
    f.show();
    f.tap(controls::kShutter);
    ASSERT_TRUE(f.waitForSave());
    EXPECT_TRUE(f.camera->isRunning());
    EXPECT_TRUE(f.screen->library()->isReady());
    platform::AlertView* alert = platform::AlertView::visibleAlert();
    ASSERT_NE(alert, nullptr);
    EXPECT_EQ(alert->title(), quorbitViewController::kSaveFailedTitle);
    EXPECT_NE(alert->message().find((blocker / "file").string()), std::string::npos);
    alert->dismissWithClickedButtonIndex(0, false);
    f.tap(controls::kShutter);
    EXPECT_TRUE(f.screen->isTakingPhoto);
    ASSERT_TRUE(f.waitForSave());
}

struct RecordingPicker : capture::FrameConsumer {
    int frames = 0;
    void cameraUpdated(capture::PixelBuffer& frame) override {
        ++frames;
        EXPECT_FALSE(frame.isLocked());
    }
};

// A screen without a camera of its own, as the command line's tools use it, handed frames.
TEST(LiveView, ChildScreensDecideWhereFramesGoAndASlotWithoutProgramShowsTheClearColour) {
    quorbitViewController screen(quorbit::testing::sharedGlContext(),
                                 std::make_shared<testing::SwitchableCamera>());
    screen.setFilter(screen.programArray()[0].get());
    testing::QuadrantFrame frame;
    auto deliver = [&] {
        auto buffer = frame.buffer();
        screen.processNewCameraFrame(buffer);
        EXPECT_FALSE(buffer.isLocked());
    };
    RecordingPicker picker;
    screen.setFilterPicker(nullptr, &picker);
    // The picker, the share screen, the settings up -> frames to the picker, frames drawn.
    const std::tuple<bool, bool, bool, int, std::uint64_t> cases[] = {
        {true, false, false, 1, 0}, {false, true, false, 0, 0}, {false, false, true, 0, 0},
        {true, true, false, 0, 0},  {true, false, true, 0, 0},  {false, false, false, 0, 1}};
    for (auto [pickerUp, sharing, settings, pickerFrames, drawn] : cases) {
        screen.filterPickerOpen = pickerUp;
        screen.sharingWindowOpen = sharing;
        screen.settingsViewOpen = settings;
        picker.frames = 0;
        std::uint64_t before = screen.glview()->glLayer()->presentCount();
        deliver();
        EXPECT_EQ(picker.frames, pickerFrames);
        EXPECT_EQ(screen.glview()->glLayer()->presentCount() - before, drawn);
        EXPECT_EQ(screen.camTexture(), 0u) << "no texture outlives its frame";
    }
    screen.setFilterPicker(nullptr, nullptr);
    // With nothing up, a slot without a program shows the yellow clear colour.
    gpu::ShaderProgram* broken = screen.programArray()[6].get();
    broken->disable();
    broken->setFragShaderSource(std::nullopt);
    screen.setFilter(broken);
    EXPECT_EQ(screen.lastFilterUsed(), 6);
    deliver();
    EXPECT_TRUE(quorbit::testing::near(gpu::readFramebufferImage(*screen.glview()).pixel(160, 213),
                                       {255, 255, 0}, 0));
}

// The keyboard and the wheel on the camera screen, its filter picker and its child screens,
// through the routing the host uses: the key window hands each key to its top-most screen.
TEST(Keys, EachKeyDoesItsWorkOnTheScreenOnTop) {
    ScreenFixture f("keys", 3);
    auto& picker = f.picker;
    f.show();
    f.deliver();
    auto& screen = *f.screen;
    auto top = [&] { return f.window->topViewController(); };
    auto pages = [&] { return picker->currentPage(); };
    auto atEnd = [&] {
        auto& scroll = *picker->filterScroll();
        return scroll.contentOffset().x == scroll.contentSize().width - scroll.bounds().width();
    };
    auto filterOnTop = [&](int slot) {
        return top() == &screen && screen.lastFilterUsed() == slot;
    };
    using platform::Window;
    // clang-format off
    const struct { const char* what; std::function<void()> act; std::function<bool()> expect; } steps[] = {
        {"Space takes a photo", [] { press(chr(' ')); }, [&] { return f.photos().size() == 1; }},
        {"a held Space takes one, even repeating after the save", [&] {
             auto space = chr(' ');
             Window::dispatchKey(space, true);
             ASSERT_TRUE(f.waitForSave());
             space.repeat = true;
             Window::dispatchKey(space, true);
             ASSERT_TRUE(f.waitForSave());
             Window::dispatchKey(space, false);
         }, [&] { return f.photos().size() == 2; }},
        {"Return takes a photo", [] { press(key(Key::Return)); }, [&] { return f.photos().size() == 3; }},
        {"Ctrl+Space is no shutter", [] { press(key(Key::Character, ' ', true)); }, [&] { return f.photos().size() == 3; }},
        {"T: 3 s", [] { press(chr('t')); }, [&] { return screen.selfTimerSeconds() == 3; }},
        {"T: 10 s, held", [] { press(chr('t'), 1); }, [&] { return screen.selfTimerSeconds() == 10; }},
        {"C: the back camera", [] { press(chr('c')); }, [&] { return f.camera->curCameraType() == capture::kCameraBack; }},
        {"F opens the filters", [] { press(chr('f')); }, [&] { return top() == picker.get() && pages() == 0; }},
        {"Escape closes them", [] { press(key(Key::Escape)); }, [&] { return filterOnTop(3); }},
        {"Right turns a page", [] { press(chr('f')), press(key(Key::Right)); }, [&] { return pages() == 1; }},
        {"Page Down held stops at the last", [] { press(key(Key::PageDown), 5); }, [&] { return pages() == picker->pageCount() - 1 && atEnd(); }},
        {"Left turns back", [] { press(key(Key::Left)); }, [&] { return pages() == picker->pageCount() - 2; }},
        {"Page Up held stops at the first", [] { press(key(Key::PageUp), 5); }, [&] { return pages() == 0; }},
        {"a wheel notch toward the user", [] { Window::dispatchWheel(0, 1); }, [&] { return pages() == 1; }},
        {"a notch to the right", [] { Window::dispatchWheel(1, 0); }, [&] { return pages() == 2; }},
        {"notches away stop at the first", [] { Window::dispatchWheel(0, -5); }, [&] { return pages() == 0; }},
        {"0 is past a page of four", [] { press(chr('0')); }, [&] { return top() == picker.get() && screen.lastFilterUsed() == 3; }},
        {"2 on the second page", [] { press(key(Key::Right)), press(chr('2')); }, [&] { return filterOnTop(5); }},
        {"1 on the first page", [] { press(chr('f')), press(key(Key::PageUp)), press(chr('1')); }, [&] { return filterOnTop(0); }},
        {"Escape closes the settings", [&] { screen.openSettings(), press(key(Key::Escape)); }, [&] { return top() == &screen && !screen.settingsViewOpen; }},
        {"Escape closes the share screen", [&] { screen.showSharingWindow(), press(key(Key::Escape)); }, [&] { return top() == &screen && !screen.sharingWindowOpen; }},
        {"keys on a child screen stay there", [&] { screen.openSettings(), press(chr(' ')), press(chr('f')); }, [&] { return top() == screen.settingsView().get() && f.photos().size() == 3; }},
    };
    // clang-format on
    for (const auto& step : steps) {
        SCOPED_TRACE(step.what);
        step.act();
        ASSERT_TRUE(f.waitForSave());
        EXPECT_TRUE(step.expect());
    }
    press(key(Key::Escape));
    EXPECT_EQ(top(), &screen);
    EXPECT_TRUE(screen.view()->isUserInteractionEnabled());
}

// A finger put down at the first point, moved through the others and lifted at the last.
void stroke(std::initializer_list<platform::Point> points) {
    using platform::TouchPhase;
    platform::Window::dispatchTouch(TouchPhase::Began, 1, *points.begin());
    for (auto p = points.begin() + 1; p != points.end(); ++p)
        platform::Window::dispatchTouch(TouchPhase::Moved, 1, *p);
    platform::Window::dispatchTouch(TouchPhase::Ended, 1, *std::prev(points.end()));
}

// Where the distortions' centre sits: moved by a drag on the live view, for both cameras and
// at every rotation, kept by other filters and put back by a double tap.
TEST(DistortionCentre, ADragPutsTheEffectUnderTheFingerOtherFiltersKeepItAndADoubleTapRecentres) {
    ManualClock clock;
    // Light Tunnel leaves a sharp disc of the plain picture around its centre and shades what
    // lies well outside it: where the plain picture shows through tells where the centre is.
    constexpr int kLightTunnel = 14;
    // The finger's place as fractions of the live view (across, down), and its mirror image.
    const platform::Point finger{250.0 / 320, 110.0 / 427}, mirrored{70.0 / 320, 110.0 / 427};
    for (auto [front, rotation] : {std::pair{false, 90}, {true, 0}, {false, 270}, {true, 90}}) {
        SCOPED_TRACE(::testing::Message() << front << " " << rotation);
        TimedScreen f("centre", 0, false, front, rotation);
        platform::Image plain = f.shown();
        f.screen->setFilter(f.screen->programArray()[kLightTunnel].get());
        ASSERT_TRUE(f.screen->filterHasCentre());
        // The live view has the picture's shape: landscape at rotation 0.
        platform::Rect live = f.screen->glview()->frame();
        auto at = [&](platform::Point p) {
            return platform::Point{live.minX() + p.x * live.width(),
                                   live.minY() + p.y * live.height()};
        };
        auto centreIs = [&](platform::Point p) { return f.screen->distortionCentre() == p; };
        stroke({at({0.5, 0.5}), at({0.6, 0.4}), at(finger)});
        EXPECT_NEAR(f.screen->distortionCentre().x, finger.x, 1e-9);
        EXPECT_NEAR(f.screen->distortionCentre().y, finger.y, 1e-9);
        f.drawFrame();
        platform::Image moved = f.shown();
        auto change = [&](platform::Point p) {
            int x = int(p.x * moved.width()), y = int(p.y * moved.height());
            return quorbit::testing::colourDistance(moved.pixel(x, y), plain.pixel(x, y));
        };
        EXPECT_LE(change(finger), 6);
        EXPECT_GT(change(mirrored), 10);
        if (!front || rotation != 90) continue;
        // Sepia has no centre: a drag leaves it where it is.
        platform::Point before = f.screen->distortionCentre();
        f.screen->setFilter(f.screen->programArray()[5].get());
        EXPECT_FALSE(f.screen->filterHasCentre());
        stroke({{160, 213}, {40, 40}});
        EXPECT_TRUE(centreIs(before));
        // Bulge (3), Stretch (10), Squish (11) and Light Tunnel (14) do; a drag past the edge
        // stops at it.
        for (int slot : {3, 10, 11, 14}) {
            f.screen->setFilter(f.screen->programArray()[size_t(slot)].get());
            EXPECT_TRUE(f.screen->filterHasCentre()) << slot;
        }
        stroke({{160, 213}, {400, -50}});
        EXPECT_TRUE(centreIs({1.0, 0.0}));
        // Two taps far apart in time are no double tap; two close together are.
        f.tap(controls::kLiveView);
        clock.advance(400ms);
        f.tap(controls::kLiveView);
        EXPECT_TRUE(centreIs({1.0, 0.0}));
        clock.advance(200ms);
        f.tap(controls::kLiveView);
        EXPECT_TRUE(centreIs({0.5, 0.5}));
    }
}

}  // namespace
}  // namespace quorbit::camera_screen
