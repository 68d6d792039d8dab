#pragma once

#include <memory>
#include <string>
#include <vector>

#include "capture/PixelBuffer.h"
#include "gpu/GLPostView.h"
#include "platform/ui/Button.h"
#include "platform/ui/PageControl.h"
#include "platform/ui/ScrollView.h"
#include "platform/ui/ViewController.h"
#include "screens/picker/PickerHost.h"
#include "screens/picker/PreviewGrid.h"

namespace quorbit::picker {

// The screen on which the user chooses the live filter: every filter slot as a live
// preview, four to a page in a 2 x 2 grid, on pages scrolled sideways with a page indicator
// below them and a close control.
//
// While it is up, the host hands it every camera frame (cameraUpdated): one upload of the
// frame is drawn through each slot's program into that slot's preview, on every page. From
// the start of a drag until the pages have settled, frames are ignored and the previews keep
// their last picture. A tap on a preview makes its program the host's filter and closes the
// picker; the close control closes it without choosing. Either way the picker goes without
// animation and tells the host to restart once it has disappeared.
class FilterPickerController : public platform::ViewController,
                               public capture::FrameConsumer,
                               public gpu::FilterSelectionDelegate {
  public:
    // The host outlives the picker (it owns it).
    explicit FilterPickerController(PickerHost& host);
    ~FilterPickerController() override;

    PickerHost& host() const { return _host; }

    // The screen: the paging scroll view over the top, the page indicator and the close
    // control below it.
    void loadView() override;
    // Builds the previews, one per program of the host, and sizes the pages to them.
    void viewDidLoad() override;
    void viewDidDisappear(bool animated) override;
    void viewDidUnload() override;

    // A camera frame from the host (main thread), drawn into every preview unless frozen.
    void cameraUpdated(capture::PixelBuffer& frame) override;

    // A tap on a preview: program becomes the host's filter, then the picker closes.
    void filterSelected(gpu::ShaderProgram* program) override;
    // The close control's action: closes the picker, leaving the filter as it was.
    void close();

    // The pages: how many previews one page holds, the page in view and how many pages
    // there are (0 until the view is loaded). showPage scrolls to a page at once, clamped
    // to the first and last.
    int previewsPerPage() const;
    int currentPage() const;
    int pageCount() const;
    void showPage(int page);
    // Chooses the preview at index (0 = the first) of the page in view, as a tap on it
    // would; false where that page has no such preview.
    bool choosePreview(int index);

    // The keyboard: Escape closes; Left or Page Up and Right or Page Down turn the pages
    // (held down, they keep turning); 1 to 9 and 0 choose the first to tenth preview of the
    // page in view. The wheel turns one page a notch, either way round.
    bool handleKey(const platform::KeyEvent& event) override;
    bool handleWheel(int right, int down) override;

    // Whether frames are drawn into the previews.
    bool animateSubviews() const { return _animateSubviews; }
    void startAnimating() { _animateSubviews = true; }
    void stopAnimating() { _animateSubviews = false; }

    // What the scroll view reports to the picker.
    void scrollViewDidScroll(platform::ScrollView& scrollView);
    void scrollViewWillBeginDragging(platform::ScrollView& scrollView);
    void scrollViewDidEndDecelerating(platform::ScrollView& scrollView);

    // The previews in slot order (empty until the view is loaded and after it is unloaded).
    const std::vector<std::shared_ptr<gpu::GLPostView>>& glViews() const;
    const std::shared_ptr<platform::ScrollView>& filterScroll() const { return _filterScroll; }
    void setFilterScroll(std::shared_ptr<platform::ScrollView> scroll) {
        _filterScroll = std::move(scroll);
    }
    const std::shared_ptr<platform::PageControl>& pageControl() const { return _pageControl; }
    void setPageControl(std::shared_ptr<platform::PageControl> control) {
        _pageControl = std::move(control);
    }
    const std::shared_ptr<platform::Button>& closeButton() const { return _closeButton; }

  private:
    // Lays the pages, the indicator and the close control out for a screen of that size.
    void layoutPicker(platform::Size screen);
    PreviewArrangement _arrangement;
    // The camera picture as shown, whose aspect ratio the previews keep.
    platform::Size _picture;
    PickerHost& _host;
    std::unique_ptr<PreviewGrid> _grid;
    bool _animateSubviews = true;
    std::shared_ptr<platform::ScrollView> _filterScroll;
    std::shared_ptr<platform::PageControl> _pageControl;
    std::shared_ptr<platform::Button> _closeButton;
    platform::ScrollViewDelegate _scrollDelegate;
};

}  // namespace quorbit::picker
