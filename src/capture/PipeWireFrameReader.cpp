#include "capture/PipeWireFrameReader.h"

#include <spa/buffer/buffer.h>

#include <algorithm>

namespace quorbit::capture {
namespace {

// The bytes of one block of data that the producer filled, or none.
std::optional<FrameConverter::Plane> planeOf(const spa_data& data) {
    if (!data.data || !data.chunk) return std::nullopt;
    const spa_chunk& chunk = *data.chunk;
    if (chunk.flags & SPA_CHUNK_FLAG_CORRUPTED) return std::nullopt;
    std::size_t offset = std::min<std::size_t>(chunk.offset, data.maxsize);
    std::size_t size = std::min<std::size_t>(chunk.size, data.maxsize - offset);
    std::size_t stride = chunk.stride > 0 ? std::size_t(chunk.stride) : 0;
    return FrameConverter::Plane{static_cast<const std::uint8_t*>(data.data) + offset, size,
                                 stride};
}

}  // namespace

bool PipeWireFrameReader::read(const spa_buffer& buffer,
                               const CaptureDevice::Destination& destination) {
    if (buffer.n_datas < 1 || !buffer.datas) return false;
    auto first = planeOf(buffer.datas[0]);
    if (!first) return false;
    std::size_t packed = std::size_t(_width) * std::size_t(FrameConverter::bytesPerPixel(_format));
    std::size_t bytesPerRow = first->bytesPerRow ? first->bytesPerRow : packed;
    if (!_converter || _converter->bytesPerRow() != bytesPerRow)
        _converter.emplace(_format, _width, _height, bytesPerRow, _out.width, _out.height);
    if (!_converter->valid()) return false;

    int planes = FrameConverter::planeCount(_format);
    FrameConverter::Plane each[3] = {*first, {}, {}};
    bool apart = planes > 1 && buffer.n_datas >= std::uint32_t(planes);
    for (int i = 1; apart && i < planes; ++i) {
        auto plane = planeOf(buffer.datas[i]);
        if (!plane) return false;
        each[i] = *plane;
    }
    bool whole = apart ? true : first->size >= _converter->requiredBytes();
    if (!whole) return false;

    std::uint8_t* out = destination();
    if (!out) return true;
    return apart ? _converter->convert(each, out)
                 : _converter->convert(first->data, first->size, out);
}

}  // namespace quorbit::capture
