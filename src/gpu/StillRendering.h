#pragma once

#include <GLES2/gl2.h>

#include <memory>
#include <optional>

#include "capture/CaptureDevice.h"
#include "gpu/FrameDrawing.h"
#include "gpu/ShaderProgram.h"
#include "platform/core/Error.h"
#include "platform/core/Geometry.h"
#include "platform/gfx/Image.h"
#include "platform/gl/GLContext.h"

namespace quorbit::gpu {

// Why a still could not be drawn; the codes of the "quorbit.still" domain.
enum class StillError : long {
    TooLarge = 1,    // the frame is larger than a texture the GL can hold
    NoMemory = 2,    // not enough memory for the frame, the picture or a GL object
    GLFailed = 3,    // a GL call failed (an incomplete framebuffer, an error raised)
    NoProgram = 4,   // the look's program has no GL program (its shaders are broken)
    EmptyFrame = 5,  // the frame has no pixels
};
constexpr const char* errorDomain(StillError) {
    return "quorbit.still";
}

// What the GL lets one offscreen pass have: the largest texture side, renderbuffer side and
// viewport. A still is drawn in tiles no larger than these (and kMaxTile), so that a frame
// larger than the GL's framebuffers still gives a photo at its own size.
struct RenderLimits {
    int maxTextureSize = 0;
    int maxRenderbufferSize = 0;
    int maxViewportWidth = 0;
    int maxViewportHeight = 0;

    // The current context's limits.
    static RenderLimits query();
    // The side of the square tiles a still is drawn in.
    int tileSide() const;
    static constexpr int kMaxTile = 2048;
};

// Turns a still as the sensor gave it into the layout the programs draw from (that of a
// sensor at rotation 90, see FrameDrawing.h), in place: the CPU's version of the live view's
// turning pass, for frames that may be larger than a framebuffer. Any thread. A frame at
// rotation 90 stays as it is. False (and the still unchanged) when there is no memory for it.
bool turnToDrawingLayout(capture::StillFrame& still);

// The still's size as shown upright, once in the drawing layout.
inline platform::Size stillUprightSize(const capture::StillFrame& still) {
    return uprightSize(still.width, still.height, still.rotation);
}

// Draws still (in the drawing layout) through program as the live view draws its frames, at
// the still's upright size: the same texture-coordinate table for cameraType, the same
// uniforms for the whole picture (so the look's proportions are the view's), the distortion
// centre at the same point of the picture. The picture is drawn in tiles (limits, the
// context's own when none are given) and read back as RGBA, top row first, opaque. The
// still's pixels are let go once uploaded, to keep the peak of memory low. The context is
// made current; the framebuffer binding is left at 0.
platform::Result<platform::Image> renderStill(const std::shared_ptr<platform::GLContext>& context,
                                              ShaderProgram& program, capture::StillFrame still,
                                              int cameraType, platform::Point centre = kViewCentre,
                                              std::optional<RenderLimits> limits = std::nullopt);

// Draws texture (a frame in the drawing layout) through program as renderStill does, into a
// picture of width x height, in tiles (limits, the context's own when none are given), and
// reads it back: RGBA, top row first, opaque.
platform::Result<platform::Image> drawPicture(const std::shared_ptr<platform::GLContext>& context,
                                              ShaderProgram& program, GLuint texture, int width,
                                              int height, int cameraType,
                                              platform::Point centre = kViewCentre,
                                              std::optional<RenderLimits> limits = std::nullopt);

// A camera frame (locked) drawn through program offscreen at width x height, as the live view
// would draw it there with cameraType's table: the photo of a view that shows it otherwise
// (the front camera's picture unmirrored).
platform::Result<platform::Image> renderFrame(const std::shared_ptr<platform::GLContext>& context,
                                              ShaderProgram& program,
                                              const capture::PixelBuffer& frame, int width,
                                              int height, int cameraType,
                                              platform::Point centre = kViewCentre);

}  // namespace quorbit::gpu
