#include "picker/FilterPickerController.h"

#include <cmath>

#include "platform/ui/ControlNames.h"
#include "platform/ui/Window.h"

namespace quorbit::picker {

namespace {

// The screen below the pages: the indicator, then the close control.
constexpr double kPagesHeight = 416;
constexpr double kIndicatorHeight = 20;
const platform::Rect kCloseFrame{100, 438, 120, 34};

}  // namespace

FilterPickerController::FilterPickerController(PickerHost& host) : _host(host) {
    _scrollDelegate.didScroll = [this](platform::ScrollView& s) { scrollViewDidScroll(s); };
    _scrollDelegate.willBeginDragging = [this](platform::ScrollView& s) {
        scrollViewWillBeginDragging(s);
    };
    _scrollDelegate.didEndDecelerating = [this](platform::ScrollView& s) {
        scrollViewDidEndDecelerating(s);
    };
}

FilterPickerController::~FilterPickerController() {
    if (_filterScroll) _filterScroll->setDelegate(nullptr);
}

void FilterPickerController::loadView() {
    platform::Rect screen = platform::Window::screenBounds();
    auto root = std::make_shared<platform::View>(screen);
    root->setBackgroundColor(platform::Color{0.07, 0.07, 0.08, 1});

    auto scroll =
        std::make_shared<platform::ScrollView>(platform::Rect(0, 0, screen.width(), kPagesHeight));
    scroll->setBackgroundColor(platform::Color::black());
    scroll->setPagingEnabled(true);
    scroll->setDelegate(&_scrollDelegate);
    root->addSubview(scroll);
    setFilterScroll(scroll);

    auto indicator = std::make_shared<platform::PageControl>(
        platform::Rect(0, kPagesHeight, screen.width(), kIndicatorHeight));
    // The dots show where the pages are; they do not turn them.
    indicator->setUserInteractionEnabled(false);
    root->addSubview(indicator);
    setPageControl(indicator);

    _closeButton = platform::Button::create(platform::Button::Type::RoundedRect, kCloseFrame);
    _closeButton->setTitle("Close");
    _closeButton->setControlName(controls::kPickerClose);
    _closeButton->addAction([this](platform::Button&) { close(); });
    root->addSubview(_closeButton);

    setView(root);
}

void FilterPickerController::viewDidLoad() {
    platform::ViewController::viewDidLoad();
    const gpu::ProgramList& programs = _host.programArray();
    int pages = pageCountFor(int(programs.size()));
    platform::Rect scrollFrame = _filterScroll->frame();
    _filterScroll->setContentSize({pages * scrollFrame.width(), scrollFrame.height()});
    _pageControl->setNumberOfPages(pages);

    _grid = std::make_unique<PreviewGrid>(_host.context(), programs, this);
    for (const auto& preview : _grid->glViews())
        _filterScroll->addSubview(preview);
}

void FilterPickerController::viewDidDisappear(bool animated) {
    platform::ViewController::viewDidDisappear(animated);
    _host.restart();
}

void FilterPickerController::viewDidUnload() {
    platform::ViewController::viewDidUnload();
    _grid.reset();
    if (_filterScroll) _filterScroll->setDelegate(nullptr);
    _filterScroll.reset();
    _pageControl.reset();
    _closeButton.reset();
    // A drag cut short with its scroll view will never report its end: the next pages
    // start live.
    startAnimating();
}

const std::vector<std::shared_ptr<gpu::GLPostView>>& FilterPickerController::glViews() const {
    static const std::vector<std::shared_ptr<gpu::GLPostView>> none;
    return _grid ? _grid->glViews() : none;
}

void FilterPickerController::cameraUpdated(capture::PixelBuffer& frame) {
    if (!_animateSubviews || !_grid) return;
    const auto& camera = _host.camera();
    _grid->drawFrame(frame, camera ? camera->curCameraType() : capture::kCameraBack);
}

void FilterPickerController::filterSelected(gpu::ShaderProgram* program) {
    // Only a tap chooses: a finger lifted at the end of a drag of the pages (the preview hears
    // of it before the scroll view does), or after the picker went, chooses nothing.
    if (!parentViewController() || isTransitioning()) return;
    if (_filterScroll && _filterScroll->isDragging()) return;
    _host.setFilter(program);
    dismissModalViewControllerAnimated(false);
}

void FilterPickerController::close() {
    dismissModalViewControllerAnimated(false);
}

void FilterPickerController::scrollViewDidScroll(platform::ScrollView& scrollView) {
    double width = scrollView.frame().width();
    if (width <= 0 || !_pageControl) return;
    double x = scrollView.contentOffset().x;
    _pageControl->setCurrentPage(int(std::floor((x - width / 2) / width) + 1));
}

void FilterPickerController::scrollViewWillBeginDragging(platform::ScrollView&) {
    stopAnimating();
}

void FilterPickerController::scrollViewDidEndDecelerating(platform::ScrollView&) {
    startAnimating();
}

}  // namespace quorbit::picker
