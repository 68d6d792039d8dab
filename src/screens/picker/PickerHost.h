#pragma once

#include <memory>

#include "capture/PixelBuffer.h"
#include "gpu/FilterCatalogue.h"
#include "platform/core/Geometry.h"
#include "platform/gl/GLContext.h"

namespace quorbit::picker {

// What the filter picker asks of the screen that opens it: the programs and the shared GL
// context to draw its previews with, the camera (its side decides mirroring), and the two
// answers it gives back. The camera screen is the one host.
class PickerHost {
  public:
    virtual ~PickerHost() = default;
    virtual const gpu::ProgramList& programArray() const = 0;
    virtual const std::shared_ptr<platform::GLContext>& context() const = 0;
    virtual const std::shared_ptr<capture::CameraTypeSource>& camera() const = 0;
    // Makes program (one of programArray) the live filter and keeps its slot.
    virtual void setFilter(gpu::ShaderProgram* program) = 0;
    // Called once the picker has gone: frames go back to the live view, touches come back.
    virtual void restart() = 0;
    // The camera picture's size as shown (upright), whose aspect ratio the previews keep
    // until frames come; a phone sensor's portrait picture unless the host knows better.
    virtual platform::Size pictureSize() const { return {480, 640}; }
};

}  // namespace quorbit::picker
