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

// The value fed to every program's "u_scale": (1.0, the float nearest 1.33).
inline constexpr GLfloat kFrameScale[2] = {1.0f, 1.33f};

// The full-surface quad and the two texture-coordinate tables, in triangle-strip order. The
// frame's first column is at the top of the screen (a quarter turn clockwise); the back
// camera's first row is at the right-hand edge and the front picture is its mirror.
extern const GLfloat kSquareVertices[8];
extern const GLfloat kBackCameraTexCoords[8];
extern const GLfloat kFrontCameraTexCoords[8];

// Makes a texture of the frame in context (left current; linear, clamped), uploaded from its
// BGRA rows as they stand. The frame must be locked. The texture is deleted, in context,
// with the returned owner.
platform::GLTexture uploadFrameTexture(const capture::PixelBuffer& frame,
                                       const std::shared_ptr<platform::GLContext>& context);

// The middle of the view, in its normalised coordinates: x across, y down, 0..1 each.
inline constexpr platform::Point kViewCentre{0.5, 0.5};

// The frame coordinate that the table of cameraType draws at viewPoint (normalised view
// coordinates, x across, y down): the corners' texture coordinates interpolated there.
platform::Point frameCoordinateAt(int cameraType, platform::Point viewPoint);

// Draws texture through program as one quad covering view, after clearing it to clear, and
// presents it. The texture-coordinate table follows cameraType. A program that has no GL
// program object (its shaders are missing or broken) draws nothing: the surface shows the
// clear colour.
//
// Programs whose effect has a centre (the distortions) take it as the uniform "u_center":
// centre is given as a point of the view (normalised view coordinates) and fed as the frame
// coordinate drawn there, so that the effect sits under that point of the view whichever
// camera table (mirrored or not) is in use. Other programs do not declare it. Programs whose
// look depends on how many pixels the surface has take "u_viewSize", its size in pixels.
void drawFrameQuad(GLView& view, ShaderProgram& program, GLuint texture, int cameraType,
                   const platform::Color& clear, platform::Point centre = kViewCentre);

// The view's picture as the shutter takes it: RGBA, top row first, at the framebuffer's size
// (platform::readBoundFramebuffer on the view's framebuffer). Makes the view's context
// current and binds its framebuffer first, so whatever else was drawn since does not matter.
platform::Image readFramebufferImage(GLView& view);

}  // namespace quorbit::gpu
