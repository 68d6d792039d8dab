#include "capture/FrameConverter.h"

#include <linux/videodev2.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <array>
#include <cstring>

namespace quorbit::capture {
namespace {

// BT.601 limited range, scaled by 256:
//   R = 1.164 (Y - 16) + 1.596 (V - 128)
//   G = 1.164 (Y - 16) - 0.391 (U - 128) - 0.813 (V - 128)
//   B = 1.164 (Y - 16) + 2.018 (U - 128)
struct YuvTables {
    std::array<int, 256> y{}, rv{}, gu{}, gv{}, bu{};
    // Sums shifted down by 8 stay within [-277, 534]; clamp through a table.
    static constexpr int kClampOffset = 384;
    std::array<std::uint8_t, 1024> clamp{};
};

constexpr YuvTables makeTables() {
    YuvTables t;
    for (int i = 0; i < 256; ++i) {
        t.y[i] = 298 * (i - 16) + 128;
        t.rv[i] = 409 * (i - 128);
        t.gu[i] = -100 * (i - 128);
        t.gv[i] = -208 * (i - 128);
        t.bu[i] = 516 * (i - 128);
    }
    for (int i = 0; i < 1024; ++i)
        t.clamp[i] = std::uint8_t(std::clamp(i - YuvTables::kClampOffset, 0, 255));
    return t;
}

constexpr YuvTables kYuv = makeTables();

inline std::uint8_t clampShift(int value) {
    return kYuv.clamp[(value >> 8) + YuvTables::kClampOffset];
}

inline void yuvToBgra(int y, int u, int v, std::uint8_t* out) {
    int luma = kYuv.y[y];
    out[0] = clampShift(luma + kYuv.bu[u]);
    out[1] = clampShift(luma + kYuv.gu[u] + kYuv.gv[v]);
    out[2] = clampShift(luma + kYuv.rv[v]);
    out[3] = 255;
}

#if defined(__SSE2__)
// YUYV to BGRA for the first width & ~7 pixels of a row, eight at a time, with the same
// integer arithmetic as yuvToBgra (so the same result); answers how many it did.
int yuyvToBgraSse2(const std::uint8_t* row, std::uint8_t* out, int width) {
    const __m128i lowBytes = _mm_set1_epi16(0x00ff), k16 = _mm_set1_epi16(16),
                  k128 = _mm_set1_epi16(128), round = _mm_set1_epi32(128),
                  alpha = _mm_set1_epi8(-1), zero = _mm_setzero_si128();
    // Pairs (luma factor, chroma factor) for _mm_madd_epi16.
    const __m128i kBlue = _mm_set1_epi32((516 << 16) | 298),
                  kRed = _mm_set1_epi32((409 << 16) | 298),
                  kGreen = _mm_set1_epi32(int((0xffffu & std::uint32_t(-100)) << 16 | 298)),
                  kGreenV = _mm_set1_epi32(0xffff & -208);
    auto channel = [&](__m128i c, __m128i chroma, __m128i factors, const __m128i* greenV) {
        __m128i lo = _mm_madd_epi16(_mm_unpacklo_epi16(c, chroma), factors);
        __m128i hi = _mm_madd_epi16(_mm_unpackhi_epi16(c, chroma), factors);
        if (greenV) {
            lo = _mm_add_epi32(lo, _mm_madd_epi16(_mm_unpacklo_epi16(*greenV, zero), kGreenV));
            hi = _mm_add_epi32(hi, _mm_madd_epi16(_mm_unpackhi_epi16(*greenV, zero), kGreenV));
        }
        lo = _mm_srai_epi32(_mm_add_epi32(lo, round), 8);
        hi = _mm_srai_epi32(_mm_add_epi32(hi, round), 8);
        return _mm_packs_epi32(lo, hi);
    };
    int x = 0;
    for (; x + 8 <= width; x += 8, row += 16, out += 32) {
        __m128i yuyv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row));
        __m128i c = _mm_sub_epi16(_mm_and_si128(yuyv, lowBytes), k16);         // Y - 16
        __m128i uv = _mm_sub_epi16(_mm_srli_epi16(yuyv, 8), k128);             // U0 V0 U1 V1 ...
        __m128i d = _mm_shufflehi_epi16(_mm_shufflelo_epi16(uv, 0xA0), 0xA0);  // U0 U0 U1 U1 ...
        __m128i e = _mm_shufflehi_epi16(_mm_shufflelo_epi16(uv, 0xF5), 0xF5);  // V0 V0 V1 V1 ...
        __m128i blue = channel(c, d, kBlue, nullptr), green = channel(c, d, kGreen, &e),
                red = channel(c, e, kRed, nullptr);
        __m128i blueGreen = _mm_packus_epi16(blue, green);  // clamps to 0..255
        __m128i redAlpha = _mm_unpacklo_epi8(_mm_packus_epi16(red, red), alpha);
        __m128i bg = _mm_unpacklo_epi8(blueGreen, _mm_srli_si128(blueGreen, 8));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_unpacklo_epi16(bg, redAlpha));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16), _mm_unpackhi_epi16(bg, redAlpha));
    }
    return x;
}
#endif

