#pragma once

#include <GLES2/gl2.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "gpu/FrameDrawing.h"
#include "gpu/ShaderProgram.h"
#include "platform/core/Geometry.h"
#include "platform/gl/GLContext.h"
#include "platform/gl/GLObject.h"

namespace quorbit::gpu {

// The frames of a recording: each camera frame drawn through the look again, offscreen at
// the picture's own size (the camera's size turned upright, whatever the window's), and read
// back. The texture and framebuffer are kept from one frame to the next and made again only
// when the size changes; everything is deleted in its own context by the owners.
//
// The read is a plain glReadPixels: the context is GLES 2, which has no pixel-buffer objects
// to read into without waiting.
class RecordingPass {
  public:
    // Draws texture (a CameraTexture's) through program at width x height, with cameraType's
    // table and the distortion centre at centre (normalised view coordinates), as the live
    // view draws it, and reads it back: RGBA, top row first, opaque. The pixels stay valid
    // until the next call. Null when the program has no GL program or GL fails.
    const std::uint8_t* draw(const std::shared_ptr<platform::GLContext>& context,
                             ShaderProgram& program, GLuint texture, int width, int height,
                             int cameraType, platform::Point centre = kViewCentre);

  private:
    platform::GLTexture _target;
    platform::GLFramebuffer _framebuffer;
    int _width = 0, _height = 0;
    std::vector<std::uint8_t> _rows, _picture;
};

}  // namespace quorbit::gpu
