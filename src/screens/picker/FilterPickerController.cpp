#include "screens/picker/FilterPickerController.h"

#include <algorithm>
#include <cmath>

#include "gpu/FrameDrawing.h"
#include "platform/core/Translate.h"
#include "platform/ui/ControlNames.h"
#include "platform/ui/LayoutView.h"
#include "platform/ui/Window.h"

namespace quorbit::picker {

namespace {

// The screen below the pages: the indicator, then the close control.
constexpr double kBelowPages = 64;
constexpr double kIndicatorHeight = 20;
constexpr double kCloseWidth = 120, kCloseHeight = 34, kCloseTop = 22;

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
    auto root = std::make_shared<platform::LayoutView>(
        screen, [this](platform::LayoutView& view) { layoutPicker(view.bounds().size); });
    root->setBackgroundColor(platform::Color{0.07, 0.07, 0.08, 1});

    auto scroll = std::make_shared<platform::ScrollView>();
    scroll->setBackgroundColor(platform::Color::black());
    scroll->setPagingEnabled(true);
    scroll->setDelegate(&_scrollDelegate);
    root->addSubview(scroll);
    setFilterScroll(scroll);

    auto indicator = std::make_shared<platform::PageControl>();
    // The dots show where the pages are; they do not turn them.
    indicator->setUserInteractionEnabled(false);
    root->addSubview(indicator);
    setPageControl(indicator);

    _closeButton = platform::Button::create(platform::Button::Type::RoundedRect,
                                            platform::Rect(0, 0, kCloseWidth, kCloseHeight));
    _closeButton->setTitle(platform::tr("Close"));
    _closeButton->setControlName(controls::kPickerClose);
    _closeButton->addAction([this](platform::Button&) { close(); });
    root->addSubview(_closeButton);

    setView(root);
}

void FilterPickerController::viewDidLoad() {
    platform::ViewController::viewDidLoad();
    const gpu::ProgramList& programs = _host.programArray();
    if (_picture.width <= 0) _picture = _host.pictureSize();
    _grid = std::make_unique<PreviewGrid>(_host.context(), programs, this);
    for (const auto& preview : _grid->glViews())
        _filterScroll->addSubview(preview);
    layoutPicker(view()->bounds().size);
}

int FilterPickerController::previewsPerPage() const {
    return _arrangement.perPage();
}

void FilterPickerController::layoutPicker(platform::Size screen) {
    if (!_filterScroll || !_pageControl || !_closeButton) return;
    // The page in view stays in view.
    double oldWidth = _filterScroll->frame().width();
    int page = oldWidth > 0 ? int(std::lround(_filterScroll->contentOffset().x / oldWidth)) : 0;
    _arrangement = PreviewArrangement::forScreen(screen);
    platform::Size pageSize{screen.width, std::max(0.0, screen.height - kBelowPages)};
    int pages = pageCountFor(int(_host.programArray().size()), _arrangement.perPage());
    _filterScroll->setFrame(platform::Rect({0, 0}, pageSize));
    _filterScroll->setContentSize({pages * pageSize.width, pageSize.height});
    _pageControl->setFrame(platform::Rect(0, pageSize.height, screen.width, kIndicatorHeight));
    _pageControl->setNumberOfPages(pages);
    _closeButton->setFrame(platform::Rect(std::floor((screen.width - kCloseWidth) / 2),
                                          pageSize.height + kCloseTop, kCloseWidth, kCloseHeight));
    if (_grid) _grid->layout(_arrangement, pageSize, _picture);
    page = std::clamp(page, 0, std::max(0, pages - 1));
    _filterScroll->setContentOffset({page * pageSize.width, 0});
    _pageControl->setCurrentPage(page);
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
    platform::Size picture = gpu::uprightSize(frame.width(), frame.height(), frame.rotation());
    if (picture != _picture) {
        _picture = picture;
        if (isViewLoaded()) layoutPicker(view()->bounds().size);
    }
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

int FilterPickerController::pageCount() const {
    int perPage = std::max(1, previewsPerPage());
    int previews = int(glViews().size());
    return (previews + perPage - 1) / perPage;
}

int FilterPickerController::currentPage() const {
    if (!_filterScroll) return 0;
    double width = _filterScroll->bounds().width();
    if (width <= 0) return 0;
    int page = int(std::lround(_filterScroll->contentOffset().x / width));
    return std::clamp(page, 0, std::max(0, pageCount() - 1));
}

void FilterPickerController::showPage(int page) {
    int pages = pageCount();
    if (!_filterScroll || pages == 0) return;
    page = std::clamp(page, 0, pages - 1);
    platform::Point offset = _filterScroll->contentOffset();
    offset.x = page * _filterScroll->bounds().width();
    _filterScroll->setContentOffset(offset, false);
}

bool FilterPickerController::choosePreview(int index) {
    if (index < 0 || index >= previewsPerPage()) return false;
    size_t slot = size_t(currentPage() * previewsPerPage() + index);
    if (slot >= glViews().size()) return false;
    filterSelected(glViews()[slot]->postShader());
    return true;
}

bool FilterPickerController::handleKey(const platform::KeyEvent& event) {
    using Key = platform::KeyEvent::Key;
    if (event.control || event.alt || event.meta) return false;
    switch (event.key) {
        case Key::Escape:
            if (!event.repeat) close();
            return true;
        case Key::Left:
        case Key::PageUp:
            showPage(currentPage() - 1);
            return true;
        case Key::Right:
        case Key::PageDown:
            showPage(currentPage() + 1);
            return true;
        case Key::Character:
            if (event.character < U'0' || event.character > U'9') return false;
            // A held digit chooses once; the picker is gone by the time it repeats.
            if (!event.repeat)
                choosePreview(event.character == U'0' ? 9 : int(event.character - U'1'));
            return true;
        default:
            return false;
    }
}

bool FilterPickerController::handleWheel(int right, int down) {
    if (right + down == 0) return false;
    showPage(currentPage() + right + down);
    return true;
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
