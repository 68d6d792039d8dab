#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace quorbit::capture {

// Turns one captured frame into tightly packed BGRA of the output size. Source rows may be
// padded (bytesPerRow larger than the pixels need). A source of another size is scaled to
// cover the output and cropped about its centre (nearest pixel). YUV formats are decoded as
// BT.601 limited range in integer arithmetic.
//
// Packed formats: YUYV (Y0 U Y1 V), BGR24 and RGB24, and the four-byte formats, whose
// fourth byte is alpha (BGRA32, RGBA32) or padding (BGRX32, RGBX32; alpha becomes 255).
// Planar formats, whose chroma planes have half the width and half the height: NV12 (a
// luma plane, then one of interleaved U and V) and I420 (luma, U, then V).
class FrameConverter {
  public:
    enum class Format { YUYV, BGR24, RGB24, BGRA32, RGBA32, BGRX32, RGBX32, NV12, I420 };

    // One plane of a planar frame.
    struct Plane {
        const std::uint8_t* data = nullptr;
        std::size_t size = 0;         // bytes at data
        std::size_t bytesPerRow = 0;  // 0: tightly packed
    };

    // The format of a V4L2 fourcc, when it is one of the above.
    static std::optional<Format> fromFourcc(std::uint32_t fourcc);
    // Bytes per pixel of a packed format, of the luma plane of a planar one.
    static int bytesPerPixel(Format format);
    static bool isPlanar(Format format);
    // Planes of a planar format (2 or 3); 1 for packed formats.
    static int planeCount(Format format);

    // bytesPerRow 0 means tightly packed rows (the luma plane's rows for planar formats).
    FrameConverter(Format format, int width, int height, std::size_t bytesPerRow = 0,
                   int outWidth = 640, int outHeight = 480);

    Format format() const { return _format; }
    int width() const { return _width; }
    int height() const { return _height; }
    std::size_t bytesPerRow() const { return _bytesPerRow; }

    // Whether the layout is usable: positive sizes, rows long enough, YUYV width even.
    bool valid() const { return _valid; }
    // The bytes a whole source frame needs (the last row's padding may be missing). A planar
    // frame in one block has its planes one after the other, each chroma row half as long
    // as a luma row (NV12: as long).
    std::size_t requiredBytes() const;
    // Writes outWidth x outHeight BGRA into out. False, leaving out alone, when the
    // layout is not valid or size is shorter than a whole frame.
    bool convert(const std::uint8_t* source, std::size_t size, std::uint8_t* out) const;
    // The same for a planar frame whose planes lie apart (planeCount() of them); a plane's
    // bytesPerRow 0 means rows as in a single block. Packed formats take planes[0].
    bool convert(const Plane* planes, std::uint8_t* out) const;

  private:
    // Bytes of a whole plane whose rows are bytesPerRow apart and rowBytes long.
    static std::size_t planeBytes(std::size_t bytesPerRow, std::size_t rowBytes, int rows);
    std::size_t chromaRowBytes() const;
    std::size_t chromaBytesPerRow() const;
    void convertRow(const std::uint8_t* row, std::uint8_t* out) const;
    void convertScaledRow(const std::uint8_t* row, std::uint8_t* out) const;
    void convertPlanarRow(const Plane* planes, int sourceY, std::uint8_t* out) const;

    Format _format;
    int _width, _height, _outWidth, _outHeight;
    std::size_t _bytesPerRow;
    bool _valid;
    bool _scaled;
    std::vector<int> _sourceX, _sourceY;  // source column and row of each output one
};

}  // namespace quorbit::capture
