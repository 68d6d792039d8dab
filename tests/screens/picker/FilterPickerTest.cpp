#include "platform/ui/UiTestSupport.h"
#include "screens/camera/CameraScreenSupport.h"

namespace quorbit::picker {
namespace {

using namespace quorbit::testing;
using platform::Point;
using Log = std::vector<std::string>;

// A 640 x 480 BGRA frame; paint gives the RGB of each pixel.
struct Frame {
    std::vector<std::uint8_t> bgra = std::vector<std::uint8_t>(640 * 480 * 4, 255);
    explicit Frame(const std::function<std::array<int, 3>(int x, int y)>& paint) {
        for (int y = 0; y < 480; ++y)
            for (int x = 0; x < 640; ++x)
                for (int c = 0; c < 3; ++c)
                    bgra[(size_t(y) * 640 + size_t(x)) * 4 + 2 - size_t(c)] =
                        std::uint8_t(paint(x, y)[size_t(c)]);
    }
    capture::PixelBuffer buffer() { return capture::PixelBuffer(bgra.data(), 640, 480); }
};

Frame solid(int r, int g, int b) {
    return Frame([=](int, int) { return std::array<int, 3>{r, g, b}; });
}

// The screen that opens the picker without animation, as the camera screen does: it owns the
// sixteen programs and the context, hands frames to the picker while it is up and notes what
// it is asked.
class TestHost : public platform::ViewController, public PickerHost {
  public:
    const gpu::ProgramList& programArray() const override { return programs; }
    const std::shared_ptr<platform::GLContext>& context() const override { return glContext; }
    const std::shared_ptr<capture::CameraTypeSource>& camera() const override { return source; }
    void setFilter(gpu::ShaderProgram* program) override {
        auto slot = gpu::slotOfProgram(programs, program);
        log.push_back("setFilter " + (slot ? std::to_string(*slot) : "?"));
    }
    void restart() override {
        pickerOpen = false;
        log.push_back("restart");
    }
    void openPicker() {
        pickerOpen = true;
        presentModalViewController(picker, false);
    }
    void deliver(Frame& frame) {
        auto buffer = frame.buffer();
        if (pickerOpen) picker->cameraUpdated(buffer);
        EXPECT_FALSE(buffer.isLocked());
    }

    std::shared_ptr<platform::GLContext> glContext = sharedGlContext();
    gpu::ProgramList programs = gpu::createFilterPrograms();
    std::shared_ptr<camera_screen::testing::SwitchableCamera> cameraSide =
        std::make_shared<camera_screen::testing::SwitchableCamera>();
    std::shared_ptr<capture::CameraTypeSource> source = cameraSide;
    std::shared_ptr<FilterPickerController> picker =
        std::make_shared<FilterPickerController>(*this);
    bool pickerOpen = false;
    Log log;
};

class FilterPicker : public ::testing::Test {
  protected:
    void SetUp() override {
        window->setRootViewController(host);
        host->openPicker();
    }
    FilterPickerController& picker() { return *host->picker; }
    platform::ScrollView& scroll() { return *picker().filterScroll(); }
    platform::Image preview(int slot) {
        return gpu::readFramebufferImage(*picker().glViews()[size_t(slot)]);
    }
    Point previewCentre(int slot, double dx = 0) {
        return picker().glViews()[size_t(slot)]->convertToWindow({72 + dx, 96});
    }
    void turnPage() {
        drag({290, 200}, {90, 200});
        ASSERT_TRUE(runUntil([&] { return !scroll().isDecelerating(); }));
    }