// Where a channel lies in a source pixel: blue, green, red offsets; -1 alpha when absent.
struct Layout {
    int b, g, r, a;
};

Layout layoutOf(FrameConverter::Format format) {
    switch (format) {
        case FrameConverter::Format::BGR24:
            return {0, 1, 2, -1};
        case FrameConverter::Format::RGB24:
            return {2, 1, 0, -1};
        case FrameConverter::Format::BGRA32:
            return {0, 1, 2, 3};
        case FrameConverter::Format::RGBA32:
            return {2, 1, 0, 3};
        case FrameConverter::Format::BGRX32:
            return {0, 1, 2, -1};
        case FrameConverter::Format::RGBX32:
            return {2, 1, 0, -1};
        case FrameConverter::Format::YUYV:
        case FrameConverter::Format::NV12:
        case FrameConverter::Format::I420:
            break;
    }
    return {0, 0, 0, -1};
}

}  // namespace

std::optional<FrameConverter::Format> FrameConverter::fromFourcc(std::uint32_t fourcc) {
    switch (fourcc) {
        case V4L2_PIX_FMT_YUYV:
            return Format::YUYV;
        case V4L2_PIX_FMT_BGR24:
            return Format::BGR24;
        case V4L2_PIX_FMT_RGB24:
            return Format::RGB24;
        case V4L2_PIX_FMT_ABGR32:
            return Format::BGRA32;  // bytes B, G, R, A
        case V4L2_PIX_FMT_RGBA32:
            return Format::RGBA32;  // bytes R, G, B, A
        case V4L2_PIX_FMT_XBGR32:
            return Format::BGRX32;  // bytes B, G, R, padding
        case V4L2_PIX_FMT_RGBX32:
            return Format::RGBX32;  // bytes R, G, B, padding
        case V4L2_PIX_FMT_NV12:
            return Format::NV12;
        case V4L2_PIX_FMT_YUV420:
            return Format::I420;
        default:
            return std::nullopt;
    }
}

int FrameConverter::bytesPerPixel(Format format) {
    switch (format) {
        case Format::YUYV:
            return 2;
        case Format::BGR24:
        case Format::RGB24:
            return 3;
        case Format::BGRA32:
        case Format::RGBA32:
        case Format::BGRX32:
        case Format::RGBX32:
            return 4;
        case Format::NV12:
        case Format::I420:
            return 1;
    }
    return 4;
}

bool FrameConverter::isPlanar(Format format) {
    return format == Format::NV12 || format == Format::I420;
}

int FrameConverter::planeCount(Format format) {
    switch (format) {
        case Format::NV12:
            return 2;
        case Format::I420:
            return 3;
        default:
            return 1;
    }
}

