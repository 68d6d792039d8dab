// A demonstration screen with one of each widget of the platform layer, run by the host like
// the application is. Headless scripts drive it in the end-to-end tests; the controls carry
// names for them, and a few small marker views appear when something happened (a row
// selected, an alert answered) so that a script can expect them.

#include <GLES2/gl2.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "gpu/GLView.h"
#include "platform/gfx/Image.h"
#include "platform/gl/GLContext.h"
#include "platform/host/RunApplication.h"
#include "platform/ui/ActivityIndicator.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/Button.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/Label.h"
#include "platform/ui/PageControl.h"
#include "platform/ui/ProgressView.h"
#include "platform/ui/ScrollView.h"
#include "platform/ui/TableView.h"
#include "platform/ui/ViewController.h"

namespace quorbit::platform {
namespace {

constexpr int kPages = 3;
constexpr int kRows = 4;

std::shared_ptr<const Image> gradientImage(int size) {
    auto image = std::make_shared<Image>(size, size);
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            std::uint8_t* p = image->pixel(x, y);
            p[0] = static_cast<std::uint8_t>(255 * x / (size - 1));
            p[1] = static_cast<std::uint8_t>(255 * y / (size - 1));
            p[2] = 160;
            p[3] = 255;
        }
    }
    return image;
}

class DemoController : public ViewController {
  public:
    void loadView() override {
        auto root = std::make_shared<View>(Rect(0, 0, 320, 480));
        root->setBackgroundColor(Color{0.15, 0.15, 0.18, 1});
        setView(root);

        auto title = std::make_shared<Label>(Rect(10, 8, 300, 24));
        title->setText("Platform widgets");
        title->setFont(Font::boldSystem(18));
        title->setTextColor(Color::white());
        title->setBackgroundColor(Color::clear());
        title->setControlName("title");
        root->addSubview(title);

        auto image = std::make_shared<ImageView>(gradientImage(64));
        image->setFrame(Rect(10, 40, 60, 60));
        image->setControlName("image");
        root->addSubview(image);

        auto alertButton = Button::create(Button::Type::RoundedRect, Rect(80, 40, 110, 34));
        alertButton->setTitle(std::string("Show alert"));
        alertButton->setControlName("alert-button");
        alertButton->addAction([this](Button&) { showAlert(); });
        root->addSubview(alertButton);

        auto progressButton = Button::create(Button::Type::Custom, Rect(200, 40, 110, 34));
        progressButton->setTitle(std::string("Progress +"));
        progressButton->setTitleColor(Color{1, 0.8, 0.2, 1});
        progressButton->setBackgroundColor(Color{0.3, 0.3, 0.4, 1});
        progressButton->setShowsTouchWhenHighlighted(true);
        progressButton->setControlName("progress-button");
        progressButton->addAction([this](Button&) {
            _progress->setProgress(_progress->progress() + 0.25);
            if (_progress->progress() >= 0.5) marker("progress-half", Rect(300, 104, 6, 6));
        });
        root->addSubview(progressButton);

        _status = std::make_shared<Label>(Rect(80, 78, 230, 20));
        _status->setText("Tap something");
        _status->setFont(Font::system(13));
        _status->setTextColor(Color{0.8, 0.9, 1, 1});
        _status->setBackgroundColor(Color::clear());
        _status->setControlName("status");
        root->addSubview(_status);

        _progress =
            std::make_shared<ProgressView>(Rect(10, 110, 290, ProgressView::kDefaultHeight));
        _progress->setControlName("progress");
        root->addSubview(_progress);

        auto spinnerBox = std::make_shared<View>(Rect(10, 125, 50, 50));
        spinnerBox->setBackgroundColor(Color{0, 0, 0, 0.6});
        auto spinner = std::make_shared<ActivityIndicator>(ActivityIndicator::Style::WhiteLarge);
        spinner->sizeToFit();
        spinner->setCenter({25, 25});
        spinner->setControlName("spinner");
        spinner->startAnimating();
        spinnerBox->addSubview(spinner);
        root->addSubview(spinnerBox);

        _glView = std::make_shared<gpu::GLView>(Rect(70, 125, 100, 50));
        _glView->setControlName("gl-view");
        root->addSubview(_glView);

        auto pager = std::make_shared<ScrollView>(Rect(0, 185, 320, 100));
        pager->setPagingEnabled(true);
        pager->setContentSize({320.0 * kPages, 100});
        pager->setControlName("pager");
        const Color colours[kPages] = {{0.8, 0.3, 0.3, 1}, {0.3, 0.7, 0.3, 1}, {0.3, 0.4, 0.8, 1}};
        for (int i = 0; i < kPages; ++i) {
            auto page = std::make_shared<Label>(Rect(320.0 * i + 10, 10, 300, 80));
            page->setText("Page " + std::to_string(i + 1));
            page->setTextAlignment(TextAlignment::Center);
            page->setTextColor(Color::white());
            page->setBackgroundColor(colours[i]);
            page->setControlName("page-" + std::to_string(i));
            pager->addSubview(page);
        }
        _pageControl = std::make_shared<PageControl>(Rect(0, 285, 320, 20));
        _pageControl->setNumberOfPages(kPages);
        _pageControl->setControlName("pages");
        _pagerDelegate.didEndDecelerating = [this](ScrollView& s) {
            int page = static_cast<int>(s.contentOffset().x / 320 + 0.5);
            _pageControl->setCurrentPage(page);
            marker("on-page-" + std::to_string(page), Rect(310, 104, 6, 6));
        };
        pager->setDelegate(&_pagerDelegate);
        root->addSubview(pager);
        root->addSubview(_pageControl);

        auto table = std::make_shared<TableView>(Rect(0, 305, 320, 175));
        _source.numberOfRowsInSection = [](TableView&, int) { return kRows; };
        _source.titleForHeaderInSection = [](TableView&, int) {
            return std::optional<std::string>("Rows");
        };
        _source.cellForRow = [](TableView& t, IndexPath path) {
            auto cell = t.dequeueReusableCell("row");
            if (!cell) cell = std::make_shared<TableViewCell>(TableViewCell::Style::Default, "row");
            cell->textLabel()->setText("Row " + std::to_string(path.row));
            cell->setAccessoryType(TableViewCell::Accessory::DisclosureIndicator);
            cell->setSelectionStyle(TableViewCell::SelectionStyle::Blue);
            return cell;
        };
        _tableDelegate.didSelectRow = [this](TableView& t, IndexPath path) {
            _status->setText("Row " + std::to_string(path.row) + " selected");
            marker("selected-row-" + std::to_string(path.row), Rect(300, 8, 6, 6));
            t.deselectRowAtIndexPath(path, true);
        };
        table->setDataSource(&_source);
        table->setTableDelegate(&_tableDelegate);
        table->setControlName("table");
        root->addSubview(table);
    }

