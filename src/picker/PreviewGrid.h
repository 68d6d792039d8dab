#pragma once

#include <memory>
#include <vector>

#include "capture/PixelBuffer.h"
#include "gpu/FilterCatalogue.h"
#include "gpu/FrameDrawing.h"
#include "gpu/GLPostView.h"
#include "platform/gl/GLContext.h"

namespace quorbit::picker {

inline constexpr double kPageWidth = 320;
inline constexpr double kPreviewWidth = 144;
inline constexpr double kPreviewHeight = 192;

// Where slot i's preview lies in the picker's scrolled content: page i / 4, 2 x 2 places
// with 11-point outer margins and 10 points between columns and rows.
platform::Rect previewFrameForSlot(int slot);

// Number of pages for n programs, four to a page.
int pageCountFor(int programCount);

// The filter picker's live previews: one 144 x 192 GL surface per program, each drawing the
// camera frame through its own program. One upload of a frame serves all of them.
class PreviewGrid {
  public:
    PreviewGrid(std::shared_ptr<platform::GLContext> context, const gpu::ProgramList& programs,
                gpu::FilterSelectionDelegate* delegate);

    const std::vector<std::shared_ptr<gpu::GLPostView>>& glViews() const { return _glViews; }

    // Draws the frame through every preview's program and presents each preview.
    void drawFrame(capture::PixelBuffer& frame, int cameraType);

  private:
    std::shared_ptr<platform::GLContext> _context;
    gpu::ProgramList _programs;
    gpu::CameraTexture _frameTexture;  // the frame being drawn, and what turning it keeps
    std::vector<std::shared_ptr<gpu::GLPostView>> _glViews;
};

}  // namespace quorbit::picker
