#pragma once

#include <optional>

#include "capture/CaptureDevice.h"
#include "capture/FrameConverter.h"

struct spa_buffer;

namespace quorbit::capture {

// Turns the frames of a PipeWire stream, buffers in the negotiated format, into BGRA
// frames of the output size (the camera's live size unless told). Row lengths come with each
// buffer; a planar frame comes as one block of data per plane, or its planes one after the
// other in a single block.
class PipeWireFrameReader {
  public:
    PipeWireFrameReader(FrameConverter::Format format, int width, int height,
                        FrameSize out = {CaptureDevice::kFrameWidth, CaptureDevice::kFrameHeight})
        : _format(format), _width(width), _height(height), _out(out) {}

    FrameConverter::Format format() const { return _format; }
    int width() const { return _width; }
    int height() const { return _height; }

    // Whether buffer holds a usable frame; when it does, asks destination for a buffer and
    // converts the frame into the one it gets (see CaptureDevice::readFrame). A buffer
    // without data, marked corrupted or shorter than a frame is no usable frame.
    bool read(const spa_buffer& buffer, const CaptureDevice::Destination& destination);

  private:
    FrameConverter::Format _format;
    int _width, _height;
    FrameSize _out;
    std::optional<FrameConverter> _converter;  // for the row length last seen
};

}  // namespace quorbit::capture