    void viewDidAppear(bool) override { drawGlPicture(); }

  private:
    // Four quadrants drawn with GL into the GL view's layer.
    void drawGlPicture() {
        // Laying the GL view out drops its framebuffer, so lay out first, then draw.
        view()->layoutIfNeeded();
        auto context = GLContext::create();
        if (!context) {
            std::fprintf(stderr, "demo: no GL context: %s\n",
                         context.error().localizedDescription().c_str());
            return;
        }
        _glView->setContext(context.value());
        _glView->setFramebuffer();
        int w = _glView->framebufferWidth(), h = _glView->framebufferHeight();
        const float colours[4][3] = {
            {1, 0.5f, 0}, {0, 0.8f, 0.8f}, {0.9f, 0.9f, 0.2f}, {0.6f, 0.2f, 0.8f}};
        glEnable(GL_SCISSOR_TEST);
        for (int q = 0; q < 4; ++q) {
            glScissor(q % 2 ? w / 2 : 0, q / 2 ? 0 : h / 2, w / 2 + 1, h / 2 + 1);
            glClearColor(colours[q][0], colours[q][1], colours[q][2], 1);
            glClear(GL_COLOR_BUFFER_BIT);
        }
        glDisable(GL_SCISSOR_TEST);
        _glView->presentFramebuffer();
    }

    void showAlert() {
        _alertDelegate.clickedButtonAtIndex = [this](AlertView&, int index) {
            _status->setText("Alert answered with " + std::to_string(index));
            marker("alert-answer-" + std::to_string(index), Rect(290, 8, 6, 6));
        };
        auto alert = AlertView::create("Demo alert", "Every widget is on this screen.",
                                       &_alertDelegate, std::string("Cancel"), {"OK"});
        alert->show();
    }

    // A small named dot that a script can expect.
    void marker(const std::string& name, Rect frame) {
        if (view()->findControl(name)) return;
        auto dot = std::make_shared<View>(frame);
        dot->setBackgroundColor(Color{0.2, 1, 0.2, 1});
        dot->setControlName(name);
        view()->addSubview(dot);
    }

    std::shared_ptr<Label> _status;
    std::shared_ptr<ProgressView> _progress;
    std::shared_ptr<PageControl> _pageControl;
    std::shared_ptr<gpu::GLView> _glView;
    ScrollViewDelegate _pagerDelegate;
    TableViewDataSource _source;
    TableViewDelegate _tableDelegate;
    AlertViewDelegate _alertDelegate;
};

}  // namespace
}  // namespace quorbit::platform

int main(int argc, char** argv) {
    using namespace quorbit::platform;
    auto options = HostOptions::parse(std::vector<std::string>(argv + 1, argv + argc));
    if (!options) {
        std::fprintf(stderr, "demo_screen: %s\n", options.error().localizedDescription().c_str());
        return 2;
    }
    return runApplication(options.value(), [] { return std::make_shared<DemoController>(); });
}
