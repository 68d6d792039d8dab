#include <functional>

#include "CameraScreenSupport.h"

// The keyboard and the wheel on the camera screen, its filter picker and its child screens,
// through the routing the host uses: the key window hands each key to its top-most screen.
namespace quorbit::camera_screen {
namespace {

using namespace testing;
using Key = platform::KeyEvent::Key;

platform::KeyEvent key(Key k, char32_t c = 0, bool control = false) {
    platform::KeyEvent e;
    e.key = k;
    e.character = c;
    e.control = control;
    return e;
}
platform::KeyEvent chr(char32_t c) {
    return key(Key::Character, c);
}

// Presses a key, holds it for `repeats` auto-repeats, and lets it go.
void press(platform::KeyEvent e, int repeats = 0) {
    platform::Window::dispatchKey(e, true);
    e.repeat = true;
    for (int i = 0; i < repeats; ++i)
        platform::Window::dispatchKey(e, true);
    platform::Window::dispatchKey(e, false);
}

TEST(Keys, EachKeyDoesItsWorkOnTheScreenOnTop) {
    ScreenFixture f("keys", 3);
    auto& picker = f.picker;
    f.show();
    QuadrantFrame frame;
    auto buffer = frame.buffer();
    f.screen->processNewCameraFrame(buffer);
    auto& screen = *f.screen;
    auto top = [&] { return f.window->topViewController(); };

    struct Step {
        const char* what;
        std::function<void()> act;
        std::function<bool()> expect;
    };
    const Step steps[] = {
        {"Space takes a photo", [] { press(chr(' ')); }, [&] { return f.photos().size() == 1; }},
        {"a held Space takes one",
         [&] {
             // Repeats coming after the photo was saved take none either.
             auto space = chr(' ');
             platform::Window::dispatchKey(space, true);
             ASSERT_TRUE(f.waitForSave());
             space.repeat = true;
             platform::Window::dispatchKey(space, true);
             ASSERT_TRUE(f.waitForSave());
             platform::Window::dispatchKey(space, false);
         },
         [&] { return f.photos().size() == 2; }},
        {"Return takes a photo", [] { press(key(Key::Return)); },
         [&] { return f.photos().size() == 3; }},
        {"Ctrl+Space is no shutter", [] { press(key(Key::Character, ' ', true)); },
         [&] { return f.photos().size() == 3; }},
        {"T: 3 s", [] { press(chr('t')); }, [&] { return screen.selfTimerSeconds() == 3; }},
        {"T: 10 s, held", [] { press(chr('t'), 1); },
         [&] { return screen.selfTimerSeconds() == 10; }},
        {"C: the back camera", [] { press(chr('c')); },
         [&] { return f.camera->curCameraType() == capture::kCameraBack; }},
        {"F opens the filters", [] { press(chr('f')); },
         [&] { return top() == picker.get() && picker->currentPage() == 0; }},
        {"Escape closes them", [] { press(key(Key::Escape)); },
         [&] { return top() == &screen && screen.lastFilterUsed() == 3; }},
        {"Right turns a page", [] { press(chr('f')), press(key(Key::Right)); },
         [&] { return picker->currentPage() == 1; }},
        {"Page Down held stops at the last", [] { press(key(Key::PageDown), 5); },
         [&] {
             auto& pages = *picker->filterScroll();
             return picker->currentPage() == picker->pageCount() - 1 &&
                    pages.contentOffset().x == pages.contentSize().width - pages.bounds().width();
         }},
        {"Left turns back", [] { press(key(Key::Left)); },
         [&] { return picker->currentPage() == picker->pageCount() - 2; }},
        {"Page Up held stops at the first", [] { press(key(Key::PageUp), 5); },
         [&] { return picker->currentPage() == 0; }},
        {"a wheel notch toward the user", [] { platform::Window::dispatchWheel(0, 1); },
         [&] { return picker->currentPage() == 1; }},
        {"a notch to the right", [] { platform::Window::dispatchWheel(1, 0); },
         [&] { return picker->currentPage() == 2; }},
        {"notches away stop at the first", [] { platform::Window::dispatchWheel(0, -5); },
         [&] { return picker->currentPage() == 0; }},
        {"0 is past a page of four", [] { press(chr('0')); },
         [&] { return top() == picker.get() && screen.lastFilterUsed() == 3; }},
        {"2 on the second page", [] { press(key(Key::Right)), press(chr('2')); },
         [&] { return top() == &screen && screen.lastFilterUsed() == 5; }},
        {"1 on the first page", [] { press(chr('f')), press(key(Key::PageUp)), press(chr('1')); },
         [&] { return top() == &screen && screen.lastFilterUsed() == 0; }},
        {"Escape closes the settings", [&] { screen.openSettings(), press(key(Key::Escape)); },
         [&] { return top() == &screen && !screen.settingsViewOpen; }},
        {"Escape closes the share screen",
         [&] { screen.showSharingWindow(), press(key(Key::Escape)); },
         [&] { return top() == &screen && !screen.sharingWindowOpen; }},
        {"keys on a child screen stay there",
         [&] { screen.openSettings(), press(chr(' ')), press(chr('f')); },
         [&] { return top() == screen.settingsView().get() && f.photos().size() == 3; }},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        step.act();
        ASSERT_TRUE(f.waitForSave());
        EXPECT_TRUE(step.expect());
    }
    press(key(Key::Escape));
    EXPECT_EQ(top(), &screen);
    EXPECT_TRUE(screen.view()->isUserInteractionEnabled());
}

}  // namespace
}  // namespace quorbit::camera_screen
