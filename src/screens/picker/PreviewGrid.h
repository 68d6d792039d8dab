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
// The pages' height in a 320 x 480 window.
inline constexpr double kPageHeight = 416;

// How many previews a page holds: columns x rows. A phone-sized window shows 2 x 2 on four
// pages; a large one shows more on each page, in the same order of slots (left to right, then
// top to bottom, then on to the next page).
struct PreviewArrangement {
    int columns = 2;
    int rows = 2;
    int perPage() const { return columns * rows; }
    // 2 x 2 unless both sides of the window have 800 points or more: then 4 x 2 (landscape)
    // or 2 x 4 (portrait), and 4 x 4 from 1400 points on both sides.
    static PreviewArrangement forScreen(platform::Size screen);
};

// Where slot i's preview lies in the picker's scrolled content, on pages of size page:
// page i / perPage, places with 11-point outer margins and 10 points between columns and rows,
// each preview the largest rectangle of the picture's aspect ratio centred in its place.
platform::Rect previewFrame(int slot, PreviewArrangement arrangement, platform::Size page,
                            platform::Size picture);
// The same on the 320 x 416 pages of a 320 x 480 window, for a 3:4 picture.
platform::Rect previewFrameForSlot(int slot);

// Number of pages for n programs, perPage to a page.
int pageCountFor(int programCount, int perPage = 4);

// The filter picker's live previews: one 144 x 192 GL surface per program, each drawing the
// camera frame through its own program. One upload of a frame serves all of them.
class PreviewGrid {
  public:
    PreviewGrid(std::shared_ptr<platform::GLContext> context, const gpu::ProgramList& programs,
                gpu::FilterSelectionDelegate* delegate);

    const std::vector<std::shared_ptr<gpu::GLPostView>>& glViews() const { return _glViews; }

    // Puts every preview in its place (see previewFrame) and caps its surface at the picture's
    // size.
    void layout(PreviewArrangement arrangement, platform::Size page, platform::Size picture);

    // Draws the frame through every preview's program and presents each preview.
    void drawFrame(capture::PixelBuffer& frame, int cameraType);

  private:
    std::shared_ptr<platform::GLContext> _context;
    gpu::ProgramList _programs;
    gpu::CameraTexture _frameTexture;  // the frame being drawn, and what turning it keeps
    std::vector<std::shared_ptr<gpu::GLPostView>> _glViews;
};

}  // namespace quorbit::picker