FrameConverter::FrameConverter(Format format, int width, int height, std::size_t bytesPerRow,
                               int outWidth, int outHeight)
    : _format(format),
      _width(width),
      _height(height),
      _outWidth(outWidth),
      _outHeight(outHeight),
      _bytesPerRow(bytesPerRow) {
    _valid = width > 0 && height > 0 && outWidth > 0 && outHeight > 0 &&
             !(format == Format::YUYV && width % 2 != 0);
    std::size_t packed = _valid ? std::size_t(width) * std::size_t(bytesPerPixel(format)) : 0;
    if (_bytesPerRow == 0) _bytesPerRow = packed;
    _valid = _valid && _bytesPerRow >= packed;
    _scaled = _valid && (width != outWidth || height != outHeight);
    if (!_scaled) return;

    // Nearest source pixel of each output pixel centre, the source scaled to cover the
    // output and centred on it.
    double scale = std::max(double(outWidth) / width, double(outHeight) / height);
    double offsetX = (width - outWidth / scale) / 2, offsetY = (height - outHeight / scale) / 2;
    _sourceX.resize(std::size_t(outWidth));
    _sourceY.resize(std::size_t(outHeight));
    for (int x = 0; x < outWidth; ++x)
        _sourceX[std::size_t(x)] = std::clamp(int(offsetX + (x + 0.5) / scale), 0, width - 1);
    for (int y = 0; y < outHeight; ++y)
        _sourceY[std::size_t(y)] = std::clamp(int(offsetY + (y + 0.5) / scale), 0, height - 1);
}

std::size_t FrameConverter::planeBytes(std::size_t bytesPerRow, std::size_t rowBytes, int rows) {
    return bytesPerRow * std::size_t(rows - 1) + rowBytes;
}

std::size_t FrameConverter::chromaRowBytes() const {
    std::size_t half = (std::size_t(_width) + 1) / 2;
    return _format == Format::NV12 ? half * 2 : half;
}

std::size_t FrameConverter::chromaBytesPerRow() const {
    return _format == Format::NV12 ? _bytesPerRow : (_bytesPerRow + 1) / 2;
}

std::size_t FrameConverter::requiredBytes() const {
    if (!_valid) return 0;
    std::size_t luma = std::size_t(_width) * std::size_t(bytesPerPixel(_format));
    if (!isPlanar(_format)) return planeBytes(_bytesPerRow, luma, _height);
    // Every plane but the last is whole, padding included.
    int chromaRows = (_height + 1) / 2;
    std::size_t chroma = chromaBytesPerRow() * std::size_t(chromaRows);
    return _bytesPerRow * std::size_t(_height) + chroma * std::size_t(planeCount(_format) - 2) +
           planeBytes(chromaBytesPerRow(), chromaRowBytes(), chromaRows);
}

bool FrameConverter::convert(const std::uint8_t* source, std::size_t size,
                             std::uint8_t* out) const {
    if (!_valid || !source || size < requiredBytes()) return false;
    if (isPlanar(_format)) {
        // The planes one after the other.
        std::size_t chroma = chromaBytesPerRow() * std::size_t((_height + 1) / 2);
        Plane planes[3];
        std::size_t offset = 0;
        for (int i = 0; i < planeCount(_format); ++i) {
            std::size_t length = i == 0 ? _bytesPerRow * std::size_t(_height) : chroma;
            planes[i] = Plane{source + offset, size - offset, i == 0 ? _bytesPerRow : 0};
            offset += length;
        }
        return convert(planes, out);
    }
    return convert(std::array{Plane{source, size, _bytesPerRow}}.data(), out);
}

bool FrameConverter::convert(const Plane* planes, std::uint8_t* out) const {
    if (!_valid || !planes) return false;
    std::size_t outRow = std::size_t(_outWidth) * 4;
    if (isPlanar(_format)) {
        // Every plane present and long enough, its rows at least as long as its pixels.
        Plane checked[3];
        int chromaRows = (_height + 1) / 2;
        for (int i = 0; i < planeCount(_format); ++i) {
            checked[i] = planes[i];
            std::size_t rowBytes = i == 0 ? std::size_t(_width) : chromaRowBytes();
            if (checked[i].bytesPerRow == 0)
                checked[i].bytesPerRow = i == 0 ? _bytesPerRow : chromaBytesPerRow();
            if (!checked[i].data || checked[i].bytesPerRow < rowBytes ||
                checked[i].size <
                    planeBytes(checked[i].bytesPerRow, rowBytes, i == 0 ? _height : chromaRows))
                return false;
        }
        for (int y = 0; y < _outHeight; ++y)
            convertPlanarRow(checked, _scaled ? _sourceY[std::size_t(y)] : y,
                             out + outRow * std::size_t(y));
        return true;
    }
    const std::uint8_t* source = planes[0].data;
    std::size_t bytesPerRow = planes[0].bytesPerRow ? planes[0].bytesPerRow : _bytesPerRow;
    if (!source || bytesPerRow != _bytesPerRow || planes[0].size < requiredBytes()) return false;
    for (int y = 0; y < _outHeight; ++y) {
        int sourceY = _scaled ? _sourceY[std::size_t(y)] : y;
        const std::uint8_t* row = source + _bytesPerRow * std::size_t(sourceY);
        if (_scaled)
            convertScaledRow(row, out + outRow * std::size_t(y));
        else
            convertRow(row, out + outRow * std::size_t(y));
    }
    return true;
}