    std::shared_ptr<platform::Window> window = makeWindow();
    std::shared_ptr<TestHost> host = std::make_shared<TestHost>();
};

TEST_F(FilterPicker, FourPagesOfFourPreviewsWithTheIndicatorFollowingTheOffset) {
    EXPECT_EQ(scroll().contentSize(), (platform::Size{1280, 416}));
    EXPECT_EQ(picker().pageControl()->numberOfPages(), 4);
    for (int slot : {0, 5, 15})  // the names the headless scripts tap
        EXPECT_EQ(window->findControl(controls::preview(slot)),
                  picker().glViews()[size_t(slot)].get());
    // The page whose left edge is nearest; at exactly half a page the higher one.
    const std::pair<double, int> offsets[] = {{0, 0},   {159, 0}, {160, 1}, {479, 1},
                                              {480, 2}, {800, 3}, {960, 3}, {-40, 0}};
    for (auto [x, page] : offsets) {
        scroll().setContentOffset({x, 0});
        EXPECT_EQ(picker().pageControl()->currentPage(), page) << x;
    }
}

TEST_F(FilterPicker, EveryPreviewShowsTheFrameThroughItsOwnProgramFromOneUpload) {
    // Red runs along the frame's rows, green down its columns, blue marks the quadrant.
    Frame frame([](int x, int y) {
        return std::array<int, 3>{x * 255 / 639, y * 255 / 479,
                                  40 + 60 * ((y >= 240) * 2 + (x >= 320))};
    });
    host->deliver(frame);  // the first frame also builds the previews' surfaces
    for (int side : {capture::kCameraBack, capture::kCameraFront}) {
        host->cameraSide->type = side;
        // Building the previews left no context current; the picker must make it so itself.
        platform::GLContext::clearCurrent();
        host->deliver(frame);
        // What each slot's program draws of the frame, made without the picker. The previews
        // take the picture's shape: this frame is an upright landscape one.
        platform::Size previewSize = picker().glViews()[0]->bounds().size;
        EXPECT_EQ(previewSize, (platform::Size{144, 108}));
        gpu::GLPostView reference(platform::Rect({0, 0}, previewSize));
        reference.setContext(host->glContext);
        host->glContext->makeCurrent();
        auto buffer = frame.buffer();
        buffer.lockBaseAddress();
        gpu::CameraTexture texture;
        texture.upload(buffer, host->glContext);
        for (int slot = 0; slot < 16; ++slot) {
            const char* name = gpu::kFilterSlotNames[size_t(slot)];
            gpu::ShaderProgram program(name, name);
            gpu::drawFrameQuad(reference, program, texture.name(), side, {0, 0, 0, 1});
            platform::Image want = gpu::readFramebufferImage(reference), got = preview(slot);
            int worst = 0;
            for (size_t i = 0; i < want.pixels().size(); i += 4)
                worst = std::max(worst, colourDistance(&want.pixels()[i], &got.pixels()[i]));
            EXPECT_LE(worst, 1) << "slot " << slot << ", camera " << side;
        }
        texture.reset();
    }
    for (const auto& view : picker().glViews())
        EXPECT_EQ(view->glLayer()->presentCount(), 3u);
}

TEST_F(FilterPicker, PreviewsKeepTheirPictureFromTheStartOfADragUntilThePagesSettle) {
    Frame red = solid(220, 0, 0), green = solid(0, 200, 0);
    host->deliver(red);
    touchDown(previewCentre(1));
    touchMove(previewCentre(1, -30));
    EXPECT_FALSE(picker().animateSubviews());
    host->deliver(green);
    for (int slot : {0, 12}) {
        EXPECT_EQ(preview(slot).pixel(72, 96)[0], 220);
        EXPECT_EQ(picker().glViews()[size_t(slot)]->glLayer()->presentCount(), 1u);
    }
    touchUp(previewCentre(1, -30));
    ASSERT_TRUE(runUntil([&] { return picker().animateSubviews(); }));
    EXPECT_EQ(host->log, Log{});  // the dragged preview was not chosen
    host->deliver(green);
    EXPECT_EQ(preview(12).pixel(72, 96)[1], 200);
    // A drag whose scroll view goes with the picker's unloaded view leaves the previews live
    // when the picker is built again.
    touchDown({200, 200});
    touchMove({150, 200});
    picker().close();
    platform::ViewController::postMemoryWarning();
    EXPECT_TRUE(picker().glViews().empty());
    touchUp({150, 200});
    host->openPicker();
    host->deliver(red);
    EXPECT_EQ(preview(4).pixel(72, 96)[0], 220);
}

// Close restarts without choosing, even for a finger on a preview lifted later; a tap on the
// top left preview of page 3 chooses slot 8 and closes the picker.
TEST_F(FilterPicker, CloseOrATapOnAPreviewEndsThePicker) {
    touchDown(previewCentre(1), 2);
    platform::View* close = window->findControl(controls::kPickerClose);
    ASSERT_NE(close, nullptr);
    tap(close->convertToWindow({close->bounds().midX(), close->bounds().midY()}));
    touchUp(previewCentre(1), 2);
    EXPECT_EQ(host->log, Log{"restart"});
    EXPECT_EQ(host->modalViewController(), nullptr);
    host->openPicker();
    turnPage();
    turnPage();
    EXPECT_EQ(picker().pageControl()->currentPage(), 2);
    tap(previewCentre(8));
    EXPECT_EQ(host->log, (Log{"restart", "setFilter 8", "restart"}));
    EXPECT_EQ(host->modalViewController(), nullptr);
    // Opened again, the picker is where the user left it.
    host->openPicker();
    EXPECT_EQ(picker().pageControl()->currentPage(), 2);
}

}  // namespace
}  // namespace quorbit::picker
