#include "picker/PreviewGrid.h"

#include "gpu/FrameDrawing.h"
#include "platform/ui/ControlNames.h"

namespace quorbit::picker {

platform::Rect previewFrameForSlot(int slot) {
    int page = slot / 4, place = slot % 4;
    double x = kPageWidth * page + (place % 2 == 0 ? 11 : 165);
    double y = place < 2 ? 11 : 213;
    return {x, y, kPreviewWidth, kPreviewHeight};
}

int pageCountFor(int programCount) {
    return programCount / 4 + (programCount % 4 ? 1 : 0);
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