void FrameConverter::convertRow(const std::uint8_t* row, std::uint8_t* out) const {
    if (_format == Format::YUYV) {
        int x = 0;
#if defined(__SSE2__)
        x = yuyvToBgraSse2(row, out, _width);
        row += std::size_t(x) * 2;
        out += std::size_t(x) * 4;
#endif
        // Two pixels share one U and one V: Y0 U Y1 V.
        for (; x < _width; x += 2, row += 4, out += 8) {
            int blue = kYuv.bu[row[1]], green = kYuv.gu[row[1]] + kYuv.gv[row[3]],
                red = kYuv.rv[row[3]];
            int luma0 = kYuv.y[row[0]], luma1 = kYuv.y[row[2]];
            out[0] = clampShift(luma0 + blue);
            out[1] = clampShift(luma0 + green);
            out[2] = clampShift(luma0 + red);
            out[3] = 255;
            out[4] = clampShift(luma1 + blue);
            out[5] = clampShift(luma1 + green);
            out[6] = clampShift(luma1 + red);
            out[7] = 255;
        }
        return;
    }
    if (_format == Format::BGRA32) {
        std::memcpy(out, row, std::size_t(_width) * 4);
        return;
    }
    Layout l = layoutOf(_format);
    int step = bytesPerPixel(_format);
    for (int x = 0; x < _width; ++x, row += step, out += 4) {
        out[0] = row[l.b];
        out[1] = row[l.g];
        out[2] = row[l.r];
        out[3] = l.a < 0 ? 255 : row[l.a];
    }
}

void FrameConverter::convertPlanarRow(const Plane* planes, int sourceY, std::uint8_t* out) const {
    const std::uint8_t* luma = planes[0].data + planes[0].bytesPerRow * std::size_t(sourceY);
    std::size_t chromaRow = std::size_t(sourceY / 2);
    const std::uint8_t* u = planes[1].data + planes[1].bytesPerRow * chromaRow;
    // NV12 interleaves U and V in one plane: U at even bytes, V at odd ones.
    const std::uint8_t* v =
        _format == Format::NV12 ? u + 1 : planes[2].data + planes[2].bytesPerRow * chromaRow;
    std::size_t step = _format == Format::NV12 ? 2 : 1;
    if (_scaled) {
        for (int sourceX : _sourceX) {
            std::size_t c = std::size_t(sourceX / 2) * step;
            yuvToBgra(luma[sourceX], u[c], v[c], out);
            out += 4;
        }
        return;
    }
    for (int x = 0; x < _width; ++x, out += 4) {
        std::size_t c = std::size_t(x / 2) * step;
        yuvToBgra(luma[x], u[c], v[c], out);
    }
}

void FrameConverter::convertScaledRow(const std::uint8_t* row, std::uint8_t* out) const {
    if (_format == Format::YUYV) {
        for (int sourceX : _sourceX) {
            const std::uint8_t* pair = row + std::size_t(sourceX & ~1) * 2;
            yuvToBgra(pair[(sourceX & 1) * 2], pair[1], pair[3], out);
            out += 4;
        }
        return;
    }
    Layout l = layoutOf(_format);
    std::size_t step = std::size_t(bytesPerPixel(_format));
    for (int sourceX : _sourceX) {
        const std::uint8_t* p = row + step * std::size_t(sourceX);
        out[0] = p[l.b];
        out[1] = p[l.g];
        out[2] = p[l.r];
        out[3] = l.a < 0 ? 255 : p[l.a];
        out += 4;
    }
}

}  // namespace quorbit::capture
