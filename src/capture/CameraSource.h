#pragma once

#include <optional>
#include <string>

#include "capture/CaptureDevice.h"
#include "platform/core/Error.h"

namespace quorbit::capture {

// Which frame sources the camera uses, as written in QUORBIT_CAMERA and --camera:
//   pipewire             every camera node PipeWire offers
//   pipewire:NAME        the camera node of that node name only
//   v4l2                 every V4L2 video-capture device
//   v4l2:/dev/videoN     that device only
//   synthetic            the moving test scene as a front and a back camera
//   synthetic:front      the test scene as one camera (also synthetic:back)
//   synthetic:rotation=N the test scene as a sensor of that rotation (0, 90, 180, 270; 90
//                        without it), alone or after the side: synthetic:back:rotation=0
//   synthetic:size=WxH   the test scene offering stills up to W x H (at most 4000 x 3000),
//                        after the side and rotation if any: synthetic:front:size=4000x3000
//   image:PATH           a still picture (PNG or JPEG) delivered as frames
// With no choice: the PipeWire cameras when a PipeWire daemon answers and offers any, else
// the V4L2 cameras, else the test scene.
struct CameraSource {
    enum class Kind { Default, V4L2, Synthetic, Image, PipeWire };

    Kind kind = Kind::Default;
    std::string path;  // the V4L2 device or PipeWire node name (empty: all), or the picture
    bool front = true, back = true;   // which synthetic cameras there are
    int rotation = 90;                // the synthetic cameras' rotation
    std::optional<FrameSize> size{};  // the synthetic cameras' largest still
    static constexpr FrameSize kMaxSyntheticSize{4000, 3000};

    static platform::Result<CameraSource> parse(const std::string& text);
    static CameraSource synthetic() { return CameraSource{Kind::Synthetic, {}, true, true}; }
    static CameraSource image(std::string path) {
        return CameraSource{Kind::Image, std::move(path), true, true};
    }

    // The text parse() reads back.
    std::string toString() const;

    // The process-wide choice: the one made with select() (the --camera option), else
    // QUORBIT_CAMERA (a bad value is logged and ignored), else the default.
    static CameraSource current();
    static void select(const CameraSource& source);
};

}  // namespace quorbit::capture
