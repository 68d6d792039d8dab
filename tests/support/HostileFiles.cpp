#include "support/HostileFiles.h"

#include <fcntl.h>
#include <jpeglib.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>

namespace quorbit::testing {
namespace {

std::uint32_t crc32(const std::string& bytes) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char byte : bytes) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

std::string bigEndian(std::uint32_t value) {
    return {char(value >> 24), char(value >> 16), char(value >> 8), char(value)};
}

std::string pngChunk(const std::string& type, const std::string& data) {
    return bigEndian(std::uint32_t(data.size())) + type + data + bigEndian(crc32(type + data));
}

// Where the entropy-coded data of the JPEG's first scan begins.
std::size_t scanDataOffset(const std::string& jpeg) {
    std::size_t sos = jpeg.find("\xFF\xDA", 2);
    if (sos == std::string::npos) throw std::runtime_error("no scan header");
    return sos + 2 + (std::size_t(std::uint8_t(jpeg[sos + 2])) << 8 | std::uint8_t(jpeg[sos + 3]));
}

}  // namespace

FifoRelease::FifoRelease(std::filesystem::path fifo)
    : _thread([done = _done.get_future(), fifo] {
          if (done.wait_for(std::chrono::seconds(5)) == std::future_status::ready) return;
          int fd = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
          if (fd >= 0) close(fd);
      }) {}

FifoRelease::~FifoRelease() {
    _done.set_value();
    _thread.join();
}

platform::Image quadrantPicture(int width, int height) {
    const std::uint8_t colours[4][4] = {
        {200, 40, 40, 255}, {40, 200, 40, 255}, {40, 40, 200, 255}, {230, 230, 230, 255}};
    platform::Image picture(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            std::memcpy(picture.pixel(x, y), colours[(y >= height / 2) * 2 + (x >= width / 2)], 4);
    return picture;
}

std::string encodeJpeg(const platform::Image& picture, JpegKind kind, int quality) {
    jpeg_compress_struct info;
    jpeg_error_mgr error;
    info.err = jpeg_std_error(&error);
    jpeg_create_compress(&info);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = JDIMENSION(picture.width());
    info.image_height = JDIMENSION(picture.height());
    bool cmyk = kind == JpegKind::Cmyk || kind == JpegKind::Ycck;
    info.input_components = cmyk ? 4 : 3;
    info.in_color_space = cmyk ? JCS_CMYK : JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, quality, TRUE);
    if (kind == JpegKind::Ycck) jpeg_set_colorspace(&info, JCS_YCCK);
    if (kind == JpegKind::Progressive444) {
        for (int c = 0; c < info.num_components; ++c)
            info.comp_info[c].h_samp_factor = info.comp_info[c].v_samp_factor = 1;
        jpeg_simple_progression(&info);
    }
    jpeg_start_compress(&info, TRUE);
    std::vector<unsigned char> row(std::size_t(picture.width()) *
                                   std::size_t(info.input_components));
    while (info.next_scanline < info.image_height) {
        for (int x = 0; x < picture.width(); ++x) {
            const std::uint8_t* p = picture.pixel(x, int(info.next_scanline));
            unsigned char* out = &row[std::size_t(x) * std::size_t(info.input_components)];
            std::memcpy(out, p, 3);
            if (!cmyk) continue;
            // Inverted inks: the stored value is 255 - ink. Some of the darkness goes into
            // K (stored 240), and each colour is stored so that C' x K' / 255 = R.
            const unsigned k = 240;
            for (int c = 0; c < 3; ++c)
                out[c] = static_cast<unsigned char>(std::min(255u, (p[c] * 255u + k / 2) / k));
            out[3] = static_cast<unsigned char>(k);
        }
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&info, rows, 1);
    }
    jpeg_finish_compress(&info);
    std::string bytes(reinterpret_cast<char*>(buffer), size);
    jpeg_destroy_compress(&info);
    std::free(buffer);
    return bytes;
}

std::string pngClaiming(std::uint32_t width, std::uint32_t height) {
    std::string header = bigEndian(width) + bigEndian(height);
    header += std::string("\x08\x06\x00\x00\x00", 5);  // 8-bit RGBA, not interlaced
    // A zlib stream of one stored, empty block: valid, and far too short.
    std::string data("\x78\x01\x01\x00\x00\xff\xff\x00\x00\x00\x01", 11);
    return std::string("\x89PNG\r\n\x1a\n", 8) + pngChunk("IHDR", header) + pngChunk("IDAT", data) +
           pngChunk("IEND", "");
}

std::string withClaimedSize(std::string jpeg, int width, int height) {
    std::size_t sof = std::string::npos;  // the frame header: baseline, extended or progressive
    for (const char* header : {"\xFF\xC0", "\xFF\xC1", "\xFF\xC2"})
        if (sof == std::string::npos) sof = jpeg.find(header, 2);
    if (sof == std::string::npos) throw std::runtime_error("no frame header");
    // FF Cn, length (2), precision (1), height (2), width (2).
    return jpeg.replace(
        sof + 5, 4,
        bigEndian(std::uint32_t(height & 0xFFFF) << 16 | std::uint32_t(width & 0xFFFF)));
}

std::string withoutScanData(const std::string& jpeg) {
    return jpeg.substr(0, scanDataOffset(jpeg)) + "\xFF\xD9";
}

std::string withStrayMarker(std::string jpeg) {
    std::size_t start = scanDataOffset(jpeg);
    return jpeg.replace(start + (jpeg.size() - start) / 2, 2, "\xFF\xD3");  // RST3
}

}  // namespace quorbit::testing
