#pragma once

#include <GLES2/gl2.h>

#include "capture/PixelBuffer.h"
#include "gpu/GLView.h"
#include "gpu/ShaderProgram.h"
#include "platform/core/Geometry.h"
#include "platform/gfx/Image.h"
#include "platform/gl/GLContext.h"
#include "platform/gl/GLObject.h"

namespace quorbit::gpu {

// The full-surface quad and the two texture-coordinate tables, in triangle-strip order. The
// programs draw from a texture in one layout, that of a sensor at rotation 90: s runs down
// the screen and t across. The texture's first column is at the top of the screen (a quarter
// turn clockwise); the back camera's first row is at the right-hand edge and the front
// picture is its mirror.
extern const GLfloat kSquareVertices[8];
extern const GLfloat kBackCameraTexCoords[8];
extern const GLfloat kFrontCameraTexCoords[8];

// The size of a width x height frame of that rotation as it is shown upright: width and
// height swapped at 90 and 270.
platform::Size uprightSize(int width, int height, int rotation);

// A camera frame as the texture the programs draw from. upload() makes a texture of the frame
// from its BGRA rows as they stand; at rotation 90 that is the texture drawn. At any other
// rotation a pass at the frame's size turns it into the layout above (so that it shows
// upright), into a texture that is kept, with its framebuffer and the pass's program, and
// drawn into again by the next frame of the same size. Everything is made in the upload's
// context and deleted in it by the owners.
class CameraTexture {
  public:
    // Uploads the frame, which must be locked, in context (left current); false, with no
    // texture, without a context or when GL made nothing.
    bool upload(const capture::PixelBuffer& frame,
                const std::shared_ptr<platform::GLContext>& context);
    // The texture to draw from; 0 before an upload and after reset().
    GLuint name() const { return _current; }
    // Lets go of the uploaded frame. What the turning pass keeps stays for the next frame.
    void reset();

  private:
    bool turn(const capture::PixelBuffer& frame,
              const std::shared_ptr<platform::GLContext>& context);

    platform::GLTexture _frame;  // the frame as uploaded
    platform::GLTexture _turned;
    platform::GLFramebuffer _turnedFramebuffer;
    platform::GLProgram _turnProgram;
    int _turnedWidth = 0, _turnedHeight = 0;
    GLuint _current = 0;
};

// The middle of the view, in its normalised coordinates: x across, y down, 0..1 each.
inline constexpr platform::Point kViewCentre{0.5, 0.5};

// The frame coordinate that the table of cameraType draws at viewPoint (normalised view
// coordinates, x across, y down): the corners' texture coordinates interpolated there.
platform::Point frameCoordinateAt(int cameraType, platform::Point viewPoint);

// Draws texture (a CameraTexture's) through program as one quad covering view, after
// clearing it to clear, and presents it. The texture-coordinate table follows cameraType. A
// program that has no GL program object (its shaders are missing or broken) draws nothing:
// the surface shows the clear colour.
//
// Every program's "u_scale" is (1.0, the framebuffer's height / its width): distances in s
// and t times u_scale.yx are in screen widths, so the distortions stay round on screen at
// any aspect ratio.
//
// Programs whose effect has a centre (the distortions) take it as the uniform "u_center":
// centre is given as a point of the view (normalised view coordinates) and fed as the frame
// coordinate drawn there, so that the effect sits under that point of the view whichever
// camera table (mirrored or not) is in use. Other programs do not declare it. Programs whose
// look depends on how many pixels the surface has take "u_viewSize", its size in pixels.
void drawFrameQuad(GLView& view, ShaderProgram& program, GLuint texture, int cameraType,
                   const platform::Color& clear, platform::Point centre = kViewCentre);

// The uniforms one picture's quads are drawn with: "u_scale" from its aspect, "u_viewSize" its
// size in pixels, and "u_center" the frame coordinate under the centre (see drawFrameQuad).
struct QuadUniforms {
    GLfloat aspect = 1;  // height / width
    GLfloat width = 0, height = 0;
    platform::Point centre;  // in frame coordinates
};
QuadUniforms quadUniforms(int cameraType, platform::Size picture,
                          platform::Point viewCentre = kViewCentre);

// Draws texture through program as one quad covering the bound framebuffer's viewport, with
// texCoords (strip order) and uniforms. Nothing for a program without a GL program object.
void drawQuad(ShaderProgram& program, GLuint texture, const GLfloat texCoords[8],
              const QuadUniforms& uniforms);

// The view's picture as the shutter takes it: RGBA, top row first, at the framebuffer's size
// (platform::readBoundFramebuffer on the view's framebuffer). Makes the view's context
// current and binds its framebuffer first, so whatever else was drawn since does not matter.
platform::Image readFramebufferImage(GLView& view);

}  // namespace quorbit::gpu
