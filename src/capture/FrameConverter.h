#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace quorbit::capture {

// Turns one captured frame into tightly packed BGRA of the output size. Source rows may be
// padded (bytesPerRow larger than the pixels need). A source of another size is scaled to
// cover the output and cropped about its centre (nearest pixel). YUYV is decoded as BT.601
// limited range in integer arithmetic.
class FrameConverter {
  public:
    enum class Format { YUYV, BGR24, RGB24, BGRA32, RGBA32 };

    // The format of a V4L2 fourcc, when it is one of the above.
    static std::optional<Format> fromFourcc(std::uint32_t fourcc);
    static int bytesPerPixel(Format format);

    // bytesPerRow 0 means tightly packed rows.
    FrameConverter(Format format, int width, int height, std::size_t bytesPerRow = 0,
                   int outWidth = 640, int outHeight = 480);

    // Whether the layout is usable: positive sizes, rows long enough, YUYV width even.
    bool valid() const { return _valid; }
    // The bytes a whole source frame needs (the last row's padding may be missing).
    std::size_t requiredBytes() const;
    // Writes outWidth x outHeight BGRA into out. False, leaving out alone, when the
    // layout is not valid or size is shorter than a whole frame.
    bool convert(const std::uint8_t* source, std::size_t size, std::uint8_t* out) const;

  private:
    void convertRow(const std::uint8_t* row, std::uint8_t* out) const;
    void convertScaledRow(const std::uint8_t* row, std::uint8_t* out) const;

    Format _format;
    int _width, _height, _outWidth, _outHeight;
    std::size_t _bytesPerRow;
    bool _valid;
    bool _scaled;
    std::vector<int> _sourceX, _sourceY;  // source column and row of each output one
};

}  // namespace quorbit::capture
