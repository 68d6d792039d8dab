// The camera screen, its filter picker, the share screen and an alert laid out for windows
// from a phone's to a 4K desktop's, portrait and landscape, and for both shapes of picture.
#include "CameraScreenSupport.h"

namespace quorbit::camera_screen::testing {
namespace {

using platform::Rect;
using platform::Size;
using platform::Window;

// clang-format off
struct WindowCase { double width, height, scale; int previewsPerPage; };
constexpr WindowCase kWindows[] = {
    {320, 480, 1, 4}, {360, 720, 2, 4}, {720, 1440, 1, 4},
    {1280, 800, 1, 8}, {1920, 1080, 1, 8}, {3840, 2160, 1, 16},
    {480, 320, 1, 4},
};
// clang-format on

Rect inWindow(platform::View* view) {
    return {view->convertToWindow(view->bounds().origin), view->bounds().size};
}
bool inside(Rect r, Rect area) {
    return r.minX() >= area.minX() - 1e-6 && r.minY() >= area.minY() - 1e-6 &&
           r.maxX() <= area.maxX() + 1e-6 && r.maxY() <= area.maxY() + 1e-6 && !r.isEmpty();
}
bool overlap(Rect a, Rect b) {
    Rect common = a.intersection(b);
    return common.width() > 1e-6 && common.height() > 1e-6;
}
// The same aspect ratio, within the rounding of each side to whole points.
bool sameAspect(Size a, Size b) {
    return std::abs(a.width / a.height - b.width / b.height) <= 1.0 / std::min(a.width, a.height);
}

struct Resized : ScreenFixture {
    Resized() : ScreenFixture("layout", 5) { show(); }
    ~Resized() { Window::resizeScreen(Rect(0, 0, 320, 480), 1); }
    Rect to(const WindowCase& c) {
        Window::resizeScreen(Rect(0, 0, c.width, c.height), c.scale);
        window->layoutIfNeeded();
        return Rect(0, 0, c.width, c.height);
    }
};

TEST(WindowLayout, ControlsInsideApartAndTheLiveViewTheLargestOfThePicturesShape) {
    Resized f;
    for (Size picture : {Size{480, 640}, Size{640, 480}}) {
        f.screen->setPictureSize(picture);
        for (const WindowCase& c : kWindows) {
            SCOPED_TRACE(::testing::Message()
                         << c.width << "x" << c.height << " " << picture.width);
            Rect screen = f.to(c);
            bool portrait = c.width < c.height;
            Rect live = inWindow(f.control(controls::kLiveView));
            std::vector<Rect> placed{live};
            for (const char* name :
                 {controls::kLastPhoto, controls::kFilters, controls::kTimer, controls::kShutter,
                  controls::kFlash, controls::kSwapCamera, controls::kSettings}) {
                platform::View* view = f.control(name);
                ASSERT_NE(view, nullptr) << name;
                Rect r = inWindow(view);
                EXPECT_TRUE(inside(r, screen)) << name;
                // The bar lies beside the live view: below it, or right of it.
                EXPECT_GE(portrait ? r.minY() : r.minX(), portrait ? live.maxY() : live.maxX())
                    << name;
                for (Rect other : placed)
                    EXPECT_FALSE(overlap(r, other)) << name;
                placed.push_back(r);
            }
            EXPECT_TRUE(inside(live, screen));
            EXPECT_TRUE(sameAspect(live.size, picture));
            // The largest such rectangle: it spans the room left by the bar in one direction.
            double bar = CameraScreenLayout::kBarThickness;
            EXPECT_TRUE(std::abs(live.width() - (c.width - (portrait ? 0 : bar))) <= 1 ||
                        std::abs(live.height() - (c.height - (portrait ? bar : 0))) <= 1);
            // The surface has the view's pixels, but never more than the picture has.
            auto& glview = *f.screen->glview();
            glview.setFramebuffer();
            double fit =
                std::min({c.scale, picture.width / live.width(), picture.height / live.height()});
            EXPECT_NEAR(glview.framebufferWidth(), live.width() * fit, 1);
            EXPECT_NEAR(glview.framebufferHeight(), live.height() * fit, 1);
        }
    }
}

TEST(WindowLayout, TheShareScreenAndAnAlertFollowTheWindow) {
    Resized f;
    f.screen->updateLastPictureView(std::make_shared<const platform::Image>(4, 4));
    f.screen->showSharingWindow();
    ASSERT_TRUE(f.screen->sharingWindowOpen);
    auto alert = platform::AlertView::create("Title", "A message", nullptr, "OK");
    alert->show();
    platform::RunLoop::main().runFor(500ms);  // past its pop-in
    for (const WindowCase& c : kWindows) {
        SCOPED_TRACE(c.width);
        Rect screen = f.to(c);
        Rect photo = inWindow(f.control(controls::kSharePhoto)), box = inWindow(alert.get());
        EXPECT_TRUE(inside(inWindow(f.control(controls::kShareBack)), screen));
        // The photo takes the window's width, and most of its height.
        EXPECT_EQ(photo.width(), c.width);
        EXPECT_GT(photo.height(), c.height / 2);
        EXPECT_TRUE(inside(box, screen));
        EXPECT_NEAR(box.midX(), screen.midX(), 4);
        EXPECT_NEAR(box.midY(), screen.midY(), 4);
    }
    alert->dismissWithClickedButtonIndex(0, false);
}

TEST(WindowLayout, PickerPagesHoldTheirPreviewsInSlotOrderInsideTheWindow) {
    Resized f;
    auto& picker = f.picker;
    f.screen->openFilterPicker();
    ASSERT_TRUE(f.screen->filterPickerOpen);
    for (const WindowCase& c : kWindows) {
        SCOPED_TRACE(::testing::Message() << c.width << " x " << c.height);
        Rect screen = f.to(c);
        Rect pages = inWindow(picker->filterScroll().get());
        EXPECT_EQ(picker->previewsPerPage(), c.previewsPerPage);
        EXPECT_EQ(picker->pageControl()->numberOfPages(), 16 / c.previewsPerPage);
        Rect close = inWindow(picker->closeButton().get());
        Rect dots = inWindow(picker->pageControl().get());
        for (Rect r : {pages, close, dots})
            EXPECT_TRUE(inside(r, screen));
        EXPECT_FALSE(overlap(close, pages));
        EXPECT_FALSE(overlap(close, dots));
        const auto& previews = picker->glViews();
        ASSERT_EQ(previews.size(), 16u);
        auto onPage = [&](size_t slot) {
            int page = int(slot) / c.previewsPerPage;
            return previews[slot]->frame().offsetBy(-page * pages.width(), 0);
        };
        for (size_t slot = 0; slot < previews.size(); ++slot) {
            Rect r = onPage(slot);
            EXPECT_TRUE(inside(r, Rect({0, 0}, pages.size))) << slot;
            EXPECT_TRUE(sameAspect(r.size, {480, 640})) << slot;
            if (slot % size_t(c.previewsPerPage) == 0) continue;
            // Left to right, then top to bottom, on one page.
            Rect before = onPage(slot - 1);
            EXPECT_FALSE(overlap(r, before)) << slot;
            EXPECT_TRUE(r.minY() > before.minY() ||
                        (r.minY() == before.minY() && r.minX() > before.minX()))
                << slot;
        }
    }
}

}  // namespace
}  // namespace quorbit::camera_screen::testing
