#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "capture/CaptureDevice.h"
#include "capture/FrameConverter.h"

struct spa_pod;
struct spa_pod_builder;

namespace quorbit::capture {

// The frame formats of a PipeWire camera node: what a node offers (its EnumFormat
// parameters), which of the offers the camera asks for, and the format object that asks.
class PipeWireFormat {
  public:
    using Size = FrameSize;
    // One EnumFormat parameter of a node: its pixel formats and the frame sizes it offers
    // for each. Sizes are a list, or a range from min to max (sizes[0], sizes[1]).
    struct Offer {
        std::string subtype;                 // "raw", "mjpg", "h264", ...
        std::vector<std::uint32_t> formats;  // SPA video formats (raw only)
        std::vector<Size> sizes;
        bool sizeRange = false;
    };
    // What the camera asks the node for.
    struct Choice {
        std::uint32_t format = 0;  // SPA video format
        Size size;
        bool operator==(const Choice&) const = default;
    };

    // The converter format of an SPA video format; none for formats that are not converted.
    static std::optional<FrameConverter::Format> converterFormat(std::uint32_t videoFormat);
    // "YUY2", "NV12", ... ("format 99" for one without a name).
    static std::string formatName(std::uint32_t videoFormat);

    // Reads one EnumFormat parameter; none when it is no video format.
    static std::optional<Offer> parse(const spa_pod* param);
    // "YUY2 640x480 1280x720", "NV12 320x240-1920x1080", "MJPG 1280x720": one line a format,
    // for listings.
    static std::vector<std::string> describe(const Offer& offer);

    // The format to ask for among the offers: the first convertible one in the order YUY2,
    // then the RGB and BGR formats, then NV12, then I420; at wanted (the live size unless
    // told), else the smallest size that covers it, else the largest. exactly: the first of
    // those formats offered at wanted itself, for a still. None when nothing offered can be
    // converted (at wanted, when exactly).
    static std::optional<Choice> choose(const std::vector<Offer>& offers,
                                        Size wanted = {CaptureDevice::kFrameWidth,
                                                       CaptureDevice::kFrameHeight},
                                        bool exactly = false);
    // The sizes a still can be taken at, once each: those offered in a convertible format,
    // the largest of a range.
    static std::vector<Size> stillSizes(const std::vector<Offer>& offers);

    // The EnumFormat object asking for choice at any frame rate up to the node's, 24 a
    // second preferred.
    static const spa_pod* build(spa_pod_builder& builder, const Choice& choice);
};

}  // namespace quorbit::capture
