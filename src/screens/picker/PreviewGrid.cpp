#include "screens/picker/PreviewGrid.h"

#include <algorithm>
#include <cmath>

#include "gpu/FrameDrawing.h"
#include "platform/ui/ControlNames.h"

namespace quorbit::picker {

namespace {
constexpr double kMargin = 11;
constexpr double kGap = 10;
}  // namespace

PreviewArrangement PreviewArrangement::forScreen(platform::Size screen) {
    double shorter = std::min(screen.width, screen.height);
    if (shorter >= 1400) return {4, 4};
    if (shorter >= 800)
        return screen.width >= screen.height ? PreviewArrangement{4, 2} : PreviewArrangement{2, 4};
    return {2, 2};
}

platform::Rect previewFrame(int slot, PreviewArrangement arrangement, platform::Size page,
                            platform::Size picture) {
    int perPage = std::max(1, arrangement.perPage());
    int pageIndex = slot / perPage, place = slot % perPage;
    int column = place % arrangement.columns, row = place / arrangement.columns;
    double cellWidth =
        (page.width - 2 * kMargin - (arrangement.columns - 1) * kGap) / arrangement.columns;
    double cellHeight =
        (page.height - 2 * kMargin - (arrangement.rows - 1) * kGap) / arrangement.rows;
    platform::Rect cell(page.width * pageIndex + kMargin + column * (cellWidth + kGap),
                        kMargin + row * (cellHeight + kGap), std::max(0.0, cellWidth),
                        std::max(0.0, cellHeight));
    if (picture.width <= 0 || picture.height <= 0) return cell;
    double scale = std::min(cell.width() / picture.width, cell.height() / picture.height);
    double w = std::floor(picture.width * scale), h = std::floor(picture.height * scale);
    return {std::round(cell.midX() - w / 2), std::round(cell.midY() - h / 2), w, h};
}

platform::Rect previewFrameForSlot(int slot) {
    return previewFrame(slot, {}, {kPageWidth, kPageHeight}, {3, 4});
}

int pageCountFor(int programCount, int perPage) {
    perPage = std::max(1, perPage);
    return programCount / perPage + (programCount % perPage ? 1 : 0);
}

void PreviewGrid::layout(PreviewArrangement arrangement, platform::Size page,
                         platform::Size picture) {
    for (size_t i = 0; i < _glViews.size(); ++i) {
        _glViews[i]->setFrame(previewFrame(int(i), arrangement, page, picture));
        _glViews[i]->setMaximumFramebufferSize(int(picture.width), int(picture.height));
    }
}

PreviewGrid::PreviewGrid(std::shared_ptr<platform::GLContext> context,
                         const gpu::ProgramList& programs, gpu::FilterSelectionDelegate* delegate)
    : _context(std::move(context)), _programs(programs) {
    for (size_t i = 0; i < _programs.size(); ++i) {
        auto view = std::make_shared<gpu::GLPostView>(previewFrameForSlot(int(i)));
        view->setContext(_context);
        view->setBackgroundColor(platform::Color::black());
        view->setOpaque(true);
        view->setPostShader(_programs[i]);
        view->setUserInteractionEnabled(true);
        view->setIsPreviewWindow(true);
        view->setDelegate(delegate);
        view->setControlName(controls::preview(int(i)));
        _glViews.push_back(std::move(view));
    }
}

void PreviewGrid::drawFrame(capture::PixelBuffer& frame, int cameraType) {
    // Nothing is uploaded without the shared context current (no context, nothing shown).
    if (_glViews.empty() || !_context || !_context->makeCurrent()) return;
    frame.lockBaseAddress(0);
    _frameTexture.upload(frame, _context);
    for (size_t k = 0; k < _glViews.size(); ++k) {
        gpu::drawFrameQuad(*_glViews[k], *_programs[k], _frameTexture.name(), cameraType,
                           {1, 0, 1, 1});
    }
    _frameTexture.reset();
    frame.unlockBaseAddress(0);
}

}  // namespace quorbit::picker
